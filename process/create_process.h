// The child process runner: starts one hidden child at a time with its output on a pipe, and
// hands the output lines and, last of all, the child's end to the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "process/ui_thread.h"

namespace velotrax {

// A failed system call of the runner: the message and code of the system error, and the call.
class EOSCallError : public EOSError {
 public:
  EOSCallError(const std::string& message, int error_code, std::string call)
      : EOSError(message, error_code), call_(std::move(call)) {}
  // The system call that failed ("pipe2", "execve", "pthread_create", ...).
  const std::string& Call() const { return call_; }

 private:
  std::string call_;
};

enum class TJvConsoleOption { coOwnerData, coRedirect };
// ppAboveNormal: a little above this program (nice 5 below ours where the system allows it, in a
// session of its own whose scheduling group gets the same; on Windows
// ABOVE_NORMAL_PRIORITY_CLASS), so that other programs take less of the child's time.
enum class TJvProcessPriority { ppIdle, ppNormal, ppHigh, ppRealTime, ppAboveNormal };
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
  struct Impl;
  // The runner's state, its handlers included: shared with the hand-out of events, so that a
  // handler may destroy its runner, however the runner is owned.
  std::shared_ptr<Impl> impl_;

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
  // The one processor the child, and all it starts, runs on (the system's numbering); the
  // runner's own threads keep off it while they watch the run. -1: the child may run anywhere.
  // A processor the program may not use fails the start.
  int ChildProcessor = -1;
  std::set<TJvCPSFlag> CreationFlags;
  TJvCPSStartupInfo StartupInfo;
  // True: output the UI thread has not taken yet holds the child back instead of being dropped
  // when the queue is full; for a caller whose thread does nothing but take this run's output.
  bool KeepAllOutput = false;
  // The handlers, kept in the runner's shared state: one may destroy the runner while it runs.
  std::function<void(TJvCreateProcess& Sender, uint32_t ExitCode)>& OnTerminate;
  std::function<void(TJvCreateProcess& Sender, std::string_view S, bool StartsOnNewLine)>& OnRead;
  std::function<void(TJvCreateProcess& Sender, std::string_view S)>& OnRawRead;

  // Starts the child; throws EJVCLException while watching, EOSError when the start fails.
  void Run();
  // Stops watching without ending the child; no further event of that run.
  void Detach();
  // True from a successful Run until finish or Detach.
  bool Watching() const;
  // The child's process id from a successful Run until the child has ended and been reaped;
  // 0 otherwise (also after Detach once the child has ended).
  int ProcessId() const;
  // Sends signo to the running child, or to its whole process group when it was started with
  // cfNewProcGroup (or cfDetached, cfNewConsole); false when no child of this runner runs any
  // more. Throws EOSCallError when the signal cannot be sent.
  bool SignalChild(int signo);

 private:
  friend class RunHandlers;  // the UI-thread side of a run: hand-out of output, end, finish
  friend struct RunShared;   // what a run shares between the UI thread and its worker
};

// For tests: starts a run's worker thread, detached, running body(argument); returns 0 or the
// system's error code. Replace it to see how Run copes with a thread that cannot be made.
extern int (*StartRunnerThread)(void* (*body)(void*), void* argument);

// For tests: opens a process descriptor for the started child, or returns -1 where the system
// has none (before Linux 5.3). Replace it to see how the runner watches a child without one.
extern int (*OpenProcessDescriptor)(int pid);

}  // namespace velotrax
