// The Win32 windows' layout as data: each control's identifier, place and size at 96 pixels per
// inch, text and kind, and the windows' texts. Kept apart from the window code so that the
// toolkit-free layout of ui/ can take its place.
#pragma once

#include <array>
#include <string_view>

namespace velotrax::win32ui::layout {

// What a control is.
enum class Kind {
  label,        // static text, left-aligned
  right_label,  // static text, right-aligned
  bold_label,   // static text in the bold font, sized to its text
  sized_label,  // static text, sized to its text
  selector,     // drop-down list
  gauge,        // bar gauge
  bevel,        // etched horizontal line along the bottom of its box
  group_box,
  push_button,
  radio_button,
  edit,        // single-line edit box
  memo,        // read-only multi-line text with a vertical scroll bar, word wrap
  file_field,  // the file-name field
};

struct Control {
  int id;
  Kind kind;
  int left, top, width, height;
  std::wstring_view text;
};

// --- the main window -------------------------------------------------------------------------
inline constexpr std::wstring_view kMainCaption = L"Velotrax 1.0";
inline constexpr int kMainWidth = 538;
inline constexpr int kMainHeight = 371;

// Command identifiers of the menu and the tool bar.
enum Command : int {
  kStartBenchmark1 = 100,
  kExit2 = 101,
  kBenchmarkAll1 = 102,
  kInfo1 = 103,
  kToolButton4 = kStartBenchmark1,  // the tool bar's Start Benchmark sends the menu's command
  kToolButton1 = 110,               // Previous Rom
  kToolButton2 = 111,               // Next Rom
};

// Control identifiers of the main window.
enum MainControl : int {
  kToolBar1 = 200,
  kLabel4,
  kRomSelector,
  kMemo1,
  kRomDisplay,
  kStatusBar,
  kLabel1,
  kCpuInfo,
  kLabel3,
  kEdit2,
  kGaugeDdraw,
  kLabel2,
  kEdit1,
  kGauge3d3,
  kBevel1,
  kLabel5,
  kRefname1,
  kRef1,
  kLabelRef1Ddraw,
  kGaugeRef1Ddraw,
  kLabelRef1D3d,
  kGaugeRef1D3d,
  kLabel6,
  kRefname2,
  kRef2,
  kLabelRef2Ddraw,
  kGaugeRef2Ddraw,
  kLabelRef2D3d,
  kGaugeRef2D3d,
  kLabel7,
  kRefname3,
  kRef3,
  kLabelRef3Ddraw,
  kGaugeRef3Ddraw,
  kLabelRef3D3d,
  kGaugeRef3D3d,
};

inline constexpr Control kToolBar{kToolBar1, Kind::label, 0, 0, 538, 44, L""};
inline constexpr Control kSelectedRomLabel{kLabel4, Kind::sized_label, 8, 50, 70,
                                           13,      L"Selected Rom:"};
inline constexpr Control kRomSelectorBox{kRomSelector, Kind::selector, 89, 48, 88, 21, L""};
inline constexpr Control kPassLog{kMemo1, Kind::memo, 448, 40, 33, 33, L""};
inline constexpr Control kScoreBox{kRomDisplay, Kind::group_box, 0, 72, 538, 280, L""};
inline constexpr Control kStatus{kStatusBar, Kind::label, 0, 352, 538, 19, L"Status :"};

// Inside rom_display, relative to the box; the selectors come first, in tab order.
inline constexpr std::array<Control, 30> kScoreBoxControls{{
    {kRef1, Kind::selector, 8, 116, 113, 21, L"Select reference"},
    {kRef2, Kind::selector, 8, 181, 113, 21, L"Select reference"},
    {kRef3, Kind::selector, 8, 245, 113, 21, L"Select reference"},
    {kLabel1, Kind::bold_label, 8, 24, 86, 13, L"This Computer:"},
    {kCpuInfo, Kind::label, 168, 24, 337, 13, L""},
    {kLabel3, Kind::right_label, 64, 48, 57, 13, L"DDraw :"},
    {kEdit2, Kind::label, 128, 48, 33, 13, L"N/A"},
    {kGaugeDdraw, Kind::gauge, 168, 50, 329, 9, L""},
    {kLabel2, Kind::right_label, 64, 64, 57, 13, L" D3D :"},
    {kEdit1, Kind::label, 128, 64, 33, 13, L"N/A"},
    {kGauge3d3, Kind::gauge, 168, 66, 329, 9, L""},
    {kBevel1, Kind::bevel, 8, 80, 521, 9, L""},
    {kLabel5, Kind::bold_label, 8, 96, 75, 13, L"Reference 1:"},
    {kRefname1, Kind::label, 168, 96, 353, 13, L""},
    {kLabelRef1Ddraw, Kind::label, 128, 112, 33, 13, L"N/A"},
    {kGaugeRef1Ddraw, Kind::gauge, 168, 114, 329, 9, L""},
    {kLabelRef1D3d, Kind::label, 128, 128, 33, 13, L"N/A"},
    {kGaugeRef1D3d, Kind::gauge, 168, 130, 329, 9, L""},
    {kLabel6, Kind::bold_label, 8, 160, 75, 13, L"Reference 2:"},
    {kRefname2, Kind::label, 168, 160, 353, 13, L""},
    {kLabelRef2Ddraw, Kind::label, 128, 176, 33, 13, L"N/A"},
    {kGaugeRef2Ddraw, Kind::gauge, 168, 178, 329, 9, L""},
    {kLabelRef2D3d, Kind::label, 128, 192, 33, 13, L"N/A"},
    {kGaugeRef2D3d, Kind::gauge, 168, 194, 329, 9, L""},
    {kLabel7, Kind::bold_label, 8, 224, 75, 13, L"Reference 3:"},
    {kRefname3, Kind::label, 168, 224, 353, 13, L""},
    {kLabelRef3Ddraw, Kind::label, 128, 240, 33, 13, L"N/A"},
    {kGaugeRef3Ddraw, Kind::gauge, 168, 242, 329, 9, L""},
    {kLabelRef3D3d, Kind::label, 128, 256, 33, 13, L"N/A"},
    {kGaugeRef3D3d, Kind::gauge, 168, 258, 329, 9, L""},
}};

// The score labels and gauges of each row (this computer, references 1 to 3), DirectDraw first.
inline constexpr int kScoreLabels[4][2] = {{kEdit2, kEdit1},
                                           {kLabelRef1Ddraw, kLabelRef1D3d},
                                           {kLabelRef2Ddraw, kLabelRef2D3d},
                                           {kLabelRef3Ddraw, kLabelRef3D3d}};
inline constexpr int kScoreGauges[4][2] = {{kGaugeDdraw, kGauge3d3},
                                           {kGaugeRef1Ddraw, kGaugeRef1D3d},
                                           {kGaugeRef2Ddraw, kGaugeRef2D3d},
                                           {kGaugeRef3Ddraw, kGaugeRef3D3d}};
// Bar colours by row and method, as RGB triples.
inline constexpr unsigned char kGaugeColours[4][2][3] = {{{0, 0, 255}, {255, 0, 0}},
                                                         {{0, 0, 128}, {128, 0, 0}},
                                                         {{0, 0, 128}, {128, 0, 0}},
                                                         {{0, 0, 128}, {128, 0, 0}}};
inline constexpr int kReferenceNames[3] = {kRefname1, kRefname2, kRefname3};
inline constexpr int kReferenceSelectors[3] = {kRef1, kRef2, kRef3};

// Tool bar buttons from the left: command (0 for a separator), width, image, hint.
struct ToolButton {
  int command;
  int width;
  int image;
  std::wstring_view hint;
};
inline constexpr int kToolButtonHeight = 38;
inline constexpr std::array<ToolButton, 5> kToolButtons{{
    {kToolButton4, 39, 2, L"Start Benchmark"},
    {0, 8, -1, L""},
    {kToolButton1, 39, 1, L"Previous Rom"},
    {kToolButton2, 39, 0, L"Next Rom"},
    {0, 8, -1, L""},
}};

// Menus and their items, captions without accelerator marks.
struct MenuItem {
  int command;
  std::wstring_view caption;
  std::wstring_view shortcut;  // shown at the right of the item
};
struct Menu {
  std::wstring_view caption;
  std::array<MenuItem, 2> items;  // command 0: no item
};
inline constexpr std::array<Menu, 3> kMenus{{
    {L"File", {{{kStartBenchmark1, L"Start Benchmark", L"F1"}, {kExit2, L"Exit", L""}}}},
    {L"Options", {{{kBenchmarkAll1, L"Preferences", L""}, {0, L"", L""}}}},
    {L"About", {{{kInfo1, L"Info", L""}, {0, L"", L""}}}},
}};

// --- the Preferences dialog ------------------------------------------------------------------
inline constexpr std::wstring_view kPreferencesCaption = L"Preferences";
inline constexpr int kPreferencesWidth = 407;
inline constexpr int kPreferencesHeight = 321;

enum PreferencesControl : int {
  kOkButton = 300,
  kCancelButton,
  kPageControl,
  kOptionsGroup,
  kDescriptionLabel,
  kBinaryLabel,
  kPcDescription,
  kMamefileSelector,
  kMethodGroup,
  kUseDdraw,
  kUseD3d,
  kUseBoth,
  kInformationGroup,
  kInformationText,
};

// In tab order.
inline constexpr Control kOk{kOkButton, Kind::push_button, 328, 293, 75, 25, L"OK"};
inline constexpr Control kCancel{kCancelButton, Kind::push_button, 248, 293, 75, 25, L"Cancel"};
inline constexpr Control kPages{kPageControl, Kind::label, 0, 0, 409, 289, L""};
inline constexpr std::array<std::wstring_view, 2> kPageTabs{L"Options", L"Information"};
// On the Options page, relative to the page; the group boxes' contents relative to their box.
inline constexpr Control kOptionsBox{kOptionsGroup, Kind::group_box, 4, 4, 390, 101, L"Options"};
inline constexpr std::array<Control, 4> kOptionsBoxControls{{
    {kPcDescription, Kind::edit, 96, 24, 289, 21, L""},
    {kMamefileSelector, Kind::file_field, 96, 56, 289, 21, L""},
    {kDescriptionLabel, Kind::label, 16, 26, 73, 13, L"PC Desciption :"},
    {kBinaryLabel, Kind::label, 16, 59, 67, 13, L"Mame Binary :"},
}};
inline constexpr Control kMethodBox{kMethodGroup, Kind::group_box,  4, 112, 161,
                                    81,           L"DirectX Method"};
inline constexpr std::array<Control, 3> kMethodBoxControls{{
    {kUseDdraw, Kind::radio_button, 16, 24, 113, 17, L"Use DDraw"},
    {kUseD3d, Kind::radio_button, 16, 40, 89, 17, L"Use D3D"},
    {kUseBoth, Kind::radio_button, 16, 56, 121, 17, L"Use DDraw + D3D"},
}};
// On the Information page.
inline constexpr Control kInformationBox{kInformationGroup,       Kind::group_box, 0, 4, 414, 249,
                                         L"Benchmark Information"};
inline constexpr Control kInformation{kInformationText, Kind::memo, 16, 24, 385, 217, L""};

// The file-name field of the emulator.
inline constexpr std::wstring_view kMameFileFilter = L"All files (*.exe)";
inline constexpr std::wstring_view kMameFilePattern = L"*.exe";
inline constexpr std::wstring_view kMameFileDialogTitle = L"Quillbox";

// The Information page's text, line by line.
extern const std::array<std::wstring_view, 46> kInformationLines;

// --- the Disclaimer and About windows --------------------------------------------------------
inline constexpr std::wstring_view kDisclaimerCaption = L"Disclaimer";
inline constexpr int kDisclaimerWidth = 361;
inline constexpr int kDisclaimerHeight = 165;
enum DisclaimerControl : int { kDisclaimerText = 400, kAgreeButton };
inline constexpr Control kDisclaimerMemo{kDisclaimerText, Kind::memo, 0, 0, 361, 129, L""};
inline constexpr Control kAgree{kAgreeButton, Kind::push_button, 280, 136, 75, 25, L"I Agree"};
extern const std::array<std::wstring_view, 10> kDisclaimerLines;

inline constexpr std::wstring_view kAboutCaption = L"Velotrax";
inline constexpr int kAboutWidth = 313;
inline constexpr int kAboutHeight = 184;
inline constexpr int kAboutFrame = 5;
enum AboutControl : int { kAboutText = 500 };
extern const std::array<std::wstring_view, 14> kAboutLines;

}  // namespace velotrax::win32ui::layout
