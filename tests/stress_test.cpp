// The runner's and the probe's line hand-out run many times, on several threads at once and
// optionally beside processes that keep every core busy: every line must arrive whole and in
// order. VELOTRAX_STRESS_RUNS sets the runs per test (8 by default), VELOTRAX_STRESS_THREADS the
// runs going on at once (2) and VELOTRAX_STRESS_LOAD the busy processes (none); `make stress`
// runs a thousand of each under load.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulator_dialect.h"
#include "process/create_process.h"
#include "process/event_loop.h"
#include "tests/helpers_common/line_reports.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using namespace std::chrono_literals;

const std::string kChild = std::string(VELOTRAX_HELPER_DIR) + "/helper-child";

int Setting(const char* name, int fallback) {
  const char* text = std::getenv(name);
  const int value = text != nullptr ? std::atoi(text) : -1;
  return value >= 0 ? value : fallback;
}

// Processes that spin until the test ends, one per busy core asked for.
struct CpuLoad {
  explicit CpuLoad(int processes) {
    for (int i = 0; i < processes; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        for (volatile unsigned long spin = 0;;) spin = spin + 1;
      }
      if (pid > 0) spinners.push_back(pid);
    }
  }
  ~CpuLoad() {
    for (const pid_t pid : spinners) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
  }
  std::vector<pid_t> spinners;
};

// Runs check(run number) VELOTRAX_STRESS_RUNS times spread over VELOTRAX_STRESS_THREADS threads
// under VELOTRAX_STRESS_LOAD; check returns an empty text or what went wrong.
void Hammer(const std::function<std::string(int)>& check) {
  const int runs = Setting("VELOTRAX_STRESS_RUNS", 8);
  const int threads = std::max(1, Setting("VELOTRAX_STRESS_THREADS", 2));
  const CpuLoad load(Setting("VELOTRAX_STRESS_LOAD", 0));
  std::atomic<int> next{0};
  std::mutex mutex;
  std::string faults;  // the first few
  int failed = 0;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (int run = next++; run < runs; run = next++) {
        const std::string fault = check(run);
        const std::lock_guard<std::mutex> lock(mutex);
        if (!fault.empty() && ++failed <= 5)
          faults += "run " + std::to_string(run) + ": " + fault + "\n";
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  std::printf("%d runs on %d threads beside %zu busy processes: %d failed\n", runs, threads,
              load.spinners.size(), failed);
  EXPECT_EQ(failed, 0) << faults;
}

// Empty when lines are "<prefix>0" .. "<prefix>count-1", then last if given; else the first
// difference.
std::string NumberedLinesFault(const std::vector<std::string>& lines, const char* prefix, int count,
                               const char* last = nullptr) {
  std::vector<std::string> expected;
  for (int i = 0; i < count; ++i) expected.push_back(prefix + std::to_string(i));
  if (last != nullptr) expected.push_back(last);
  for (std::size_t i = 0; i < std::min(lines.size(), expected.size()); ++i) {
    if (lines[i] != expected[i]) return "line " + std::to_string(i) + " reads \"" + lines[i] + "\"";
  }
  if (lines.size() == expected.size()) return {};
  return std::to_string(lines.size()) + " lines instead of " + std::to_string(expected.size());
}

TEST(Stress, AProbeOfAnEndlessAnswerKeepsItsFirstLinesWholeAndInOrder) {
  testing::TempDir dir;
  Hammer([&](int) -> std::string {
    const std::optional<ProbeOutput> output =
        RunEmulatorProbe({dir.Path(), kChild, "child lines 30000"}, 60s);
    return output ? NumberedLinesFault(output->lines, "line ", 20000) : "no answer";
  });
}

// One runner on each thread starts child after child, so that every run after the first is
// handed to a waiting worker; small and large outputs, with and without a pause before the end,
// and more than the queue holds from a run that keeps all its output.
TEST(Stress, RunsOneAfterAnotherGiveEveryLineOfTheirOwnChildInOrder) {
  const struct {
    std::string command_line;
    const char* prefix;
    int count;
    const char* last = nullptr;
    bool keep_all_output = false;
  } cases[] = {{"child lines 3000", "line ", 3000},
               {"child silent 0", "", 0},
               {"child burst b 2000 5", "b ", 2000, "b end"},
               {"child lines 1", "line ", 1},
               {"child lines 9000", "line ", 9000},
               {"child lines 30000", "line ", 30000, nullptr, true}};
  Hammer([&](int run) -> std::string {
    thread_local EventLoop loop;
    thread_local TJvCreateProcess runner(loop);
    const auto& job = cases[run % std::size(cases)];
    std::vector<std::pair<std::string, bool>> reports;
    bool ended = false;
    uint32_t exit_code = 1;
    runner.ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
    runner.ApplicationName = kChild;
    runner.CommandLine = job.command_line;
    runner.KeepAllOutput = job.keep_all_output;
    runner.OnRead = [&](TJvCreateProcess&, std::string_view s, bool starts_on_new_line) {
      reports.emplace_back((ended ? "(after the end) " : "") + std::string(s), starts_on_new_line);
    };
    runner.OnTerminate = [&](TJvCreateProcess&, uint32_t code) {
      exit_code = code;
      ended = true;
    };
    runner.Run();
    if (!loop.RunUntil([&] { return ended; }, 60s)) {
      runner.Detach();
      return "no end";
    }
    loop.RunPending();  // a stray event of this run would show now
    std::vector<std::string> lines = testing::TerminalLines(reports);
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string fault = NumberedLinesFault(lines, job.prefix, job.count, job.last);
    if (fault.empty() && exit_code != 0) fault = "exit code " + std::to_string(exit_code);
    return fault.empty() ? fault : job.command_line + ": " + fault;
  });
}

}  // namespace
}  // namespace velotrax
