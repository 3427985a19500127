#include "ui/qt/file_name_field.h"

#include <QAction>
#include <QBitmap>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <memory>

#include "base/errors.h"
#include "ui/qt/guard.h"
#include "ui/qt/text_codec.h"

namespace velotrax {

// The file-name rules themselves are in storage/file_names.h, usable without Qt.

namespace {

std::string CutAtLineBreakBytes(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace

QStringList DialogFilters(const QString& filter) {
  QStringList entries;
  const QStringList parts = filter.split(QLatin1Char('|'));
  bool shows_all = false;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    if (patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(QStringLiteral("*"))) {
      shows_all = true;
    }
    // A label that already names its patterns, "All files (*.exe)", shows them once.
    const bool named = parts[i].endsWith(QStringLiteral("(%1)").arg(patterns));
    entries << (named ? parts[i] : QStringLiteral("%1 (%2)").arg(parts[i], patterns));
  }
  // Programs here rarely carry an extension, so a filter such as "*.exe" alone would hide them.
  if (!shows_all) entries << QStringLiteral("All files (*)");
  return entries;
}

// --- the field -----------------------------------------------------------------------------------

std::function<FileDialogAnswer(QWidget* parent, const FileDialogRequest& request)>
    TJvFilenameEdit::RunFileDialog;

namespace {

constexpr int kButtonWidth = 21;

FileDialogAnswer RunQtFileDialog(QWidget* parent, const FileDialogRequest& request) {
  QFileDialog dialog(parent, request.title, request.initial_dir);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Nothing demands that the file exist: a typed name comes back as typed.
  dialog.setFileMode(request.multi_select ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
  dialog.setNameFilters(request.filters);
  if (request.filter_index >= 0 && request.filter_index < request.filters.size()) {
    dialog.selectNameFilter(request.filters[request.filter_index]);
  }
  if (!request.file_name.isEmpty()) dialog.selectFile(request.file_name);
  FileDialogAnswer answer;
  if (dialog.exec() != QDialog::Accepted) return answer;
  for (const QString& file : dialog.selectedFiles()) {
    answer.files.push_back(QFile::encodeName(file).toStdString());
  }
  answer.confirmed = !answer.files.empty();
  return answer;
}

// Draws the opening folder on magenta: the back of the folder with its tab, the front flap
// tilted open in front of it.
QImage DrawFolder(QColor outline, QColor back, QColor front) {
  QImage picture(14, 12, QImage::Format_RGB32);
  picture.fill(QColor(255, 0, 255));
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(outline);
  painter.setBrush(back);
  const QPoint back_shape[] = {{0, 1}, {4, 1}, {5, 2}, {10, 2}, {10, 5}, {3, 5}, {0, 11}};
  painter.drawPolygon(back_shape, 7);
  painter.setBrush(front);
  const QPoint front_shape[] = {{0, 11}, {3, 5}, {13, 5}, {10, 11}};
  painter.drawPolygon(front_shape, 4);
  return picture;
}

}  // namespace

QImage TJvFilenameEdit::FolderPicture(bool themed) {
  if (themed) {
    return DrawFolder(QColor(150, 110, 40), QColor(220, 180, 90), QColor(250, 220, 130));
  }
  return DrawFolder(QColor(0, 0, 0), QColor(128, 128, 0), QColor(255, 255, 0));
}

const QPixmap& TJvFilenameEdit::FolderGlyph(bool themed) {
  // Made on first use, once per run, and shared by every field; kept until the process ends.
  static const QPixmap* const classic = [] {
    const QImage picture = FolderPicture(false);
    auto* glyph = new QPixmap(QPixmap::fromImage(picture));
    glyph->setMask(QBitmap::fromImage(picture.createMaskFromColor(qRgb(255, 0, 255))));
    return glyph;
  }();
  static const QPixmap* const soft = [] {
    const QImage picture = FolderPicture(true);
    auto* glyph = new QPixmap(QPixmap::fromImage(picture));
    glyph->setMask(QBitmap::fromImage(picture.createMaskFromColor(qRgb(255, 0, 255))));
    return glyph;
  }();
  return themed ? *soft : *classic;
}

TJvFilenameEdit::TJvFilenameEdit(QWidget* parent) : QLineEdit(parent) {
  button_ = new QToolButton(this);
  button_->setObjectName(QStringLiteral("button"));
  button_->setFocusPolicy(Qt::NoFocus);
  button_->setCursor(Qt::ArrowCursor);
  button_->setContextMenuPolicy(Qt::PreventContextMenu);
  button_->setIconSize(QSize(14, 12));
  setTextMargins(0, 0, kButtonWidth, 0);
  setAcceptDrops(true);
  PickGlyph();
  PlaceButton();
  connect(button_, &QToolButton::pressed, this, [this] { ButtonPressed(); });
  connect(button_, &QToolButton::clicked, this, [this] { RunGuarded([this] { ButtonClick(); }); });
  connect(this, &QLineEdit::textChanged, this,
          [this](const QString& text) { CutAtLineBreak(text); });
}

TJvFilenameEdit::~TJvFilenameEdit() = default;

std::string TJvFilenameEdit::Text() const {
  return TakeText(text(), text_bytes_);
}

void TJvFilenameEdit::SetText(const std::string& bytes) {
  text_bytes_ = CutAtLineBreakBytes(bytes);
  setText(ShowText(text_bytes_));
}

void TJvFilenameEdit::CutAtLineBreak(const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      setText(text.left(i));
      return;
    }
  }
}

std::string TJvFilenameEdit::FileName() const {
  return add_quotes_ ? NormalizeFileText(Text()) : Text();
}

void TJvFilenameEdit::SetFileName(const std::string& v) {
  if (!v.empty() && !FileNameAcceptable(NormalizeFileText(v))) {
    throw EComboEditError("Invalid file name - " + v);
  }
  SetText(add_quotes_ ? QuoteIfSpaced(v) : v);
  ClearChosenFiles();
}

std::string TJvFilenameEdit::ShortFileName() const {
  // No file system here keeps 8.3 aliases: the short name is the stored long name.
  return FindFirstEntryName(FileName());
}

std::string TJvFilenameEdit::LongFileName() const {
  return FindFirstEntryName(FileName());
}

void TJvFilenameEdit::TakeFileName(const std::string& v) {
  if (!MultipleFiles()) {
    SetFileName(v);
    return;
  }
  if (chosen_files_.empty()) SetFileName(v);
  chosen_files_.push_back(v);
}

void TJvFilenameEdit::ClearChosenFiles() {
  chosen_files_.clear();
}

bool TJvFilenameEdit::MultipleFiles() const {
  return dialog_options_.count(TOpenOption::ofAllowMultiSelect) != 0;
}

void TJvFilenameEdit::SetDialogOptions(std::set<TOpenOption> options) {
  dialog_options_ = std::move(options);
  if (!MultipleFiles()) ClearChosenFiles();
}

void TJvFilenameEdit::BrowseForFile() {
  std::string path = NormalizeFileText(Text());
  bool go = true;
  if (OnBeforeDialog) {
    OnBeforeDialog(*this, path, go);
    if (!go) return;
  }
  if (FileNameAcceptable(path)) {
    // Only a proposal for the dialog: whatever goes wrong here, the dialog opens all the same.
    try {
      const std::string dir = DirectoryPart(path);
      if (DirectoryIsPresent(dir)) initial_dir_ = StoredInitialDir(dir);
      const std::string name = NamePart(path);
      if (name.empty() || !FileNameAcceptable(name)) path.clear();
      dialog_file_name_ = path;
    } catch (const std::exception&) {
    }
  }

  FileDialogRequest request;
  request.title = dialog_title_;
  request.filters = DialogFilters(filter_);
  request.filter_index = filter_index_ - 1;
  request.initial_dir = QFile::decodeName(QByteArray::fromStdString(initial_dir_));
  request.file_name = QFile::decodeName(QByteArray::fromStdString(dialog_file_name_));
  request.multi_select = MultipleFiles();
  const FileDialogAnswer answer =
      RunFileDialog ? RunFileDialog(this, request) : RunQtFileDialog(this, request);

  go = answer.confirmed && !answer.files.empty();
  if (go) {
    dialog_file_name_ = answer.files.front();
    path = dialog_file_name_;
    if (MultipleFiles()) chosen_files_ = answer.files;
  }
  if (focusPolicy() & Qt::TabFocus && isEnabled() && isVisible()) setFocus(Qt::OtherFocusReason);
  if (OnAfterDialog) OnAfterDialog(*this, path, go);
  if (go) {
    SetText(add_quotes_ ? QuoteIfSpaced(path) : path);
    initial_dir_ = StoredInitialDir(DirectoryPart(dialog_file_name_));
  }
}

void TJvFilenameEdit::ButtonPressed() {
  if ((focusPolicy() & Qt::TabFocus) && isEnabled() && isVisible() && !hasFocus()) {
    setFocus(Qt::MouseFocusReason);
  }
}

void TJvFilenameEdit::ButtonClick() {
  if (read_only_) return;
  if (OnButtonClick) OnButtonClick(*this);
  BrowseForFile();
}

void TJvFilenameEdit::SetDirectInput(bool on) {
  direct_input_ = on;
  ApplyReadOnly();
}

void TJvFilenameEdit::SetReadOnly(bool on) {
  read_only_ = on;
  ApplyReadOnly();
}

void TJvFilenameEdit::ApplyReadOnly() {
  setReadOnly(read_only_ || !direct_input_);
}

void TJvFilenameEdit::SetAcceptFiles(bool on) {
  accept_files_ = on;
}

bool TJvFilenameEdit::Allows(TJvClipboardCommand command) const {
  return clipboard_commands_.count(command) != 0;
}

void TJvFilenameEdit::CopyRequest() {
  if (Allows(TJvClipboardCommand::caCopy)) copy();
}

void TJvFilenameEdit::CutRequest() {
  if (Allows(TJvClipboardCommand::caCut) && CanChangeText()) cut();
}

void TJvFilenameEdit::PasteRequest() {
  if (Allows(TJvClipboardCommand::caPaste) && CanChangeText()) paste();
}

void TJvFilenameEdit::UndoRequest() {
  if (Allows(TJvClipboardCommand::caUndo)) undo();
}

void TJvFilenameEdit::ClearRequest() {
  SetText(std::string());
}

QMenu* TJvFilenameEdit::CreateEditMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  const bool has_selection = hasSelectedText();
  QAction* action = menu->addAction(tr("&Undo"), this, [this] { UndoRequest(); });
  action->setObjectName(QStringLiteral("edit-undo"));
  action->setEnabled(Allows(TJvClipboardCommand::caUndo) && isUndoAvailable());
  menu->addSeparator();
  action = menu->addAction(tr("Cu&t"), this, [this] { CutRequest(); });
  action->setObjectName(QStringLiteral("edit-cut"));
  action->setEnabled(Allows(TJvClipboardCommand::caCut) && CanChangeText() && has_selection);
  action = menu->addAction(tr("&Copy"), this, [this] { CopyRequest(); });
  action->setObjectName(QStringLiteral("edit-copy"));
  action->setEnabled(Allows(TJvClipboardCommand::caCopy) && has_selection);
  action = menu->addAction(tr("&Paste"), this, [this] { PasteRequest(); });
  action->setObjectName(QStringLiteral("edit-paste"));
  action->setEnabled(Allows(TJvClipboardCommand::caPaste) && CanChangeText());
  action = menu->addAction(tr("&Delete"), this, [this] { ClearRequest(); });
  action->setObjectName(QStringLiteral("edit-delete"));
  action->setEnabled(!text().isEmpty());
  menu->addSeparator();
  action = menu->addAction(tr("Select &All"), this, [this] { selectAll(); });
  action->setObjectName(QStringLiteral("edit-select-all"));
  action->setEnabled(!text().isEmpty());
  return menu;
}

void TJvFilenameEdit::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(CreateEditMenu(this));
  menu->exec(event->globalPos());
}

void TJvFilenameEdit::keyPressEvent(QKeyEvent* event) {
  const QKeySequence pressed(
      QKeyCombination(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key())));
  if (!click_key_.isEmpty() && pressed == click_key_) {
    if (button_->width() > 0) button_->click();
    event->accept();
    return;
  }
  if (event->matches(QKeySequence::Copy)) {
    CopyRequest();
  } else if (event->matches(QKeySequence::Cut)) {
    CutRequest();
  } else if (event->matches(QKeySequence::Paste)) {
    PasteRequest();
  } else if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
    UndoRequest();
  } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
             event->key() == Qt::Key_Escape) {
    // Dialog keys: the window decides what they do; nothing is inserted.
    event->ignore();
    return;
  } else {
    QLineEdit::keyPressEvent(event);
    return;
  }
  event->accept();
}

void TJvFilenameEdit::focusInEvent(QFocusEvent* event) {
  if (!direct_input_ && event->reason() != Qt::OtherFocusReason) {
    // Entering a box the user cannot type into selects nothing.
    QFocusEvent plain(event->type(), Qt::OtherFocusReason);
    QLineEdit::focusInEvent(&plain);
    deselect();
    return;
  }
  QLineEdit::focusInEvent(event);
}

void TJvFilenameEdit::mouseReleaseEvent(QMouseEvent* event) {
  // Where the system keeps a selection clipboard, a mouse selection would copy and a middle
  // click would paste: both obey the clipboard commands like every other copy and paste.
  if ((event->button() == Qt::LeftButton && !Allows(TJvClipboardCommand::caCopy)) ||
      (event->button() == Qt::MiddleButton &&
       !(Allows(TJvClipboardCommand::caPaste) && CanChangeText()))) {
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void TJvFilenameEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  PlaceButton();
}

void TJvFilenameEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange) PickGlyph();
}

void TJvFilenameEdit::PlaceButton() {
  QStyleOptionFrame option;
  initStyleOption(&option);
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
  button_->setGeometry(width() - frame - kButtonWidth, frame, kButtonWidth,
                       std::max(0, height() - 2 * frame));
}

void TJvFilenameEdit::PickGlyph() {
  // The plain "windows" style draws without themes; every other style gets the softer picture.
  const bool themed = style()->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) != 0;
  button_->setIcon(QIcon(FolderGlyph(themed)));
}

namespace {

// Local files of a drop, as byte paths; a directory keeps no trailing "/".
std::vector<std::string> DroppedFiles(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    paths.push_back(StoredInitialDir(QFile::encodeName(url.toLocalFile()).toStdString()));
  }
  return paths;
}

}  // namespace

void TJvFilenameEdit::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) {
    if (accept_files_ && !DroppedFiles(event->mimeData()).empty()) {
      event->acceptProposedAction();
    } else {
      event->ignore();
    }
    return;
  }
  QLineEdit::dragEnterEvent(event);
}

void TJvFilenameEdit::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) {
    if (accept_files_) {
      event->acceptProposedAction();
    } else {
      event->ignore();
    }
    return;
  }
  QLineEdit::dragMoveEvent(event);
}

void TJvFilenameEdit::dropEvent(QDropEvent* event) {
  if (!event->mimeData()->hasUrls()) {
    QLineEdit::dropEvent(event);
    return;
  }
  if (!accept_files_) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  const std::vector<std::string> paths = DroppedFiles(event->mimeData());
  RunGuarded([this, &paths] { DropFiles(paths); });
}

void TJvFilenameEdit::DropFiles(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  ClearChosenFiles();
  for (const std::string& path : paths) {
    TakeFileName(path);
    if (!MultipleFiles()) break;
  }
  if (OnDropFiles) OnDropFiles(*this);
}

}  // namespace velotrax
