// TJvFilenameEdit: a single-line box naming a file, with a browse button inside its right end that
// runs the file-open dialog, file drops from the file manager and filtered clipboard commands.
#pragma once

#include <QImage>
#include <QKeySequence>
#include <QLineEdit>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "storage/file_names.h"

class QMenu;
class QToolButton;

namespace velotrax {

// "Label|pattern|Label|pattern" as Qt file-dialog filters ("Label (pattern)").
QStringList DialogFilters(const QString& filter);

// --- the field ---------------------------------------------------------------------------------

enum class TJvClipboardCommand { caCopy, caCut, caPaste, caUndo };
enum class TOpenOption { ofHideReadOnly, ofNoChangeDir, ofAllowMultiSelect, ofFileMustExist };
enum class TJvDialogKind { dkOpen };

// What the field asks of the file dialog.
struct FileDialogRequest {
  QString title;
  QStringList filters;   // Qt filter entries; the second "All files (*)" one included
  int filter_index = 0;  // index into filters of the selected entry
  QString initial_dir;   // empty: the platform's own choice
  QString file_name;     // proposed name, empty for none
  bool multi_select = false;
};

// What the user answered.
struct FileDialogAnswer {
  bool confirmed = false;
  std::vector<std::string> files;  // full paths, the first is the dialog's file name
};

class TJvFilenameEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TJvFilenameEdit(QWidget* parent = nullptr);
  ~TJvFilenameEdit() override;

  // Runs the file dialog; tests replace it to answer without a window. Unset: QFileDialog.
  static std::function<FileDialogAnswer(QWidget* parent, const FileDialogRequest& request)>
      RunFileDialog;

  // The text as a byte string (the bytes last set when the text still shows them).
  std::string Text() const;
  // Sets the text directly: no check, no quotes, the chosen files untouched.
  void SetText(const std::string& bytes);

  // The text, or NormalizeFileText of it when AddQuotes is on.
  std::string FileName() const;
  // Checks, quotes when AddQuotes is on, clears the chosen files; throws EComboEditError.
  void SetFileName(const std::string& v);
  // Stored name of the file FileName names, without directory; empty when it does not exist.
  std::string ShortFileName() const;
  std::string LongFileName() const;
  // Runs the file dialog and takes the confirmed file.
  void BrowseForFile();
  // Stores one dropped name (appended to the chosen files in multiple-files mode).
  void TakeFileName(const std::string& v);
  void ClearChosenFiles();
  const std::vector<std::string>& ChosenFiles() const { return chosen_files_; }

  bool AddQuotes() const { return add_quotes_; }
  void SetAddQuotes(bool on) { add_quotes_ = on; }
  bool DirectInput() const { return direct_input_; }
  void SetDirectInput(bool on);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool on);
  bool AcceptFiles() const { return accept_files_; }
  void SetAcceptFiles(bool on);
  const std::set<TJvClipboardCommand>& ClipboardCommands() const { return clipboard_commands_; }
  void SetClipboardCommands(std::set<TJvClipboardCommand> commands) {
    clipboard_commands_ = std::move(commands);
  }
  QKeySequence ClickKey() const { return click_key_; }
  void SetClickKey(const QKeySequence& key) { click_key_ = key; }

  TJvDialogKind DialogKind() const { return TJvDialogKind::dkOpen; }
  QString DialogTitle() const { return dialog_title_; }
  void SetDialogTitle(const QString& title) { dialog_title_ = title; }
  QString Filter() const { return filter_; }
  void SetFilter(const QString& filter) { filter_ = filter; }
  int FilterIndex() const { return filter_index_; }
  void SetFilterIndex(int index) { filter_index_ = index; }
  const std::set<TOpenOption>& DialogOptions() const { return dialog_options_; }
  void SetDialogOptions(std::set<TOpenOption> options);
  std::string InitialDir() const { return initial_dir_; }
  void SetInitialDir(const std::string& dir) { initial_dir_ = StoredInitialDir(dir); }
  std::string DefaultExt() const { return default_ext_; }
  void SetDefaultExt(const std::string& ext) { default_ext_ = ext; }
  // The name the dialog proposes at its next opening (its memory of the last answer).
  std::string DialogFileName() const { return dialog_file_name_; }

  // Editing requests as the keyboard and the context menu send them, filtered by
  // ClipboardCommands, DirectInput and the read-only flag; a clear request always empties.
  void CopyRequest();
  void CutRequest();
  void PasteRequest();
  void UndoRequest();
  void ClearRequest();

  QToolButton* Button() const { return button_; }
  // The field's context menu (undo, cut, copy, paste, delete, select all), owned by the caller.
  QMenu* CreateEditMenu(QWidget* parent);

  std::function<void(TJvFilenameEdit& Sender)> OnButtonClick;
  using TExecOpenDialogEvent =
      std::function<void(TJvFilenameEdit& Sender, std::string& Name, bool& Action)>;
  TExecOpenDialogEvent OnBeforeDialog;
  TExecOpenDialogEvent OnAfterDialog;
  std::function<void(TJvFilenameEdit& Sender)> OnDropFiles;

  // The opening-folder picture, 14 x 12, magenta where transparent: classic or themed.
  static QImage FolderPicture(bool themed);
  // The same picture with magenta made transparent; made once per run and shared.
  static const QPixmap& FolderGlyph(bool themed);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ButtonPressed();
  void ButtonClick();
  void DropFiles(const std::vector<std::string>& paths);
  void CutAtLineBreak(const QString& text);
  void PlaceButton();
  void PickGlyph();
  void ApplyReadOnly();
  bool MultipleFiles() const;
  bool Allows(TJvClipboardCommand command) const;
  bool CanChangeText() const { return direct_input_ && !read_only_; }

  QToolButton* button_ = nullptr;
  std::string text_bytes_;  // the bytes behind the text when it was last set from bytes
  bool add_quotes_ = true;
  bool direct_input_ = true;
  bool read_only_ = false;
  bool accept_files_ = true;
  std::set<TJvClipboardCommand> clipboard_commands_{
      TJvClipboardCommand::caCopy, TJvClipboardCommand::caCut, TJvClipboardCommand::caPaste,
      TJvClipboardCommand::caUndo};
  QKeySequence click_key_{Qt::ALT | Qt::Key_Down};
  QString dialog_title_ = QStringLiteral("Browse");
  QString filter_ = QStringLiteral("All files (*.*)|*.*");
  int filter_index_ = 1;
  std::set<TOpenOption> dialog_options_{TOpenOption::ofHideReadOnly};
  std::string initial_dir_;
  std::string default_ext_;
  std::string dialog_file_name_;
  std::vector<std::string> chosen_files_;
};

}  // namespace velotrax
