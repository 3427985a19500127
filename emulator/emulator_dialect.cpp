#include "emulator/emulator_dialect.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/errors.h"
#include "emulator/windows_executable.h"
#include "process/event_loop.h"
#include "storage/files.h"
#include "storage/int_text.h"

namespace velotrax {

namespace {

using namespace std::chrono_literals;

// Detection and the refresh lookup run while the user waits for a pass to start: an emulator
// that does not answer in this time is not asked again for this file.
constexpr auto kIdentifyLimit = 5s;
constexpr auto kListXmlLimit = 10s;
constexpr auto kWineStartAllowance = 30s;
// What a probe keeps of an emulator that talks without end.
constexpr std::size_t kProbeLines = 20000;
// The described passes run 5000 frames; a current build counts emulated seconds instead.
constexpr double kPassFrames = 5000;
// A current build reports its average speed only after more than one emulated second.
constexpr long kFewestSeconds = 2;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWithExe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".exe";
}

// What tells one emulator file from another at path: besides its size and modification time,
// which a replacement can share (a copy that keeps the time, a time set back), the file itself
// (device and inode; on Windows volume and file index) and its change time, which no one can set.
// Empty when no regular file is there.
std::string FileKey(const std::string& path) {
  FileStamp st;
  if (!StampOfRegularFile(path, st)) return {};
  const auto time = [](int64_t sec, int64_t nsec) {
    return std::to_string(sec) + '.' + std::to_string(nsec);
  };
  return path + '\n' + std::to_string(st.size) + ' ' + time(st.mtime_sec, st.mtime_nsec) + ' ' +
         std::to_string(st.device) + ':' + std::to_string(st.inode) + ' ' +
         time(st.ctime_sec, st.ctime_nsec);
}

EmulatorInvocation Start(const std::string& base_dir, const std::string& mame_file,
                         const std::string& arguments) {
  return {base_dir, base_dir + mame_file, mame_file + " " + arguments};
}

// The number at the start of text ("13.71% ..." gives 13.71); nothing when there is none.
std::optional<double> LeadingNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// A line saying that the pass did not render the way it was asked to: its figure would be
// stored under a method that was not measured.
bool SaysVideoFellBack(const std::string& line) {
  std::string lower = line;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (std::string_view sign : {"video_init: initialization failed", "opengl not supported",
                                "falling back", "fall back", "-video none"}) {
    if (lower.find(sign) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

const char* DialectName(EmulatorDialect dialect) {
  return dialect == EmulatorDialect::current ? "current" : "classic";
}

void ConfigureEmulatorRunner(TJvCreateProcess& runner, const EmulatorInvocation& start) {
  // A Windows build is started through Wine; without Wine this throws before anything changes.
  const EmulatorInvocation platform_start = ForThisPlatform(start);
  // The emulator runs hidden; its output comes back line by line and is not kept by the runner.
  TJvCPSStartupInfo& startup = runner.StartupInfo;
  startup.DefaultPosition = false;
  startup.DefaultSize = false;
  startup.DefaultWindowState = false;
  startup.ShowWindow = TJvCPSShowWindow::swHide;
  runner.ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
  runner.CurrentDirectory = platform_start.CurrentDirectory;
  runner.ApplicationName = platform_start.ApplicationName;
  runner.CommandLine = platform_start.CommandLine;
}

std::chrono::milliseconds SetUpProbe(TJvCreateProcess& runner, const EmulatorInvocation& start,
                                     std::chrono::milliseconds limit,
                                     std::shared_ptr<ProbeOutput> output,
                                     std::function<void()> on_end) {
  ConfigureEmulatorRunner(runner, start);
  // Wine's own start-up (its server, a prefix prepared on first use) must not cut an answer short.
  if (runner.ApplicationName != start.ApplicationName) limit += kWineStartAllowance;
  // A group of its own, so that one that overruns can be ended with whatever it started.
  runner.CreationFlags.insert(TJvCPSFlag::cfNewProcGroup);
  // Only the answer is taken: a loaded machine that keeps the UI thread from running for a while
  // must not cost lines of it.
  runner.KeepAllOutput = true;
  *output = ProbeOutput{};
  auto dropping = std::make_shared<bool>(false);  // the line being read is past kProbeLines
  runner.OnRead = [output, dropping](TJvCreateProcess&, std::string_view line,
                                     bool starts_on_new_line) {
    if (starts_on_new_line || output->lines.empty()) {
      *dropping = output->lines.size() >= kProbeLines;
      if (!*dropping) output->lines.emplace_back(line);
    } else if (!*dropping) {
      output->lines.back().assign(line);
    }
  };
  runner.OnTerminate = [output, on_end = std::move(on_end)](TJvCreateProcess&, uint32_t exit_code) {
    output->exit_code = exit_code;
    on_end();
  };
  return limit;
}

std::optional<ProbeOutput> RunEmulatorProbe(const EmulatorInvocation& start,
                                            std::chrono::milliseconds limit) {
  EventLoop loop;
  TJvCreateProcess runner(loop);
  auto output = std::make_shared<ProbeOutput>();
  bool ended = false;
  try {
    // A Windows program without Wine gives no answer.
    limit = SetUpProbe(runner, start, limit, output, [&ended] { ended = true; });
    runner.Run();
  } catch (const Exception&) {
    return std::nullopt;
  }
  if (loop.RunUntil([&] { return ended; }, limit)) return *output;
  runner.SignalChild(kEndAtOnce);
  if (!loop.RunUntil([&] { return ended; }, 2s)) runner.Detach();
  return std::nullopt;
}

EmulatorDialects::EmulatorDialects(EmulatorProbe probe) : probe_(std::move(probe)) {}

EmulatorIdentity EmulatorDialects::Identify(const std::string& base_dir,
                                            const std::string& mame_file) {
  if (choice_ == DialectChoice::classic) return {};
  const std::string key = FileKey(base_dir + mame_file);
  // No file: the runner reports it when the pass starts.
  if (key.empty()) return {};
  // A native program named like the described Windows builds is one of them and is never asked;
  // a real Windows program is asked, through Wine, like any other build.
  if (choice_ == DialectChoice::automatic && EndsWithExe(mame_file) &&
      !IsWindowsExecutable(base_dir + mame_file)) {
    return {};
  }
  if (const auto known = identities_.find(key); known != identities_.end()) {
    EmulatorIdentity identity = known->second;
    if (choice_ == DialectChoice::current) identity.dialect = EmulatorDialect::current;
    return identity;
  }
  EmulatorIdentity identity;
  const std::optional<ProbeOutput> usage =
      probe_(Start(base_dir, mame_file, "-showusage"), kIdentifyLimit);
  if (usage) identity = IdentityFromOutput({}, usage->lines);
  // Only a build that lists today's options is asked anything more.
  if (identity.dialect == EmulatorDialect::current || choice_ == DialectChoice::current) {
    const std::optional<ProbeOutput> help =
        probe_(Start(base_dir, mame_file, "-help"), kIdentifyLimit);
    if (help) identity.version = IdentityFromOutput(help->lines, {}).version;
  }
  identities_[key] = identity;
  if (choice_ == DialectChoice::current) identity.dialect = EmulatorDialect::current;
  return identity;
}

double EmulatorDialects::RefreshRate(const std::string& base_dir, const std::string& mame_file,
                                     const std::string& rom) {
  const std::string key = FileKey(base_dir + mame_file);
  if (key.empty()) return 0;
  if (const auto known = refresh_rates_.find({key, rom}); known != refresh_rates_.end()) {
    return known->second;
  }
  const std::optional<ProbeOutput> xml =
      probe_(Start(base_dir, mame_file, "-listxml " + rom), kListXmlLimit);
  const double refresh = xml ? RefreshFromListXml(xml->lines) : 0;
  refresh_rates_[{key, rom}] = refresh;
  return refresh;
}

PassPlan EmulatorDialects::PlanPass(const std::string& base_dir, const std::string& mame_file,
                                    const std::string& rom, bool is_d3d,
                                    std::string_view classic_options) {
  PassPlan plan;
  if (choice_ == DialectChoice::current) {
    plan.dialect = EmulatorDialect::current;
  } else {
    const EmulatorIdentity identity = Identify(base_dir, mame_file);
    plan.dialect = identity.dialect;
    plan.version = identity.version;
  }
  if (plan.dialect == EmulatorDialect::classic) {
    plan.start = ComposeInvocationWith(base_dir, mame_file, rom, classic_options);
    return plan;
  }
  plan.refresh = RefreshRate(base_dir, mame_file, rom);
  // A rate no display has would make the pass endless or meaningless and its frame rate wrong;
  // the user hears of it at once rather than after a pass that cannot give a score.
  if (plan.refresh != 0 && !IsPlausibleRefresh(plan.refresh)) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.6g", plan.refresh);
    char range[48];
    std::snprintf(range, sizeof range, "%g to %g Hz", kLowestRefresh, kHighestRefresh);
    throw EEmulatorError(rom + ": the emulator gives this game a refresh rate of " + rate +
                         " Hz, outside the " + range +
                         " an arcade display can have; the pass was not started, as its length "
                         "and its frame rate are worked out from that rate");
  }
  // Without a refresh rate the pass still runs: the emulator then says why it has none.
  plan.start =
      ComposeInvocationWith(base_dir, mame_file, rom, CurrentPassOptions(plan.refresh, is_d3d));
  return plan;
}

std::optional<ProbeRequest> EmulatorDialects::NextProbe(const std::string& base_dir,
                                                        const std::string& mame_file,
                                                        const std::string& rom,
                                                        const ProbeAnswers& answers) {
  // PlanPass is run as it will be, its probes answered from answers; the first one without an
  // answer is the next to run. Its caches are written only once a probe's answer is in, so the
  // replay leaves no half-known identity behind.
  struct Unanswered {
    ProbeRequest request;
  };
  EmulatorProbe real = std::move(probe_);
  probe_ = [&answers](const EmulatorInvocation& start, std::chrono::milliseconds limit) {
    const auto answer = answers.find(start.CommandLine);
    if (answer == answers.end()) throw Unanswered{{start, limit}};
    return answer->second;
  };
  std::optional<ProbeRequest> next;
  try {
    PlanPass(base_dir, mame_file, rom, false, {});
  } catch (const Unanswered& unanswered) {
    next = unanswered.request;
  } catch (const Exception&) {
    // A refresh rate out of range: the pass's own start says so.
  } catch (...) {
    probe_ = std::move(real);
    throw;
  }
  probe_ = std::move(real);
  return next;
}

bool IsPlausibleRefresh(double refresh) {
  return refresh >= kLowestRefresh && refresh <= kHighestRefresh;  // false for NaN
}

std::string CurrentPassOptions(double refresh, bool is_d3d) {
  // As many emulated seconds as the described passes' 5000 frames take at the game's rate, and
  // never more than at the lowest plausible one: the emulator must end the pass by itself.
  const double rate = std::isfinite(refresh) && refresh > 0 ? refresh : 60;
  const long seconds = std::lround(
      std::clamp(kPassFrames / rate, double{kFewestSeconds}, kPassFrames / kLowestRefresh));
  return "-str " + std::to_string(seconds) + " -nothrottle -video " + (is_d3d ? "opengl" : "soft") +
         " -window -resolution 1280x1024 -sound none -nomouse -nojoystick -rompath roms "
         "-skip_gameinfo -noreadconfig";
}

EmulatorIdentity IdentityFromOutput(const std::vector<std::string>& help,
                                    const std::vector<std::string>& usage) {
  EmulatorIdentity identity;
  bool counts_frames = false, counts_seconds = false, picks_video = false;
  for (const std::string& line : usage) {
    counts_frames =
        counts_frames || StartsWith(line, "-frames_to_run") || StartsWith(line, "-ftr ");
    counts_seconds = counts_seconds || StartsWith(line, "-seconds_to_run");
    picks_video = picks_video || StartsWith(line, "-video ");
  }
  if (counts_seconds && picks_video && !counts_frames) identity.dialect = EmulatorDialect::current;
  // "MAME v0.251 (unknown)": the version is what follows the first " v" before a digit.
  for (const std::string& line : help) {
    const std::size_t v = line.find(" v");
    if (v == std::string::npos || v + 2 >= line.size() || line[v + 2] < '0' || line[v + 2] > '9') {
      continue;
    }
    identity.version = line.substr(v + 2);
    while (!identity.version.empty() && static_cast<unsigned char>(identity.version.back()) <= ' ')
      identity.version.pop_back();
    break;
  }
  return identity;
}

double RefreshFromListXml(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::size_t display = line.find("<display ");
    if (display == std::string::npos) continue;
    const std::size_t attribute = line.find(" refresh=\"", display);
    if (attribute == std::string::npos) continue;
    const std::optional<double> refresh =
        LeadingNumber(std::string_view(line).substr(attribute + 10));
    return refresh ? *refresh : 0;
  }
  return 0;
}

std::string EmulatorReason(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (StartsWith(line, "Fatal error:") || StartsWith(line, "Error:") ||
        StartsWith(line, "Unknown system")) {
      return line;
    }
  }
  return {};
}

// The emulator's closing line carries the frame rate from its 14th character on; the integer
// part ends at the first "." or ",".
constexpr std::size_t kFrameRateColumn = 13;

bool DecidesFrameRate(std::string_view line) {
  return line.find("FPS") != std::string_view::npos && line.size() > kFrameRateColumn &&
         line.find_first_of(".,", kFrameRateColumn) != std::string_view::npos;
}

int32_t ExtractFrameRate(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (!DecidesFrameRate(line)) continue;
    const std::string_view rest = std::string_view(line).substr(kFrameRateColumn);
    return TextToInt(rest.substr(0, rest.find_first_of(".,")));
  }
  return 0;
}

PassResult ReadPassResult(
    const PassPlan& plan, const std::vector<std::string>& lines,
    const std::function<int32_t(const std::vector<std::string>&)>& classic_rate) {
  PassResult result;
  if (plan.dialect == EmulatorDialect::classic) {
    result.fps = classic_rate(lines);
    return result;
  }
  std::optional<double> speed;
  for (const std::string& line : lines) {
    if (SaysVideoFellBack(line)) {
      result.reason = "the pass did not render as asked: " + line;
      return result;
    }
    constexpr std::string_view kSpeed = "Average speed:";
    const std::size_t at = line.find(kSpeed);
    if (at != std::string::npos)
      speed = LeadingNumber(std::string_view(line).substr(at + kSpeed.size()));
  }
  const std::string reason = EmulatorReason(lines);
  if (!speed) {
    result.reason =
        !reason.empty() ? reason : "the emulator ended without an \"Average speed\" line";
    return result;
  }
  if (plan.refresh == 0) {
    result.reason = "the emulator's -listxml gave no refresh rate for this game";
    return result;
  }
  if (!IsPlausibleRefresh(plan.refresh)) {
    result.reason = "the emulator's -listxml gave a refresh rate out of range for this game";
    return result;
  }
  // Frames per second, truncated like the described frame rate.
  const double fps = std::floor(*speed * plan.refresh / 100);
  if (!(fps >= 0 && fps <= 2147483647.0)) {
    result.reason = "the emulator reported an average speed out of range";
    return result;
  }
  result.fps = static_cast<int32_t>(fps);
  return result;
}

}  // namespace velotrax
