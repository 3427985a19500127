// The machine checks over faked /proc and /sys trees, and the JSON reader that
// 'compare' reads exports with.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "results/conditions.h"
#include "results/errors.h"
#include "results/json_reader.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax::results {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace velotrax::testing;

#ifdef _WIN32
#define SKIP_WITHOUT_FAKE_ROOT()                                                       \
  GTEST_SKIP() << "on Windows the checks ask the system, not files under a root: see " \
                  "tests/windows/upper_layers_win32_test.cpp"
#else
#define SKIP_WITHOUT_FAKE_ROOT() static_cast<void>(0)
#endif

class FakeMachine : public ::testing::Test {
 protected:
  void Put(const std::string& path, const std::string& text) {
    const std::string full = root_.Path() + path;
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    WriteBytes(full, text);
  }
  std::vector<std::string> Kinds(const MachineWatch& watch) {
    std::vector<std::string> kinds;
    for (const Warning& w : watch.Warnings()) kinds.push_back(w.kind);
    return kinds;
  }
  TempDir root_;
};

TEST_F(FakeMachine, ReadersTakeWhatTheKernelFilesSay) {
  SKIP_WITHOUT_FAKE_ROOT();
  Put("/proc/stat", "cpu  10 2 30 400 5 6 7 8 9 10\ncpu0 1 1 1 1 1 1 1 1 1 1\n");
  Put("/proc/loadavg", "1.25 0.50 0.10 2/300 4242\n");
  Put("/proc/cpuinfo",
      "processor\t: 0\nmodel name\t: Test CPU @ 3.00GHz\n\nprocessor\t: 1\nmodel name\t: Test "
      "CPU @ 3.00GHz\n");
  Put("/proc/meminfo", "MemTotal:       16314528 kB\nMemFree:  1 kB\n");
  Put("/proc/sys/kernel/osrelease", "6.1.0-test\n");
  Put("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", "performance\n");
  Put("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "2900000\n");
  Put("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3000000\n");
  Put("/sys/devices/system/cpu/cpu10/cpufreq/scaling_governor", "powersave\n");
  Put("/sys/devices/system/cpu/cpu2/thermal_throttle/core_throttle_count", "3\n");
  Put("/sys/devices/system/cpu/cpu2/thermal_throttle/package_throttle_count", "4\n");
  Put("/sys/devices/system/cpu/cpufreq/boost", "1\n");  // not a processor

  const std::optional<CpuTimes> times = ReadCpuTimes(root_.Path());
  ASSERT_TRUE(times);
  EXPECT_EQ(times->busy, 10u + 2 + 30 + 6 + 7 + 8);
  EXPECT_EQ(times->total, times->busy + 400 + 5);
  EXPECT_EQ(ReadLoadAverage(root_.Path()), 1.25);
  const std::vector<CpuFrequency> cpus = ReadCpuFrequencies(root_.Path());
  ASSERT_EQ(cpus.size(), 2u);
  EXPECT_EQ(cpus[0].cpu, 0);
  EXPECT_EQ(cpus[0].governor, "performance");
  EXPECT_EQ(cpus[0].current_khz, 2900000);
  EXPECT_EQ(cpus[1].cpu, 10);
  EXPECT_EQ(cpus[1].max_khz, 0);
  EXPECT_EQ(ReadThrottleCount(root_.Path()), 7u);
  const MachineFacts facts = ReadMachineFacts(root_.Path());
  EXPECT_EQ(facts.cpu_model, "Test CPU @ 3.00GHz");
  EXPECT_EQ(facts.cores, 2);
  EXPECT_EQ(facts.memory_kib, 16314528u);
  EXPECT_EQ(facts.kernel, "6.1.0-test");
  EXPECT_FALSE(OnBattery(root_.Path()));

  // A machine without these files (a container, another system) yields nothing, not errors.
  TempDir empty;
  EXPECT_FALSE(ReadCpuTimes(empty.Path()));
  EXPECT_FALSE(ReadLoadAverage(empty.Path()));
  EXPECT_THAT(ReadCpuFrequencies(empty.Path()), IsEmpty());
  EXPECT_FALSE(ReadThrottleCount(empty.Path()));
  EXPECT_EQ(ReadMachineFacts(empty.Path()).cores, 0);
  // Which checks such a machine cannot make, in the order they are made; the full one lacks
  // only a power supply directory.
  EXPECT_THAT(
      ReadMachineFacts(empty.Path()).checks_not_offered,
      ElementsAre("battery", "governor", "load", "other-processes", "frequency", "thermal"));
  EXPECT_THAT(facts.checks_not_offered, ElementsAre("battery"));
}

TEST_F(FakeMachine, BatteryCountsOnlyWithoutMains) {
  SKIP_WITHOUT_FAKE_ROOT();
  Put("/sys/class/power_supply/BAT1/type", "Battery\n");
  Put("/sys/class/power_supply/BAT1/status", "Discharging\n");
  EXPECT_TRUE(OnBattery(root_.Path()));
  Put("/sys/class/power_supply/ADP1/type", "Mains\n");
  Put("/sys/class/power_supply/ADP1/online", "1\n");
  EXPECT_FALSE(OnBattery(root_.Path()));
  Put("/sys/class/power_supply/ADP1/online", "0\n");
  EXPECT_TRUE(OnBattery(root_.Path()));
  Put("/sys/class/power_supply/BAT1/status", "Charging\n");
  EXPECT_FALSE(OnBattery(root_.Path()));
}

TEST_F(FakeMachine, OtherProcessesAreTheBusyTimeThatIsNotOurs) {
  // 100 ticks a second; 4 s busy over 2 s of wall time, of which 1 s was the emulator's: the
  // others kept 1.5 processors busy.
  EXPECT_DOUBLE_EQ(OtherProcessorsBusy({1000, 5000}, {1400, 5400}, 1.0, 2.0, 100), 1.5);
  EXPECT_DOUBLE_EQ(OtherProcessorsBusy({1000, 5000}, {1100, 5400}, 1.0, 2.0, 100), 0.0);
  EXPECT_DOUBLE_EQ(OtherProcessorsBusy({1000, 5000}, {900, 5400}, 0, 2.0, 100), 0.0);
  EXPECT_DOUBLE_EQ(OtherProcessorsBusy({1000, 5000}, {1400, 5400}, 0, 0, 100), 0.0);
}

TEST_F(FakeMachine, TheWatchWarnsOnceAboutEachDisturbanceAndSaysWhatToDo) {
  SKIP_WITHOUT_FAKE_ROOT();
  Put("/proc/cpuinfo", "processor\t: 0\n");
  Put("/proc/loadavg", "3.50 1.00 1.00 2/300 4242\n");
  Put("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", "powersave\n");
  Put("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "1200000\n");
  Put("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3000000\n");
  Put("/sys/devices/system/cpu/cpu0/thermal_throttle/core_throttle_count", "5\n");
  Put("/sys/class/power_supply/BAT0/type", "Battery\n");
  Put("/sys/class/power_supply/BAT0/status", "Discharging\n");
  std::vector<std::string> said;
  MachineWatch watch(root_.Path());
  watch.SetReporter([&](const std::string& text) { said.push_back(text); });
  watch.BeforeRun();
  EXPECT_THAT(Kinds(watch), ElementsAre("battery", "governor", "load"));
  EXPECT_THAT(said[0], HasSubstr("plug in the mains"));
  EXPECT_THAT(said[1], HasSubstr("cpupower frequency-set -g performance"));
  EXPECT_THAT(said[2], HasSubstr("load average is 3.50 on 1 processor(s)"));

  for (int pass = 0; pass < 2; ++pass) {
    watch.PassStarted(OwnCpuSeconds());
    watch.DuringPass();
    Put("/sys/devices/system/cpu/cpu0/thermal_throttle/core_throttle_count",
        std::to_string(9 + pass) + "\n");
    watch.PassEnded(OwnCpuSeconds());
  }
  EXPECT_THAT(Kinds(watch), ElementsAre("battery", "governor", "load", "frequency", "thermal"));
  ASSERT_EQ(said.size(), 5u);
  EXPECT_THAT(said[3], HasSubstr("ran at 1200 MHz of its 3000 MHz"));
  EXPECT_THAT(said[4], HasSubstr("throttled for heat 4 time(s)"));
  EXPECT_EQ(watch.Warnings()[3].times, 2);
  EXPECT_EQ(watch.Warnings()[4].times, 2);

  // A quiet machine: nothing to say.
  TempDir quiet;
  MachineWatch calm(quiet.Path());
  calm.BeforeRun();
  calm.PassStarted(0);
  calm.DuringPass();
  calm.PassEnded(0);
  EXPECT_THAT(calm.Warnings(), IsEmpty());
}

TEST_F(FakeMachine, StealAndAnotherProgramOnTheEmulatorsProcessorAreWarnedWithTheirShare) {
  SKIP_WITHOUT_FAKE_ROOT();
  // user nice system idle iowait irq softirq steal, for the machine and each processor.
  const auto stat = [&](int steal1, int busy1, int idle1) {
    Put("/proc/stat", "cpu  0 0 0 0 0 0 0 0\ncpu0 100 0 0 900 0 0 0 0\ncpu1 " +
                          std::to_string(busy1) + " 0 0 " + std::to_string(idle1) + " 0 0 0 " +
                          std::to_string(steal1) + "\nintr 1 2 3\n");
  };
  stat(0, 0, 0);
  const std::vector<std::pair<int, CpuTimes>> times = ReadProcessorTimes(root_.Path());
  ASSERT_EQ(times.size(), 2u);
  EXPECT_EQ(times[1].first, 1);
  EXPECT_EQ(times[0].second.busy, 100u);
  EXPECT_EQ(times[0].second.total, 1000u);

  // Shares of one pass: steal over all of the processor's time; the others' busy time less the
  // emulator's, steal apart, over the wall time.
  EXPECT_DOUBLE_EQ(StealShare({0, 1000, 10}, {0, 2000, 40}), 0.03);
  EXPECT_DOUBLE_EQ(StealShare({0, 1000, 10}, {0, 1000, 40}), 0.0);
  EXPECT_DOUBLE_EQ(SharedProcessorShare({0, 0, 0}, {100, 100, 10}, 0.8, 1.0, 100), 0.1);
  EXPECT_DOUBLE_EQ(SharedProcessorShare({0, 0, 0}, {90, 100, 10}, 0.8, 1.0, 100), 0.0);

  // The watch looks at the emulator's processor: 100 ticks of it, 3 of them stolen, the rest
  // another program's.
  std::vector<std::string> said;
  MachineWatch watch(root_.Path());
  watch.SetReporter([&](const std::string& text) { said.push_back(text); });
  watch.SetEmulatorProcessor(1);
  watch.PassStarted(0, 0);
  stat(3, 97, 0);
  watch.PassEnded(0, 0);
  EXPECT_THAT(Kinds(watch), ElementsAre("steal", "shared-processor"));
  EXPECT_THAT(said[0], HasSubstr("host took 3.0 % of the emulator's processor"));
  EXPECT_THAT(said[1], HasSubstr("of processor 1, the emulator's own"));
  EXPECT_THAT(said[1], HasSubstr("--processor N"));

  // Below both thresholds: a steal of 1 %, and the processor's busy time the emulator's own.
  stat(0, 0, 0);
  MachineWatch quiet(root_.Path());
  quiet.SetEmulatorProcessor(1);
  quiet.PassStarted(0, 0);
  stat(1, 99, 0);
  quiet.PassEnded(0, 0.99);  // the emulator's own seconds are its processor's busy ticks
  EXPECT_THAT(Kinds(quiet), IsEmpty());
}

TEST(ResultsJsonTest, TheReaderTakesValidDocumentsAndSaysWhereOthersBreak) {
  const JsonValue doc =
      ParseJson(" {\"a\": [1, -2.5e1, true, null], \"b\": \"x\\u00e9\\ud83d\\ude00\\n\"} ");
  ASSERT_EQ(doc.kind, JsonValue::Kind::object);
  const JsonValue* a = doc.Find("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->items.size(), 4u);
  EXPECT_EQ(a->items[1].number, -25);
  EXPECT_TRUE(a->items[2].boolean);
  EXPECT_EQ(a->items[3].kind, JsonValue::Kind::null);
  EXPECT_EQ(doc.Find("b")->text, "x\xc3\xa9\xf0\x9f\x98\x80\n");
  EXPECT_EQ(doc.Find("c"), nullptr);
  for (const char* broken :
       {"", "{", "[1,]", "{\"a\" 1}", "\"open", "[1] 2", "nul", "\"\\q\"", "[\"a\nb\"]"}) {
    SCOPED_TRACE(broken);
    EXPECT_THROW(ParseJson(broken), EResultsError);
  }
  EXPECT_THROW(ParseJson(std::string(1000, '[')), EResultsError);
}

}  // namespace
}  // namespace velotrax::results
