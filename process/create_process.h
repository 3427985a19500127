// The child process runner: starts one hidden child at a time with its output on a pipe, and
// hands the output lines and, last of all, the child's end to the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "process/ui_thread.h"

namespace velotrax {

enum class TJvConsoleOption { coOwnerData, coRedirect };
enum class TJvProcessPriority { ppIdle, ppNormal, ppHigh, ppRealTime };
enum class TJvCPSFlag {
  cfDefaultErrorMode,
  cfNewConsole,
  cfNewProcGroup,
  cfSeparateWdm,
  cfSharedWdm,
  cfSuspended,
  cfUnicode,
  cfDetached
};
enum class TJvCPSShowWindow { swHide, swMinimize, swMaximize, swNormal };

// Window start-up hints for the child; kept as data (a console child here has no window).
struct TJvCPSStartupInfo {
  std::string Desktop, Title;
  int32_t Left = 0, Top = 0;
  bool DefaultPosition = true;
  int32_t Width = 0, Height = 0;
  bool DefaultSize = true;
  TJvCPSShowWindow ShowWindow = TJvCPSShowWindow::swNormal;
  bool DefaultWindowState = true;
  bool ForceOnFeedback = false;
  bool ForceOffFeedback = false;
};

class TJvCreateProcess {
 public:
  explicit TJvCreateProcess(UiThread& ui);
  ~TJvCreateProcess();  // Detach: the child runs on, no event follows
  TJvCreateProcess(const TJvCreateProcess&) = delete;
  TJvCreateProcess& operator=(const TJvCreateProcess&) = delete;

  std::string ApplicationName, CommandLine, CurrentDirectory;
  std::vector<std::string> Environment;
  bool WaitForTerminate = true;
  std::set<TJvConsoleOption> ConsoleOptions{TJvConsoleOption::coOwnerData};
  TJvProcessPriority Priority = TJvProcessPriority::ppNormal;
  std::set<TJvCPSFlag> CreationFlags;
  TJvCPSStartupInfo StartupInfo;
  std::function<void(TJvCreateProcess& Sender, uint32_t ExitCode)> OnTerminate;
  std::function<void(TJvCreateProcess& Sender, std::string_view S, bool StartsOnNewLine)> OnRead;
  std::function<void(TJvCreateProcess& Sender, std::string_view S)> OnRawRead;

  // Starts the child; throws EJVCLException while watching, EOSError when the start fails.
  void Run();
  // Stops watching without ending the child; no further event of that run.
  void Detach();
  // True from a successful Run until finish or Detach.
  bool Watching() const;

 private:
  friend class RunHandlers;  // the UI-thread side of a run: drain, end handlers, finish
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velotrax
