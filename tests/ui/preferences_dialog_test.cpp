#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>
#include <QtTest>
#include <fstream>

#include "core/state.h"
#include "emulator/emulator_contract.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/qt/guard.h"
#include "ui/qt/preferences_dialog.h"

using namespace velotrax;

using velotrax::testing::DialogScript;
using velotrax::testing::ErrorBoxes;
using velotrax::testing::MakeFile;

class PreferencesDialogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir temp_;
  std::string base_dir_;
  ProgramState state_;

  // A fresh state whose base_dir is the temporary folder holding "mame.exe".
  void ResetState() {
    state_ = ProgramState();
    state_.base_dir = base_dir_;
    state_.mame_file = "mame.exe";
    BuildCatalogue(state_);
    state_.games[0].cpu = "Athlon 64 3200+";
  }

  // Shows the dialog without a nested loop, as exec() would show it.
  static void Open(TForm2& dialog) {
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  }

 private slots:
  void initTestCase() {
    QVERIFY(temp_.isValid());
    base_dir_ = temp_.path().toStdString() + "/";
    MakeFile(base_dir_ + "mame.exe");
    QDir(temp_.path()).mkpath(QStringLiteral("elsewhere"));
    QDir(temp_.path()).mkpath(QStringLiteral("my games"));
    MakeFile(base_dir_ + "elsewhere/mamepp.exe");
  }
  void init() { ResetState(); }

  void CreatedHiddenAsTabled() {
    TForm2 dialog(state_, nullptr);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Preferences"));
    QCOMPARE(dialog.size(), QSize(407, 321));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(!(flags & Qt::WindowCloseButtonHint));
    QVERIFY(!(flags & Qt::WindowMinMaxButtonsHint));
    QVERIFY(!(flags & Qt::WindowSystemMenuHint));
    QCOMPARE(dialog.font().pixelSize(), 11);
    QVERIFY(dialog.use_ddraw->isChecked());
    QCOMPARE(dialog.CheckedPassMode(), PassMode::ddraw);
    QCOMPARE(dialog.PageControl1->currentIndex(), 0);
    QCOMPARE(dialog.PageControl1->tabText(0), QStringLiteral("Options"));
    QCOMPARE(dialog.PageControl1->tabText(1), QStringLiteral("Information"));
    for (QPushButton* button : {dialog.ok_button, dialog.cancel_button}) {
      QVERIFY(!button->isDefault());
      QVERIFY(!button->autoDefault());
    }

    struct Control {
      const char* name;
      QRect geometry;
      const char* text;
    };
    const Control controls[] = {
        {"ok_button", {328, 293, 75, 25}, "OK"},
        {"cancel_button", {248, 293, 75, 25}, "Cancel"},
        {"PageControl1", {0, 0, 409, 289}, nullptr},
        {"GroupBox1", {4, 4, 390, 101}, nullptr},
        {"Label1", {16, 26, 73, 13}, "PC Desciption :"},
        {"Label2", {16, 59, 67, 13}, "Mame Binary :"},
        {"pc_description", {96, 24, 289, 21}, nullptr},
        {"mamefile_selector", {96, 56, 289, 21}, nullptr},
        {"GroupBox2", {4, 112, 161, 81}, nullptr},
        {"use_ddraw", {16, 24, 113, 17}, "Use DDraw"},
        {"use_d3d", {16, 40, 89, 17}, "Use D3D"},
        {"use_both", {16, 56, 121, 17}, "Use DDraw + D3D"},
        {"GroupBox3", {0, 4, 414, 249}, nullptr},
        {"Memo1", {16, 24, 385, 217}, nullptr},
    };
    for (const Control& control : controls) {
      auto* widget = dialog.findChild<QWidget*>(QString::fromLatin1(control.name));
      QVERIFY2(widget, control.name);
      if (qobject_cast<QLabel*>(widget)) {
        // A label grows with its text when the fallback font is wider.
        QCOMPARE(widget->pos(), control.geometry.topLeft());
        QCOMPARE(widget->height(), control.geometry.height());
        QVERIFY(widget->width() >= control.geometry.width());
      } else {
        QCOMPARE(widget->geometry(), control.geometry);
      }
      if (!control.text) continue;
      if (auto* label = qobject_cast<QLabel*>(widget)) {
        QCOMPARE(label->text(), QString::fromLatin1(control.text));
      } else {
        QCOMPARE(qobject_cast<QAbstractButton*>(widget)->text(), QString::fromLatin1(control.text));
      }
    }
    QCOMPARE(dialog.findChild<QGroupBox*>("GroupBox2")->title(), QStringLiteral("DirectX Method"));
    QCOMPARE(dialog.findChild<QGroupBox*>("GroupBox3")->title(),
             QStringLiteral("Benchmark Information"));

    const TJvFilenameEdit& field = *dialog.mamefile_selector;
    QVERIFY(field.ClipboardCommands().empty());
    QVERIFY(!field.AddQuotes());
    QVERIFY(!field.DirectInput());
    QVERIFY(field.AcceptFiles());
    QCOMPARE(field.DialogTitle(), QStringLiteral("Quillbox"));
    QCOMPARE(field.Filter(), QStringLiteral("All files (*.exe)|*.exe"));
    QCOMPARE(field.ClickKey(), QKeySequence(Qt::ALT | Qt::Key_Down));
  }

  void InformationTextLineForLine() {
    TForm2 dialog(state_, nullptr);
    QVERIFY(dialog.Memo1->isReadOnly());
    QCOMPARE(dialog.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    const QTextDocument* text = dialog.Memo1->document();
    QCOMPARE(text->blockCount(), 46);
    std::vector<std::string> lines;
    for (QTextBlock block = text->begin(); block.isValid(); block = block.next()) {
      lines.push_back(block.text().toStdString());
    }
    QCOMPARE(lines[2], std::string("roms."));
    QCOMPARE(lines[5], std::string("Methodology:"));
    QCOMPARE(lines[7],
             std::string("There are two possible benchmark passes - D3D and DirectDraw "));
    QCOMPARE(lines[23],
             std::string("runs all games in 1280x1024x32bppx60Hz and 5:4 aspect ratio."));
    QCOMPARE(lines[24],
             std::string("Most LCD and CRT's should have no problem when running at this "));
    QCOMPARE(lines[34],
             std::string("identical frames each and every time they run. (no random demo etc...)"));
    QCOMPARE(lines[44], std::string("occured by using Velotrax. "));
    for (int empty : {3, 4, 6, 10, 15, 21, 26, 30, 32, 35, 36, 38, 45}) {
      QVERIFY2(lines[empty].empty(), std::to_string(empty + 1).c_str());
    }
    // The option lines are the program's own option strings, broken where the text breaks them.
    QCOMPARE(lines[12] + lines[13] + lines[14], std::string(DDrawOptionString));
    QCOMPARE(lines[17] + lines[18] + lines[19] + lines[20], std::string(D3DOptionString));
    QCOMPARE(lines[19],
             std::string("nomouse -nojoy -nogun -nosleep -rompath roms -d3d -d3dfilter 0 -d3"));

    // Each line of the text fits on one line of the box.
    dialog.PageControl1->setCurrentIndex(1);
    Open(dialog);
    QTRY_COMPARE(text->size().height(), 46.0);
    for (QTextBlock block = text->begin(); block.isValid(); block = block.next()) {
      QVERIFY2(block.layout()->lineCount() <= 1, qPrintable(block.text()));
    }
    dialog.hide();
  }

  void OpeningShowsTheStoredValues() {
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    QCOMPARE(dialog.mamefile_selector->Text(), base_dir_ + "mame.exe");
    QCOMPARE(dialog.pc_description->text(), QStringLiteral("Athlon 64 3200+"));
    QCOMPARE(dialog.focusWidget(), dialog.ok_button);
    dialog.cancel_button->click();
    QVERIFY(!dialog.isVisible());

    state_.mame_file = "";
    state_.games[0].cpu = "";
    Open(dialog);
    QCOMPARE(dialog.mamefile_selector->Text(), base_dir_);
    QCOMPARE(dialog.pc_description->text(), QString());
  }

  void OkKeepsTheStoredNameOfAnExistingFile() {
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    dialog.pc_description->setText(QStringLiteral("My PC"));
    dialog.ok_button->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(state_.mame_file, std::string("mame.exe"));
    QCOMPARE(state_.games[0].cpu, std::string("My PC"));
  }

  void OkWithAMissingFileEmptiesTheNameSilently() {
    ErrorBoxes boxes;
    state_.mame_file = "gone.exe";
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    dialog.pc_description->clear();
    dialog.ok_button->click();
    QCOMPARE(state_.mame_file, std::string());
    QCOMPARE(state_.games[0].cpu, std::string());  // an empty description is fine
    QVERIFY(boxes.shown.isEmpty());
    Open(dialog);
    QCOMPARE(dialog.mamefile_selector->Text(), base_dir_);
  }

  void UneditedDescriptionGoesBackByteForByte() {
    state_.games[0].cpu = "Caf\xe9 PC";  // written on an older system
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    QCOMPARE(dialog.pc_description->text(), QStringLiteral("Caf\u00e9 PC"));
    dialog.ok_button->click();
    QCOMPARE(state_.games[0].cpu, std::string("Caf\xe9 PC"));
  }

  void BrowsingElsewhereKeepsOnlyTheName() {
    DialogScript files;
    files.answer = {true, {base_dir_ + "elsewhere/mamepp.exe"}};
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    QTest::mouseClick(dialog.mamefile_selector->Button(), Qt::LeftButton);
    QCOMPARE(files.requests.size(), size_t(1));
    QCOMPARE(files.requests[0].file_name.toStdString(), base_dir_ + "mame.exe");
    QCOMPARE(dialog.mamefile_selector->Text(), base_dir_ + "elsewhere/mamepp.exe");
    dialog.ok_button->click();
    QCOMPARE(state_.mame_file, std::string("mamepp.exe"));
  }

  void CancelledFileDialogAndCancelChangeNothing() {
    DialogScript files;
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    QTest::mouseClick(dialog.mamefile_selector->Button(), Qt::LeftButton);
    QCOMPARE(files.requests.size(), size_t(1));
    QCOMPARE(dialog.mamefile_selector->Text(), base_dir_ + "mame.exe");

    files.answer = {true, {base_dir_ + "elsewhere/mamepp.exe"}};
    QTest::mouseClick(dialog.mamefile_selector->Button(), Qt::LeftButton);
    dialog.pc_description->setText(QStringLiteral("edited"));
    dialog.use_both->setChecked(true);
    dialog.cancel_button->click();
    QCOMPARE(state_.mame_file, std::string("mame.exe"));
    QCOMPARE(state_.games[0].cpu, std::string("Athlon 64 3200+"));
    QCOMPARE(dialog.CheckedPassMode(), PassMode::both);  // the pass mode is not undone
    Open(dialog);
    QCOMPARE(dialog.pc_description->text(), QStringLiteral("Athlon 64 3200+"));
    QCOMPARE(dialog.mamefile_selector->Text(), base_dir_ + "mame.exe");
  }

  void PathWithABlankOpensTheDialogAtItsFirstArgument() {
    DialogScript files;
    state_.base_dir = base_dir_ + "my games/";
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    QTest::keyClick(dialog.mamefile_selector, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(files.requests.size(), size_t(1));
    QCOMPARE(files.requests[0].file_name.toStdString(), base_dir_ + "my");
    QCOMPARE(files.requests[0].initial_dir.toStdString(), temp_.path().toStdString());
  }

  void TheEmulatorFieldRefusesEditing() {
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    TJvFilenameEdit* field = dialog.mamefile_selector;
    field->setFocus();
    QApplication::clipboard()->setText(QStringLiteral("sentinel"));
    QTest::keyClicks(field, "abc");
    field->selectAll();
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(field->Text(), base_dir_ + "mame.exe");
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("sentinel"));
  }

  void DroppedDirectoryBecomesTheName() {
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(base_dir_ + "elsewhere")),
                  QUrl::fromLocalFile(QString::fromStdString(base_dir_ + "mame.exe"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.mamefile_selector, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.mamefile_selector, &drop);
    QCOMPARE(dialog.mamefile_selector->Text(), base_dir_ + "elsewhere");
    dialog.ok_button->click();
    QCOMPARE(state_.mame_file, std::string("elsewhere"));
  }

  void EscapeAndEnterDoNotCloseUnlessOnAButton() {
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    dialog.pc_description->setFocus();
    dialog.pc_description->setText(QStringLiteral("typed"));
    QTest::keyClick(dialog.pc_description, Qt::Key_Escape);
    QTest::keyClick(dialog.pc_description, Qt::Key_Return);
    QTest::keyClick(dialog.mamefile_selector, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QCOMPARE(state_.games[0].cpu, std::string("Athlon 64 3200+"));
    dialog.ok_button->setFocus();
    QTest::keyClick(dialog.ok_button, Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(state_.games[0].cpu, std::string("typed"));
  }

  void OtherCloseActsLikeCancel() {
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    dialog.pc_description->setText(QStringLiteral("typed"));
    QVERIFY(dialog.close());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(state_.games[0].cpu, std::string("Athlon 64 3200+"));
  }

  void SelectedTabAndPositionAreKept() {
    QWidget main_window;
    main_window.setGeometry(200, 150, 538, 371);
    main_window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main_window));
    TForm2 dialog(state_, &main_window);
    Open(dialog);
    const QPoint centre = dialog.geometry().center();
    QVERIFY2((centre - main_window.geometry().center()).manhattanLength() <= 40,
             qPrintable(QStringLiteral("dialog centred at %1,%2").arg(centre.x()).arg(centre.y())));
    dialog.PageControl1->setCurrentIndex(1);
    dialog.move(30, 40);
    const QPoint moved = dialog.pos();
    dialog.cancel_button->click();
    Open(dialog);
    QCOMPARE(dialog.PageControl1->currentIndex(), 1);
    QCOMPARE(dialog.pos(), moved);
  }

  void PassModeButtonsAreExclusive() {
    TForm2 dialog(state_, nullptr);
    dialog.CheckPassMode(PassMode::d3d);
    QVERIFY(dialog.use_d3d->isChecked() && !dialog.use_ddraw->isChecked());
    dialog.CheckPassMode(PassMode::both);
    QCOMPARE(dialog.CheckedPassMode(), PassMode::both);
    QVERIFY(!dialog.use_d3d->isChecked());
    dialog.CheckPassMode(PassMode::none);
    QCOMPARE(dialog.CheckedPassMode(), PassMode::both);
  }

  void WorksBeforeTheCatalogueIsBuilt() {
    state_.games.clear();
    TForm2 dialog(state_, nullptr);
    Open(dialog);
    QCOMPARE(dialog.pc_description->text(), QString());
    dialog.pc_description->setText(QStringLiteral("x"));
    dialog.ok_button->click();
    QVERIFY(state_.games.empty());
    QCOMPARE(state_.mame_file, std::string("mame.exe"));
  }
};

QTEST_MAIN(PreferencesDialogTest)
#include "preferences_dialog_test.moc"
