#include "ui/layout_widgets.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QToolButton>
#include <algorithm>

#include "ui/application.h"
#include "ui/classic_group_box.h"
#include "ui/filename_edit.h"
#include "ui/gauge.h"
#include "ui/toolbar_customize.h"
#include "ui/window_texts.h"

namespace velotrax {

namespace {

using layout::Control;
using layout::ControlKind;

// A sunken (etched) horizontal line along the bottom edge of its box.
class TBevel : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const int bottom = height() - 1;
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(0, bottom - 1, width() - 1, bottom - 1);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(0, bottom, width() - 1, bottom);
  }
};

// The gap between two groups of tool buttons, with an etched divider in its middle.
class TToolSeparator : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const int x = width() / 2 - 1;
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(x, 2, x, height() - 3);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(x + 1, 2, x + 1, height() - 3);
  }
};

// Items of a selector's list, 13 pixels high.
class TSelectorItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), 13};
  }
};

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QWidget* MakeLabel(const Control& c, QWidget* parent, QRect& place) {
  auto* label = new QLabel(Text(c.text), parent);
  // Names come from the files: "<b>" in a description is shown, not obeyed.
  if (c.style & layout::kPlainText) label->setTextFormat(Qt::PlainText);
  label->setAlignment(((c.style & layout::kRightAligned) ? Qt::AlignRight : Qt::AlignLeft) |
                      Qt::AlignVCenter);
  if (c.style & layout::kSizedToText) {
    // Sized to its text: the laid-out width is what the text needs in the original font; where
    // the fallback font is wider the label grows rather than cut its text.
    label->setFont(LayoutFont(c.style));
    place.setWidth(std::max(place.width(), label->fontMetrics().horizontalAdvance(label->text())));
  }
  return label;
}

QWidget* MakeSelector(const Control& c, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  // A list that drops down below the box with a fixed number of rows, rather than a menu
  // centred on the current item that fills the screen height.
  combo->setStyleSheet("QComboBox { combobox-popup: 0; }");
  combo->setItemDelegate(new TSelectorItemDelegate(combo));
  combo->setMaxVisibleItems(c.visible_items);
  // The list was set up before the style sheet took the menu away, without its scroll bar:
  // a longer list than fits shows one, so that the items beyond the last row can be found.
  combo->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  combo->setFocusPolicy(Qt::StrongFocus);
  if (!c.text.empty()) combo->addItem(Text(c.text));
  return combo;
}

QWidget* MakeText(const Control& c, QWidget* parent) {
  auto* text = new QPlainTextEdit(parent);
  text->setReadOnly(c.style & layout::kReadOnly);
  text->setLineWrapMode((c.style & layout::kWordWrap) ? QPlainTextEdit::WidgetWidth
                                                      : QPlainTextEdit::NoWrap);
  if (c.style & layout::kVerticalScrollBar) {
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  } else {
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  if (c.style & layout::kNoBorder) text->setFrameShape(QFrame::NoFrame);
  if (c.lines != nullptr)
    text->setPlainText(QString::fromStdString(texts::JoinLines(*c.lines, "\n")));
  if (c.style & layout::kHidden) text->setVisible(false);
  return text;
}

QWidget* MakeToolBar(const layout::Window& window, QWidget* parent,
                     const QList<QPixmap>& tool_images, LaidOutWidgets& widgets) {
  auto* bar = new TToolBar(parent);
  for (const layout::ToolButton& b : window.tool_buttons) {
    QWidget* item = nullptr;
    if (b.Separator()) {
      item = new TToolSeparator;
    } else {
      auto* button = new QToolButton;
      if (b.image < tool_images.size()) button->setIcon(QIcon(tool_images[b.image]));
      button->setIconSize(QSize(window.tool_image_size, window.tool_image_size));
      button->setAutoRaise(true);
      button->setFocusPolicy(Qt::NoFocus);
      button->setToolTip(Text(b.hint));
      item = button;
    }
    item->setObjectName(Text(b.name));
    item->resize(b.width, window.tool_button_height);
    bar->AddItem(item);
    widgets.Add(b.name, item);
  }
  return bar;
}

QWidget* MakeStatusBar(const layout::Window& window, QWidget* parent, LaidOutWidgets& widgets) {
  auto* bar = new QStatusBar(parent);
  bar->setSizeGripEnabled(false);
  for (const layout::StatusPanel& p : window.status_panels) {
    auto* panel = new QLabel(Text(p.text));
    panel->setObjectName(QStringLiteral("StatusPanel"));
    panel->setTextFormat(Qt::PlainText);
    bar->addWidget(panel, 1);
    widgets.Add("StatusPanel", panel);
  }
  return bar;
}

QWidget* MakeWidget(const layout::Window& window, const Control& c, QWidget* parent, QRect& place,
                    const QList<QPixmap>& tool_images, LaidOutWidgets& widgets) {
  switch (c.kind) {
    case ControlKind::label:
      return MakeLabel(c, parent, place);
    case ControlKind::combo_box:
      return MakeSelector(c, parent);
    case ControlKind::edit_box:
      return new QLineEdit(parent);
    case ControlKind::multi_line_text:
      return MakeText(c, parent);
    case ControlKind::group_box:
      return new TClassicGroupBox(Text(c.text), parent);
    case ControlKind::page_control:
      return new QTabWidget(parent);
    case ControlKind::tab_page: {
      auto* page = new QWidget;
      auto* pages = qobject_cast<QTabWidget*>(parent);
      if (pages == nullptr) throw std::logic_error("a tab page outside a page control");
      pages->addTab(page, Text(c.text));
      if (c.style & layout::kSelected) pages->setCurrentWidget(page);
      return page;
    }
    case ControlKind::push_button:
      return new QPushButton(Text(c.text), parent);
    case ControlKind::radio_button: {
      auto* button = new QRadioButton(Text(c.text), parent);
      button->setChecked(c.style & layout::kChecked);
      return button;
    }
    case ControlKind::check_box: {
      auto* box = new QCheckBox(Text(c.text), parent);
      box->setChecked(c.style & layout::kChecked);
      box->setFont(LayoutFont(c.style));
      if (c.style & layout::kSizedToText) place.setWidth(box->sizeHint().width());
      return box;
    }
    case ControlKind::number_box:
      if (c.style & layout::kFraction) return new QDoubleSpinBox(parent);
      return new QSpinBox(parent);
    case ControlKind::file_name_field:
      return new TJvFilenameEdit(parent);
    case ControlKind::bar_gauge: {
      auto* gauge = new TGauge(parent);
      gauge->SetShowText(false);
      gauge->SetForeColor(c.colour);
      return gauge;
    }
    case ControlKind::bevel:
      return new TBevel(parent);
    case ControlKind::tool_bar:
      return MakeToolBar(window, parent, tool_images, widgets);
    case ControlKind::status_bar:
      return MakeStatusBar(window, parent, widgets);
  }
  throw std::logic_error("a control of unknown kind");
}

}  // namespace

QWidget* LaidOutWidgets::Find(std::string_view name) const {
  return widgets_.value(Text(name));
}

void LaidOutWidgets::Add(std::string_view name, QWidget* widget) {
  widgets_.insert(Text(name), widget);
}

QRect ToQRect(const layout::Rect& rect) {
  return {rect.left, rect.top, rect.width, rect.height};
}

QFont LayoutFont(uint32_t style) {
  QFont font = WindowFont();
  if (style & layout::kBold) font.setBold(true);
  if (style & layout::kSmallFont) font.setPixelSize((font.pixelSize() * 7 + 4) / 8);
  return font;
}

LaidOutWidgets BuildLayout(const layout::Window& window, QWidget* client,
                           const QList<QPixmap>& tool_images, QPoint offset) {
  LaidOutWidgets widgets;
  for (const Control& c : window.controls) {
    QWidget* parent = c.parent.empty() ? client : widgets.Find(c.parent);
    if (parent == nullptr) throw std::logic_error("a control before its parent");
    QRect place = ToQRect(c.place);
    if (c.parent.empty()) place.translate(offset);
    QWidget* widget = MakeWidget(window, c, parent, place, tool_images, widgets);
    widget->setObjectName(Text(c.name));
    widget->setFont(LayoutFont(c.style));
    if (c.kind != ControlKind::tab_page) widget->setGeometry(place);
    widgets.Add(c.name, widget);
  }
  return widgets;
}

void ApplyTabOrder(const layout::Window& window, const LaidOutWidgets& widgets) {
  const std::vector<std::string_view> chain = layout::FocusChain(window);
  for (std::size_t i = 1; i < chain.size(); ++i) {
    // A page control's pages follow it by themselves.
    if (layout::ControlNamed(window, chain[i - 1]).kind == ControlKind::page_control) continue;
    QWidget::setTabOrder(widgets.Find(chain[i - 1]), widgets.Find(chain[i]));
  }
}

}  // namespace velotrax
