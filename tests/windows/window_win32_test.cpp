// The Win32 window as a user meets it: velotrax.exe is started in a workspace of its own and
// driven from here through its windows' messages, as Windows delivers them to any program; its
// texts, bars and files are read back. Needs a display (ctest runs it under xvfb-run).
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need; of the shell's headers only the layout of a drop's memory.
#include <commctrl.h>
#include <shlobj.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "ui/win32/application_window.h"
#include "ui/win32/bar_gauge.h"
#include "ui/win32/file_name_field.h"
#include "ui/win32/guard.h"
#include "ui/win32/message_loop_ui_thread.h"
#include "ui/win32/window_support.h"
#include "ui/window_layout.h"

namespace velotrax::win32ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Polls until done() holds; false after the time-out (the program answers in seconds under
// Wine, a generous limit only ends a test that would hang).
bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR length = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        &length);
  return text;
}

// The message of a message box: its longest text.
std::wstring BoxMessage(HWND box) {
  std::wstring message;
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    const std::wstring text = TextOf(child);
    if (text.size() > message.size()) message = text;
  }
  return message;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// A workspace: the demo emulator under `emulator_name`, an empty roms directory and the demo's
// reference computers.
class Workspace {
 public:
  explicit Workspace(const std::string& emulator_name = "mame.exe") {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("velotrax-window-" + std::to_string(random()));
    fs::create_directories(path_ / "roms");
    const fs::path build = VELOTRAX_BUILD_DIR;
    fs::copy_file(build / "velotrax-demo-emulator.exe", path_ / emulator_name);
    fs::copy_file(build / "demo" / "reference.dat", path_ / "reference.dat");
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// velotrax.exe running in a workspace; ended at the end of the test if it is still running.
class Program {
 public:
  explicit Program(const Workspace& workspace) {
    // Short passes: the demo emulator draws this many frames instead of 5000.
    ::SetEnvironmentVariableW(L"VELOTRAX_DEMO_FRAMES", L"300");
    std::wstring command =
        L"\"" + (fs::path(VELOTRAX_BUILD_DIR) / "velotrax.exe").wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workspace.Path().c_str(), &startup, &process_)) {
      ADD_FAILURE() << "velotrax.exe did not start: " << ::GetLastError();
    }
  }
  ~Program() {
    if (process_.hProcess != nullptr) {
      if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.hProcess, 99);
        ::WaitForSingleObject(process_.hProcess, 10000);
      }
      ::CloseHandle(process_.hProcess);
      ::CloseHandle(process_.hThread);
    }
  }

  struct Search {
    DWORD process;
    const std::wstring* caption;
    const wchar_t* window_class;
    HWND found;
  };
  // EnumWindows's call-back (stdcall on 32-bit Windows, so not a lambda): stops at the match.
  static BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<Search*>(data);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    if (process == s->process && ::IsWindowVisible(window) && TextOf(window) == *s->caption &&
        (s->window_class == nullptr || std::wstring(name) == s->window_class)) {
      s->found = window;
      return FALSE;
    }
    return TRUE;
  }
  // The program's visible top-level window with this caption (and window class, when given).
  HWND Find(const std::wstring& caption, const wchar_t* window_class = nullptr) const {
    Search search{process_.dwProcessId, &caption, window_class, nullptr};
    ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  HWND WaitFor(const std::wstring& caption, const wchar_t* window_class = nullptr) const {
    HWND found = nullptr;
    WaitUntil([&] { return (found = Find(caption, window_class)) != nullptr; });
    return found;
  }
  // The exit code once the program has ended, or -1 while it runs on.
  int WaitForExit(DWORD milliseconds = 60000) const {
    if (::WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  PROCESS_INFORMATION process_{};
};

int MainId(std::string_view name) {
  return ControlId(layout::MainWindowLayout(), name);
}
int PreferencesId(std::string_view name) {
  return ControlId(layout::PreferencesLayout(), name);
}
int DisclaimerId(std::string_view name) {
  return ControlId(layout::DisclaimerLayout(), name);
}

HWND Item(HWND window, int id) {
  return ::GetDlgItem(window, id);
}

void Command(HWND window, int id, HWND control = nullptr) {
  ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

LRESULT Ask(HWND window, UINT message) {
  DWORD_PTR answer = 0;
  ::SendMessageTimeoutW(window, message, 0, 0, SMTO_BLOCK, 5000, &answer);
  return static_cast<LRESULT>(answer);
}

// F1 as the keyboard gives it, to the control that has the focus after start-up.
void PressF1(HWND main) {
  HWND ref1 = Item(main, MainId("ref1"));
  ::PostMessageW(ref1, WM_KEYDOWN, VK_F1, 0x003B0001);
  ::PostMessageW(ref1, WM_KEYUP, VK_F1, 0xC03B0001);
}

// A left click in the middle of the tool bar's first button, Start Benchmark.
void ClickStartButton(HWND main) {
  HWND tool_bar = Item(main, MainId("ToolBar1"));
  const LPARAM at = MAKELPARAM(19, 21);
  ::PostMessageW(tool_bar, WM_MOUSEMOVE, 0, at);
  ::PostMessageW(tool_bar, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::PostMessageW(tool_bar, WM_LBUTTONUP, 0, at);
}

bool BothScoresShown(HWND main) {
  return TextOf(Item(main, MainId("edit2"))) != L"N/A" &&
         TextOf(Item(main, MainId("edit1"))) != L"N/A" &&
         TextOf(Item(main, MainId("StatusBar"))) == L"Status : Ready";
}

struct ToolTipSearch {
  DWORD process;
  std::vector<HWND> found;
};
// EnumWindows's call-back: collects the program's tool-tip windows.
BOOL CALLBACK CollectToolTips(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<ToolTipSearch*>(data);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  if (process == search->process && std::wstring(name) == TOOLTIPS_CLASSW) {
    search->found.push_back(window);
  }
  return TRUE;
}

// The text of the status bar's tool-tip. A tool-tip hands its text over by pointer only, so the
// question and the answer lie in the program's own memory.
std::wstring StatusToolTipOf(HWND main) {
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(main, &process_id);
  HANDLE process =
      ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
  if (process == nullptr) return L"(no access)";
  constexpr std::size_t kChars = 4096;
  auto* remote = static_cast<char*>(::VirtualAllocEx(process, nullptr,
                                                     sizeof(TTTOOLINFOW) + kChars * sizeof(wchar_t),
                                                     MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = main;
  tool.uId = reinterpret_cast<UINT_PTR>(Item(main, MainId("StatusBar")));
  tool.lpszText = reinterpret_cast<wchar_t*>(remote + sizeof(tool));
  ToolTipSearch search{process_id, {}};
  ::EnumWindows(CollectToolTips, reinterpret_cast<LPARAM>(&search));
  std::wstring text;
  for (HWND tip : search.found) {
    std::vector<wchar_t> answer(kChars, L'\0');
    ::WriteProcessMemory(process, remote, &tool, sizeof(tool), nullptr);
    ::WriteProcessMemory(process, tool.lpszText, answer.data(), sizeof(wchar_t), nullptr);
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(tip, TTM_GETTEXTW, kChars, reinterpret_cast<LPARAM>(remote), SMTO_BLOCK,
                          5000, &ignored);
    ::ReadProcessMemory(process, tool.lpszText, answer.data(), kChars * sizeof(wchar_t), nullptr);
    answer.back() = L'\0';
    text = answer.data();
    if (!text.empty()) break;
  }
  ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  ::CloseHandle(process);
  return text;
}

std::size_t Count(const std::wstring& text, const std::wstring& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// What the thread of a window of the program has active and focused.
GUITHREADINFO GuiOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info);
  return info;
}

bool OfNoSize(HWND window) {
  RECT place{};
  ::GetWindowRect(window, &place);
  return place.right == place.left && place.bottom == place.top;
}

void Close(const Program& program, HWND main) {
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.WaitForExit(), 0);
}

TEST(WindowTest, FirstRunShowsTheDisclaimerFindsTheEmulatorAndSavesOnClose) {
  Workspace workspace("mamep.exe");
  Program program(workspace);
  const HWND disclaimer = program.WaitFor(L"Disclaimer");
  ASSERT_NE(disclaimer, nullptr);
  EXPECT_NE(TextOf(Item(disclaimer, DisclaimerId("Memo1"))).find(L"Be aware that benchmarking"),
            std::wstring::npos);
  // Before the Disclaimer closes the main window is not on the screen, nor the settings file.
  EXPECT_EQ(program.Find(L"Velotrax 1.0"), nullptr);
  EXPECT_FALSE(fs::exists(workspace.Path() / "velotrax.ini"));
  // The keyboard reaches "I Agree": Tab leaves the text, the space bar presses the button.
  const HWND agree = Item(disclaimer, DisclaimerId("Button1"));
  auto focused = [&] { return GuiOf(disclaimer).hwndFocus; };
  ASSERT_TRUE(WaitUntil([&] { return focused() == Item(disclaimer, DisclaimerId("Memo1")); }));
  ::PostMessageW(focused(), WM_KEYDOWN, VK_TAB, 0x000F0001);
  ::PostMessageW(focused(), WM_KEYUP, VK_TAB, 0xC00F0001);
  ASSERT_TRUE(WaitUntil([&] { return focused() == agree; }));
  ::PostMessageW(agree, WM_KEYDOWN, VK_SPACE, 0x00390001);
  ::PostMessageW(agree, WM_KEYUP, VK_SPACE, 0xC0390001);
  const HWND main = program.WaitFor(L"Velotrax 1.0");
  ASSERT_NE(main, nullptr);
  EXPECT_FALSE(::IsWindowVisible(disclaimer));
  EXPECT_NE(ReadFile(workspace.Path() / "velotrax.ini").find("mamefile=mamep.exe"),
            std::string::npos);
  EXPECT_EQ(TextOf(Item(main, MainId("StatusBar"))), L"Status :");
  EXPECT_EQ(TextOf(Item(main, MainId("rom_selector"))), L"Select Rom");
  // The main window and the Disclaimer are owned by the application window, which holds the
  // task-bar button: of no size, titled with the application title (from velotrax.exe).
  const HWND application = ::GetWindow(main, GW_OWNER);
  ASSERT_NE(application, nullptr);
  EXPECT_TRUE(OfNoSize(application));
  EXPECT_EQ(TextOf(application), L"velotrax");
  EXPECT_EQ(::GetWindow(disclaimer, GW_OWNER), application);
  EXPECT_EQ(::GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  // The demo's reference computers were offered in the selectors.
  EXPECT_EQ(Ask(Item(main, MainId("ref1")), CB_GETCOUNT), 4);
  fs::remove(workspace.Path() / "velotrax.ini");
  Close(program, main);
  EXPECT_TRUE(fs::exists(workspace.Path() / "velotrax.ini"));
  EXPECT_TRUE(fs::exists(workspace.Path() / "mark.dat"));
}

TEST(WindowTest, CombinedBenchmarkFromF1AndTheToolBarShowsBothScoresAndBars) {
  Workspace workspace;
  WriteFile(workspace.Path() / "velotrax.ini",
            "[velotrax]\r\nmamefile=mame.exe\r\nselected=1\r\nmethode=3\r\n");
  Program program(workspace);
  const HWND main = program.WaitFor(L"Velotrax 1.0");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(TextOf(Item(main, MainId("rom_selector"))), L"720");
  PressF1(main);
  ASSERT_TRUE(WaitUntil([&] { return BothScoresShown(main); }))
      << "status: " << TextOf(Item(main, MainId("StatusBar"))).size();
  // Both bars of this computer are drawn on the common scale, one of them full.
  const LRESULT ddraw = Ask(Item(main, MainId("Gauge_ddraw")), kGaugeGetPercent);
  const LRESULT d3d = Ask(Item(main, MainId("gauge_3d3")), kGaugeGetPercent);
  EXPECT_GT(ddraw, 0);
  EXPECT_GT(d3d, 0);
  EXPECT_EQ(Ask(Item(main, MainId("Gauge_ddraw")), kGaugeGetMaxValue),
            std::max(Ask(Item(main, MainId("Gauge_ddraw")), kGaugeGetProgress),
                     Ask(Item(main, MainId("gauge_3d3")), kGaugeGetProgress)));
  // The status bar's tool-tip names the emulator measured, once for both passes.
  const std::wstring tip = StatusToolTipOf(main);
  EXPECT_EQ(Count(tip, L"Emulator \""), 1u) << std::string(tip.begin(), tip.end());
  EXPECT_EQ(Count(tip, L"mame.exe\": "), 1u);

  // Next Rom, then Start Benchmark from the tool bar.
  Command(main, ToolButtonCommand(layout::MainWindowLayout(), "ToolButton2"),
          Item(main, MainId("ToolBar1")));
  ASSERT_TRUE(WaitUntil([&] { return TextOf(Item(main, MainId("edit2"))) == L"N/A"; }));
  ClickStartButton(main);
  ASSERT_TRUE(WaitUntil([&] { return BothScoresShown(main); }));
  Close(program, main);
  const std::string scores = ReadFile(workspace.Path() / "mark.dat");
  EXPECT_NE(scores.find("\r\n720="), std::string::npos) << scores.substr(0, 200);
  EXPECT_NE(scores.find("\r\n720a="), std::string::npos);
  EXPECT_EQ(scores.find("\r\n720=0\r\n"), std::string::npos);
  EXPECT_EQ(scores.find("\r\n720a=0\r\n"), std::string::npos);
}

TEST(WindowTest, RepeatedPassesRunOneAfterTheOtherAndTheOptionRoundTrips) {
  Workspace workspace;
  WriteFile(workspace.Path() / "velotrax.ini",
            "[velotrax]\r\nmamefile=mame.exe\r\nselected=1\r\nmethode=1\r\nrepeat=1\r\n"
            "repeat_most_passes=3\r\n");
  Program program(workspace);
  const HWND main = program.WaitFor(L"Velotrax 1.0");
  ASSERT_NE(main, nullptr);
  // The dialog shows the option as the settings have it.
  Command(main, MenuCommand(layout::MainWindowLayout(), "BenchmarkAll1"));
  const HWND preferences = program.WaitFor(L"Preferences");
  ASSERT_NE(preferences, nullptr);
  HWND page = ::FindWindowExW(preferences, nullptr, L"VelotraxPage", nullptr);
  EXPECT_EQ(Ask(Item(page, PreferencesId("repeat_passes")), BM_GETCHECK), BST_CHECKED);
  EXPECT_EQ(TextOf(Item(page, PreferencesId("repeat_most"))), L"3");
  Command(preferences, PreferencesId("cancel_button"),
          Item(preferences, PreferencesId("cancel_button")));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(preferences); }));

  // Passes of DirectDraw one after the other, counted on the status bar, then the score.
  PressF1(main);
  ASSERT_TRUE(WaitUntil([&] {
    return TextOf(Item(main, MainId("StatusBar"))).find(L"(pass 2") != std::wstring::npos;
  }));
  ASSERT_TRUE(WaitUntil([&] {
    return TextOf(Item(main, MainId("StatusBar"))) == L"Status : Ready" &&
           TextOf(Item(main, MainId("edit2"))) != L"N/A";
  }));

  // Unchecked with OK, the option is off at the next start.
  Command(main, MenuCommand(layout::MainWindowLayout(), "BenchmarkAll1"));
  ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(preferences) != FALSE; }));
  Ask(Item(page, PreferencesId("repeat_passes")), BM_CLICK);
  Command(preferences, PreferencesId("ok_button"), Item(preferences, PreferencesId("ok_button")));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(preferences); }));
  Close(program, main);
  EXPECT_NE(ReadFile(workspace.Path() / "velotrax.ini").find("repeat=0"), std::string::npos);
}

TEST(WindowTest, PreferencesRoundTrip) {
  Workspace workspace;
  WriteFile(workspace.Path() / "velotrax.ini",
            "[velotrax]\r\nmamefile=mame.exe\r\nselected=0\r\nmethode=1\r\n");
  Program program(workspace);
  const HWND main = program.WaitFor(L"Velotrax 1.0");
  ASSERT_NE(main, nullptr);
  Command(main, MenuCommand(layout::MainWindowLayout(), "BenchmarkAll1"));
  const HWND preferences = program.WaitFor(L"Preferences");
  ASSERT_NE(preferences, nullptr);
  // While it is open, the main window takes no input; it owns the dialog, whose task-bar button
  // is the main window's.
  EXPECT_FALSE(::IsWindowEnabled(main));
  EXPECT_EQ(::GetWindow(preferences, GW_OWNER), main);
  HWND options = ::GetParent(::FindWindowExW(preferences, nullptr, L"VelotraxPage", nullptr));
  ASSERT_EQ(options, preferences);
  HWND page = ::FindWindowExW(preferences, nullptr, L"VelotraxPage", nullptr);
  const std::wstring field = TextOf(Item(page, PreferencesId("mamefile_selector")));
  EXPECT_EQ(fs::path(field), workspace.Path() / "mame.exe") << field.size();
  EXPECT_NE(::GetWindowLongPtrW(Item(page, PreferencesId("mamefile_selector")), GWL_EXSTYLE) &
                WS_EX_ACCEPTFILES,
            0);
  // The field's browse button lies over its right end, on top.
  RECT field_place;
  ::GetWindowRect(Item(page, PreferencesId("mamefile_selector")), &field_place);
  POINT inside_button{field_place.right - 10, (field_place.top + field_place.bottom) / 2};
  ::ScreenToClient(page, &inside_button);
  const HWND browse = ::ChildWindowFromPointEx(page, inside_button, CWP_SKIPINVISIBLE);
  wchar_t browse_class[32] = {};
  ::GetClassNameW(browse, browse_class, 32);
  EXPECT_EQ(std::wstring(browse_class), L"Button");
  EXPECT_EQ(::GetWindowLongPtrW(browse, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
  EXPECT_EQ(Ask(Item(page, PreferencesId("use_ddraw")), BM_GETCHECK), BST_CHECKED);
  const std::wstring description = L"Test rig, 4 cores";
  DWORD_PTR ignored;
  ::SendMessageTimeoutW(Item(page, PreferencesId("pc_description")), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(description.c_str()), SMTO_BLOCK, 5000, &ignored);
  Ask(Item(page, PreferencesId("use_d3d")), BM_CLICK);
  Command(preferences, PreferencesId("ok_button"), Item(preferences, PreferencesId("ok_button")));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(preferences); }));
  // Closing the dialog refreshed the display: the description shows at once.
  ASSERT_TRUE(WaitUntil([&] { return TextOf(Item(main, MainId("cpu_info"))) == description; }));
  EXPECT_TRUE(::IsWindowEnabled(main));

  // Cancel brings nothing back: a changed description is refilled at the next opening.
  Command(main, MenuCommand(layout::MainWindowLayout(), "BenchmarkAll1"));
  ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(preferences) != FALSE; }));
  EXPECT_EQ(TextOf(Item(page, PreferencesId("pc_description"))), description);
  ::SendMessageTimeoutW(Item(page, PreferencesId("pc_description")), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(L"not kept"), SMTO_BLOCK, 5000, &ignored);
  Command(preferences, PreferencesId("cancel_button"),
          Item(preferences, PreferencesId("cancel_button")));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(preferences); }));
  EXPECT_EQ(TextOf(Item(main, MainId("cpu_info"))), description);
  Close(program, main);
  EXPECT_NE(ReadFile(workspace.Path() / "velotrax.ini").find("methode=2"), std::string::npos);
  EXPECT_NE(ReadFile(workspace.Path() / "mark.dat").find("cpu=Test rig, 4 cores"),
            std::string::npos);
}

TEST(WindowTest, AnErrorIsShownInTheErrorBoxAndTheProgramGoesOn) {
  Workspace workspace;
  fs::remove(workspace.Path() / "mame.exe");
  WriteFile(workspace.Path() / "velotrax.ini",
            "[velotrax]\r\nmamefile=mame.exe\r\nselected=3\r\nmethode=1\r\n");
  Program program(workspace);
  const HWND main = program.WaitFor(L"Velotrax 1.0");
  ASSERT_NE(main, nullptr);
  PressF1(main);
  // The message box: the application title (from velotrax.exe) as caption, the message with a
  // full stop.
  const HWND box = program.WaitFor(L"velotrax", L"#32770");
  ASSERT_NE(box, nullptr);
  const std::wstring message = BoxMessage(box);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.back(), L'.');
  EXPECT_FALSE(::IsWindowEnabled(main));
  EXPECT_EQ(::GetWindow(box, GW_OWNER), ::GetWindow(main, GW_OWNER));
  Command(box, IDOK, Item(box, IDOK));
  ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(main) != FALSE; }));
  // The window goes on: nothing runs, and the next game can be chosen.
  EXPECT_EQ(TextOf(Item(main, MainId("StatusBar"))), L"Status : Ready");
  // Which file it was waits in the status bar's tool-tip.
  const std::wstring tip = StatusToolTipOf(main);
  EXPECT_NE(tip.find(L"mame.exe\" is missing; choose another in Options > Preferences."),
            std::wstring::npos)
      << std::string(tip.begin(), tip.end());
  Command(main, ToolButtonCommand(layout::MainWindowLayout(), "ToolButton2"),
          Item(main, MainId("ToolBar1")));
  ASSERT_TRUE(
      WaitUntil([&] { return Ask(Item(main, MainId("rom_selector")), CB_GETCURSEL) == 4; }));
  Close(program, main);
}

TEST(WindowTest, TheProgramMinimisesToItsApplicationWindowAndClosesFromIt) {
  Workspace workspace;
  WriteFile(workspace.Path() / "velotrax.ini",
            "[velotrax]\r\nmamefile=mame.exe\r\nselected=1\r\nmethode=1\r\n");
  Program program(workspace);
  const HWND main = program.WaitFor(L"Velotrax 1.0");
  ASSERT_NE(main, nullptr);
  const HWND application = ::GetWindow(main, GW_OWNER);
  ASSERT_NE(application, nullptr);
  // The keyboard goes on to ref2; then the main window is minimised.
  const HWND ref1 = Item(main, MainId("ref1"));
  ASSERT_TRUE(WaitUntil([&] { return GuiOf(main).hwndFocus == ref1; }));
  ::PostMessageW(ref1, WM_KEYDOWN, VK_TAB, 0x000F0001);
  ::PostMessageW(ref1, WM_KEYUP, VK_TAB, 0xC00F0001);
  ASSERT_TRUE(WaitUntil([&] { return GuiOf(main).hwndFocus == Item(main, MainId("ref2")); }));
  ::PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(main) && ::IsIconic(application); }));
  // The application window's restore brings it back as it was, active with the keyboard in ref2,
  // without showing it anew: the show handler would offer the references a second time.
  ::PostMessageW(application, WM_SYSCOMMAND, SC_RESTORE, 0);
  ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(main) && !::IsIconic(application); }));
  EXPECT_TRUE(OfNoSize(application));
  EXPECT_TRUE(WaitUntil([&] { return GuiOf(main).hwndFocus == Item(main, MainId("ref2")); }));
  EXPECT_EQ(GuiOf(main).hwndActive, main);
  EXPECT_EQ(Ask(ref1, CB_GETCOUNT), 4);
  // The task-bar button's Close closes the main window, with its close query.
  fs::remove(workspace.Path() / "velotrax.ini");
  ::PostMessageW(application, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(program.WaitForExit(), 0);
  EXPECT_TRUE(fs::exists(workspace.Path() / "velotrax.ini"));
  EXPECT_TRUE(fs::exists(workspace.Path() / "mark.dat"));
}

// The application window, in this process: of no size, titled with this program's application
// title, with a window menu that has Minimise and Close but no Maximise, Size or Move.
TEST(ApplicationWindowTest, ItIsOfNoSizeAndItsMenuOnlyMinimisesAndCloses) {
  ApplicationWindow application;
  EXPECT_EQ(ApplicationWindowHandle(), application.Handle());
  EXPECT_TRUE(OfNoSize(application.Handle()));
  EXPECT_EQ(TextOf(application.Handle()), ApplicationTitle());
  HMENU menu = ::GetSystemMenu(application.Handle(), FALSE);
  for (UINT absent : {SC_MAXIMIZE, SC_SIZE, SC_MOVE}) {
    EXPECT_EQ(::GetMenuState(menu, absent, MF_BYCOMMAND), static_cast<UINT>(-1)) << absent;
  }
  for (UINT present : {SC_MINIMIZE, SC_CLOSE}) {
    EXPECT_NE(::GetMenuState(menu, present, MF_BYCOMMAND), static_cast<UINT>(-1)) << present;
  }
}

// The gauge's own rules, in this process.
TEST(BarGaugeTest, RangeChecksClampingAndTheFilledColumns) {
  TGauge gauge(HWND_MESSAGE, 1, RECT{0, 0, 329, 9});
  EXPECT_EQ(gauge.PercentFilled(), 0);
  try {
    gauge.SetMaxValue(-1);
    ADD_FAILURE() << "no error";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
  }
  EXPECT_EQ(gauge.MaxValue(), 100);
  EXPECT_THROW(gauge.SetMinValue(101), EInvalidOperation);
  gauge.SetProgress(150);
  EXPECT_EQ(gauge.Progress(), 100);
  gauge.SetMaxValue(50);
  EXPECT_EQ(gauge.Progress(), 50);
  gauge.SetMaxValue(1000);
  gauge.SetProgress(999);
  EXPECT_EQ(gauge.PercentFilled(), 99);
  // A main-window gauge (paint width 328) fills up to column 324 at 99 %, exactly at 50 %.
  EXPECT_EQ(GaugeValues::BarExtent(328, 99), 324);
  EXPECT_EQ(GaugeValues::BarExtent(328, 50), 164);
  EXPECT_EQ(GaugeValues::BarExtent(328, 100), 328);
  EXPECT_EQ(GaugeValues::BarExtent(10, 10), 0);  // the product falls one short here
  gauge.SetMaxValue(3);
  gauge.SetProgress(2);
  EXPECT_EQ(gauge.PercentFilled(), 66);
}

// A drop's memory as the file manager hands it over: the header, then the names, each ending in
// a zero, the list in an empty name; `cut` bytes fewer at its end.
HGLOBAL DropOf(const std::vector<std::wstring>& names, bool wide = true, std::size_t cut = 0) {
  std::string list;
  for (const std::wstring& name : names) {
    if (wide) {
      list.append(reinterpret_cast<const char*>(name.c_str()), (name.size() + 1) * sizeof(wchar_t));
    } else {
      for (wchar_t c : name) list += static_cast<char>(c);
      list += '\0';
    }
  }
  list.append(wide ? sizeof(wchar_t) : 1, '\0');
  list.resize(list.size() - cut);
  HGLOBAL drop = ::GlobalAlloc(GMEM_MOVEABLE, sizeof(DROPFILES) + list.size());
  auto* header = static_cast<DROPFILES*>(::GlobalLock(drop));
  *header = DROPFILES{};
  header->pFiles = sizeof(DROPFILES);
  header->fWide = wide;
  std::memcpy(header + 1, list.data(), list.size());
  ::GlobalUnlock(drop);
  return drop;
}

// Dismisses the error box this process shows next and gives its message.
std::wstring AnswerErrorBox() {
  const std::wstring caption = ApplicationTitle();
  Program::Search search{::GetCurrentProcessId(), &caption, L"#32770", nullptr};
  WaitUntil([&] {
    ::EnumWindows(Program::MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  });
  const std::wstring message = BoxMessage(search.found);
  ::PostMessageW(search.found, WM_COMMAND, IDOK, 0);
  return message;
}

// Files dropped on the field, in this process: what the file manager sends, read as defensively
// as any input.
TEST(FileNameFieldTest, ADropNamesItsFirstFileAndABadOneChangesNothing) {
  HWND parent = ::CreateWindowExW(0, WC_STATICW, L"", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr,
                                  nullptr, nullptr);
  TJvFilenameEdit field(parent, 1, RECT{0, 0, 289, 21}, RegularFont());
  const auto drop = [](HWND to, HGLOBAL block) {
    ::SendMessageW(to, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
  };
  // Several files: the first is taken, and the drop's memory is freed.
  HGLOBAL several = DropOf({L"C:\\emu\\mame64.exe", L"C:\\emu\\mame.exe"});
  drop(field.Handle(), several);
  EXPECT_EQ(field.Text(), "C:\\emu\\mame64.exe");
  EXPECT_EQ(::GlobalFlags(several), static_cast<UINT>(GMEM_INVALID_HANDLE));
  // A folder, named in the ANSI code page and dropped on the browse button: without its "\".
  drop(::FindWindowExW(parent, nullptr, WC_BUTTONW, nullptr), DropOf({L"C:\\emu\\"}, false));
  EXPECT_EQ(field.Text(), "C:\\emu");

  // A name the block cuts off, a list beyond the block, a block shorter than its header.
  drop(field.Handle(), DropOf({L"C:\\emu\\cut.exe"}, true, 2 * sizeof(wchar_t)));
  HGLOBAL beyond = DropOf({L"C:\\emu\\far.exe"});
  static_cast<DROPFILES*>(::GlobalLock(beyond))->pFiles = 4096;
  ::GlobalUnlock(beyond);
  drop(field.Handle(), beyond);
  drop(field.Handle(), ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8));
  EXPECT_EQ(field.Text(), "C:\\emu");

  // A name no file can have: the error box says so, and the text stays.
  std::wstring message;
  std::thread answer([&] { message = AnswerErrorBox(); });
  drop(field.Handle(), DropOf({L"C:\\emu\\what?.exe"}));
  answer.join();
  EXPECT_EQ(message, L"Invalid file name - C:\\emu\\what?.exe.");
  EXPECT_EQ(field.Text(), "C:\\emu");
  ::DestroyWindow(parent);
}

TEST(GuardTest, TheApplicationTitleComesFromTheProgramsFileName) {
  EXPECT_EQ(ApplicationTitleFromPath(L"C:\\Programs\\BENCH.EXE"), L"Bench");
  EXPECT_EQ(ApplicationTitleFromPath(L"C:\\Programs\\bench.new.exe"), L"bench");
}

// Posted and blocking calls from a worker run on the UI thread, in order; a worker still waiting
// in Call is let go when the UI thread's object goes away.
TEST(MessageLoopUiThreadTest, CallsRunOnTheUiThreadInOrder) {
  std::vector<int> order;
  std::vector<DWORD> threads;
  auto ui = std::make_unique<MessageLoopUiThread>();
  HANDLE posted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool done = false;
  std::thread worker([&] {
    for (int i = 1; i <= 3; ++i) {
      ui->Post([&, i] {
        order.push_back(i);
        threads.push_back(::GetCurrentThreadId());
      });
    }
    ::SetEvent(posted);
    ui->Call([&] {
      order.push_back(4);
      threads.push_back(::GetCurrentThreadId());
    });
    ui->Post([&] { done = true; });
  });
  // The three posts wait in the queue before the loop runs any of them.
  ::WaitForSingleObject(posted, INFINITE);
  MSG message;
  while (!done && ::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  worker.join();
  ::CloseHandle(posted);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  for (DWORD id : threads) EXPECT_EQ(id, ::GetCurrentThreadId());
  MessageLoopUiThread* raw = ui.get();
  std::thread waiting([raw] { raw->Call([] {}); });
  // Its call is queued once its message is: from then on it waits.
  MSG queued;
  while (!::PeekMessageW(&queued, nullptr, WM_APP + 1, WM_APP + 1, PM_NOREMOVE)) {
    std::this_thread::sleep_for(10ms);
  }
  ui.reset();
  waiting.join();
}

}  // namespace
}  // namespace velotrax::win32ui
