// What the layers above the runner do only on Windows: a Windows emulator is started directly,
// what is no program file is refused without waiting, and the machine checks read Windows's own
// figures and say which checks Windows does not offer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "base/errors.h"
#include "emulator/windows_executable.h"
#include "results/conditions.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TempDir;
using testing::WriteBytes;

// This test program: a real Windows executable.
std::string OwnProgram() {
  wchar_t wide[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, wide, MAX_PATH);
  std::string path(static_cast<std::size_t>(length) * 3, '\0');
  path.resize(::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), path.data(),
                                    static_cast<int>(path.size()), nullptr, nullptr));
  return path;
}

TEST(WindowsProgramFileTest, AWindowsEmulatorIsStartedAsItStands) {
  const EmulatorInvocation pass{"C:\\games\\", OwnProgram(), "mame.exe pacman -nothrottle"};
  ASSERT_TRUE(IsWindowsExecutable(pass.ApplicationName));
  const EmulatorInvocation started = ForThisPlatform(pass);
  EXPECT_EQ(started.ApplicationName, pass.ApplicationName);
  EXPECT_EQ(started.CommandLine, pass.CommandLine);
  EXPECT_EQ(started.CurrentDirectory, pass.CurrentDirectory);
  EXPECT_TRUE(FindWineTools().wine.empty());
}

// A directory or a device in the emulator's place is refused before anything opens it, as the
// start would refuse it; a device is never read (a console or a port could wait for ever).
TEST(WindowsProgramFileTest, ADirectoryOrADeviceIsRefusedWithoutWaiting) {
  TempDir dir;
  WriteBytes(dir.File("mz-only.exe"), "MZ");
  EXPECT_FALSE(IsWindowsExecutable(dir.File("mz-only.exe")));
  EXPECT_FALSE(IsWindowsExecutable(dir.File("missing.exe")));
  EXPECT_NO_THROW(RefuseIrregularProgramFile(dir.File("missing.exe")));
  EXPECT_NO_THROW(RefuseIrregularProgramFile(dir.File("mz-only.exe")));
  // A named pipe with room for many clients: opening it would not fail, reading it would wait.
  const std::string pipe = "\\\\.\\pipe\\velotrax-test-" + std::to_string(::GetCurrentProcessId());
  const HANDLE server = ::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                           PIPE_UNLIMITED_INSTANCES, 512, 512, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  for (const std::string& path : {dir.Path(), std::string("NUL"), pipe}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(IsWindowsExecutable(path));
    try {
      ForThisPlatform({dir.Path() + "\\", path, "mame.exe pacman"});
      ADD_FAILURE() << "started";
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode(), ERROR_ACCESS_DENIED);
      EXPECT_THAT(e.what(), HasSubstr("Code: 5."));
    }
  }
  ::CloseHandle(server);
}

TEST(WindowsMachineTest, TheChecksReadWindowsFiguresAndSayWhatWindowsDoesNotOffer) {
  using namespace results;
  const std::optional<CpuTimes> times = ReadCpuTimes("");
  ASSERT_TRUE(times);
  EXPECT_GT(times->total, 0u);
  EXPECT_LE(times->busy, times->total);
  const MachineFacts facts = ReadMachineFacts("");
  EXPECT_GE(facts.cores, 1);
  EXPECT_GT(facts.memory_kib, 0u);
  EXPECT_THAT(facts.kernel, ::testing::StartsWith("Windows "));
  // No load average, governor or throttle counter on Windows; processor time, power source and
  // (where the system tells it) the clock are checked.
  for (const char* missing : {"load", "governor", "thermal"}) {
    EXPECT_THAT(facts.checks_not_offered, Contains(missing));
  }
  EXPECT_THAT(facts.checks_not_offered, Not(Contains("other-processes")));
  EXPECT_THAT(facts.checks_not_offered, Not(Contains("battery")));

  // This program's own processor time counts as its own, not as another process's.
  const double before = OwnCpuSeconds();
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  volatile double spin = 0;
  while (OwnCpuSeconds() < before + 0.05 && std::chrono::steady_clock::now() < limit)
    spin = spin + 1;
  EXPECT_GE(OwnCpuSeconds(), before + 0.05);
}

}  // namespace
}  // namespace velotrax
