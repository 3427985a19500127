// The main window's tool bar: buttons and separators laid out left to right at fixed sizes, with
// etched edges; a double-click on it opens a small dialog to remove and reorder its buttons for
// the rest of the run.
#pragma once

#include <QDialog>
#include <QList>
#include <QListWidget>
#include <QWidget>

namespace velotrax {

class TToolBar : public QWidget {
  Q_OBJECT

 public:
  explicit TToolBar(QWidget* parent = nullptr);

  // Appends an item (a tool button or a separator); the bar owns it.
  void AddItem(QWidget* item);
  // Every item in its original order, shown or not.
  const QList<QWidget*>& AllItems() const { return all_; }
  // The items shown, from the left.
  const QList<QWidget*>& Arrangement() const { return shown_; }
  // Shows exactly these items, in this order, and hides the others.
  void SetArrangement(const QList<QWidget*>& items);
  // A name for an item in the customise dialog: its hint, or "Separator".
  static QString ItemName(const QWidget* item);

  // Makes the customise dialog; exec() it to let the user change the arrangement.
  QDialog* MakeCustomizeDialog();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void LayOut();

  QList<QWidget*> all_;
  QList<QWidget*> shown_;
};

// Two lists: the buttons available but not on the bar, and those on it, with Add, Remove,
// Move Up, Move Down and Reset; the bar follows every change at once.
class TToolBarCustomizeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TToolBarCustomizeDialog(TToolBar* bar);

  QListWidget* available;
  QListWidget* current;

  void AddClick();
  void RemoveClick();
  void MoveUpClick();
  void MoveDownClick();
  void ResetClick();

 private:
  void Fill(const QList<QWidget*>& arrangement);
  void Apply();

  TToolBar* bar_;
};

}  // namespace velotrax
