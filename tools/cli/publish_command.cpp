// velotrax-cli publish: adds this computer's scores to reference.dat as the next reference
// computer, keeping every byte the file already holds.
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "results/text_output.h"
#include "results/whole_file.h"
#include "storage/files.h"
#include "storage/int_text.h"
#include "storage/profile_syntax.h"
#include "tools/cli/cli.h"

namespace velotrax::cli {

namespace {

constexpr const char* kPublishHelp =
    "Usage: velotrax-cli publish --name TEXT\n"
    "\n"
    "Adds this computer's scores (mark.dat) to reference.dat as the next reference computer,\n"
    "named TEXT, and raises the count in its section [0]; creates reference.dat when there is\n"
    "none. Everything reference.dat already holds stays as it is, byte for byte; a\n"
    "reference.dat that does not read is left alone and reported. A name reference.dat already\n"
    "has (in any case) is refused, since show --ref could not tell the two apart.\n";

// The longest value the profile reader hands back.
constexpr std::size_t kLongestName = 2047;

std::string ParseName(const std::vector<std::string>& args) {
  std::optional<std::string> name;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--name") {
      if (i + 1 >= args.size()) throw UsageError("--name needs a value");
      name = args[++i];
    } else if (arg.starts_with("--name=")) {
      name = arg.substr(7);
    } else {
      throw UsageError("unknown argument '" + arg + "'");
    }
  }
  if (!name) throw UsageError("give the computer's name with --name");
  if (name->empty()) throw UsageError("--name must not be empty");
  if (name->find_first_of("\r\n") != std::string::npos) {
    throw UsageError("--name must be a single line");
  }
  if (name->size() > kLongestName) {
    throw UsageError("--name is longer than " + std::to_string(kLongestName) + " bytes");
  }
  return *name;
}

// The value as it must stand in the file to read back as the very same text: the reader drops
// blanks around a value and one pair of enclosing quotes, so such a name is put in quotes.
std::string StoredName(const std::string& name) {
  const bool blank_edge = TrimBlanks(name).size() != name.size();
  const bool quoted = name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
                      name.back() == name.front();
  return blank_edge || quoted ? "\"" + name + "\"" : name;
}

// show --ref finds a computer by its name in any case: a second computer of that name could not
// be told from the first.
void RefuseTakenName(const CatalogueState& state, const std::string& name) {
  const std::string wanted = AsciiLowerCase(name);
  for (int r = 1; r <= state.reference_count; ++r) {
    const std::string& taken = state.references[static_cast<std::size_t>(r)][0].cpu;
    if (AsciiLowerCase(taken) != wanted && AsciiLowerCase(DisplayText(taken)) != wanted) continue;
    throw CliError("reference.dat already has a reference computer named \"" +
                   TerminalText(DisplayText(taken)) + "\" (number " + std::to_string(r) +
                   "); publish under another name, or rename number " + std::to_string(r) +
                   " first (its cpu= line in section [" + std::to_string(r) +
                   "]); reference.dat was left as it is");
  }
}

// The new text of reference.dat: the count's value rewritten to count, the section appended.
std::string WithNewComputer(const std::string& bytes, int32_t count, const std::string& section) {
  const std::string new_section_name = IntToText(count);
  const ParsedProfile profile(bytes);
  if (profile.FindSection(new_section_name) != ParsedProfile::kNone) {
    throw CliError("reference.dat already has a section [" + new_section_name +
                   "] beyond its count of " + IntToText(count - 1) +
                   "; correct the count in section [0] first (the file was left as it is)");
  }
  // The "reference" entry the reader takes.
  const uint32_t count_entry = profile.FindEntry(profile.FindSection("0"), "reference");
  if (count_entry == ParsedProfile::kNone) {
    throw CliError(
        "reference.dat has no count (key reference in section [0]); it was left as it is");
  }
  const ParsedProfile::Span old_count = profile.Entries()[count_entry].raw_value;
  std::string result = bytes.substr(0, old_count.begin);
  result += IntToText(count);
  result += bytes.substr(old_count.begin + old_count.size);
  if (!result.empty() && result.back() != '\n') result += "\r\n";
  result += section;
  return result;
}

}  // namespace

int PublishCommand(const std::vector<std::string>& args) {
  if (PrintHelpIfAsked(args, kPublishHelp)) return kExitSuccess;
  const std::string name = ParseName(args);

  ProgramState state;
  LoadWorkspace(state);
  if (!FileIsPresent(state.base_dir + "mark.dat")) {
    throw CliError("there is no mark.dat in " + state.base_dir +
                   " to publish; run a benchmark first");
  }

  const std::string path = state.base_dir + "reference.dat";
  // Another publish in this folder adds its computer before or after ours, never over it.
  const DirectoryWriteLock turn(path);
  const bool present = FileIsPresent(path);
  std::string bytes;
  if (present) {
    bytes = ReadWholeFile(path, ParsedProfile::kMaxBytes);
    // Every computer already there must read, or the file is not ours to add to.
    try {
      LoadReferenceTable(state);
    } catch (const Exception& e) {
      std::fprintf(stderr, "velotrax-cli: %s\n", e.what());
      throw CliError("reference.dat does not read; it was left as it is");
    }
  }
  RefuseTakenName(state, name);
  const int32_t number = state.reference_count + 1;

  // The body of mark.dat under the next section number, named as asked.
  std::string section = "[" + IntToText(number) + "]\r\n";
  section += "cpu=" + StoredName(name) + "\r\n";
  for (int i = 1; i < game_count; ++i) {
    const Tgameinfo& game = state.games[static_cast<std::size_t>(i)];
    section += game.rom + "=" + IntToText(game.d3d) + "\r\n";
    section += game.rom + "a=" + IntToText(game.ddraw) + "\r\n";
  }

  const std::string updated =
      present ? WithNewComputer(bytes, number, section) : "[0]\r\nreference=1\r\n" + section;
  ReplaceFile(path, updated);
  std::printf("Added this computer's scores to reference.dat as reference computer %d.\n",
              static_cast<int>(number));
  NoteEmulatorBuild(state);
  return kExitSuccess;
}

}  // namespace velotrax::cli
