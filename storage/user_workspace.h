// The user's own workspace: the folder in which Velotrax works when the menu starts it, as the
// directory it is started in is wherever the desktop likes. It holds the settings, the scores,
// the emulator and its roms folder, and outlives an uninstallation: it is the user's data.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velotrax {

// The option by which velotrax and velotrax-cli are told to work in the user's workspace.
inline constexpr std::string_view kUserWorkspaceOption = "--user-workspace";

// The workspace's folder: %LOCALAPPDATA%\Velotrax on Windows, $XDG_DATA_HOME/velotrax on Linux
// (~/.local/share/velotrax when that is unset or relative). Throws EOSError when none is known.
std::string UserWorkspaceDirectory();

// Creates the workspace with its roms folder where missing and makes it the working directory;
// returns the folder. Throws EOSError naming the folder that could not be made or entered.
std::string EnterUserWorkspace();

// When the program's arguments (the words after its name) begin with kUserWorkspaceOption:
// removes it and enters the workspace, throwing as EnterUserWorkspace. True when it did.
bool EnterUserWorkspaceIfAsked(std::vector<std::string>& args);

}  // namespace velotrax
