// The windows' layout data: the tab order of each window, controls that cover each other, and
// the multi-line texts, as every front end reads them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ui/window_layout.h"
#include "ui/window_texts.h"

using namespace velotrax::layout;

namespace {

const Window* const kWindows[] = {&MainWindowLayout(), &PreferencesLayout(), &DisclaimerLayout(),
                                  &AboutLayout()};

TEST(WindowLayoutTest, EveryControlHasOneNameAndAParentBeforeIt) {
  for (const Window* window : kWindows) {
    SCOPED_TRACE(std::string(window->name));
    std::set<std::string_view> seen;
    for (const Control& control : window->controls) {
      SCOPED_TRACE(std::string(control.name));
      EXPECT_TRUE(control.parent.empty() || seen.count(control.parent));
      EXPECT_TRUE(seen.insert(control.name).second);
    }
  }
}

TEST(WindowLayoutTest, TabOrderIsCompleteAndUniqueInEachParent) {
  for (const Window* window : kWindows) {
    SCOPED_TRACE(std::string(window->name));
    std::set<std::pair<std::string_view, int>> places;
    std::size_t focusable = 0;
    for (const Control& control : window->controls) {
      if (control.tab_order < 0) continue;
      EXPECT_TRUE(places.insert({control.parent, control.tab_order}).second) << control.name;
      if (TakesFocus(control.kind)) ++focusable;
    }
    const std::vector<std::string_view> chain = FocusChain(*window);
    EXPECT_EQ(chain.size(), focusable);
    EXPECT_EQ(std::set<std::string_view>(chain.begin(), chain.end()).size(), chain.size());
  }
  EXPECT_EQ(FocusChain(MainWindowLayout()),
            (std::vector<std::string_view>{"ref1", "ref2", "ref3", "rom_selector"}));
  const std::vector<std::string_view> preferences = FocusChain(PreferencesLayout());
  EXPECT_EQ(
      std::vector<std::string_view>(preferences.begin(), preferences.begin() + 8),
      (std::vector<std::string_view>{"ok_button", "cancel_button", "PageControl1", "pc_description",
                                     "mamefile_selector", "use_ddraw", "use_d3d", "use_both"}));
}

TEST(WindowLayoutTest, VisibleControlsOfOneParentDoNotCoverEachOther) {
  for (const Window* window : kWindows) {
    for (const Control& a : window->controls) {
      for (const Control& b : window->controls) {
        if (&a >= &b || a.parent != b.parent) continue;
        if ((a.style | b.style) & kHidden) continue;
        if (a.kind == ControlKind::tab_page) continue;  // pages share their page control's area
        // The pass modes' rows are 16 pixels apart and their buttons 17 high.
        if (a.kind == ControlKind::radio_button && b.kind == ControlKind::radio_button) continue;
        EXPECT_FALSE(Overlap(a.place, b.place))
            << window->name << ": " << a.name << " and " << b.name;
      }
    }
  }
}

TEST(WindowLayoutTest, MenusTextsAndToolBarAreTheWindows) {
  const Window& main = MainWindowLayout();
  EXPECT_EQ(ControlNamed(main, "rom_display").place.bottom(),
            ControlNamed(main, "StatusBar").place.top);
  const MenuItem& start = main.menus.at(0).items.at(0);
  EXPECT_EQ(start.name, "StartBenchmark1");
  EXPECT_EQ(start.shortcut, "F1");
  int left = 0;
  for (const ToolButton& button : main.tool_buttons) {
    EXPECT_EQ(button.left, left) << button.name;
    left += button.width;
  }
  EXPECT_EQ(AssignAccelerators({"File", "Options", "About"}),
            (std::vector<std::string>{"&File", "&Options", "&About"}));
  EXPECT_EQ(AssignAccelerators({"Save", "S\xc3\xa4ve", "sort"}),
            (std::vector<std::string>{"&Save", "S\xc3\xa4&ve", "s&ort"}));
  EXPECT_EQ(velotrax::texts::InformationLines().size(), 46u);
  EXPECT_EQ(velotrax::texts::DisclaimerLines().size(), 10u);
  EXPECT_EQ(velotrax::texts::AboutLines().size(), 14u);
  EXPECT_EQ(velotrax::texts::AboutLines()[1], std::string(38, ' ') + "Velotrax 1.0");
  EXPECT_EQ(velotrax::texts::JoinLines({"a", "", "b"}, "\r\n"), "a\r\n\r\nb");
  EXPECT_THROW(ControlNamed(main, "Form2"), std::out_of_range);
}

}  // namespace
