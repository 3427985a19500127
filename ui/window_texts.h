// The texts the windows show, exactly as they stand, for every front end. Captions, labels, hints
// and menu captions are in the layout (ui/window_layout.h); here are the multi-line texts and the
// messages of the handlers.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velotrax::texts {

// The Information tab of the Preferences dialog, 46 lines.
const std::vector<std::string>& InformationLines();
// The Disclaimer window's text, 10 lines.
const std::vector<std::string>& DisclaimerLines();
// The About window's text, 14 lines.
const std::vector<std::string>& AboutLines();
// lines joined by separator ("\n" for a toolkit, "\r\n" for a Win32 edit control).
std::string JoinLines(const std::vector<std::string>& lines, std::string_view separator);

// The first item of each reference selector, selected when the window is built.
inline constexpr std::string_view kSelectReference = "Select reference";
// The status bar's panel at start.
inline constexpr std::string_view kStatusAtStart = "Status :";
// Asked after the error box of a close that could not save.
inline constexpr std::string_view kCloseWithoutSavingQuestion =
    "Not everything could be saved (see the previous message).\n\n"
    "Close Velotrax without saving? What was not saved is lost.";
// Follows the system's words when the emulator could not be started.
inline constexpr std::string_view kChooseAnotherEmulator =
    "; choose another in Options > Preferences.";
// Begins a warning about the machine's state, in the pass log and the status bar's tool-tip.
inline constexpr std::string_view kWarningPrefix = "Warning: ";

// The emulator's file dialog of the Preferences dialog: its title and its one filter entry
// (label "|" pattern).
inline constexpr std::string_view kEmulatorDialogTitle = "Quillbox";
inline constexpr std::string_view kEmulatorFilter = "All files (*.exe)|*.exe";

// File > Export results...: the save dialog's title, proposed name and its two kinds.
inline constexpr std::string_view kExportTitle = "Export results";
inline constexpr std::string_view kExportProposedName = "velotrax-results.json";
inline constexpr std::string_view kExportJsonFilter = "JSON (*.json)";
inline constexpr std::string_view kExportMarkdownFilter = "Markdown (*.md)";

}  // namespace velotrax::texts

namespace velotrax {

// The message as the error box shows it: "." appended when the message is not empty and its last
// byte is greater than ".".
std::string ErrorBoxText(const std::string& message);

// The message of an error that escaped a handler: what() of a std::exception, a fixed text for
// anything else. Throws what rethrowing the error throws only when that is no exception at all.
std::string EscapedErrorMessage(std::exception_ptr error);

// Shows an error that escaped a handler with a front end's error box; a box that fails itself
// is given up, as there is no one left to tell.
void ReportEscapedError(std::exception_ptr error,
                        void (*show_error_box)(const std::string& message)) noexcept;

// Runs a handler as the guard does: an error that escapes it is reported as above.
void RunGuardedWith(const std::function<void()>& handler,
                    void (*show_error_box)(const std::string& message));

}  // namespace velotrax
