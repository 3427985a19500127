// Emulators of more than one kind: the described command line is one dialect ("classic"); today's
// builds ("current") take other options and report their speed differently. This unit owns
// everything that differs between them: identifying the emulator file, composing each pass's
// start values and reading a pass's result. The sequencer, the windows and the tools ask it.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emulator/emulator_contract.h"
#include "process/create_process.h"

namespace velotrax {

enum class EmulatorDialect { classic, current };
// What the user asks for: detection, or one dialect whatever the emulator says.
enum class DialectChoice { automatic, classic, current };

// "classic" or "current".
const char* DialectName(EmulatorDialect dialect);

// What an emulator file is.
struct EmulatorIdentity {
  EmulatorDialect dialect = EmulatorDialect::classic;
  std::string version;  // as the emulator names itself ("0.251 (unknown)"); empty when unknown
};

// The output of one short run of the emulator.
struct ProbeOutput {
  std::vector<std::string> lines;
  uint32_t exit_code = 0;
};

// Runs one start and gathers its output; nothing when it cannot start or overruns limit.
using EmulatorProbe = std::function<std::optional<ProbeOutput>(const EmulatorInvocation& start,
                                                               std::chrono::milliseconds limit)>;

// The signal that ends an emulator (and what it started) at once: SIGKILL, and its number on
// Windows, which has no such signal: the runner ends the child there by other means.
#ifdef SIGKILL
inline constexpr int kEndAtOnce = SIGKILL;
#else
inline constexpr int kEndAtOnce = 9;
#endif

// Sets the runner up to start the emulator hidden with its output on the pipe, with start's
// directory, program and command line; every start of the emulator is set up here.
void ConfigureEmulatorRunner(TJvCreateProcess& runner, const EmulatorInvocation& start);

// The real probe: the runner on an event loop of its own; a child that overruns is killed.
std::optional<ProbeOutput> RunEmulatorProbe(const EmulatorInvocation& start,
                                            std::chrono::milliseconds limit);

// Sets runner up for one probe: a process group of its own (so that one that overruns can be
// ended whole), its output gathered into output, bounded, and its exit code too, then on_end.
// Returns the probe's time limit, with Wine's start-up allowed for; throws what
// ConfigureEmulatorRunner throws.
std::chrono::milliseconds SetUpProbe(TJvCreateProcess& runner, const EmulatorInvocation& start,
                                     std::chrono::milliseconds limit,
                                     std::shared_ptr<ProbeOutput> output,
                                     std::function<void()> on_end);

// A probe a pass still needs the answer of, and how long the emulator has to give it.
struct ProbeRequest {
  EmulatorInvocation start;
  std::chrono::milliseconds limit{};
};
// Answers gathered by the caller, keyed by the probe's command line; nothing for a probe that
// gave none (the emulator could not be started).
using ProbeAnswers = std::map<std::string, std::optional<ProbeOutput>>;

// One pass as it will be started, and what is needed to read its result.
struct PassPlan {
  EmulatorInvocation start;
  EmulatorDialect dialect = EmulatorDialect::classic;
  std::string version;  // as the emulator names itself; empty when it was not asked or gave none
  double refresh = 0;   // current dialect: the game's frames per emulated second; 0 when unknown
};

// What a pass's output says: the frame rate (0 when nothing was measured) and why not.
struct PassResult {
  int32_t fps = 0;
  std::string reason;  // the emulator's own words when it measured nothing; empty otherwise
};

class EmulatorDialects {
 public:
  explicit EmulatorDialects(EmulatorProbe probe = RunEmulatorProbe);

  DialectChoice Choice() const { return choice_; }
  void SetChoice(DialectChoice choice) { choice_ = choice; }

  // The identity of base_dir + mame_file, remembered per file and its state on disk.
  EmulatorIdentity Identify(const std::string& base_dir, const std::string& mame_file);
  // The game's refresh rate from -listxml, asked once per game and emulator file; 0 when none.
  double RefreshRate(const std::string& base_dir, const std::string& mame_file,
                     const std::string& rom);
  // The start values of a pass; classic_options is the method's described option string.
  // Throws EEmulatorError naming the game when its refresh rate is not plausible.
  PassPlan PlanPass(const std::string& base_dir, const std::string& mame_file,
                    const std::string& rom, bool is_d3d, std::string_view classic_options);
  // The probe PlanPass would run next for rom, given the answers already gathered; nothing once
  // it would run none (the answers are then remembered as PlanPass's own would be).
  std::optional<ProbeRequest> NextProbe(const std::string& base_dir, const std::string& mame_file,
                                        const std::string& rom, const ProbeAnswers& answers);

 private:
  EmulatorProbe probe_;
  DialectChoice choice_ = DialectChoice::automatic;
  // Keyed by path, size, modification and change time, device and inode, so that an emulator
  // replaced in any way is identified afresh.
  std::map<std::string, EmulatorIdentity> identities_;
  std::map<std::pair<std::string, std::string>, double> refresh_rates_;
};

// The integer frames per second of the first "FPS" line with a separator, or 0; throws
// EConvertError. This is how a classic pass's result is read.
int32_t ExtractFrameRate(const std::vector<std::string>& lines);
// True for a line ExtractFrameRate takes its value from when it is the first such line.
bool DecidesFrameRate(std::string_view line);

// Reads a pass's result; a classic pass goes to classic_rate (which may throw).
PassResult ReadPassResult(
    const PassPlan& plan, const std::vector<std::string>& lines,
    const std::function<int32_t(const std::vector<std::string>&)>& classic_rate = ExtractFrameRate);

// The refresh rates a game's display may have: arcade games run at about 30 to 80 Hz, a few
// boards above 100. Outside, the -str of a current pass would stay below 10 or go above 500
// emulated seconds (5000 frames' worth).
inline constexpr double kLowestRefresh = 10;
inline constexpr double kHighestRefresh = 500;
// True for a refresh rate in that range; false for NaN and infinity.
bool IsPlausibleRefresh(double refresh);

// The current dialect's options for a pass of a game with this refresh rate (60 Hz when it is
// none): -str from 2 to 500.
std::string CurrentPassOptions(double refresh, bool is_d3d);
// The identity that -help and -showusage outputs describe; classic when they describe no
// current build.
EmulatorIdentity IdentityFromOutput(const std::vector<std::string>& help,
                                    const std::vector<std::string>& usage);
// The refresh attribute of the first display in -listxml output, as written; 0 when there is
// none or it is no finite number.
double RefreshFromListXml(const std::vector<std::string>& lines);
// The emulator's own reason for not running: its first "Fatal error:", "Error:" or
// "Unknown system" line; empty when there is none.
std::string EmulatorReason(const std::vector<std::string>& lines);

}  // namespace velotrax
