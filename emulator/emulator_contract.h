// What Velotrax relies on when it starts the emulator: the option strings of the two rendering
// methods and the composition of a pass's start values. SplitCommandLine, which gives the words
// the emulator sees, belongs to the runner (process/command_line.h) and is reachable here too.
#pragma once

#include <string>
#include <string_view>

#include "process/command_line.h"

namespace velotrax {

// Options of a Direct3D pass: 5000 unthrottled frames at 1280x1024x32, 60 Hz.
inline constexpr std::string_view D3DOptionString =
    "-norc -ftr 5000 -noafs -r 1280x1024x32 -refresh 60 -skip_disclaimer -skip_gameinfo "
    "-screen_aspect 5:4 -nothrottle -rdtsc -high_priority -noart -nomouse -nojoy -nogun -nosleep "
    "-rompath roms -d3d -d3dfilter 0 -d3dtexmanage -d3dprescale none";

// Options of a DirectDraw pass: the same run, without Direct3D.
inline constexpr std::string_view DDrawOptionString =
    "-norc -ftr 5000 -noafs -r 1280x1024x32 -refresh 60 -skip_disclaimer -skip_gameinfo "
    "-screen_aspect 5:4 -nothrottle -rdtsc -high_priority -noart -nomouse -nojoy -nogun -nosleep "
    "-rompath roms -nod3d";

// The runner's start values for one pass.
struct EmulatorInvocation {
  std::string CurrentDirectory;  // base_dir
  std::string ApplicationName;   // base_dir + mame_file
  std::string CommandLine;       // mame_file, rom and the method's options, one blank apart
};

// The start values of a pass of rom with the Direct3D (is_d3d) or the DirectDraw options.
EmulatorInvocation ComposeInvocation(std::string_view base_dir, std::string_view mame_file,
                                     std::string_view rom, bool is_d3d);
// The start values of a pass of rom with the given options.
EmulatorInvocation ComposeInvocationWith(std::string_view base_dir, std::string_view mame_file,
                                         std::string_view rom, std::string_view options);

}  // namespace velotrax
