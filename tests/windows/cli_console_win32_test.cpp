// velotrax-cli's console control handler: Ctrl+C, Ctrl+Break and a closed console reach the run
// as SIGINT and SIGHUP do on Linux, a replacement in progress holds them back, and a closed
// console waits for the run to end before the system ends the program.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "tools/cli/system.h"

namespace velotrax::cli {
namespace {

TEST(ConsoleStopTest, CtrlCAndCtrlBreakAreCountedOnlyWhileARunListens) {
  const int before = StopSignals::Received();
  EXPECT_FALSE(HandleConsoleEvent(CTRL_C_EVENT));  // no run: the system ends the program
  {
    const StopSignals signals;
    EXPECT_TRUE(HandleConsoleEvent(CTRL_C_EVENT));
    EXPECT_TRUE(HandleConsoleEvent(CTRL_BREAK_EVENT));
    EXPECT_EQ(StopSignals::Received(), before + 2);
    EXPECT_EQ(StopSignals::First(), kStopInterrupt);  // the run ends with 128 + 2 = 130
  }
  EXPECT_FALSE(HandleConsoleEvent(CTRL_BREAK_EVENT));
  EXPECT_EQ(StopSignals::Received(), before + 2);
}

TEST(ConsoleStopTest, AReplacementHoldsACtrlCBackUntilItIsDone) {
  const StopSignals signals;
  const int before = StopSignals::Received();
  {
    const StopDeferral deferral;
    EXPECT_TRUE(HandleConsoleEvent(CTRL_C_EVENT));
    EXPECT_EQ(StopSignals::Received(), before);
  }
  EXPECT_EQ(StopSignals::Received(), before + 1);
}

TEST(ConsoleStopTest, AClosedConsoleWaitsForTheRunToEnd) {
  std::optional<StopSignals> signals(std::in_place);
  const int before = StopSignals::Received();
  std::atomic<bool> returned{false};
  std::thread system([&] {
    HandleConsoleEvent(CTRL_CLOSE_EVENT);
    returned = true;
  });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (StopSignals::Received() == before && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(StopSignals::Received(), before + 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(returned);  // the system would end the program now
  signals.reset();
  system.join();
  EXPECT_TRUE(returned);
}

TEST(ConsoleStopTest, ARedirectedStandardErrorShowsNoProgressLine) {
  // ctest reads the test's output through a pipe; _isatty would call the NUL device a terminal.
  EXPECT_FALSE(StandardErrorIsTerminal());
}

}  // namespace
}  // namespace velotrax::cli
