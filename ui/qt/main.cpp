// Velotrax: measures how fast an arcade emulator runs here and compares it with other computers.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/qt/application.h"

namespace {

const char* NonEmptyVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// The program as it was started (argv[0]), so that the hints name commands that work as typed.
std::string started_as = "velotrax";

// velotrax-cli beside the program when it was started by a path (../velotrax-cli in the demo).
std::string CompanionCommand() {
  const std::size_t slash = started_as.rfind('/');
  if (slash == std::string::npos ||
      started_as.compare(slash + 1, std::string::npos, "velotrax") != 0) {
    return "velotrax-cli";
  }
  return started_as.substr(0, slash + 1) + "velotrax-cli";
}

// Says that the window has nowhere to go and what to use instead, then ends the program. Safe to
// call while Qt is half set up: nothing of Qt's is torn down.
[[noreturn]] void ExitWithoutDisplay() {
  const char* x_display = NonEmptyVariable("DISPLAY");
  const char* wayland_display = NonEmptyVariable("WAYLAND_DISPLAY");
  const char* platform = NonEmptyVariable("QT_QPA_PLATFORM");
  std::string reason;
  if (platform != nullptr && std::strncmp(platform, "xcb", 3) != 0 &&
      std::strncmp(platform, "wayland", 7) != 0) {
    reason = std::string("the window system \"") + platform +
             "\" (QT_QPA_PLATFORM) could not be started";
  } else if (x_display == nullptr && wayland_display == nullptr) {
    reason = "no display was found (DISPLAY and WAYLAND_DISPLAY are not set)";
  } else {
    reason = "the display could not be opened (";
    if (x_display != nullptr) reason += std::string("DISPLAY=") + x_display;
    if (x_display != nullptr && wayland_display != nullptr) reason += ", ";
    if (wayland_display != nullptr) reason += std::string("WAYLAND_DISPLAY=") + wayland_display;
    reason += ")";
  }
  const std::string cli = CompanionCommand();
  std::fprintf(
      stderr,
      "velotrax: %s, so the window cannot be shown.\n"
      "velotrax: to benchmark without a window, use velotrax-cli (%s --help);\n"
      "velotrax: to show the window on a virtual screen, run: xvfb-run %s (package xvfb)\n",
      reason.c_str(), cli.c_str(), started_as.c_str());
  std::fflush(stderr);
  _exit(1);
}

// True when the user chose Qt's platform outright (-platform, QT_QPA_PLATFORM), for example the
// offscreen one, which needs no display.
bool PlatformChosen(int argc, char** argv) {
  if (NonEmptyVariable("QT_QPA_PLATFORM") != nullptr) return true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
      return true;
    }
  }
  return false;
}

// While the application object is made, Qt's messages are held back: when no platform can be
// started (a display that is set but does not answer), Qt ends the program with a fatal message
// that blames the installation; this ends it with ExitWithoutDisplay instead, and the warnings
// that led there are not shown. Once the object stands, the held messages go out as usual.
struct HeldMessage {
  QtMsgType type;
  std::string file, function, category;
  int line;
  QString text;
};
std::mutex held_messages_lock;  // Qt may log from a thread of its own
std::vector<HeldMessage> held_messages;
QtMessageHandler previous_handler = nullptr;

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) ExitWithoutDisplay();
  const std::lock_guard<std::mutex> hold(held_messages_lock);
  held_messages.push_back({type, context.file ? context.file : "",
                           context.function ? context.function : "",
                           context.category ? context.category : "", context.line, text});
}

void ReleaseHeldMessages() {
  qInstallMessageHandler(previous_handler);
  const std::lock_guard<std::mutex> hold(held_messages_lock);
  for (const HeldMessage& message : held_messages) {
    const QMessageLogContext context(message.file.c_str(), message.line, message.function.c_str(),
                                     message.category.c_str());
    if (previous_handler != nullptr) {
      previous_handler(message.type, context, message.text);
    } else {
      qt_message_output(message.type, context, message.text);
    }
  }
  held_messages.clear();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 0 && argv[0] != nullptr && *argv[0] != '\0') started_as = argv[0];
  if (!PlatformChosen(argc, argv) && NonEmptyVariable("DISPLAY") == nullptr &&
      NonEmptyVariable("WAYLAND_DISPLAY") == nullptr) {
    ExitWithoutDisplay();
  }
  previous_handler = qInstallMessageHandler(HoldMessage);
  velotrax::TApplication app(argc, argv);
  ReleaseHeldMessages();
  std::unique_ptr<velotrax::TForm1> main_window = velotrax::CreateMainWindow();
  // Set by the start-up benchmark, which times the program up to its visible main window.
  if (qEnvironmentVariableIsSet("VELOTRAX_EXIT_ONCE_SHOWN")) velotrax::ExitOnceShown(*main_window);
  velotrax::ShowMainWindow(*main_window);
  app.exec();
  // The main window goes with its dialogs before the application object.
  main_window.reset();
  return 0;
}
