// The Disclaimer and About windows: their texts, sizes and the ways they close.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include "ui/qt/about_window.h"
#include "ui/qt/application.h"
#include "ui/qt/disclaimer_window.h"

using namespace velotrax;

namespace {

// Shows dialog modally, runs act once it is on the screen, and reports whether exec() returned
// (closing it) within a few seconds; a dialog still open is closed afterwards by hiding it.
bool ClosesWhen(QDialog& dialog, const std::function<void()>& act) {
  bool closed = false;
  QTimer::singleShot(0, &dialog, [&] {
    if (!QTest::qWaitForWindowExposed(&dialog)) return;
    act();
    QTest::qWait(200);
    if (dialog.isVisible()) dialog.done(-1);  // still open: end it here
  });
  closed = dialog.exec() != -1;
  return closed;
}

}  // namespace

class DisclaimerAboutWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { SetUpApplication(*qApp); }

  void DisclaimerShowsItsTextLineForLine() {
    TForm3 form;
    QCOMPARE(form.windowTitle(), QString("Disclaimer"));
    QCOMPARE(form.size(), QSize(361, 165));
    QCOMPARE(form.Memo1->geometry(), QRect(0, 0, 361, 129));
    QCOMPARE(form.Button1->geometry(), QRect(280, 136, 75, 25));
    QCOMPARE(form.Button1->text(), QString("I Agree"));
    QVERIFY(form.Memo1->isReadOnly());
    const QStringList lines = form.Memo1->toPlainText().split('\n');
    QCOMPARE(lines.size(), 10);
    QCOMPARE(lines[1],
             QString("Be aware that benchmarking puts a lot of strain on the CPU which can "));
    QCOMPARE(lines[7], QString("occured by using Velotrax. "));
    QVERIFY(lines[0].isEmpty() && lines[8].isEmpty() && lines[9].isEmpty());
    QVERIFY(!(form.windowFlags() & Qt::WindowCloseButtonHint));
  }

  void DisclaimerAgreesWhicheverWayItCloses() {
    TForm3 form;
    const struct {
      const char* way;
      std::function<void()> act;
    } ways[] = {
        {"I Agree", [&] { QTest::mouseClick(form.Button1, Qt::LeftButton); }},
        {"close request", [&] { form.close(); }},
        {"Escape (reject)", [&] { form.reject(); }},
        {"space on the button",
         [&] {
           form.Button1->setFocus();
           QTest::keyClick(form.Button1, Qt::Key_Space);
         }},
    };
    for (const auto& way : ways) {
      QVERIFY2(ClosesWhen(form, way.act), way.way);
      QCOMPARE(form.result(), int(QDialog::Accepted));
    }
  }

  void EnterAndEscapeInTheDisclaimerTextDoNothing() {
    TForm3 form;
    QVERIFY(!ClosesWhen(form, [&] {
      form.Memo1->setFocus();
      QTest::keyClick(form.Memo1, Qt::Key_Return);
      QTest::keyClick(form.Memo1, Qt::Key_Escape);
    }));
  }

  void DisclaimerIsCentredOnTheDesktopTheFirstTime() {
    TForm3 form;
    ClosesWhen(form, [&] {
      const QPoint expected = DesktopCentre(form.frameGeometry().size());
      QCOMPARE(form.frameGeometry().topLeft(), expected);
      form.accept();
    });
  }

  void AboutShowsItsTextInAFrame() {
    TForm4 form;
    QCOMPARE(form.windowTitle(), QString("Velotrax"));
    QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(form.size(), QSize(323, 194));
    QCOMPARE(form.Memo1->geometry(), QRect(5, 5, 313, 184));
    const QStringList lines = form.Memo1->toPlainText().split('\n');
    QCOMPARE(lines.size(), 14);
    QCOMPARE(lines[0], QString(" "));
    QCOMPARE(lines[1], QString(38, ' ') + "Velotrax 1.0");
    QCOMPARE(lines[11], QString("damage occured by using Velotrax. "));
    const QImage picture = form.grab().toImage();
    QCOMPARE(picture.pixelColor(2, 2), TForm4::DesktopBackgroundColour());
    QCOMPARE(picture.pixelColor(320, 190), TForm4::DesktopBackgroundColour());
    // Each line of the text fits on one line of the box.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.Memo1->document()->size().height(), 14.0);
    form.hide();
  }

  void AboutClosesOnAPressOnItsTextOnly() {
    QWidget main_window;
    main_window.setGeometry(100, 100, 538, 400);
    main_window.show();
    TForm4 form(&main_window);
    QWidget* text = form.Memo1->viewport();
    QVERIFY(!ClosesWhen(form, [&] { QTest::mousePress(&form, Qt::LeftButton, {}, {2, 2}); }));
    const QPoint first_place = form.pos();
    QCOMPARE(first_place, QPoint(100 + (538 - 323) / 2, 100 + (400 - 194) / 2));
    main_window.move(300, 50);  // the About window stays where it first was
    QVERIFY(ClosesWhen(form, [&] { QTest::mousePress(text, Qt::RightButton, {}, {50, 50}); }));
    QVERIFY(ClosesWhen(form, [&] { QTest::mousePress(text, Qt::MiddleButton, {}, {10, 80}); }));
    QVERIFY(ClosesWhen(form, [&] { QTest::mouseClick(text, Qt::LeftButton); }));
    QVERIFY(!ClosesWhen(form, [&] { QTest::keyClick(&form, Qt::Key_Escape); }));
    QCOMPARE(form.pos(), first_place);
    QCOMPARE(form.Memo1->textCursor().hasSelection(), false);
  }
};

QTEST_MAIN(DisclaimerAboutWindowTest)
#include "disclaimer_about_window_test.moc"
