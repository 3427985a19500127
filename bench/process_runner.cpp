// How the runner compares with QProcess and with a bare poll() loop when it carries a child's
// output: throughput and the parent's CPU for a flood of lines, the parent's CPU for a quick
// child (start, one line, end), the frame rate a CPU-bound child keeps while watched, and the
// delay from the child's end to the end event. Every target is checked in the same run; a row
// whose target is not met says MISSED.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "process/create_process.h"
#include "process/event_loop.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using velotrax::EventLoop;
using velotrax::TJvConsoleOption;
using velotrax::TJvCreateProcess;

const std::string kWorkload = std::string(VELOTRAX_HELPER_DIR) + "/helper-workload";
constexpr long long kFloodBytes = 256LL << 20;
constexpr double kSpinSeconds = 1.0;
constexpr int kSpinRounds = 7;
constexpr int kLatencyRuns = 200;
constexpr int kQuickChildren = 300;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long long MonotonicNanoseconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// What a consumer of lines does with them: keeps them, a batch at a time.
struct LineSink {
  std::vector<std::string> lines;
  long long line_count = 0;
  void Add(std::string_view line) {
    lines.emplace_back(line);
    ++line_count;
    if (lines.size() == 4096) lines.clear();
  }
};

// The runner on its own event loop, set to start the workload with the given arguments and to
// note each end.
struct WorkloadRunner {
  explicit WorkloadRunner(const std::string& arguments) {
    runner.ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
    runner.ApplicationName = kWorkload;
    runner.CommandLine = "workload " + arguments;
    runner.OnTerminate = [this](TJvCreateProcess&, uint32_t) { ended = true; };
  }
  // Starts the workload and waits for its end.
  void RunToEnd(std::chrono::seconds timeout) {
    ended = false;
    runner.Run();
    loop.RunUntil([&] { return ended; }, timeout);
  }
  EventLoop loop;
  TJvCreateProcess runner{loop};
  bool ended = false;
};

struct FloodResult {
  double seconds = 0, cpu = 0;
  long long delivered = 0;
};

FloodResult FloodThroughRunner() {
  WorkloadRunner workload("flood80 " + std::to_string(kFloodBytes));
  LineSink sink;
  FloodResult result;
  workload.runner.OnRawRead = [&](TJvCreateProcess&, std::string_view s) {
    result.delivered += static_cast<long long>(s.size());
  };
  workload.runner.OnRead = [&](TJvCreateProcess&, std::string_view s, bool) { sink.Add(s); };
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  workload.RunToEnd(600s);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu = CpuSeconds() - cpu;
  return result;
}

FloodResult FloodThroughQProcess() {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  LineSink sink;
  FloodResult result;
  QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
    while (process.canReadLine()) {
      const QByteArray line = process.readLine();
      result.delivered += line.size();
      sink.Add(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
    }
  });
  QEventLoop loop;
  QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  process.start(QString::fromStdString(kWorkload), {"flood80", QString::number(kFloodBytes)});
  loop.exec();
  const QByteArray rest = process.readAll();
  result.delivered += rest.size();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu = CpuSeconds() - cpu;
  return result;
}

// Starts the workload with its output on a pipe; returns the read end.
pid_t SpawnWithPipe(const std::vector<std::string>& arguments, int* read_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<std::string> words = arguments;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, kWorkload.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    std::abort();
  }
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  *read_end = fds[0];
  return pid;
}

FloodResult FloodThroughPollLoop() {
  FloodResult result;
  LineSink sink;
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  int fd = -1;
  const pid_t pid = SpawnWithPipe({"workload", "flood80", std::to_string(kFloodBytes)}, &fd);
  std::string partial;
  std::vector<char> buffer(65536);
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, -1) < 0) continue;
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    result.delivered += n;
    const char* begin = buffer.data();
    const char* end = begin + n;
    while (const char* lf = static_cast<const char*>(std::memchr(begin, '\n', end - begin))) {
      if (partial.empty()) {
        sink.Add(std::string_view(begin, lf - begin));
      } else {
        partial.append(begin, lf);
        sink.Add(partial);
        partial.clear();
      }
      begin = lf + 1;
    }
    partial.append(begin, end);
  }
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu = CpuSeconds() - cpu;
  return result;
}

double ParseFps(const std::string& text) {
  const std::size_t at = text.rfind("FPS ");
  return at == std::string::npos ? 0 : std::atof(text.c_str() + at + 4);
}

double SpinStandalone() {
  int fd = -1;
  const pid_t pid = SpawnWithPipe({"workload", "spin", std::to_string(kSpinSeconds)}, &fd);
  // Only the end is of interest; the pipe is read in large blocks, as quietly as possible.
  std::string text;
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > 4096) text.erase(0, text.size() - 256);
  }
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  return ParseFps(text);
}

double SpinUnderRunner() {
  WorkloadRunner workload("spin " + std::to_string(kSpinSeconds));
  std::vector<std::string> log;
  workload.runner.OnRead = [&](TJvCreateProcess&, std::string_view s, bool) {
    log.emplace_back(s);
  };
  workload.RunToEnd(600s);
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->rfind("FPS ", 0) == 0) return ParseFps(*it);
  }
  return 0;
}

double SpinUnderQProcess() {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  std::vector<std::string> log;
  QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
    while (process.canReadLine()) log.push_back(process.readLine().trimmed().toStdString());
  });
  QEventLoop loop;
  QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  process.start(QString::fromStdString(kWorkload), {"spin", QString::number(kSpinSeconds)});
  loop.exec();
  for (const QByteArray& line : process.readAll().split('\n')) {
    log.push_back(line.trimmed().toStdString());
  }
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->rfind("FPS ", 0) == 0) return ParseFps(*it);
  }
  return 0;
}

double RunnerExitLatencyMs() {
  WorkloadRunner workload("exit-stamp");
  std::vector<double> latencies;
  long long stamp = 0, ended_at = 0;
  workload.runner.OnRead = [&](TJvCreateProcess&, std::string_view s, bool) {
    if (!s.empty()) stamp = std::atoll(std::string(s).c_str());
  };
  workload.runner.OnTerminate = [&](TJvCreateProcess&, uint32_t) {
    ended_at = MonotonicNanoseconds();
    workload.ended = true;
  };
  for (int i = 0; i < kLatencyRuns; ++i) {
    stamp = ended_at = 0;
    workload.RunToEnd(60s);
    latencies.push_back(static_cast<double>(ended_at - stamp) / 1e6);
  }
  return Median(latencies);
}

double QProcessExitLatencyMs() {
  std::vector<double> latencies;
  for (int i = 0; i < kLatencyRuns; ++i) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    long long ended_at = 0;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, [&] {
      ended_at = MonotonicNanoseconds();
      loop.quit();
    });
    process.start(QString::fromStdString(kWorkload), {"exit-stamp"});
    loop.exec();
    const long long stamp = process.readAll().trimmed().toLongLong();
    latencies.push_back(static_cast<double>(ended_at - stamp) / 1e6);
  }
  return Median(latencies);
}

// Parent CPU per quick child: start it, take its one line, see its end; the same object each time.
double RunnerQuickChildMicroseconds(int children) {
  WorkloadRunner workload("exit-stamp");
  std::vector<std::string> log;
  workload.runner.OnRead = [&](TJvCreateProcess&, std::string_view s, bool) {
    log.emplace_back(s);
  };
  const double cpu = CpuSeconds();
  for (int i = 0; i < children; ++i) {
    workload.RunToEnd(60s);
    log.clear();
  }
  return 1e6 * (CpuSeconds() - cpu) / children;
}

double QProcessQuickChildMicroseconds(int children) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  std::vector<std::string> log;
  QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
    while (process.canReadLine()) log.push_back(process.readLine().toStdString());
  });
  QEventLoop loop;
  QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  const double cpu = CpuSeconds();
  for (int i = 0; i < children; ++i) {
    process.start(QString::fromStdString(kWorkload), {"exit-stamp"});
    loop.exec();
    log.push_back(process.readAll().toStdString());
    log.clear();
  }
  return 1e6 * (CpuSeconds() - cpu) / children;
}

double SpawnQuickChildMicroseconds(int children) {
  const double cpu = CpuSeconds();
  for (int i = 0; i < children; ++i) {
    int fd = -1;
    const pid_t pid = SpawnWithPipe({"workload", "exit-stamp"}, &fd);
    char buffer[256];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
  }
  return 1e6 * (CpuSeconds() - cpu) / children;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  constexpr double kMb = 1024.0 * 1024.0;

  const FloodResult flood_runner = FloodThroughRunner();
  const FloodResult flood_qprocess = FloodThroughQProcess();
  const FloodResult flood_poll = FloodThroughPollLoop();

  // Interleaved, so that a change in the machine's load hits every column alike.
  std::vector<double> standalone, under_runner, under_qprocess;
  for (int round = 0; round < kSpinRounds; ++round) {
    standalone.push_back(SpinStandalone());
    under_runner.push_back(SpinUnderRunner());
    under_qprocess.push_back(SpinUnderQProcess());
  }
  const double fps_alone = Median(standalone);
  const double fps_runner = Median(under_runner);
  const double fps_qprocess = Median(under_qprocess);

  // Interleaved blocks, so that a change in the machine's load hits every column alike; the
  // median block stands for each, as a block caught by another program's burst says little.
  constexpr int kQuickBlocks = 15;
  std::vector<double> runner_blocks, qprocess_blocks, spawn_blocks;
  for (int block = 0; block < kQuickBlocks; ++block) {
    runner_blocks.push_back(RunnerQuickChildMicroseconds(kQuickChildren / kQuickBlocks));
    qprocess_blocks.push_back(QProcessQuickChildMicroseconds(kQuickChildren / kQuickBlocks));
    spawn_blocks.push_back(SpawnQuickChildMicroseconds(kQuickChildren / kQuickBlocks));
  }
  const double quick_runner = Median(runner_blocks);
  const double quick_qprocess = Median(qprocess_blocks);
  const double quick_spawn = Median(spawn_blocks);

  const double latency_runner = RunnerExitLatencyMs();
  const double latency_qprocess = QProcessExitLatencyMs();

  auto mb_per_s = [&](const FloodResult& r) {
    return static_cast<double>(r.delivered) / kMb / r.seconds;
  };
  auto dropped = [&](const FloodResult& r) {
    return static_cast<double>(kFloodBytes - r.delivered);
  };
  auto cpu_per_mb = [&](const FloodResult& r) {
    return r.delivered > 0 ? 1000.0 * r.cpu / (static_cast<double>(r.delivered) / kMb) : 0.0;
  };

  std::printf("%-44s %16s %12s %12s  %s\n", "measure", "TJvCreateProcess", "QProcess", "baseline",
              "target");
  int missed = 0;
  // A row; a target that is not met gets MISSED beside it.
  auto row = [&](const char* measure, const char* format, double runner, double qprocess,
                 double baseline, const std::string& target, bool met = true) {
    char cells[3][32];
    const double values[3] = {runner, qprocess, baseline};
    for (int i = 0; i < 3; ++i) {
      if (std::isnan(values[i])) {
        std::snprintf(cells[i], sizeof cells[i], "-");
      } else {
        std::snprintf(cells[i], sizeof cells[i], format, values[i]);
      }
    }
    if (!met) ++missed;
    std::printf("%-44s %16s %12s %12s  %s%s\n", measure, cells[0], cells[1], cells[2],
                target.c_str(), met ? "" : "  MISSED");
  };
  auto ratio_target = [](const char* bound, double ratio) {
    char text[64];
    std::snprintf(text, sizeof text, "runner <= %s x QProcess: %.2f", bound, ratio);
    return std::string(text);
  };
  const double flood_ratio = cpu_per_mb(flood_runner) / cpu_per_mb(flood_qprocess);
  const double quick_ratio = quick_runner / quick_qprocess;
  row("flood 256 MB of 80-byte lines: MB/s", "%.1f", mb_per_s(flood_runner),
      mb_per_s(flood_qprocess), mb_per_s(flood_poll), "(baseline: poll() loop)");
  row("flood: bytes dropped", "%.0f", dropped(flood_runner), dropped(flood_qprocess),
      dropped(flood_poll), "");
  row("flood: parent CPU seconds", "%.2f", flood_runner.cpu, flood_qprocess.cpu, flood_poll.cpu,
      "");
  row("flood: parent CPU ms per MB delivered", "%.2f", cpu_per_mb(flood_runner),
      cpu_per_mb(flood_qprocess), cpu_per_mb(flood_poll), ratio_target("0.8", flood_ratio),
      flood_ratio <= 0.8);
  row("quick child (start, 1 line, end): CPU us", "%.0f", quick_runner, quick_qprocess, quick_spawn,
      ratio_target("1.0", quick_ratio), quick_ratio <= 1.0);
  row("CPU-bound child: frames per second", "%.1f", fps_runner, fps_qprocess, fps_alone,
      "(baseline: standalone)");
  row("CPU-bound child: ratio to standalone", "%.3f", fps_runner / fps_alone,
      fps_qprocess / fps_alone, 1.0, ">= 0.99", fps_runner / fps_alone >= 0.99);
  row("child's exit to end event: median ms", "%.3f", latency_runner, latency_qprocess,
      std::nan(""), "< 2 ms (200 runs each)", latency_runner < 2.0);
  std::printf(
      "(quick child: median of %d interleaved blocks; baseline: posix_spawn, read, waitpid;"
      " %d children each)\n",
      kQuickBlocks, kQuickChildren);
  std::printf("%s\n", missed == 0 ? "every target met" : "some targets MISSED");
  return 0;
}
