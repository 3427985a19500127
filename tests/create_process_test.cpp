// The runner against real child processes (tests/helpers/child.c; on Windows its stand-in
// tests/windows/child_win32.c), driven through EventLoop. What only POSIX has (signals, process
// groups, /proc) is skipped on Windows; tests/windows/runner_win32_test.cpp covers its side.
#include "process/create_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/errors.h"
#include "process/event_loop.h"
#include "process/processors.h"
#include "tests/helpers_common/line_reports.h"

namespace velotrax {
namespace {

using namespace std::chrono_literals;

#ifdef _WIN32
const std::string kChild = std::string(VELOTRAX_HELPER_DIR) + "/helper-child.exe";
#else
const std::string kChild = std::string(VELOTRAX_HELPER_DIR) + "/helper-child";
#endif

// A real temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
#ifdef _WIN32
    std::random_device random;
    for (int attempt = 0; path_.empty(); ++attempt) {
      const std::filesystem::path dir =
          std::filesystem::temp_directory_path() / ("velotrax-run-" + std::to_string(random()));
      if (std::filesystem::create_directory(dir)) path_ = dir.string();
      if (attempt == 100) throw std::runtime_error("no temporary directory");
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "velotrax-run-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const {
    return path_;
  }
  std::string File(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

#ifndef _WIN32
std::size_t CountEntries(const char* directory) {
  std::size_t count = 0;
  DIR* dir = opendir(directory);
  if (dir == nullptr) return 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

// The runner's worker threads still alive in this process.
std::size_t CountWorkerThreads() {
  std::size_t count = 0;
  DIR* dir = opendir("/proc/self/task");
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string name = ReadFile(std::string("/proc/self/task/") + entry->d_name + "/comm");
    if (name.rfind("velotrax-", 0) == 0) ++count;
  }
  closedir(dir);
  return count;
}

// Our children that have ended but were never waited for.
int CountZombieChildren() {
  int zombies = 0;
  DIR* dir = opendir("/proc");
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    const std::string stat = ReadFile(std::string("/proc/") + entry->d_name + "/stat");
    const std::size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + close_paren + 1, " %c %d", &state, &ppid) == 2 &&
        ppid == getpid() && state == 'Z') {
      ++zombies;
    }
  }
  closedir(dir);
  return zombies;
}
#else
// Windows keeps no ended child around for its parent to collect.
int CountZombieChildren() {
  return 0;
}
#endif

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// The lines as a terminal would show them, without the empty one a final line break leaves.
std::vector<std::string> CompleteLines(const std::vector<std::pair<std::string, bool>>& reports) {
  std::vector<std::string> lines = testing::TerminalLines(reports);
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

std::vector<std::string> Numbered(const char* prefix, int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) lines.push_back(prefix + std::to_string(i));
  return lines;
}

class RunnerTest : public ::testing::Test {
 protected:
  RunnerTest() : runner_(std::make_unique<TJvCreateProcess>(loop_)) {
    runner_->ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
    runner_->ApplicationName = kChild;
    runner_->OnRead = [this](TJvCreateProcess&, std::string_view s, bool starts_on_new_line) {
      events_.push_back('R');
      reports_.emplace_back(std::string(s), starts_on_new_line);
    };
    runner_->OnRawRead = [this](TJvCreateProcess&, std::string_view s) {
      raw_bytes_ += s.size();
      raw_ += s;
    };
    runner_->OnTerminate = [this](TJvCreateProcess& sender, uint32_t exit_code) {
      EXPECT_FALSE(sender.Watching());
      events_.push_back('T');
      ++terminations_;
      exit_codes_.push_back(exit_code);
    };
  }

  void Start(const std::string& command_line) {
    runner_->CommandLine = command_line;
    runner_->Run();
  }

  // Runs the loop until the run has ended; then a little longer to catch stray events.
  void RunToEnd(int expected_terminations = 1) {
    ASSERT_TRUE(loop_.RunUntil([&] { return terminations_ >= expected_terminations; }, 20s));
    loop_.RunUntil([] { return false; }, 50ms);
    EXPECT_EQ(terminations_, expected_terminations);
    // The end is the last event of a run.
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.back(), 'T');
  }

  // Runs a child that writes a line, waits 400 ms, writes another and ends: its first line must
  // arrive while it still runs, not only with its end.
  void ExpectOutputWhileTheChildRuns() {
    reports_.clear();
    terminations_ = 0;
    Start("child slow-writer 2 400 " + temp_.File("record"));
    ASSERT_TRUE(loop_.RunUntil([&] { return !reports_.empty(); }, 20s));
    EXPECT_EQ(terminations_, 0) << "the first line came only with the end";
    RunToEnd();
    EXPECT_EQ(CompleteLines(reports_), (std::vector<std::string>{"tick 0", "tick 1"}));
  }

  EventLoop loop_;
  std::unique_ptr<TJvCreateProcess> runner_;
  std::vector<std::pair<std::string, bool>> reports_;
  std::string raw_;
  std::size_t raw_bytes_ = 0;
  int terminations_ = 0;
  std::vector<uint32_t> exit_codes_;
  std::string events_;
  TempDir temp_;
};

TEST_F(RunnerTest, ChildThatWritesNothingGivesOnlyItsEnd) {
  Start("child silent 5");
  EXPECT_TRUE(runner_->Watching());
  RunToEnd();
  EXPECT_TRUE(reports_.empty());
  EXPECT_EQ(exit_codes_, std::vector<uint32_t>{5});
}

TEST_F(RunnerTest, EveryLineArrivesBeforeTheEndWhetherOrNotTheWindowKeepsUp) {
  for (bool window_busy : {false, true}) {
    SCOPED_TRACE(window_busy ? "window busy until the child has ended" : "window keeping up");
    reports_.clear();
    terminations_ = 0;
    Start("child lines 3000");
    // A busy window: the child ends, and the reader takes everything, before any delivery.
    if (window_busy) std::this_thread::sleep_for(300ms);
    RunToEnd();
    EXPECT_EQ(CompleteLines(reports_), Numbered("line ", 3000));
    EXPECT_EQ(exit_codes_.back(), 0u);
  }
}

// A worker that has just served a run is handed the next one while it waits: it must still
// look at the output of a child that keeps running, not only at the child's end.
TEST_F(RunnerTest, OutputOfARunningChildArrivesBeforeItsEndThroughAWaitingWorker) {
  Start("child silent 0");
  RunToEnd();
  ExpectOutputWhileTheChildRuns();
}

TEST_F(RunnerTest, StandardErrorArrivesInterleavedInWriteOrder) {
  Start("child interleave 400");
  RunToEnd();
  std::vector<std::string> expected;
  for (int i = 0; i < 400; ++i)
    expected.push_back((i % 2 == 0 ? "out " : "err ") + std::to_string(i));
  EXPECT_EQ(CompleteLines(reports_), expected);
}

TEST_F(RunnerTest, FloodWhileTheWindowIsBusyDropsTheEarlyBytesAndKeepsTheLatest) {
  const long total = 4 << 20;  // far more than the queue holds
  const std::string marker = temp_.File("flood-done");
  Start("child flood " + std::to_string(total) + " " + marker);
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(marker); }, 30s));
  std::this_thread::sleep_for(200ms);
  RunToEnd();
  const std::vector<std::string> lines = CompleteLines(reports_);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_LT(raw_bytes_, static_cast<std::size_t>(total) / 4) << "nothing was dropped";
  EXPECT_GT(raw_bytes_, 0u);
  // What arrived is the end of the output, in one piece: the last numbers, in order.
  const long last = total / 16 - 1;
  EXPECT_EQ(lines.back(),
            std::string(15 - std::to_string(last).size(), '0') + std::to_string(last));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].size() != 15 || lines[i - 1].size() != 15) continue;
    if (std::atol(lines[i].c_str()) != std::atol(lines[i - 1].c_str()) + 1) {
      // Only a drop may break the sequence, and only at a cut of the queue.
      EXPECT_GT(std::atol(lines[i].c_str()), std::atol(lines[i - 1].c_str()));
    }
  }
  EXPECT_GT(std::atol(lines.front().c_str()), 0) << "the earliest bytes should have been dropped";
}

// A run that keeps all its output holds the child back while the window is busy, however long.
TEST_F(RunnerTest, FloodWhileTheWindowIsBusyLosesNothingWhenAllOutputIsKept) {
  runner_->KeepAllOutput = true;
  const long total = 1 << 20;  // eight times what the queue holds
  Start("child flood " + std::to_string(total) + " " + temp_.File("flood-done"));
  std::this_thread::sleep_for(300ms);  // far beyond the grace a window otherwise gets
  RunToEnd();
  const std::vector<std::string> lines = CompleteLines(reports_);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(total / 16));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(std::atol(lines[i].c_str()), static_cast<long>(i)) << lines[i];
  }
}

TEST_F(RunnerTest, RunFromInsideOnTerminateStartsTheNextRun) {
  runner_->OnTerminate = [this](TJvCreateProcess& sender, uint32_t exit_code) {
    events_.push_back('T');
    ++terminations_;
    exit_codes_.push_back(exit_code);
    if (terminations_ == 1) {
      sender.CommandLine = "child lines 3";
      sender.Run();
      EXPECT_TRUE(sender.Watching());
    }
  };
  Start("child silent 4");
  RunToEnd(2);
  EXPECT_EQ(exit_codes_, (std::vector<uint32_t>{4, 0}));
  EXPECT_EQ(CompleteLines(reports_), Numbered("line ", 3));
}

// As the emulator's identification does: the handler sets the runner up afresh (its own
// replacement among it) for the next run and goes on using what it holds.
TEST_F(RunnerTest, OnTerminateThatReplacesItselfKeepsWhatItHoldsUntilItReturns) {
  const std::string next = "child lines 2";
  std::string used;
  runner_->OnTerminate = [this, next, &used](TJvCreateProcess& sender, uint32_t exit_code) {
    exit_codes_.push_back(exit_code);
    sender.OnTerminate = [this](TJvCreateProcess&, uint32_t code) {
      exit_codes_.push_back(code);
      ++terminations_;
    };
    sender.CommandLine = next;
    sender.Run();
    used = next;  // the replaced handler's own copy, still in use
    ++terminations_;
  };
  Start("child silent 4");
  ASSERT_TRUE(loop_.RunUntil([&] { return terminations_ == 2; }, 20s));
  EXPECT_EQ(exit_codes_, (std::vector<uint32_t>{4, 0}));
  EXPECT_EQ(used, next);
  EXPECT_EQ(CompleteLines(reports_), Numbered("line ", 2));
}

TEST_F(RunnerTest, RunWhileWatchingIsRefusedAndLeavesTheRunAlone) {
  const std::string record = temp_.File("record");
  Start("child slow-writer 5 60 " + record);
  runner_->CommandLine = "child silent 1";
  try {
    runner_->Run();
    FAIL() << "a second Run was accepted";
  } catch (const EJVCLException& error) {
    EXPECT_STREQ(error.what(), "Cannot perform this operation when process is running");
  }
  EXPECT_TRUE(runner_->Watching());
  RunToEnd();
  EXPECT_EQ(CompleteLines(reports_), Numbered("tick ", 5));
  EXPECT_EQ(exit_codes_, std::vector<uint32_t>{7});
}

TEST_F(RunnerTest, FailedStartsRaiseTheSystemErrorAndALaterRunWorks) {
#ifdef _WIN32
  GTEST_SKIP() << "errno codes and texts; runner_win32_test checks the Windows ones";
#else
  const std::string plain_file = temp_.File("not-executable");
  std::ofstream(plain_file) << "#!/bin/sh\n";
  struct Case {
    const char* what;
    std::string application, directory;
    int code;
  } cases[] = {
      {"no such file", temp_.File("missing"), "", ENOENT},
      {"not executable", plain_file, "", EACCES},
      {"a directory", temp_.path(), "", EACCES},
      {"bad working directory", kChild, temp_.File("nowhere"), ENOENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    runner_->ApplicationName = c.application;
    runner_->CurrentDirectory = c.directory;
    runner_->CommandLine = "child lines 1";
    try {
      runner_->Run();
      ADD_FAILURE() << "the start did not fail";
    } catch (const EOSError& error) {
      EXPECT_EQ(error.ErrorCode(), c.code);
      EXPECT_EQ(std::string(error.what()),
                "System Error.  Code: " + std::to_string(c.code) + ".\r\n" + std::strerror(c.code));
    }
    EXPECT_FALSE(runner_->Watching());
  }
  loop_.RunUntil([] { return false; }, 100ms);
  EXPECT_EQ(terminations_, 0);
  EXPECT_TRUE(reports_.empty());

  runner_->ApplicationName = kChild;
  runner_->CurrentDirectory = "";
  Start("child lines 2");
  RunToEnd();
  EXPECT_EQ(CompleteLines(reports_), Numbered("line ", 2));
#endif
}

TEST_F(RunnerTest, GrandchildHoldingThePipeDoesNotDelayTheEndNorDiesOfALateWrite) {
#ifdef _WIN32
  GTEST_SKIP() << "fork and kill; runner_win32_test has the Windows grandchild";
#else
  for (bool flooding : {false, true}) {
    SCOPED_TRACE(flooding ? "grandchild writing without pause" : "grandchild silent for a while");
    reports_.clear();
    terminations_ = 0;
    exit_codes_.clear();
    const std::string pid_file = temp_.File(flooding ? "pid-flood" : "pid-hold");
    const std::string record = temp_.File(flooding ? "late-flood" : "late-hold");
    bool grandchild_still_waiting_at_end = false;
    runner_->OnTerminate = [&](TJvCreateProcess&, uint32_t exit_code) {
      events_.push_back('T');
      ++terminations_;
      exit_codes_.push_back(exit_code);
      grandchild_still_waiting_at_end = !std::filesystem::exists(record);
    };
    Start("child grandchild " + pid_file + (flooding ? " 0 " : " 3000 ") + record);
    // A busy window lets the flood fill the pipe: the reader then never finds it empty.
    if (flooding) std::this_thread::sleep_for(500ms);
    RunToEnd();
    EXPECT_EQ(exit_codes_, std::vector<uint32_t>{3});
    if (!flooding) {
      EXPECT_EQ(CompleteLines(reports_), std::vector<std::string>{"child done"});
      // The end came while the grandchild still held the output open.
      EXPECT_TRUE(grandchild_still_waiting_at_end);
    }
    // Nobody reads any more: a late write fails instead of killing the writer.
    EXPECT_TRUE(WaitFor([&] { return std::filesystem::exists(record); }, 20s));
    EXPECT_EQ(ReadFile(record), "late write failed\n");
    const pid_t grandchild = std::atoi(ReadFile(pid_file).c_str());
    if (grandchild > 0) kill(grandchild, SIGKILL);
  }
#endif
}

TEST_F(RunnerTest, DetachedChildRunsOnWritingAndEndsByItself) {
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "runner destroyed" : "Detach");
    reports_.clear();
    terminations_ = 0;
    const std::string record = temp_.File(destroy ? "record-destroyed" : "record-detached");
    Start("child slow-writer 15 40 " + record);
    ASSERT_TRUE(loop_.RunUntil([&] { return !reports_.empty(); }, 10s));
    const std::size_t reports_before = reports_.size();
    if (destroy) {
      runner_.reset();
    } else {
      runner_->Detach();
      EXPECT_FALSE(runner_->Watching());
    }
    // The loop keeps running: nothing more of that run may arrive.
    ASSERT_TRUE(
        loop_.RunUntil([&] { return std::filesystem::exists(record); }, std::chrono::seconds(20)));
    loop_.RunUntil([] { return false; }, 200ms);
    EXPECT_EQ(reports_.size(), reports_before);
    EXPECT_EQ(terminations_, 0);
    // Every write succeeded: the output was still read after the runner let go.
    EXPECT_EQ(ReadFile(record), "ticks 15 failures 0 exit 7\n");
    EXPECT_TRUE(WaitFor([] { return CountZombieChildren() == 0; }, 10s));
    if (destroy) {
      runner_ = std::make_unique<TJvCreateProcess>(loop_);
    }
  }
}

TEST_F(RunnerTest, ManyRunsLeaveNoDescriptorThreadOrZombie) {
#ifdef _WIN32
  GTEST_SKIP() << "counts /proc entries; runner_win32_test counts handles";
#else
  // Settle the first run's one-time allocations before counting.
  Start("child silent 0");
  RunToEnd();
  ASSERT_TRUE(WaitFor([] { return CountWorkerThreads() == 0; }, 10s));
  const std::size_t threads_before = CountEntries("/proc/self/task");
  const std::size_t fds_before = CountEntries("/proc/self/fd");
  for (int i = 0; i < 500; ++i) {
    terminations_ = 0;
    Start(i % 2 == 0 ? "child silent 0" : "child lines 2");
    ASSERT_TRUE(loop_.RunUntil([&] { return terminations_ == 1; }, 20s)) << "run " << i;
  }
  EXPECT_TRUE(WaitFor([] { return CountWorkerThreads() == 0; }, 10s))
      << CountWorkerThreads() << " workers left";
  EXPECT_EQ(CountEntries("/proc/self/task"), threads_before);
  EXPECT_EQ(CountEntries("/proc/self/fd"), fds_before);
  EXPECT_EQ(CountZombieChildren(), 0);
#endif
}

TEST_F(RunnerTest, ChildSeesOnlyItsThreeStandardStreamsAndAnOpenEmptyInput) {
#ifndef _WIN32  // the descriptors are read from /proc
  // A descriptor of ours without close-on-exec must not reach the child either.
  const int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 3);
  Start("child fds");
  RunToEnd();
  close(stray);
  EXPECT_EQ(CompleteLines(reports_), (std::vector<std::string>{"fd 0", "fd 1", "fd 2"}));
#endif

  reports_.clear();
  terminations_ = 0;
  Start("child stdin");
  RunToEnd();
  EXPECT_EQ(CompleteLines(reports_), std::vector<std::string>{"stdin open and empty"});
}

#ifndef _WIN32
// The Cpus_allowed_list line of a /proc status file, "" when there is none.
std::string AllowedList(const std::string& status_path) {
  std::ifstream in(status_path);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Cpus_allowed_list:", 0) == 0) return line;
  }
  return "";
}

// The processors of such a line ("Cpus_allowed_list:\t0,2-3" gives 0, 2, 3).
std::vector<int> CpuList(const std::string& line) {
  std::vector<int> cpus;
  std::istringstream in(line.substr(line.find(':') + 1));
  in >> std::ws;
  for (std::string range; std::getline(in, range, ',');) {
    const std::size_t dash = range.find('-');
    const int first = std::stoi(range.substr(0, dash));
    const int last = dash == std::string::npos ? first : std::stoi(range.substr(dash + 1));
    for (int cpu = first; cpu <= last; ++cpu) cpus.push_back(cpu);
  }
  return cpus;
}

// The status file of the runner's worker thread, found by its name; "" when it has none.
std::string WorkerStatusPath() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name == "velotrax-run")
      return (task.path() / "status").string();
  }
  return "";
}
#endif

TEST_F(RunnerTest, AChildBoundToAProcessorRunsThereAloneAndTheWorkerKeepsOffIt) {
#ifdef _WIN32
  GTEST_SKIP() << "reads /proc; runner_win32_test checks the Windows affinity";
#else
  const std::vector<int> allowed = AllowedProcessors();
  ASSERT_FALSE(allowed.empty());
  const std::string ours = AllowedList("/proc/self/status");
  // Unbound: the child may go wherever we may.
  Start("child affinity 0");
  RunToEnd();
  ASSERT_GE(reports_.size(), 2u);
  EXPECT_EQ(CpuList(CompleteLines(reports_).front()), CpuList(ours));
  errno = 0;
  const int our_nice = getpriority(PRIO_PROCESS, 0);
  EXPECT_EQ(CompleteLines(reports_)[1], "nice " + std::to_string(our_nice) + " session shared");

  // Bound to the last processor: the child runs there alone, at a raised priority where we may
  // raise it, and the worker watching it keeps to the others while it runs.
  const int processor = allowed.back();
  runner_->ChildProcessor = processor;
  runner_->Priority = TJvProcessPriority::ppAboveNormal;
  reports_.clear();
  terminations_ = 0;
  Start("child affinity 500");
  ASSERT_TRUE(loop_.RunUntil([&] { return !reports_.empty(); }, 20s));
  const std::string worker = WorkerStatusPath();
  ASSERT_FALSE(worker.empty());
  const std::string worker_list = AllowedList(worker);
  RunToEnd();
  const std::vector<std::string> lines = CompleteLines(reports_);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(CpuList(lines[0]), std::vector<int>{processor}) << lines[0];
  // Raised in a session of its own, whose scheduling group is raised too where there is one.
  const std::string raised =
      std::to_string(CanRaiseChildPriority() ? std::max(-20, our_nice - 5) : our_nice);
  EXPECT_EQ(lines[1], "nice " + raised + " session own");
  if (lines.size() > 2 && CanRaiseChildPriority()) {
    EXPECT_EQ(lines[2].substr(lines[2].rfind(' ') + 1), raised) << lines[2];
  }
  if (allowed.size() > 1) {
    const std::vector<int> worker_cpus = CpuList(worker_list);
    EXPECT_FALSE(worker_cpus.empty());
    EXPECT_EQ(std::count(worker_cpus.begin(), worker_cpus.end(), processor), 0) << worker_list;
  }

  // A processor the program may not use fails the start, saying which call refused it.
  runner_->ChildProcessor = 4096;
  runner_->CommandLine = "child silent 0";
  try {
    runner_->Run();
    FAIL() << "a child was started on a processor that does not exist";
  } catch (const EOSCallError& error) {
    EXPECT_EQ(error.Call(), "sched_setaffinity");
  }
  EXPECT_FALSE(runner_->Watching());
#endif
}

TEST_F(RunnerTest, BlanksAroundNamesAreIgnoredAndTheCommandLineIsKept) {
  runner_->ApplicationName = "  " + kChild + " \t";
  runner_->CurrentDirectory = " " + temp_.path() + "  ";
  Start("child  args \"two  blanks\"   last ");
  RunToEnd();
  const std::string cwd = std::filesystem::canonical(temp_.path()).string();
  EXPECT_EQ(CompleteLines(reports_), (std::vector<std::string>{"[child]", "[args]", "[two  blanks]",
                                                               "[last]", "cwd " + cwd}));
}

TEST_F(RunnerTest, ChildKilledBySignalReports128PlusTheSignal) {
#ifdef _WIN32
  GTEST_SKIP() << "no signals on Windows";
#else
  for (int signal_number : {SIGKILL, SIGTERM, SIGSEGV}) {
    SCOPED_TRACE(signal_number);
    terminations_ = 0;
    exit_codes_.clear();
    Start("child signal " + std::to_string(signal_number));
    RunToEnd();
    EXPECT_EQ(exit_codes_, std::vector<uint32_t>{128u + static_cast<uint32_t>(signal_number)});
  }
#endif
}

TEST_F(RunnerTest, EnvironmentIsReplacedWhenGivenAndRefusedWithAnEmptyLine) {
  runner_->Environment = {"VELOTRAX_PROBE=given", "OTHER=1"};
  Start("child env VELOTRAX_PROBE");
  RunToEnd();
  EXPECT_EQ(CompleteLines(reports_), std::vector<std::string>{"VELOTRAX_PROBE=given"});

  runner_->Environment = {"A=1", ""};
  runner_->CommandLine = "child silent 0";
  try {
    runner_->Run();
    FAIL() << "an empty environment line was accepted";
  } catch (const EJclError& error) {
    EXPECT_STREQ(error.what(),
                 "String list passed to StringsToMultiSz cannot contain empty strings.");
  }
  EXPECT_FALSE(runner_->Watching());
}

TEST_F(RunnerTest, FailingReadHandlerEndsTheDrainButTheRunStillEnds) {
  int failures = 0;
  runner_->OnRead = [&](TJvCreateProcess&, std::string_view, bool) {
    throw EConvertError("handler failed");
  };
  Start("child lines 50");
  // Hold the window until the child is done so that the last drain also meets the failure.
  std::this_thread::sleep_for(300ms);
  for (int attempt = 0; attempt < 10 && terminations_ == 0; ++attempt) {
    try {
      loop_.RunUntil([&] { return terminations_ > 0; }, 10s);
    } catch (const EConvertError&) {
      ++failures;
    }
  }
  EXPECT_GE(failures, 1);
  EXPECT_EQ(terminations_, 1);
  EXPECT_FALSE(runner_->Watching());
  // The runner is usable again.
  runner_->OnRead = [&](TJvCreateProcess&, std::string_view s, bool starts_on_new_line) {
    reports_.emplace_back(std::string(s), starts_on_new_line);
  };
  terminations_ = 0;
  Start("child lines 2");
  RunToEnd();
  EXPECT_EQ(CompleteLines(reports_), Numbered("line ", 2));
}

TEST_F(RunnerTest, WithoutRedirectionOnlyTheEndIsWatchedOrNothingAtAll) {
  runner_->ConsoleOptions = {TJvConsoleOption::coOwnerData};
  Start("child silent 9");
  EXPECT_TRUE(runner_->Watching());
  RunToEnd();
  EXPECT_EQ(exit_codes_, std::vector<uint32_t>{9});
  EXPECT_TRUE(reports_.empty());

  terminations_ = 0;
  runner_->WaitForTerminate = false;
  Start("child silent 9");
  EXPECT_FALSE(runner_->Watching());
  loop_.RunUntil([] { return false; }, 200ms);
  EXPECT_EQ(terminations_, 0);
  // Nobody watches it, but it is not left behind as a zombie either.
  EXPECT_TRUE(WaitFor([] { return CountZombieChildren() == 0; }, 10s));
}

TEST_F(RunnerTest, CommandLineAloneNamesTheProgram) {
  runner_->ApplicationName = "";
  Start(kChild + " lines 1");
  RunToEnd();
  EXPECT_EQ(CompleteLines(reports_), Numbered("line ", 1));
}

TEST_F(RunnerTest, HandlersThatLetGoOfTheRunGetNothingMoreOfIt) {
  // Each case acts in a handler while a piece of 40 lines is being assembled (or at the end):
  // the handler finishes, and nothing more of the old run arrives, not even the rest of the
  // piece. A restarted run sees only its own output.
  enum class Act { detach, restart, destroy_in_read, destroy_in_raw_read, destroy_in_terminate };
  for (Act act : {Act::detach, Act::restart, Act::destroy_in_read, Act::destroy_in_raw_read,
                  Act::destroy_in_terminate}) {
    SCOPED_TRACE(static_cast<int>(act));
    if (!runner_) runner_ = std::make_unique<TJvCreateProcess>(loop_);
    runner_->ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
    runner_->ApplicationName = kChild;
    std::vector<std::string> after;  // what arrived once the handler had acted
    bool acted = false, handler_finished = false;
    int old_reports = 0, ends = 0;
    // Whatever the handler does to the runner, it goes on using its own captures.
    auto act_now = [&, this] {
      acted = true;
      if (act == Act::detach) runner_->Detach();
      if (act == Act::restart) {
        runner_->Detach();
        runner_->CommandLine = "child burst new 3 0";
        runner_->Run();
      }
      if (act >= Act::destroy_in_read) runner_.reset();
      handler_finished = true;
    };
    runner_->OnRead = [&](TJvCreateProcess&, std::string_view s, bool) {
      if (acted) {
        after.emplace_back(s);
        return;
      }
      if (++old_reports == 3 && act <= Act::destroy_in_read) act_now();
    };
    runner_->OnRawRead = [&](TJvCreateProcess&, std::string_view) {
      if (acted) after.emplace_back("raw");
      if (!acted && act == Act::destroy_in_raw_read) act_now();
    };
    runner_->OnTerminate = [&](TJvCreateProcess&, uint32_t) {
      ++ends;
      if (!acted && act == Act::destroy_in_terminate) act_now();
    };
    Start("child burst old 40 300");
    loop_.RunUntil([&] { return acted && (act != Act::restart || ends == 1); }, 20s);
    // The old child writes again and ends meanwhile.
    loop_.RunUntil([] { return false; }, 600ms);
    EXPECT_TRUE(handler_finished);
    if (act == Act::restart) {
      after.erase(std::remove(after.begin(), after.end(), "raw"), after.end());
      after.erase(std::remove(after.begin(), after.end(), ""), after.end());
      EXPECT_EQ(after, (std::vector<std::string>{"new 0", "new 1", "new 2", "new end"}));
      EXPECT_EQ(ends, 1);
    } else {
      EXPECT_TRUE(after.empty()) << after.size() << " events after letting go, first "
                                 << after.front();
      EXPECT_EQ(ends, act == Act::destroy_in_terminate ? 1 : 0);
    }
  }
}

// Whatever owns a runner may destroy it from one of its handlers: the handler goes on with its
// own captures, and nothing more of that run arrives. The handlers are small enough to be kept
// inside the runner's own memory, which the owner frees at once.
enum class Owner { plain_new, make_shared, member, optional_reset, optional_replaced };

class RunnerOwnerTest : public RunnerTest,
                        public ::testing::WithParamInterface<std::tuple<Owner, bool>> {};

TEST_P(RunnerOwnerTest, AHandlerMayDestroyItsRunner) {
  const Owner owner = std::get<0>(GetParam());
  const bool in_terminate = std::get<1>(GetParam());
  struct Holder {
    explicit Holder(UiThread& ui) : runner(ui) {}
    TJvCreateProcess runner;
  };
  TJvCreateProcess* plain = nullptr;
  std::shared_ptr<TJvCreateProcess> shared;
  std::unique_ptr<Holder> holder;
  std::optional<TJvCreateProcess> optional;
  TJvCreateProcess* runner = nullptr;
  switch (owner) {
    case Owner::plain_new:
      runner = plain = new TJvCreateProcess(loop_);
      break;
    case Owner::make_shared:
      runner = (shared = std::make_shared<TJvCreateProcess>(loop_)).get();
      break;
    case Owner::member:
      runner = &(holder = std::make_unique<Holder>(loop_))->runner;
      break;
    default:
      runner = &optional.emplace(loop_);
  }
  const std::function<void()> destroy = [&] {
    switch (owner) {
      case Owner::plain_new:
        delete plain;
        break;
      case Owner::make_shared:
        shared.reset();
        break;
      case Owner::member:
        holder.reset();
        break;
      case Owner::optional_reset:
        optional.reset();
        break;
      case Owner::optional_replaced:
        optional.emplace(loop_);
        break;
    }
  };
  struct {
    int calls = 0;
    bool finished = false;
  } state;
  auto act = [&state, &destroy] {
    if (++state.calls > 1) return;
    destroy();
    state.finished = true;
  };
  runner->ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
  runner->ApplicationName = kChild;
  runner->CommandLine = in_terminate ? "child silent 0" : "child lines 50";
  if (in_terminate) runner->OnTerminate = [act](TJvCreateProcess&, uint32_t) { act(); };
  if (!in_terminate) runner->OnRead = [act](TJvCreateProcess&, std::string_view, bool) { act(); };
  runner->Run();
  ASSERT_TRUE(loop_.RunUntil([&] { return state.finished; }, 20s));
  loop_.RunUntil([] { return false; }, 100ms);
  EXPECT_EQ(state.calls, 1);
}

std::string OwnerCaseName(const ::testing::TestParamInfo<std::tuple<Owner, bool>>& info) {
  const char* const owners[] = {"PlainNew", "MakeShared", "MemberOfADeletedObject", "OptionalReset",
                                "OptionalReplaced"};
  return std::string(owners[static_cast<int>(std::get<0>(info.param))]) +
         (std::get<1>(info.param) ? "InOnTerminate" : "InOnRead");
}

INSTANTIATE_TEST_SUITE_P(EveryOwner, RunnerOwnerTest,
                         ::testing::Combine(::testing::Values(Owner::plain_new, Owner::make_shared,
                                                              Owner::member, Owner::optional_reset,
                                                              Owner::optional_replaced),
                                            ::testing::Bool()),
                         OwnerCaseName);

TEST_F(RunnerTest, OutputQueuedBehindAFailingReadHandlerFollowsRightAfterTheError) {
  bool failed = false;
  runner_->OnRead = [&](TJvCreateProcess&, std::string_view s, bool starts_on_new_line) {
    if (!failed && s == "burst 0") {
      failed = true;
      throw EConvertError("handler failed");
    }
    reports_.emplace_back(std::string(s), starts_on_new_line);
  };
  // About 30 KB in one write, then the child stays silent for 5 s before it writes and ends.
  Start("child burst burst 3000 5000");
  EXPECT_THROW(loop_.RunUntil([] { return false; }, 20s), EConvertError);
  // The rest of that output comes now, not when the child next writes or ends.
  const auto has_last = [&] {
    for (const auto& report : reports_)
      if (report.first == "burst 2999") return true;
    return false;
  };
  EXPECT_TRUE(loop_.RunUntil(has_last, 4s));
  EXPECT_EQ(terminations_, 0);
  RunToEnd();
  const std::vector<std::string> lines = CompleteLines(reports_);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{"burst 2999", "burst end"}));
}

TEST_F(RunnerTest, FailedStartsKeepTheCallAndLeaveNoChildBehind) {
#ifdef _WIN32
  GTEST_SKIP() << "chdir and pthread_create are POSIX calls";
#else
  const std::string record = temp_.File("record");
  int (*const start_thread)(void* (*)(void*), void*) = StartRunnerThread;
  const struct {
    const char* what;
    std::string directory;
    bool thread_fails;
    int code;
    const char* call;
  } cases[] = {
      {"bad working directory", temp_.File("nowhere"), false, ENOENT, "chdir"},
      {"no worker thread", "", true, EAGAIN, "pthread_create"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    runner_->CurrentDirectory = c.directory;
    if (c.thread_fails) {
      // A worker that served an earlier start would take this one without a new thread.
      ASSERT_TRUE(WaitFor([] { return CountWorkerThreads() == 0; }, 10s));
      StartRunnerThread = [](void* (*)(void*), void*) { return EAGAIN; };
    }
    try {
      Start("child slow-writer 1 0 " + record);
      ADD_FAILURE() << "the start did not fail";
    } catch (const EOSCallError& error) {
      EXPECT_EQ(error.ErrorCode(), c.code);
      EXPECT_EQ(error.Call(), c.call);
      if (c.thread_fails) {
        EXPECT_EQ(std::string(error.what()),
                  std::string("Thread creation error: ") + std::strerror(EAGAIN));
      }
    }
    StartRunnerThread = start_thread;
    EXPECT_FALSE(runner_->Watching());
    EXPECT_EQ(runner_->ProcessId(), 0);
  }
  // No child ran, so none can be left unreaped.
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(std::filesystem::exists(record));
  EXPECT_EQ(CountZombieChildren(), 0);
  runner_->CurrentDirectory = "";
  Start("child lines 2");
  RunToEnd();
  EXPECT_EQ(CompleteLines(reports_), Numbered("line ", 2));
#endif
}

// Without process descriptors (before Linux 5.3) the worker looks for the child's end itself:
// through a new worker and a waiting one alike, and while a grandchild holds the output open.
TEST_F(RunnerTest, WithoutProcessDescriptorsEveryRunStillEndsWithAllItsOutput) {
#ifdef _WIN32
  GTEST_SKIP() << "process descriptors are Linux only";
#else
  // Put back for the tests that follow, also when an assertion here ends this one early.
  struct Restore {
    int (*const open_descriptor)(int) = OpenProcessDescriptor;
    ~Restore() { OpenProcessDescriptor = open_descriptor; }
  } restore;
  OpenProcessDescriptor = [](int) {
    errno = ENOSYS;
    return -1;
  };
  Start("child lines 200");
  RunToEnd();
  EXPECT_EQ(CompleteLines(reports_), Numbered("line ", 200));
  // The worker that served that run takes this one, and still looks at it while it runs.
  ExpectOutputWhileTheChildRuns();
  reports_.clear();
  terminations_ = 0;
  const std::string pid_file = temp_.File("pid");
  Start("child grandchild " + pid_file + " 3000 " + temp_.File("late"));
  RunToEnd();
  EXPECT_EQ(CompleteLines(reports_), std::vector<std::string>{"child done"});
  EXPECT_EQ(exit_codes_.back(), 3u);
  const pid_t grandchild = std::atoi(ReadFile(pid_file).c_str());
  if (grandchild > 0) kill(grandchild, SIGKILL);
#endif
}

TEST_F(RunnerTest, SignalsReachTheChildOrItsGroupOnlyWhileItRuns) {
#ifdef _WIN32
  GTEST_SKIP() << "no signals or process groups on Windows";
#else
  for (bool own_group : {false, true}) {
    SCOPED_TRACE(own_group ? "own process group" : "our process group");
    terminations_ = 0;
    exit_codes_.clear();
    runner_->CreationFlags.clear();
    if (own_group) runner_->CreationFlags = {TJvCPSFlag::cfNewProcGroup};
    Start("child slow-writer 1000 50 " + temp_.File("record"));
    const int pid = runner_->ProcessId();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(getpgid(pid), own_group ? pid : getpgrp());
    // Sent to the group, the signal would find no group of that id unless the child leads one.
    EXPECT_TRUE(runner_->SignalChild(SIGTERM));
    RunToEnd();
    EXPECT_EQ(exit_codes_, std::vector<uint32_t>{128 + SIGTERM});
    EXPECT_EQ(runner_->ProcessId(), 0);
    EXPECT_FALSE(runner_->SignalChild(SIGTERM));
  }
#endif
}

}  // namespace
}  // namespace velotrax
