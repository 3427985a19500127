// Inside process/ only: what a run shares between the UI thread and the system's side of the
// runner, and the seam between the part of the runner that is the same on every system
// (create_process.cpp: the output queue, the hand-out of lines, the end, Detach) and the part
// that starts, reads and waits (create_process_posix.cpp, create_process_win32.cpp).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "process/create_process.h"
#include "process/ui_thread.h"

namespace velotrax {

inline constexpr std::size_t kPieceSize = 1024;  // what the line assembler gets at a time
inline constexpr std::size_t kQueueStartCapacity = 1024;
// Above this the queue drops instead of growing.
inline constexpr std::size_t kQueueLastDoubling = 65536;
inline constexpr std::size_t kQueueLimit = 2 * kQueueLastDoubling;

// The started child as the system sees it: its id or handles, and the ends of its pipes the
// system's side works with. Defined by each system's side; the runner keeps the last one, so
// that it can tell the child's id and stop it.
struct ChildSide;

// What one run shares between the UI thread and its workers. The workers hold it by shared_ptr
// and touch nothing else of the runner.
struct RunShared {
  std::mutex mutex;  // guards everything up to `owner`
  // Null once the run is detached or finished (or never watched): the workers post nothing.
  UiThread* ui = nullptr;
  std::vector<char> queue;  // the output queue
  std::size_t capacity = kQueueStartCapacity;
  bool service_posted = false;
  bool worker_waiting = false;
  bool keep_all_output = false;  // a full queue waits for the UI thread however long it takes
  std::condition_variable room;  // the UI thread took the queue, or the run was detached
  bool ended = false;            // the workers are done: nothing more is queued
  uint32_t exit_code = 0;
  // The hand-over at the start: the workers are made first and wait until the child is there.
  enum class Start { pending, started, abandoned } start = Start::pending;
  std::condition_variable start_changed;
  std::shared_ptr<ChildSide> child;

  // The UI thread only.
  TJvCreateProcess::Impl* owner = nullptr;  // set while this is the runner's current run
  std::vector<char> batch;                  // output taken from the queue, handed out in pieces
  std::size_t batch_offset = 0;
  bool output_finished = false;
  // The OnTerminate handler being called for this run's end, alive until it returns.
  std::function<void(TJvCreateProcess&, uint32_t)> ending_handler;
};

// --- what the shared part offers the system's side ---------------------------------------------

// Wakes the UI thread for the run's output and end, once until it comes; under run->mutex.
void PostService(const std::shared_ptr<RunShared>& run);

enum class Queued {
  discarded,  // the run is detached: the bytes went nowhere
  posted,     // the UI thread has been woken for them
  held        // queued; the worker decides when to wake the UI thread
};
// Queues n bytes of output, waking the UI thread once the queue holds post_at bytes or more. A
// full queue holds the worker back for a moment (as long as it takes with KeepAllOutput) and is
// then dropped, so the memory kept for a child that outruns the UI thread stays bounded.
Queued QueueOutput(const std::shared_ptr<RunShared>& run, const char* bytes, std::size_t n,
                   std::size_t post_at);
// The workers are done: the UI thread hands out the rest and then the end with the exit code.
void MarkRunEnded(const std::shared_ptr<RunShared>& run);
// Leading and trailing blanks and control characters removed.
std::string TrimControlAndBlanks(std::string_view text);

// --- what each system's side provides ----------------------------------------------------------

// Starts runner's child (already checked: not watching, a valid environment) and the workers
// that read its output and wait for its end; ui null: nothing is posted, the child is only
// reaped. Throws EOSError (EOSCallError) and leaves nothing behind when the start fails.
std::shared_ptr<RunShared> StartRun(const TJvCreateProcess& runner, bool redirect,
                                    bool keep_all_output, UiThread* ui);
// The child's process id while it runs (until it has ended and been reaped), else 0.
int ChildProcessId(ChildSide& child);
// Asks the running child (its group or job where it has one) to end; false once it has ended.
bool SignalChildProcess(ChildSide& child, int signo);

}  // namespace velotrax
