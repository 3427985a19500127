#include "ui/qt/toolbar_customize.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <memory>

#include "ui/qt/guard.h"

namespace velotrax {

namespace {
constexpr int kItemTop = 2;
constexpr int kItemHeight = 38;
}  // namespace

TToolBar::TToolBar(QWidget* parent) : QWidget(parent) {}

void TToolBar::AddItem(QWidget* item) {
  item->setParent(this);
  all_.append(item);
  shown_.append(item);
  LayOut();
}

void TToolBar::SetArrangement(const QList<QWidget*>& items) {
  shown_.clear();
  for (QWidget* item : items) {
    if (all_.contains(item) && !shown_.contains(item)) shown_.append(item);
  }
  LayOut();
}

QString TToolBar::ItemName(const QWidget* item) {
  return item->toolTip().isEmpty() ? QStringLiteral("Separator") : item->toolTip();
}

void TToolBar::LayOut() {
  for (QWidget* item : all_) item->setVisible(false);
  int left = 0;
  for (QWidget* item : shown_) {
    item->setGeometry(left, kItemTop, item->width(), kItemHeight);
    item->setVisible(true);
    left += item->width();
  }
  update();
}

QDialog* TToolBar::MakeCustomizeDialog() {
  return new TToolBarCustomizeDialog(this);
}

void TToolBar::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  RunGuarded([this] {
    std::unique_ptr<QDialog> dialog(MakeCustomizeDialog());
    dialog->exec();
  });
}

void TToolBar::paintEvent(QPaintEvent*) {
  // Etched edges on the left, top and bottom sides.
  QPainter p(this);
  const QColor shadow = palette().color(QPalette::Dark);
  const QColor light = palette().color(QPalette::Light);
  const int w = width();
  const int h = height();
  p.setPen(shadow);
  p.drawLine(0, 0, w - 1, 0);
  p.drawLine(0, h - 2, w - 1, h - 2);
  p.drawLine(0, 0, 0, h - 2);
  p.setPen(light);
  p.drawLine(1, 1, w - 1, 1);
  p.drawLine(0, h - 1, w - 1, h - 1);
  p.drawLine(1, 1, 1, h - 3);
}

TToolBarCustomizeDialog::TToolBarCustomizeDialog(TToolBar* bar) : QDialog(bar), bar_(bar) {
  setObjectName("ToolBarCustomize");
  setWindowTitle("Customize Toolbar");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  available = new QListWidget(this);
  available->setObjectName("available");
  current = new QListWidget(this);
  current->setObjectName("current");

  auto button = [this](const char* text, void (TToolBarCustomizeDialog::*click)()) {
    auto* b = new QPushButton(text, this);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this,
            [this, click] { RunGuarded([this, click] { (this->*click)(); }); });
    return b;
  };
  auto* middle = new QVBoxLayout;
  middle->addStretch();
  middle->addWidget(button("Add ->", &TToolBarCustomizeDialog::AddClick));
  middle->addWidget(button("<- Remove", &TToolBarCustomizeDialog::RemoveClick));
  middle->addStretch();
  auto* right = new QVBoxLayout;
  auto* close = new QPushButton("Close", this);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  close->setDefault(true);
  right->addWidget(close);
  right->addWidget(button("Reset", &TToolBarCustomizeDialog::ResetClick));
  right->addSpacing(16);
  right->addWidget(button("Move Up", &TToolBarCustomizeDialog::MoveUpClick));
  right->addWidget(button("Move Down", &TToolBarCustomizeDialog::MoveDownClick));
  right->addStretch();

  auto* lists = new QHBoxLayout(this);
  auto* left_column = new QVBoxLayout;
  left_column->addWidget(new QLabel("Available buttons:", this));
  left_column->addWidget(available);
  auto* right_column = new QVBoxLayout;
  right_column->addWidget(new QLabel("Tool bar buttons:", this));
  right_column->addWidget(current);
  lists->addLayout(left_column);
  lists->addLayout(middle);
  lists->addLayout(right_column);
  lists->addLayout(right);
  resize(480, 260);
  Fill(bar_->Arrangement());
}

void TToolBarCustomizeDialog::Fill(const QList<QWidget*>& arrangement) {
  available->clear();
  current->clear();
  for (QWidget* item : bar_->AllItems()) {
    if (arrangement.contains(item)) continue;
    auto* entry = new QListWidgetItem(TToolBar::ItemName(item), available);
    entry->setData(Qt::UserRole, QVariant::fromValue(static_cast<QObject*>(item)));
  }
  for (QWidget* item : arrangement) {
    auto* entry = new QListWidgetItem(TToolBar::ItemName(item), current);
    entry->setData(Qt::UserRole, QVariant::fromValue(static_cast<QObject*>(item)));
  }
}

void TToolBarCustomizeDialog::Apply() {
  QList<QWidget*> arrangement;
  for (int row = 0; row < current->count(); ++row) {
    arrangement.append(
        qobject_cast<QWidget*>(current->item(row)->data(Qt::UserRole).value<QObject*>()));
  }
  bar_->SetArrangement(arrangement);
}

void TToolBarCustomizeDialog::AddClick() {
  const int row = available->currentRow();
  if (row < 0) return;
  const int at = current->currentRow() < 0 ? current->count() : current->currentRow();
  current->insertItem(at, available->takeItem(row));
  current->setCurrentRow(at);
  Apply();
}

void TToolBarCustomizeDialog::RemoveClick() {
  const int row = current->currentRow();
  if (row < 0) return;
  available->addItem(current->takeItem(row));
  Apply();
}

void TToolBarCustomizeDialog::MoveUpClick() {
  const int row = current->currentRow();
  if (row < 1) return;
  current->insertItem(row - 1, current->takeItem(row));
  current->setCurrentRow(row - 1);
  Apply();
}

void TToolBarCustomizeDialog::MoveDownClick() {
  const int row = current->currentRow();
  if (row < 0 || row + 1 >= current->count()) return;
  current->insertItem(row + 1, current->takeItem(row));
  current->setCurrentRow(row + 1);
  Apply();
}

void TToolBarCustomizeDialog::ResetClick() {
  Fill(bar_->AllItems());
  Apply();
}

}  // namespace velotrax
