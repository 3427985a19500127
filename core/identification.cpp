#include "core/identification.h"

#include <utility>

#include "base/errors.h"
#include "core/sequencer.h"
#include "core/state.h"

namespace velotrax {

EmulatorIdentification::EmulatorIdentification(UiThread& ui, Timer timer, Guard guard)
    : timer_(std::move(timer)),
      guard_(std::move(guard)),
      runner_(std::make_unique<TJvCreateProcess>(ui)) {}

EmulatorIdentification::~EmulatorIdentification() {
  // A probe is ours, not the user's pass: it does not run on, hidden, after the window is gone.
  if (runner_->Watching()) {
    try {
      runner_->SignalChild(kEndAtOnce);
    } catch (const Exception&) {
      // It has ended meanwhile.
    }
  }
}

bool EmulatorIdentification::Begin(ProgramState& state, SequencerHost& host, const std::string& rom,
                                   std::function<void()> start_pass) {
  answers_.clear();
  std::optional<ProbeRequest> next =
      state.emulators.NextProbe(state.base_dir, state.mame_file, rom, answers_);
  if (!next) return false;
  state_ = &state;
  host_ = &host;
  rom_ = rom;
  start_pass_ = std::move(start_pass);
  identifying_ = true;
  host.SetStatusText(kIdentifyingText);
  try {
    AskFrom(std::move(next));
  } catch (...) {
    identifying_ = false;
    throw;
  }
  return true;
}

void EmulatorIdentification::AskFrom(std::optional<ProbeRequest> next) {
  while (next) {
    try {
      asked_limit_ =
          SetUpProbe(*runner_, next->start, next->limit, output_, [this] { Answered(); });
      asked_ = *next;
      runner_->Run();
      const uint64_t number = ++probe_number_;
      timer_(asked_limit_, [this, alive = std::weak_ptr<int>(alive_), number] {
        if (!alive.expired() && number == probe_number_) Overran();
      });
      return;
    } catch (const Exception&) {
      // An emulator that cannot be started (or a Windows one without Wine) answers nothing, as
      // with a probe on the spot; the pass's own start reports why.
      answers_[next->start.CommandLine] = std::nullopt;
    }
    next = state_->emulators.NextProbe(state_->base_dir, state_->mame_file, rom_, answers_);
  }
  identifying_ = false;
  const std::function<void()> start_pass = std::move(start_pass_);
  start_pass();
}

void EmulatorIdentification::Answered() {
  ++probe_number_;
  answers_[asked_.start.CommandLine] = *output_;
  guard_([this] {
    try {
      AskFrom(state_->emulators.NextProbe(state_->base_dir, state_->mame_file, rom_, answers_));
    } catch (...) {
      if (identifying_) GiveUp();
      throw;
    }
  });
}

void EmulatorIdentification::Overran() {
  ++probe_number_;
  // Its whole process group goes, as the probe started it in one of its own.
  try {
    runner_->SignalChild(kEndAtOnce);
  } catch (const Exception&) {
    // It has ended meanwhile; it still gave no answer in time.
  }
  runner_->Detach();
  GiveUp();
  const std::string message = "The emulator \"" + asked_.start.ApplicationName +
                              "\" did not answer \"" + asked_.start.CommandLine + "\" within " +
                              std::to_string(asked_limit_.count() / 1000) +
                              " seconds and was ended; the benchmark was not started";
  guard_([&message] { throw EEmulatorError(message); });
}

void EmulatorIdentification::GiveUp() {
  identifying_ = false;
  state_->both_pending = false;
  state_->second_pass_game = 0;
  host_->SetStatusText(kReadyText);
  host_->RestoreCursors();
}

}  // namespace velotrax
