#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <fstream>

#include "base/errors.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/qt/file_name_field.h"
#include "ui/qt/guard.h"

using namespace velotrax;
using velotrax::testing::DialogScript;
using velotrax::testing::ErrorBoxes;
using velotrax::testing::MakeFile;

namespace {

std::string Bytes(const QString& text) {
  return text.toStdString();
}

void Drop(QWidget* target, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
}

// The field as the Preferences dialog sets it up.
void ConfigureLikeTheEmulatorField(TJvFilenameEdit& field) {
  field.SetClipboardCommands({});
  field.SetAddQuotes(false);
  field.SetFilter(QStringLiteral("All files (*.exe)|*.exe"));
  field.SetDialogOptions({TOpenOption::ofHideReadOnly, TOpenOption::ofNoChangeDir});
  field.SetDialogTitle(QStringLiteral("Quillbox"));
  field.SetDirectInput(false);
}

}  // namespace

class FilenameEditTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir temp_;
  std::string dir_;  // with a trailing "/"

 private slots:
  void initTestCase() {
    QVERIFY(temp_.isValid());
    dir_ = Bytes(temp_.path()) + "/";
    QDir(temp_.path()).mkpath(QStringLiteral("my games"));
    QDir(temp_.path()).mkpath(QStringLiteral("sub"));
    for (const char* name : {"Mame.EXE", "b1.exe", "b2.exe", "a[1].exe", "my games/mame.exe"}) {
      MakeFile(dir_ + name);
    }
  }

  void NormalizeFileTextReadsTheFirstArgument() {
    struct Case {
      std::string input, expected;
    };
    const std::vector<Case> cases = {
        {dir_ + "my games/mame.exe", dir_ + "my games/mame.exe"},  // an existing file stays
        {dir_ + "sub", dir_ + "sub/"},
        {dir_ + "sub/", dir_ + "sub/"},
        {dir_ + "my games/missing.exe", dir_ + "my"},
        {"\"" + dir_ + "my games/missing.exe\" -x", dir_ + "my games/missing.exe"},
        {"  \"\"\"a b\" c", "a b"},
        {"\t\r abc def", "abc"},
        {"a\"b c\"d e", "ab cd"},
        {"\"a b", "a b"},
        {"    ", ""},
        {"", ""},
        {"\xe9t\xe9 x", "\xe9t\xe9"},
    };
    for (const Case& c : cases) {
      QCOMPARE(QString::fromStdString(NormalizeFileText(c.input)),
               QString::fromStdString(c.expected));
    }
  }

  void FileNameRules() {
    QVERIFY(!FileNameAcceptable(""));
    QVERIFY(FileNameAcceptable("/usr/local/bin/mame"));
    QVERIFY(FileNameAcceptable("c:\\emu:x"));
    for (char c : std::string("<>\"?*|")) {
      QVERIFY2(!FileNameAcceptable(std::string("a") + c + "b"), std::string(1, c).c_str());
    }
    QVERIFY(!FileNameAcceptable(std::string("a\0b", 3)));

    QCOMPARE(QuoteIfSpaced("a b"), std::string("\"a b\""));
    QCOMPARE(QuoteIfSpaced("\"a b"), std::string("\"a b"));
    QCOMPARE(QuoteIfSpaced("ab"), std::string("ab"));
    QCOMPARE(QuoteIfSpaced(""), std::string(""));

    QCOMPARE(StoredInitialDir("/a/b/"), std::string("/a/b"));
    QCOMPARE(StoredInitialDir("/a/b"), std::string("/a/b"));
    QCOMPARE(StoredInitialDir("/"), std::string("/"));
    QCOMPARE(DirectoryPart("/a/b.exe"), std::string("/a/"));
    QCOMPARE(NamePart("/a/b.exe"), std::string("b.exe"));
    QCOMPARE(DirectoryPart("b.exe"), std::string());

    QCOMPARE(DialogFilters(QStringLiteral("All files (*.exe)|*.exe")),
             QStringList({"All files (*.exe)", "All files (*)"}));
    QCOMPARE(DialogFilters(QStringLiteral("Programs (exe)|*.exe")),
             QStringList({"Programs (exe) (*.exe)", "All files (*)"}));
    QCOMPARE(DialogFilters(QStringLiteral("Text|*.txt;*.doc|All|*")),
             QStringList({"Text (*.txt *.doc)", "All (*)"}));
  }

  void FindFirstEntryMatchesLikeTheFileSystemSearch() {
    struct Case {
      std::string path, expected;
    };
    const std::vector<Case> cases = {
        {dir_ + "Mame.EXE", "Mame.EXE"},
        {dir_ + "mame.exe", ""},  // names are case-sensitive here
        {dir_ + "b*.exe", "b1.exe"},
        {dir_ + "?ame.EXE", "Mame.EXE"},
        {dir_ + "a[1].exe", "a[1].exe"},  // brackets are no wildcard
        {dir_ + "a[1]*", "a[1].exe"},
        {dir_ + "sub", "sub"},
        {dir_ + "sub/", ""},
        {dir_ + "missing*", ""},
        {dir_ + "nowhere/x.exe", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
      QCOMPARE(QString::fromStdString(FindFirstEntryName(c.path)),
               QString::fromStdString(c.expected));
    }
  }

  void TextNeverHoldsALineBreak() {
    TJvFilenameEdit field;
    field.setText(QStringLiteral("abc\ndef"));
    QCOMPARE(field.text(), QStringLiteral("abc"));
    field.SetText("x\r\ny");
    QCOMPARE(field.text(), QStringLiteral("x"));
    QCOMPARE(field.Text(), std::string("x"));
  }

  void NonUtf8TextGoesBackByteForByte() {
    TJvFilenameEdit field;
    field.SetText("/tmp/caf\xe9.exe");
    QCOMPARE(field.Text(), std::string("/tmp/caf\xe9.exe"));
  }

  void SettingTheFileName() {
    TJvFilenameEdit field;
    const std::string spaced = dir_ + "my games/mame.exe";
    field.SetFileName(spaced);
    QCOMPARE(field.Text(), "\"" + spaced + "\"");
    QCOMPARE(field.FileName(), spaced);  // the quotes come off again

    field.SetText("keep");
    try {
      field.SetFileName("a?b");
      QFAIL("no error");
    } catch (const EComboEditError& error) {
      QCOMPARE(std::string(error.what()), std::string("Invalid file name - a?b"));
    }
    QCOMPARE(field.Text(), std::string("keep"));
    field.SetFileName("");
    QCOMPARE(field.Text(), std::string());

    field.SetAddQuotes(false);
    field.SetFileName(spaced);
    QCOMPARE(field.Text(), spaced);
    QCOMPARE(field.LongFileName(), std::string("mame.exe"));
    QCOMPARE(field.ShortFileName(), std::string("mame.exe"));
    field.SetText(dir_ + "missing.exe");
    QCOMPARE(field.ShortFileName(), std::string());
  }

  void MultipleFilesMode() {
    TJvFilenameEdit field;
    field.SetDialogOptions({TOpenOption::ofAllowMultiSelect});
    field.TakeFileName("/a");
    field.TakeFileName("/b");
    QCOMPARE(field.Text(), std::string("/a"));
    QCOMPARE(field.ChosenFiles(), (std::vector<std::string>{"/a", "/b"}));
    field.SetDialogOptions({TOpenOption::ofHideReadOnly});
    QVERIFY(field.ChosenFiles().empty());
    field.TakeFileName("/c");
    QCOMPARE(field.Text(), std::string("/c"));
    QVERIFY(field.ChosenFiles().empty());
  }

  void BrowsingAsksWithTheFieldsSettingsAndTakesTheAnswer() {
    DialogScript dialog;
    TJvFilenameEdit field;
    ConfigureLikeTheEmulatorField(field);
    field.SetText(dir_ + "my games/missing.exe");
    const std::string chosen = dir_ + "my games/mame.exe";
    dialog.answer = {true, {chosen}};
    field.BrowseForFile();
    QCOMPARE(dialog.requests.size(), size_t(1));
    const FileDialogRequest& request = dialog.requests[0];
    QCOMPARE(request.title, QStringLiteral("Quillbox"));
    QCOMPARE(request.filters, QStringList({"All files (*.exe)", "All files (*)"}));
    QCOMPARE(request.filter_index, 0);
    // The blank cuts the missing path to its first argument.
    QCOMPARE(Bytes(request.file_name), dir_ + "my");
    QCOMPARE(Bytes(request.initial_dir), StoredInitialDir(dir_));
    QCOMPARE(field.Text(), chosen);  // no quotes although it holds a blank
    QCOMPARE(field.InitialDir(), dir_ + "my games");

    field.SetAddQuotes(true);
    field.BrowseForFile();
    QCOMPARE(field.Text(), "\"" + chosen + "\"");
    QCOMPARE(Bytes(dialog.requests[1].file_name), chosen);
  }

  void BrowsingFromADirectoryProposesNoName() {
    DialogScript dialog;
    TJvFilenameEdit field;
    ConfigureLikeTheEmulatorField(field);
    field.SetText(dir_ + "sub/");
    field.BrowseForFile();
    QCOMPARE(Bytes(dialog.requests.at(0).initial_dir), dir_ + "sub");
    QCOMPARE(dialog.requests.at(0).file_name, QString());
  }

  void CancellingTheDialogChangesNothing() {
    DialogScript dialog;
    TJvFilenameEdit field;
    ConfigureLikeTheEmulatorField(field);
    field.SetText(dir_ + "Mame.EXE");
    dialog.answer = {false, {}};
    field.BrowseForFile();
    QCOMPARE(dialog.requests.size(), size_t(1));
    QCOMPARE(field.Text(), dir_ + "Mame.EXE");
  }

  void DialogEvents() {
    DialogScript dialog;
    dialog.answer = {true, {"/x/chosen"}};
    TJvFilenameEdit field;
    field.SetText("/start");
    std::vector<std::string> seen;
    field.OnBeforeDialog = [&](TJvFilenameEdit&, std::string& name, bool& action) {
      seen.push_back("before " + name);
      action = false;
    };
    field.BrowseForFile();
    QVERIFY(dialog.requests.empty());
    QCOMPARE(field.Text(), std::string("/start"));

    field.OnBeforeDialog = nullptr;
    field.OnAfterDialog = [&](TJvFilenameEdit&, std::string& name, bool& action) {
      seen.push_back("after " + name + (action ? " go" : " stop"));
      name = "/x/renamed";
    };
    field.BrowseForFile();
    QCOMPARE(field.Text(), std::string("/x/renamed"));
    QCOMPARE(field.InitialDir(), std::string("/x"));
    QCOMPARE(seen, (std::vector<std::string>{"before /start", "after /x/chosen go"}));
  }

  void ButtonAndClickKey() {
    DialogScript dialog;
    TJvFilenameEdit field;
    ConfigureLikeTheEmulatorField(field);
    field.resize(289, 21);
    field.show();
    QVERIFY(QTest::qWaitForWindowExposed(&field));
    QCOMPARE(field.Button()->width(), 21);
    QVERIFY(field.Button()->height() > 0 && field.Button()->height() <= 21);
    // Inside the box's right end, as high as the box within its frame.
    const int frame = (field.height() - field.Button()->height()) / 2;
    QCOMPARE(field.Button()->geometry().right(), field.width() - 1 - frame);
    QCOMPARE(field.Button()->y(), frame);

    int clicks = 0;
    field.OnButtonClick = [&](TJvFilenameEdit&) {
      ++clicks;
      QCOMPARE(dialog.requests.size(), size_t(clicks - 1));  // raised before browsing
    };
    QTest::mouseClick(field.Button(), Qt::LeftButton);
    QCOMPARE(clicks, 1);
    QCOMPARE(dialog.requests.size(), size_t(1));
    QTest::keyClick(&field, Qt::Key_Down, Qt::AltModifier);  // a click of the button
    QCOMPARE(dialog.requests.size(), size_t(2));
    QCOMPARE(clicks, 2);

    field.SetReadOnly(true);
    QTest::mouseClick(field.Button(), Qt::LeftButton);
    QTest::keyClick(&field, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(dialog.requests.size(), size_t(2));
    QCOMPARE(clicks, 2);
  }

  void EditingIsRefusedWithoutClipboardCommandsOrDirectInput() {
    TJvFilenameEdit field;
    ConfigureLikeTheEmulatorField(field);
    field.show();
    QVERIFY(QTest::qWaitForWindowExposed(&field));
    field.SetText("/emu/mame.exe");
    QApplication::clipboard()->setText(QStringLiteral("pasted"));

    QTest::keyClicks(&field, "typed");
    field.selectAll();
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&field, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(&field, Qt::Key_Backspace);
    QTest::keyClick(&field, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(&field, Qt::Key_Return);
    QCOMPARE(field.text(), QStringLiteral("/emu/mame.exe"));

    field.selectAll();
    QTest::keyClick(&field, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&field, Qt::Key_Insert, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("pasted"));

    std::unique_ptr<QMenu> menu(field.CreateEditMenu(nullptr));
    for (const char* name : {"edit-copy", "edit-cut", "edit-paste", "edit-undo"}) {
      auto* action = menu->findChild<QAction*>(QString::fromLatin1(name));
      QVERIFY2(action, name);
      QVERIFY2(!action->isEnabled(), name);
      action->trigger();  // refused even when triggered regardless
    }
    QCOMPARE(field.text(), QStringLiteral("/emu/mame.exe"));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("pasted"));

    // A clear request empties the box whatever the other settings say.
    field.SetReadOnly(true);
    menu->findChild<QAction*>(QStringLiteral("edit-delete"))->trigger();
    QCOMPARE(field.text(), QString());
  }

  void DefaultClipboardCommandsWork() {
    TJvFilenameEdit field;
    field.show();
    QVERIFY(QTest::qWaitForWindowExposed(&field));
    field.SetText("/emu/mame.exe");
    field.selectAll();
    QTest::keyClick(&field, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("/emu/mame.exe"));
    QApplication::clipboard()->setText(QStringLiteral("/other\nsecond line"));
    field.selectAll();
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field.text(), QStringLiteral("/other"));
    field.SetClipboardCommands({TJvClipboardCommand::caCopy, TJvClipboardCommand::caPaste});
    field.SetDirectInput(false);
    field.selectAll();
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);  // paste needs direct input
    QCOMPARE(field.text(), QStringLiteral("/other"));
  }

  void EnteringWithoutDirectInputSelectsNothing() {
    QWidget window;
    auto* before = new QLineEdit(&window);
    auto* field = new TJvFilenameEdit(&window);
    field->move(0, 30);
    field->SetText("/emu/mame.exe");
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    QVERIFY(field->hasFocus());
    QVERIFY(field->hasSelectedText());  // the ordinary box selects all on entry

    field->SetDirectInput(false);
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    QVERIFY(field->hasFocus());
    QVERIFY(!field->hasSelectedText());
  }

  void DroppingFiles() {
    TJvFilenameEdit field;
    ConfigureLikeTheEmulatorField(field);
    int drops = 0;
    field.OnDropFiles = [&](TJvFilenameEdit&) { ++drops; };
    field.SetText("/before");

    Drop(&field, {QUrl::fromLocalFile(QString::fromStdString(dir_ + "b2.exe")),
                  QUrl::fromLocalFile(QString::fromStdString(dir_ + "b1.exe"))});
    QCOMPARE(field.Text(), dir_ + "b2.exe");
    QCOMPARE(drops, 1);

    Drop(&field, {QUrl::fromLocalFile(QString::fromStdString(dir_ + "sub/"))});
    QCOMPARE(field.Text(), dir_ + "sub");
    QCOMPARE(field.ShortFileName(), std::string("sub"));

    Drop(&field, {QUrl(QStringLiteral("https://example.org/x.exe"))});
    QCOMPARE(field.Text(), dir_ + "sub");
    QCOMPARE(drops, 2);

    {
      ErrorBoxes boxes;
      Drop(&field, {QUrl::fromLocalFile(QString::fromStdString(dir_ + "what?.exe"))});
      QCOMPARE(boxes.shown,
               QStringList({QString::fromStdString("Invalid file name - " + dir_ + "what?.exe.")}));
    }
    QCOMPARE(field.Text(), dir_ + "sub");
    QCOMPARE(drops, 2);

    field.SetAcceptFiles(false);
    Drop(&field, {QUrl::fromLocalFile(QString::fromStdString(dir_ + "b1.exe"))});
    QCOMPARE(field.Text(), dir_ + "sub");
  }

  void FolderPictures() {
    for (bool themed : {false, true}) {
      const QImage picture = TJvFilenameEdit::FolderPicture(themed);
      QCOMPARE(picture.size(), QSize(14, 12));
      QCOMPARE(picture.pixel(13, 0), qRgb(255, 0, 255));  // corners are transparent
      QCOMPARE(picture.pixel(13, 11), qRgb(255, 0, 255));
      int drawn = 0;
      for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 14; ++x) drawn += picture.pixel(x, y) != qRgb(255, 0, 255);
      }
      QVERIFY(drawn > 60);
      const QPixmap& glyph = TJvFilenameEdit::FolderGlyph(themed);
      QCOMPARE(&glyph, &TJvFilenameEdit::FolderGlyph(themed));  // made once, shared
      QVERIFY(glyph.hasAlpha());
      QCOMPARE(glyph.toImage().pixelColor(13, 0).alpha(), 0);
    }
    const QImage classic = TJvFilenameEdit::FolderPicture(false);
    QVERIFY(classic != TJvFilenameEdit::FolderPicture(true));
    QCOMPARE(classic.pixel(0, 1), qRgb(0, 0, 0));
    bool has_yellow = false, has_olive = false;
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 14; ++x) {
        has_yellow = has_yellow || classic.pixel(x, y) == qRgb(255, 255, 0);
        has_olive = has_olive || classic.pixel(x, y) == qRgb(128, 128, 0);
      }
    }
    QVERIFY(has_yellow && has_olive);
  }
};

QTEST_MAIN(FilenameEditTest)
#include "file_name_field_test.moc"
