// The four windows' layout as data, without a toolkit, for every front end: each control's name,
// kind, place, text, font and tab order, and each window's caption, client size, menus, tool bar
// and status bar. Places are pixels at 96 pixels per inch (the font "MS Sans Serif" at 8 points,
// 11 pixels high), left and top within the parent's client area.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velotrax::layout {

enum class ControlKind {
  label,            // static text
  combo_box,        // drop-down list: the user picks, types nothing
  edit_box,         // single-line edit box
  multi_line_text,  // multi-line text box (its lines: Control::lines)
  group_box,        // framed box with a caption; holds controls
  page_control,     // tabbed pages; holds tab pages
  tab_page,         // one page of a page control (its text is the tab's); fills the page area
  push_button,
  radio_button,  // exclusive with the other radio buttons of its parent
  check_box,
  number_box,       // spin box for a number
  file_name_field,  // edit box with a browse button inside its right end
  bar_gauge,        // one score as a horizontal bar
  bevel,            // etched horizontal line along the bottom edge of its box
  tool_bar,         // the window's tool bar (its buttons: Window::tool_buttons)
  status_bar,       // the window's status bar (its panels: Window::status_panels)
};

// Left and top within the parent, width and height; right and bottom are exclusive.
struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  int right() const { return left + width; }
  int bottom() const { return top + height; }
};

// True when the two rectangles share at least one pixel.
bool Overlap(const Rect& a, const Rect& b);

// Properties of a control, or-ed together in Control::style.
enum Style : uint32_t {
  kBold = 1u << 0,          // the window's font in bold
  kRightAligned = 1u << 1,  // label text at the right of its box (otherwise at the left)
  kSizedToText = 1u << 2,   // grows to its text where the font needs more than the width given
  kHidden = 1u << 3,        // never visible
  kReadOnly = 1u << 4,
  kWordWrap = 1u << 5,
  kVerticalScrollBar = 1u << 6,
  kChecked = 1u << 7,    // radio or check box checked when created
  kSmallFont = 1u << 8,  // the window's font at 7/8 of its size
  kNoBorder = 1u << 9,
  kSelected = 1u << 10,   // the tab page selected when created
  kPlainText = 1u << 11,  // text is shown as it stands (names from files are no markup)
  kFraction = 1u << 12,   // number box: a number with a fraction (otherwise a whole number)
};

struct Control {
  std::string_view name{};  // the control's name; also its object name in the toolkit
  ControlKind kind = ControlKind::label;
  std::string_view parent{};  // the control it lies in; empty for the window's client area
  Rect place{};               // within the parent (a tab page fills its page control's page area)
  std::string_view text{};    // caption, initial text, or the first item of a combo box
  int tab_order = -1;         // place among its parent's children in the tab order; -1: none
  uint32_t style = 0;         // Style flags
  uint32_t colour = 0;        // bar gauge: fill colour, red in the lowest byte
  int visible_items = 0;      // combo box: rows shown when dropped down
  const std::vector<std::string>* lines = nullptr;  // multi-line text: its lines
  bool described = true;  // false for what the program adds beyond the described window
};

// A menu item; a shortcut is written as a key name ("F1"), empty for none.
struct MenuItem {
  std::string_view name{}, caption{}, shortcut{};
  bool described = true;
};

struct Menu {
  std::string_view name{}, caption{};
  std::vector<MenuItem> items{};
};

// A tool bar button: its image index in the tool bar's image list and its hint; image -1 and an
// empty hint make a separator.
struct ToolButton {
  std::string_view name{};
  int left = 0, width = 0;
  int image = -1;
  std::string_view hint{};
  bool Separator() const { return image < 0; }
};

struct StatusPanel {
  std::string_view text{};
  int width = 0;  // the one panel spans the whole bar; the width matters only before another
};

enum class Frame {
  fixed_single,  // title bar with minimise and close, system menu; no maximise, not resizable
  dialog,        // dialog frame, title bar without window menu or buttons; not resizable
  none,          // no title bar, no border decoration
};

struct Window {
  std::string_view name{};     // "Form1" to "Form4"
  std::string_view caption{};  // title bar text (the About window has none to show it in)
  Frame frame = Frame::dialog;
  int client_width = 0, client_height = 0;
  int plain_frame = 0;  // width of a plain frame the window draws around its client area
  std::string_view font_face = "MS Sans Serif";
  int font_points = 8;
  int font_pixels = 11;
  std::vector<Control> controls{};  // in the order they are created
  std::vector<Menu> menus{};
  int tool_button_top = 0, tool_button_height = 0, tool_image_size = 0;
  std::vector<ToolButton> tool_buttons{};  // from the left
  std::vector<StatusPanel> status_panels{};
};

// The main window, the Preferences dialog, the Disclaimer window and the About window.
const Window& MainWindowLayout();
const Window& PreferencesLayout();
const Window& DisclaimerLayout();
const Window& AboutLayout();

// The control of that name; throws std::out_of_range when the window has none.
const Control& ControlNamed(const Window& window, std::string_view name);
// The controls lying in parent (empty: the client area), in the order they are created.
std::vector<const Control*> ChildrenOf(const Window& window, std::string_view parent);
// Whether a control of this kind can take the keyboard focus.
bool TakesFocus(ControlKind kind);
// The controls that take the focus, in tab order through the whole window: each parent's
// children by tab order, a container's own children at its place.
std::vector<std::string_view> FocusChain(const Window& window);

// Menu captions with "&" before each one's accelerator: the first ASCII letter or digit, from
// the left, that no earlier caption of the same menu has taken (case ignored); a "&" of the
// caption itself is doubled.
std::vector<std::string> AssignAccelerators(const std::vector<std::string>& captions);

}  // namespace velotrax::layout
