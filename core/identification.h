// Identifying the emulator before a pass without holding the UI thread: the probes an emulator
// file (or a game's refresh rate) still needs run on a runner of their own, whose events reach
// the UI thread like a pass's, and the pass starts once the answers are in.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "emulator/emulator_dialect.h"
#include "process/create_process.h"
#include "process/ui_thread.h"

namespace velotrax {

struct ProgramState;
class SequencerHost;

// The status text while the emulator is asked what it is.
inline constexpr const char* kIdentifyingText = "Status : Identifying the emulator...";

class EmulatorIdentification {
 public:
  // Runs fn on the UI thread once delay has passed.
  using Timer = std::function<void(std::chrono::milliseconds delay, std::function<void()> fn)>;
  // Runs a step that follows a probe; what it throws is reported like a handler's error.
  using Guard = std::function<void(const std::function<void()>& step)>;

  // The probes' events come through ui; timer ends a probe that overruns; guard runs every step.
  EmulatorIdentification(UiThread& ui, Timer timer, Guard guard);
  // Ends a probe still running; nothing is called back afterwards.
  ~EmulatorIdentification();
  EmulatorIdentification(const EmulatorIdentification&) = delete;
  EmulatorIdentification& operator=(const EmulatorIdentification&) = delete;

  // True while a probe runs for a pass not started yet.
  bool Identifying() const { return identifying_; }
  // When the pass of rom needs the emulator's answers first, shows kIdentifyingText, starts the
  // first probe and returns true; start_pass runs, inside the guard, once the answers are in.
  // False when nothing is to be asked: the caller starts the pass at once.
  bool Begin(ProgramState& state, SequencerHost& host, const std::string& rom,
             std::function<void()> start_pass);

 private:
  // Starts the probes from next on until one runs; starts the pass when none is left.
  void AskFrom(std::optional<ProbeRequest> next);
  // The running probe's answer is in.
  void Answered();
  // The running probe did not answer in time.
  void Overran();
  // The identification is given up: nothing runs, the pointers and the status say so.
  void GiveUp();

  Timer timer_;
  Guard guard_;
  std::unique_ptr<TJvCreateProcess> runner_;
  ProgramState* state_ = nullptr;
  SequencerHost* host_ = nullptr;
  std::string rom_;
  std::function<void()> start_pass_;
  ProbeAnswers answers_;
  ProbeRequest asked_;  // the probe running
  std::chrono::milliseconds asked_limit_{};
  std::shared_ptr<ProbeOutput> output_ = std::make_shared<ProbeOutput>();
  bool identifying_ = false;
  // A timer that fires after its probe ended, or after the identification is gone, does nothing.
  uint64_t probe_number_ = 0;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace velotrax
