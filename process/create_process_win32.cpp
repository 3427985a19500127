// The Windows side of the runner: the child started with CreateProcessW, hidden, in a job object
// of its own, its standard output and error on one pipe and its input on NUL; a reader thread
// that takes the output in pieces of up to 1024 bytes and a watcher thread that waits for the
// child's end, both below normal priority. The run ends once both are done, so every piece read
// is queued before the end.
//
// The pipe is made the way CreatePipe makes its own, as a named pipe of a unique name, but with
// our end opened for overlapped reads: the reader can then be told to stop while a read waits,
// when the child has ended and a grandchild still holds the pipe open.
//
// The job has no kill-on-close limit: a detached child, or one whose program has ended, runs on
// until it ends by itself. Ending the job (SignalChild) ends the child and all it started.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/errors.h"
#include "process/child_start.h"
#include "process/create_process.h"
#include "process/processors.h"
#include "process/run_shared.h"
#include "process/win32_text.h"

namespace velotrax {

using win32::Handle;

namespace {

// What the reader takes from the pipe at a time: all it holds, as on Linux (the line assembler
// still gets it in pieces of kPieceSize). Under Wine every read is a round trip to its server,
// which a loaded machine makes slow: reads of 1 KiB made 4 MiB of output take over 30 s there.
constexpr DWORD kReadSize = 65536;
constexpr DWORD kPipeBufferSize = 65536;  // what the child may write before it waits for us

struct ThreadStart {
  void* (*body)(void*);
  void* argument;
};

DWORD WINAPI ThreadEntry(LPVOID start_argument) {
  const ThreadStart start = *static_cast<ThreadStart*>(start_argument);
  delete static_cast<ThreadStart*>(start_argument);
  start.body(start.argument);
  return 0;
}

int StartDetachedThread(void* (*body)(void*), void* argument) {
  auto* start = new ThreadStart{body, argument};
  HANDLE thread = ::CreateThread(nullptr, 64 * 1024, ThreadEntry, start,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    const int code = static_cast<int>(::GetLastError());
    delete start;
    return code != 0 ? code : ERROR_NOT_ENOUGH_MEMORY;
  }
  ::CloseHandle(thread);
  return 0;
}

}  // namespace

int (*StartRunnerThread)(void* (*body)(void*), void* argument) = StartDetachedThread;

// Windows gives no process descriptors; the watcher waits on the process handle.
int (*OpenProcessDescriptor)(int pid) = [](int) { return -1; };

// The started child: its handles until the watcher has seen its end (then they are closed, so
// that nothing of a run stays open), and our end of its output pipe, which the reader closes.
struct ChildSide {
  std::mutex mutex;  // guards process, job, pid and ended
  Handle process, job;
  DWORD pid = 0;
  int processor = -1;  // the one the child is bound to; -1: any
  bool ended = false;
  Handle output;        // our end of the pipe, overlapped; the reader's
  Handle stop_reading;  // set: the child has ended, take what the pipe holds and stop
  std::atomic<int> workers_left{0};
};

namespace {

// A worker waits until the child is there; false when the start failed.
bool WaitForStart(RunShared& run) {
  std::unique_lock<std::mutex> lock(run.mutex);
  run.start_changed.wait(lock, [&] { return run.start != RunShared::Start::pending; });
  return run.start == RunShared::Start::started;
}

bool Detached(RunShared& run) {
  std::lock_guard<std::mutex> lock(run.mutex);
  return run.ui == nullptr;
}

// The last worker to finish ends the run.
void WorkerDone(const std::shared_ptr<RunShared>& run) {
  if (run->child->workers_left.fetch_sub(1) == 1) MarkRunEnded(run);
}

// Overlapped reads of up to kReadSize bytes, one at a time; a read waiting when stop is set is
// cancelled, and what it took is still counted.
class PipeReader {
 public:
  PipeReader(HANDLE pipe, HANDLE stop) : pipe_(pipe), stop_(stop) {
    overlapped_.hEvent = event_.Get();
  }
  bool Usable() const { return static_cast<bool>(event_); }

  // false: the output has ended or failed, or stop was set (Stopped() tells which).
  bool Read(char* buffer, DWORD& count) {
    count = 0;
    ::ResetEvent(event_.Get());
    if (::ReadFile(pipe_, buffer, kReadSize, nullptr, &overlapped_)) {
      return ::GetOverlappedResult(pipe_, &overlapped_, &count, FALSE) != 0;
    }
    if (::GetLastError() != ERROR_IO_PENDING) return false;
    const HANDLE waits[2] = {event_.Get(), stop_};
    const DWORD woken = ::WaitForMultipleObjects(stop_ != nullptr ? 2 : 1, waits, FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0) {
      stopped_ = true;
      ::CancelIoEx(pipe_, &overlapped_);
    }
    // Waits for the cancelled read too: the bytes it took are still ours to queue.
    const bool read = ::GetOverlappedResult(pipe_, &overlapped_, &count, TRUE) != 0;
    return read || count > 0;
  }
  bool Stopped() const { return stopped_; }

 private:
  HANDLE pipe_;
  HANDLE stop_;
  Handle event_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  OVERLAPPED overlapped_{};
  bool stopped_ = false;
};

// The reader: moves the output into the queue until the pipe breaks or the child has ended. At
// the child's end it takes what the pipe holds at that moment and stops, so a grandchild that
// keeps the pipe open cannot hold the run. After Detach it reads and discards until the output
// ends, so that a child still writing is never cut off.
void ReadOutput(const std::shared_ptr<RunShared>& run) {
  ChildSide& child = *run->child;
  const HANDLE pipe = child.output.Get();
  PipeReader reader(pipe, child.stop_reading.Get());
  // On the heap: the worker's stack is small.
  const std::unique_ptr<char[]> read_buffer(new char[kReadSize]);
  char* const buffer = read_buffer.get();
  bool stop = !reader.Usable();
  while (!stop) {
    if (::WaitForSingleObject(child.stop_reading.Get(), 0) == WAIT_OBJECT_0) break;
    DWORD count = 0;
    const bool more = reader.Read(buffer, count);
    if (count > 0) QueueOutput(run, buffer, count, 0);
    if (reader.Stopped()) break;
    // A read of 0 bytes that did not fail is a zero-length write: the output goes on.
    stop = !more;
  }
  if (!stop) {
    // The child has ended: what the pipe holds now is the last of its output.
    DWORD held = 0;
    if (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &held, nullptr)) {
      PipeReader last(pipe, nullptr);
      while (held > 0 && last.Usable()) {
        DWORD count = 0;
        if (!last.Read(buffer, count) || count == 0) break;
        QueueOutput(run, buffer, count, 0);
        held -= count < held ? count : held;
      }
    }
  }
  child.output.Reset();
}

// The watcher: waits for the child's end, takes its exit code (0 when the wait fails) and closes
// the child's handles; tells the reader to stop unless the run was detached.
void WaitForEnd(const std::shared_ptr<RunShared>& run) {
  ChildSide& child = *run->child;
  DWORD exit_code = 0;
  if (::WaitForSingleObject(child.process.Get(), INFINITE) == WAIT_OBJECT_0 &&
      !::GetExitCodeProcess(child.process.Get(), &exit_code)) {
    exit_code = 0;
  }
  {
    std::lock_guard<std::mutex> lock(child.mutex);
    child.ended = true;
    child.process.Reset();
    child.job.Reset();
  }
  {
    std::lock_guard<std::mutex> lock(run->mutex);
    run->exit_code = exit_code;
  }
  if (child.stop_reading && !Detached(*run)) ::SetEvent(child.stop_reading.Get());
}

// A worker's life: below normal priority, off the processor the child is bound to (it is the
// pass's own), its work once the child is there, then its share of ending the run.
void* RunWorker(void* argument, void (*work)(const std::shared_ptr<RunShared>&)) {
  std::unique_ptr<std::shared_ptr<RunShared>> handed(
      static_cast<std::shared_ptr<RunShared>*>(argument));
  const std::shared_ptr<RunShared> run = std::move(*handed);
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
  if (!WaitForStart(*run)) return nullptr;
  KeepThreadOff(run->child->processor);
  work(run);
  WorkerDone(run);
  return nullptr;
}

void* ReaderMain(void* argument) {
  return RunWorker(argument, ReadOutput);
}

void* WatcherMain(void* argument) {
  return RunWorker(argument, WaitForEnd);
}

// Makes the run's workers before the child exists, so that a worker that cannot be made leaves
// no child behind; they wait for the hand-over. A start that fails lets them go.
class WorkerStart {
 public:
  WorkerStart(const std::shared_ptr<RunShared>& run, bool reader) : run_(run) {
    try {
      Start(WatcherMain);
      if (reader) Start(ReaderMain);
    } catch (...) {
      // The destructor does not run for a start that throws here: the worker made lets go.
      Release(RunShared::Start::abandoned);
      throw;
    }
  }
  WorkerStart(const WorkerStart&) = delete;
  WorkerStart& operator=(const WorkerStart&) = delete;
  ~WorkerStart() {
    if (!handed_over_) Release(RunShared::Start::abandoned);
  }

  void Handover() {
    handed_over_ = true;
    Release(RunShared::Start::started);
  }

 private:
  void Start(void* (*body)(void*)) {
    auto* handed = new std::shared_ptr<RunShared>(run_);
    const int code = StartRunnerThread(body, handed);
    if (code != 0) {
      delete handed;
      const std::string text = child::SystemErrorText(code);
      const std::size_t line_break = text.find("\r\n");
      throw EOSCallError("Thread creation error: " +
                             (line_break == std::string::npos ? text : text.substr(line_break + 2)),
                         code, "CreateThread");
    }
    run_->child->workers_left.fetch_add(1);
  }

  void Release(RunShared::Start start) {
    {
      std::lock_guard<std::mutex> lock(run_->mutex);
      run_->start = start;
    }
    run_->start_changed.notify_all();
  }

  std::shared_ptr<RunShared> run_;
  bool handed_over_ = false;
};

[[noreturn]] void RaiseLastError(const char* call) {
  child::RaiseOSError(call, static_cast<int>(::GetLastError()));
}

std::wstring WideOrRaise(const std::string& text) {
  std::wstring wide;
  if (!win32::Wide(text, wide)) child::RaiseOSError("MultiByteToWideChar", ERROR_INVALID_NAME);
  return wide;
}

// The pipe for the child's output: our end overlapped and not inherited, the child's end
// inheritable. Standard output and error share it, so their bytes arrive in write order.
void MakeOutputPipe(Handle& ours, Handle& childs) {
  static std::atomic<unsigned> serial{0};
  const std::wstring name =
      L"\\\\.\\pipe\\velotrax-run-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
      std::to_wstring(serial.fetch_add(1)) + L"-" + std::to_wstring(::GetTickCount64());
  ours = Handle(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
      kPipeBufferSize, 0, nullptr));
  if (!ours) RaiseLastError("CreateNamedPipeW");
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  childs = Handle(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!childs) RaiseLastError("CreateFileW");
}

// The child's input: NUL, open and empty.
Handle OpenNulInput() {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle nul(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!nul) RaiseLastError("CreateFileW");
  return nul;
}

DWORD CreationFlagsOf(const TJvCreateProcess& runner) {
  DWORD flags = CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT;
  const auto has = [&](TJvCPSFlag flag) { return runner.CreationFlags.count(flag) != 0; };
  // A console of its own, never shown; a child asked for with a console of its own shows it.
  if (!has(TJvCPSFlag::cfNewConsole) && !has(TJvCPSFlag::cfDetached)) flags |= CREATE_NO_WINDOW;
  if (has(TJvCPSFlag::cfNewConsole)) flags |= CREATE_NEW_CONSOLE;
  if (has(TJvCPSFlag::cfDetached) && !has(TJvCPSFlag::cfNewConsole)) flags |= DETACHED_PROCESS;
  if (has(TJvCPSFlag::cfNewProcGroup)) flags |= CREATE_NEW_PROCESS_GROUP;
  if (has(TJvCPSFlag::cfDefaultErrorMode)) flags |= CREATE_DEFAULT_ERROR_MODE;
  switch (runner.Priority) {
    case TJvProcessPriority::ppIdle:
      flags |= IDLE_PRIORITY_CLASS;
      break;
    case TJvProcessPriority::ppHigh:
      flags |= HIGH_PRIORITY_CLASS;
      break;
    case TJvProcessPriority::ppRealTime:
      flags |= REALTIME_PRIORITY_CLASS;
      break;
    case TJvProcessPriority::ppAboveNormal:
      flags |= ABOVE_NORMAL_PRIORITY_CLASS;
      break;
    case TJvProcessPriority::ppNormal:
      break;
  }
  return flags;
}

// The list of the only handles the child inherits: a second run started at the same time on
// another thread must not hand our pipe to its child. Empty where the system has no such list.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      ::DeleteProcThreadAttributeList(list);
      return;
    }
    list_ = list;
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  ~InheritedHandles() {
    if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
  }
  LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Binds the suspended child, and through its job all it starts, to one processor; a processor the
// program may not use ends the child and fails the start.
void BindToProcessor(const Handle& process, const Handle& job, int processor) {
  const DWORD_PTR mask = processor < static_cast<int>(sizeof(DWORD_PTR) * 8)
                             ? DWORD_PTR{1} << processor
                             : DWORD_PTR{0};
  if (mask == 0 || !::SetProcessAffinityMask(process.Get(), mask)) {
    const int code = mask == 0 ? ERROR_INVALID_PARAMETER : static_cast<int>(::GetLastError());
    ::TerminateProcess(process.Get(), 1);
    child::RaiseOSError("SetProcessAffinityMask", code);
  }
  if (job) {
    // The job's limit binds the children the emulator starts as well; where the system refuses
    // it (Wine), the emulator itself stays bound.
    JOBOBJECT_BASIC_LIMIT_INFORMATION limits{};
    limits.LimitFlags = JOB_OBJECT_LIMIT_AFFINITY;
    limits.Affinity = mask;
    ::SetInformationJobObject(job.Get(), JobObjectBasicLimitInformation, &limits, sizeof limits);
  }
}

}  // namespace

std::shared_ptr<RunShared> StartRun(const TJvCreateProcess& runner, bool redirect,
                                    bool keep_all_output, UiThread* ui) {
  // Names and texts converted once, before anything is made.
  const std::string application = TrimControlAndBlanks(runner.ApplicationName);
  const std::wstring wide_application = WideOrRaise(application);
  const std::wstring wide_directory = WideOrRaise(TrimControlAndBlanks(runner.CurrentDirectory));
  // The command line as given: Windows hands it to the child whole, the child splits it. Without
  // one the child is told its own name.
  std::wstring command_line = WideOrRaise(runner.CommandLine);
  if (command_line.empty()) command_line = L"\"" + wide_application + L"\"";
  std::wstring environment;
  for (const std::string& line : runner.Environment) {
    environment += WideOrRaise(line);
    environment.push_back(L'\0');
  }
  if (!environment.empty()) environment.push_back(L'\0');

  auto run = std::make_shared<RunShared>();
  run->child = std::make_shared<ChildSide>();
  run->ui = ui;
  run->keep_all_output = keep_all_output;
  ChildSide& child = *run->child;
  Handle output_write, input;
  if (redirect) {
    MakeOutputPipe(child.output, output_write);
    input = OpenNulInput();
    child.stop_reading = Handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!child.stop_reading) RaiseLastError("CreateEventW");
  }
  Handle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) RaiseLastError("CreateJobObjectW");
  WorkerStart workers(run, redirect);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  DWORD flags = CreationFlagsOf(runner);
  std::unique_ptr<InheritedHandles> inherited;
  if (redirect) {
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input.Get();
    startup.StartupInfo.hStdOutput = output_write.Get();
    startup.StartupInfo.hStdError = output_write.Get();
    inherited =
        std::make_unique<InheritedHandles>(std::vector<HANDLE>{input.Get(), output_write.Get()});
    if (inherited->List() != nullptr) {
      startup.StartupInfo.cb = sizeof startup;
      startup.lpAttributeList = inherited->List();
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(wide_application.empty() ? nullptr : wide_application.c_str(),
                        command_line.data(), nullptr, nullptr, redirect ? TRUE : FALSE, flags,
                        environment.empty() ? nullptr : environment.data(),
                        wide_directory.empty() ? nullptr : wide_directory.c_str(),
                        &startup.StartupInfo, &started)) {
    RaiseLastError("CreateProcessW");
  }
  Handle process(started.hProcess), thread(started.hThread);
  // In the job before it runs, so that all it starts is in there too. Where the job cannot be
  // had (an older system inside a job of its own), ending it ends the child alone.
  if (!::AssignProcessToJobObject(job.Get(), process.Get())) job.Reset();
  if (runner.ChildProcessor >= 0) BindToProcessor(process, job, runner.ChildProcessor);
  // Said again on the process itself: not every system (Wine) takes the class from the flags.
  if (runner.Priority == TJvProcessPriority::ppAboveNormal) {
    ::SetPriorityClass(process.Get(), ABOVE_NORMAL_PRIORITY_CLASS);
  }
  if (::ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
    const int code = static_cast<int>(::GetLastError());
    ::TerminateProcess(process.Get(), 1);
    child::RaiseOSError("ResumeThread", code);
  }
  {
    std::lock_guard<std::mutex> lock(child.mutex);
    child.process = std::move(process);
    child.job = std::move(job);
    child.pid = started.dwProcessId;
    child.processor = runner.ChildProcessor;
  }
  workers.Handover();
  // Only the child keeps its ends of the pipe and NUL: output_write and input close here.
  return run;
}

int ChildProcessId(ChildSide& child) {
  std::lock_guard<std::mutex> lock(child.mutex);
  return child.ended ? 0 : static_cast<int>(child.pid);
}

// Windows has no signals: any of them ends the job, the child with all it started, with the exit
// code a child killed by that signal reports on Linux.
bool SignalChildProcess(ChildSide& child, int signo) {
  std::lock_guard<std::mutex> lock(child.mutex);
  if (child.ended || !child.process) return false;
  if (::WaitForSingleObject(child.process.Get(), 0) == WAIT_OBJECT_0) return false;
  const UINT exit_code = 128u + static_cast<UINT>(signo);
  const bool ended = child.job ? ::TerminateJobObject(child.job.Get(), exit_code) != 0
                               : ::TerminateProcess(child.process.Get(), exit_code) != 0;
  if (ended) return true;
  const int code = static_cast<int>(::GetLastError());
  if (::WaitForSingleObject(child.process.Get(), 0) == WAIT_OBJECT_0) return false;
  throw EOSCallError(child::SystemErrorText(code) + " (TerminateJobObject)", code,
                     "TerminateJobObject");
}

}  // namespace velotrax
