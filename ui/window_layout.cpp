#include "ui/window_layout.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <stdexcept>

#include "ui/window_texts.h"

namespace velotrax::layout {

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) {
  return r | (g << 8) | (b << 16);
}

constexpr uint32_t kBlue = Rgb(0, 0, 255);
constexpr uint32_t kRed = Rgb(255, 0, 0);
constexpr uint32_t kNavy = Rgb(0, 0, 128);
constexpr uint32_t kMaroon = Rgb(128, 0, 0);

using K = ControlKind;

Control Label(std::string_view name, std::string_view parent, Rect place, std::string_view text,
              uint32_t style = 0) {
  return {.name = name,
          .kind = K::label,
          .parent = parent,
          .place = place,
          .text = text,
          .style = style | kPlainText};
}

Control Gauge(std::string_view name, Rect place, uint32_t colour) {
  return {.name = name,
          .kind = K::bar_gauge,
          .parent = "rom_display",
          .place = place,
          .colour = colour};
}

Control Selector(std::string_view name, std::string_view parent, Rect place, std::string_view text,
                 int tab_order, int visible_items) {
  return {.name = name,
          .kind = K::combo_box,
          .parent = parent,
          .place = place,
          .text = text,
          .tab_order = tab_order,
          .visible_items = visible_items};
}

// One reference block of the score box around its top row; the selector has a row of its own.
void AddReferenceBlock(std::vector<Control>& controls, int k, int top, int selector_top) {
  static constexpr std::string_view titles[] = {"Reference 1:", "Reference 2:", "Reference 3:"};
  static constexpr std::string_view names[3][7] = {
      {"Label5", "refname1", "ref1", "label_ref1_ddraw", "gauge_ref1ddraw", "Label_ref1_d3d",
       "Gauge_ref1d3d"},
      {"Label6", "refname2", "ref2", "label_ref2_ddraw", "Gauge_ref2ddraw", "Label_ref2_d3d",
       "Gauge_ref2d3d"},
      {"Label7", "refname3", "ref3", "label_ref3_ddraw", "Gauge_ref3ddraw", "Label_ref3_d3d",
       "Gauge_ref3d3d"}};
  const auto& n = names[k];
  controls.push_back(Label(n[0], "rom_display", {8, top, 75, 13}, titles[k], kBold | kSizedToText));
  controls.push_back(Label(n[1], "rom_display", {168, top, 353, 13}, ""));
  controls.push_back(
      Selector(n[2], "rom_display", {8, selector_top, 113, 21}, texts::kSelectReference, k, 8));
  controls.push_back(Label(n[3], "rom_display", {128, top + 16, 33, 13}, "N/A"));
  controls.push_back(Gauge(n[4], {168, top + 18, 329, 9}, kNavy));
  controls.push_back(Label(n[5], "rom_display", {128, top + 32, 33, 13}, "N/A"));
  controls.push_back(Gauge(n[6], {168, top + 34, 329, 9}, kMaroon));
}

Window MakeMainWindow() {
  Window w{.name = "Form1",
           .caption = "Velotrax 1.0",
           .frame = Frame::fixed_single,
           .client_width = 538,
           .client_height = 371};
  auto& c = w.controls;
  c.push_back({.name = "ToolBar1", .kind = K::tool_bar, .place = {0, 0, 538, 44}});
  c.push_back(Label("Label4", "", {8, 50, 70, 13}, "Selected Rom:", kSizedToText));
  // Its items are the catalogue's (GameSelectorItem); the first is selected.
  c.push_back(Selector("rom_selector", "", {89, 48, 88, 21}, "Select Rom", 1, 35));
  // Holds the pass log: never visible, one line per line however long.
  c.push_back({.name = "Memo1",
               .kind = K::multi_line_text,
               .place = {448, 40, 33, 33},
               .style = kHidden | kVerticalScrollBar});
  // Its caption is set by the first refresh of the comparison display.
  c.push_back({.name = "rom_display",
               .kind = K::group_box,
               .place = {0, 72, 538, 280},
               .tab_order = 0,
               .style = kBold | kPlainText});
  c.push_back(
      Label("Label1", "rom_display", {8, 24, 86, 13}, "This Computer:", kBold | kSizedToText));
  c.push_back(Label("cpu_info", "rom_display", {168, 24, 337, 13}, ""));
  c.push_back(Label("Label3", "rom_display", {64, 48, 57, 13}, "DDraw :", kRightAligned));
  c.push_back(Label("edit2", "rom_display", {128, 48, 33, 13}, "N/A"));
  c.push_back(Gauge("Gauge_ddraw", {168, 50, 329, 9}, kBlue));
  c.push_back(Label("Label2", "rom_display", {64, 64, 57, 13}, " D3D :", kRightAligned));
  c.push_back(Label("edit1", "rom_display", {128, 64, 33, 13}, "N/A"));
  c.push_back(Gauge("gauge_3d3", {168, 66, 329, 9}, kRed));
  // Right of this computer's bars, in a smaller font: the interval of a score measured as a
  // series, else empty.
  for (const auto& [name, top] : {std::pair{"interval_ddraw", 48}, std::pair{"interval_d3d", 64}}) {
    Control label = Label(name, "rom_display", {499, top, 37, 13}, "", kSmallFont);
    label.described = false;
    c.push_back(label);
  }
  c.push_back(
      {.name = "Bevel1", .kind = K::bevel, .parent = "rom_display", .place = {8, 80, 521, 9}});
  AddReferenceBlock(c, 0, 96, 116);
  AddReferenceBlock(c, 1, 160, 181);
  AddReferenceBlock(c, 2, 224, 245);
  c.push_back({.name = "StatusBar", .kind = K::status_bar, .place = {0, 352, 538, 19}});

  w.menus = {
      {"File1",
       "File",
       {{"StartBenchmark1", "Start Benchmark", "F1"},
        {"Exit2", "Exit", ""},
        // After the described items, so that none of them moves.
        {"Export1", "Export results...", "", false}}},
      {"Benchmark1", "Options", {{"BenchmarkAll1", "Preferences", ""}}},
      {"About1", "About", {{"Info1", "Info", ""}}},
  };
  w.tool_button_top = 2;
  w.tool_button_height = 38;
  w.tool_image_size = 32;
  w.tool_buttons = {
      {"ToolButton4", 0, 39, 2, "Start Benchmark"},
      {"ToolButton5", 39, 8, -1, ""},
      {"ToolButton1", 47, 39, 1, "Previous Rom"},
      {"ToolButton2", 86, 39, 0, "Next Rom"},
      {"ToolButton3", 125, 8, -1, ""},
  };
  w.status_panels = {{texts::kStatusAtStart, 150}};
  return w;
}

Window MakePreferences() {
  Window w{.name = "Form2", .caption = "Preferences", .client_width = 407, .client_height = 321};
  auto& c = w.controls;
  c.push_back({.name = "ok_button",
               .kind = K::push_button,
               .place = {328, 293, 75, 25},
               .text = "OK",
               .tab_order = 0});
  c.push_back({.name = "cancel_button",
               .kind = K::push_button,
               .place = {248, 293, 75, 25},
               .text = "Cancel",
               .tab_order = 1});
  c.push_back(
      {.name = "PageControl1", .kind = K::page_control, .place = {0, 0, 409, 289}, .tab_order = 2});
  c.push_back({.name = "TabSheet1",
               .kind = K::tab_page,
               .parent = "PageControl1",
               .text = "Options",
               .tab_order = 0,
               .style = kSelected});
  c.push_back({.name = "TabSheet2",
               .kind = K::tab_page,
               .parent = "PageControl1",
               .text = "Information",
               .tab_order = 1});
  c.push_back({.name = "GroupBox1",
               .kind = K::group_box,
               .parent = "TabSheet1",
               .place = {4, 4, 390, 101},
               .text = "Options",
               .tab_order = 0});
  c.push_back(Label("Label1", "GroupBox1", {16, 26, 73, 13}, "PC Desciption :", kSizedToText));
  c.push_back(Label("Label2", "GroupBox1", {16, 59, 67, 13}, "Mame Binary :", kSizedToText));
  c.push_back({.name = "pc_description",
               .kind = K::edit_box,
               .parent = "GroupBox1",
               .place = {96, 24, 289, 21},
               .tab_order = 0});
  // The emulator's file dialog: texts::kEmulatorDialogTitle and texts::kEmulatorFilter.
  c.push_back({.name = "mamefile_selector",
               .kind = K::file_name_field,
               .parent = "GroupBox1",
               .place = {96, 56, 289, 21},
               .tab_order = 1,
               .style = kReadOnly});
  c.push_back({.name = "GroupBox2",
               .kind = K::group_box,
               .parent = "TabSheet1",
               .place = {4, 112, 161, 81},
               .text = "DirectX Method",
               .tab_order = 1});
  c.push_back({.name = "use_ddraw",
               .kind = K::radio_button,
               .parent = "GroupBox2",
               .place = {16, 24, 113, 17},
               .text = "Use DDraw",
               .tab_order = 0,
               .style = kChecked});
  c.push_back({.name = "use_d3d",
               .kind = K::radio_button,
               .parent = "GroupBox2",
               .place = {16, 40, 89, 17},
               .text = "Use D3D",
               .tab_order = 1});
  c.push_back({.name = "use_both",
               .kind = K::radio_button,
               .parent = "GroupBox2",
               .place = {16, 56, 121, 17},
               .text = "Use DDraw + D3D",
               .tab_order = 2});
  // Below the described boxes, so that none of them moves. Where the check box's text needs
  // more room than given, the two number boxes and the "%" move right by as much.
  const auto added = [&c](Control control) {
    control.described = false;
    c.push_back(control);
  };
  added({.name = "GroupBox4",
         .kind = K::group_box,
         .parent = "TabSheet1",
         .place = {4, 198, 390, 58},
         .text = "Repeated Passes",
         .tab_order = 2});
  added({.name = "repeat_passes",
         .kind = K::check_box,
         .parent = "GroupBox4",
         .place = {16, 15, 275, 17},
         .text = "Repeat each pass until its result is known within \xc2\xb1",
         .tab_order = 0,
         .style = kSizedToText});
  added({.name = "repeat_percent",
         .kind = K::number_box,
         .parent = "GroupBox4",
         .place = {292, 14, 52, 19},
         .tab_order = 1,
         .style = kFraction});
  added(Label("Label4", "GroupBox4", {347, 17, 12, 13}, "%", kSizedToText));
  // The second row: the emulator kept steady for the series, and the most passes at the right.
  added({.name = "repeat_steady",
         .kind = K::check_box,
         .parent = "GroupBox4",
         .place = {16, 36, 196, 17},
         .text = "Emulator on a processor of its own",
         .tab_order = 2,
         .style = kChecked});
  added(Label("Label5", "GroupBox4", {222, 38, 67, 13}, "Most passes :", kSizedToText));
  added({.name = "repeat_most",
         .kind = K::number_box,
         .parent = "GroupBox4",
         .place = {292, 35, 52, 19},
         .tab_order = 3});
  c.push_back({.name = "GroupBox3",
               .kind = K::group_box,
               .parent = "TabSheet2",
               .place = {0, 4, 414, 249},
               .text = "Benchmark Information",
               .tab_order = 0});
  c.push_back({.name = "Memo1",
               .kind = K::multi_line_text,
               .parent = "GroupBox3",
               .place = {16, 24, 385, 217},
               .tab_order = 0,
               .style = kReadOnly | kWordWrap | kVerticalScrollBar,
               .lines = &texts::InformationLines()});
  return w;
}

Window MakeDisclaimer() {
  Window w{.name = "Form3", .caption = "Disclaimer", .client_width = 361, .client_height = 165};
  w.controls = {
      {.name = "Memo1",
       .kind = K::multi_line_text,
       .place = {0, 0, 361, 129},
       .tab_order = 0,
       .style = kReadOnly | kWordWrap,
       .lines = &texts::DisclaimerLines()},
      {.name = "Button1",
       .kind = K::push_button,
       .place = {280, 136, 75, 25},
       .text = "I Agree",
       .tab_order = 1},
  };
  return w;
}

Window MakeAbout() {
  Window w{.name = "Form4",
           .caption = "Velotrax",
           .frame = Frame::none,
           .client_width = 313,
           .client_height = 184,
           .plain_frame = 5};
  // Any mouse press on the text closes the window, so it takes no focus.
  w.controls = {{.name = "Memo1",
                 .kind = K::multi_line_text,
                 .place = {0, 0, 313, 184},
                 .style = kReadOnly | kWordWrap | kNoBorder,
                 .lines = &texts::AboutLines()}};
  return w;
}

bool Contains(ControlKind kind) {
  return kind == K::group_box || kind == K::page_control || kind == K::tab_page;
}

void AppendChain(const Window& window, std::string_view parent,
                 std::vector<std::string_view>& chain) {
  std::vector<const Control*> children = ChildrenOf(window, parent);
  std::erase_if(children, [](const Control* c) { return c->tab_order < 0; });
  std::stable_sort(children.begin(), children.end(),
                   [](const Control* a, const Control* b) { return a->tab_order < b->tab_order; });
  for (const Control* child : children) {
    if (TakesFocus(child->kind)) chain.push_back(child->name);
    if (Contains(child->kind)) AppendChain(window, child->name, chain);
  }
}

}  // namespace

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
}

const Window& MainWindowLayout() {
  static const Window window = MakeMainWindow();
  return window;
}

const Window& PreferencesLayout() {
  static const Window window = MakePreferences();
  return window;
}

const Window& DisclaimerLayout() {
  static const Window window = MakeDisclaimer();
  return window;
}

const Window& AboutLayout() {
  static const Window window = MakeAbout();
  return window;
}

const Control& ControlNamed(const Window& window, std::string_view name) {
  for (const Control& control : window.controls) {
    if (control.name == name) return control;
  }
  throw std::out_of_range("no control " + std::string(name) + " in " + std::string(window.name));
}

std::vector<const Control*> ChildrenOf(const Window& window, std::string_view parent) {
  std::vector<const Control*> children;
  for (const Control& control : window.controls) {
    if (control.parent == parent) children.push_back(&control);
  }
  return children;
}

bool TakesFocus(ControlKind kind) {
  switch (kind) {
    case K::combo_box:
    case K::edit_box:
    case K::multi_line_text:
    case K::page_control:
    case K::push_button:
    case K::radio_button:
    case K::check_box:
    case K::number_box:
    case K::file_name_field:
      return true;
    default:
      return false;
  }
}

std::vector<std::string_view> FocusChain(const Window& window) {
  std::vector<std::string_view> chain;
  AppendChain(window, "", chain);
  return chain;
}

std::vector<std::string> AssignAccelerators(const std::vector<std::string>& captions) {
  std::vector<std::string> marked;
  std::set<char> taken;
  for (const std::string& caption : captions) {
    std::string text;
    for (const char c : caption) text += c == '&' ? std::string("&&") : std::string(1, c);
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x80 || !std::isalnum(c)) continue;
      const char upper = static_cast<char>(std::toupper(c));
      if (!taken.insert(upper).second) continue;
      text.insert(i, 1, '&');
      break;
    }
    marked.push_back(std::move(text));
  }
  return marked;
}

}  // namespace velotrax::layout
