// What the runner's Windows side adds: exit codes as the system gives them, a start that fails
// leaves no handle, a grandchild holding the pipe, ending the job, no handle left after runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "process/create_process.h"
#include "process/event_loop.h"
#include "process/processors.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using namespace std::chrono_literals;

const std::string kChild = std::string(VELOTRAX_HELPER_DIR) + "/helper-child.exe";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// This process's handles, where the system counts them (Wine does not: 0).
DWORD HandleCount() {
  DWORD count = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &count);
  return count;
}

// True while some handle, ours included, keeps the process of that id in existence.
bool ProcessObjectExists(DWORD id) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return false;
  ::CloseHandle(process);
  return true;
}

class RunnerWin32Test : public ::testing::Test {
 protected:
  RunnerWin32Test() {
    runner_.ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
    runner_.ApplicationName = kChild;
    runner_.OnRead = [this](TJvCreateProcess&, std::string_view s, bool) {
      if (!s.empty()) lines_.emplace_back(s);
    };
    runner_.OnTerminate = [this](TJvCreateProcess&, uint32_t exit_code) {
      exit_codes_.push_back(exit_code);
    };
  }

  void RunToEnd(const std::string& command_line) {
    const std::size_t ends = exit_codes_.size();
    runner_.CommandLine = command_line;
    runner_.Run();
    ASSERT_TRUE(loop_.RunUntil([&] { return exit_codes_.size() > ends; }, 30s));
  }

  EventLoop loop_;
  TJvCreateProcess runner_{loop_};
  std::vector<std::string> lines_;
  std::vector<uint32_t> exit_codes_;
  testing::TempDir temp_;
};

TEST_F(RunnerWin32Test, ExitCodesComeAsTheSystemGivesThem) {
  for (const char* code : {"0", "5", "255", "1000"}) RunToEnd(std::string("child silent ") + code);
  EXPECT_EQ(exit_codes_, (std::vector<uint32_t>{0, 5, 255, 1000}));
}

TEST_F(RunnerWin32Test, AChildBoundToAProcessorRunsThereAtARaisedPriorityClass) {
  const std::vector<int> allowed = AllowedProcessors();
  ASSERT_FALSE(allowed.empty());
  unsigned long long all = 0;
  for (int cpu : allowed) all |= 1ull << cpu;
  const auto expected = [](unsigned long long mask, unsigned long priority_class) {
    char text[64];
    std::snprintf(text, sizeof text, "mask %llx class %lx", mask, priority_class);
    return std::string(text);
  };
  // Unbound: wherever we may run, at the normal class.
  RunToEnd("child affinity");
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], expected(all, NORMAL_PRIORITY_CLASS));
  lines_.clear();
  runner_.ChildProcessor = allowed.back();
  runner_.Priority = TJvProcessPriority::ppAboveNormal;
  RunToEnd("child affinity");
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], expected(1ull << allowed.back(), ABOVE_NORMAL_PRIORITY_CLASS));
}

TEST_F(RunnerWin32Test, StartsThatFailRaiseTheSystemErrorAndLeaveNoHandle) {
  RunToEnd("child silent 0");  // the first run's one-time allocations
  const DWORD handles_before = HandleCount();
  for (const std::string& application : {temp_.File("missing.exe"), temp_.Path()}) {
    SCOPED_TRACE(application);
    runner_.ApplicationName = application;
    runner_.CommandLine = "child lines 1";
    try {
      runner_.Run();
      ADD_FAILURE() << "the start did not fail";
    } catch (const EOSError& error) {
      const std::string prefix =
          "System Error.  Code: " + std::to_string(error.ErrorCode()) + ".\r\n";
      EXPECT_NE(error.ErrorCode(), 0);
      EXPECT_EQ(std::string(error.what()).substr(0, prefix.size()), prefix);
      const char last = std::string(error.what()).back();
      EXPECT_TRUE(last != '.' && last != '\n' && last != '\r') << error.what();
    }
    EXPECT_FALSE(runner_.Watching());
  }
  EXPECT_EQ(HandleCount(), handles_before);
  loop_.RunUntil([] { return false; }, 100ms);
  EXPECT_EQ(exit_codes_.size(), 1u);
}

// The workers are made before the child: one that cannot be made leaves no child behind, and the
// one already made lets go of the run.
TEST_F(RunnerWin32Test, AWorkerThatCannotBeMadeLeavesNoChild) {
  static int threads_to_grant;
  int (*const start_thread)(void* (*)(void*), void*) = StartRunnerThread;
  static int (*granted)(void* (*)(void*), void*);
  granted = start_thread;
  // The worker granted, watched itself: Wine makes and ends threads of its own in this process
  // whenever it likes, so a count of them all says nothing certain about the runner's.
  static void* (*worker_body)(void*);
  static std::atomic<int> workers_running;
  workers_running = 0;
  const std::string record = temp_.File("record");
  for (int grant : {0, 1}) {
    SCOPED_TRACE(grant);
    threads_to_grant = grant;
    StartRunnerThread = [](void* (*body)(void*), void* argument) {
      if (threads_to_grant-- <= 0) return static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
      worker_body = body;
      ++workers_running;
      const int code = granted(
          [](void* handed) {
            void* const result = worker_body(handed);
            --workers_running;
            return result;
          },
          argument);
      if (code != 0) --workers_running;
      return code;
    };
    runner_.CommandLine = "child slow-writer 1 0 " + record;
    try {
      runner_.Run();
      ADD_FAILURE() << "the start did not fail";
    } catch (const EOSCallError& error) {
      EXPECT_EQ(error.ErrorCode(), static_cast<int>(ERROR_NOT_ENOUGH_MEMORY));
      EXPECT_EQ(error.Call(), "CreateThread");
      EXPECT_EQ(std::string(error.what()).rfind("Thread creation error: ", 0), 0u) << error.what();
    }
    StartRunnerThread = start_thread;
    EXPECT_FALSE(runner_.Watching());
  }
  // No child ran, and the worker made for the second start has ended.
  EXPECT_TRUE(WaitFor([&] { return workers_running == 0; }, 10s));
  EXPECT_FALSE(std::filesystem::exists(record));
  RunToEnd("child lines 2");
  EXPECT_EQ(lines_, (std::vector<std::string>{"line 0", "line 1"}));
}

TEST_F(RunnerWin32Test, RunsLeaveNoHandleOpen) {
  RunToEnd("child lines 3");
  const DWORD handles_before = HandleCount();
  for (int i = 0; i < 20; ++i) RunToEnd("child lines 3");
  EXPECT_TRUE(WaitFor([&] { return HandleCount() <= handles_before; }, 10s))
      << HandleCount() << " handles, " << handles_before << " before";
  // The child's process object goes with the last handle to it: none is kept once it has ended.
  runner_.CommandLine = "child slow-writer 1 300 " + temp_.File("record");
  runner_.Run();
  const DWORD child_id = static_cast<DWORD>(runner_.ProcessId());
  ASSERT_TRUE(ProcessObjectExists(child_id));
  ASSERT_TRUE(loop_.RunUntil([&] { return exit_codes_.size() == 22; }, 30s));
  EXPECT_TRUE(WaitFor([&] { return !ProcessObjectExists(child_id); }, 10s));
}

// The grandchild holds the pipe until the test lets it write, however long the machine takes to
// deliver the end: the end must come all the same.
TEST_F(RunnerWin32Test, GrandchildHoldingThePipeDoesNotDelayTheEnd) {
  const std::string record = temp_.File("late");
  const std::string go = temp_.File("go");
  RunToEnd("child grandchild " + temp_.File("pid") + " " + go + " " + record);
  EXPECT_EQ(exit_codes_, std::vector<uint32_t>{3});
  EXPECT_EQ(lines_, std::vector<std::string>{"child done"});
  EXPECT_FALSE(std::filesystem::exists(record));
  std::ofstream(go).put('\n');
  // Nobody reads any more: the late write fails instead of waiting for ever.
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(record); }, 20s));
  EXPECT_EQ(ReadFile(record), "late write failed\n");
}

TEST_F(RunnerWin32Test, EndingTheJobEndsTheChildAndWhatItStarted) {
  const std::string pid_file = temp_.File("pid");
  runner_.CommandLine = "child tree " + pid_file;
  runner_.Run();
  ASSERT_TRUE(loop_.RunUntil([&] { return !lines_.empty(); }, 20s));
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(pid_file); }, 10s));
  const DWORD grandchild_id = std::stoul(ReadFile(pid_file));
  HANDLE grandchild = ::OpenProcess(SYNCHRONIZE, FALSE, grandchild_id);
  ASSERT_NE(grandchild, nullptr);
  EXPECT_GT(runner_.ProcessId(), 0);
  EXPECT_TRUE(runner_.SignalChild(SIGTERM));
  ASSERT_TRUE(loop_.RunUntil([&] { return !exit_codes_.empty(); }, 20s));
  EXPECT_EQ(exit_codes_, std::vector<uint32_t>{128 + SIGTERM});
  EXPECT_EQ(::WaitForSingleObject(grandchild, 10000), WAIT_OBJECT_0) << "the grandchild runs on";
  ::CloseHandle(grandchild);
  EXPECT_EQ(runner_.ProcessId(), 0);
  EXPECT_FALSE(runner_.SignalChild(SIGTERM));
}

}  // namespace
}  // namespace velotrax
