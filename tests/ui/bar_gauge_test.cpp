#include <QtTest>
#include <limits>

#include "base/errors.h"
#include "ui/qt/bar_gauge.h"

using namespace velotrax;

namespace {

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlue = 0xFF0000FFu;

// One of the main window's bars: 329 x 9, framed, no text, blue.
void MakeMainWindowGauge(TGauge& gauge) {
  gauge.resize(329, 9);
  gauge.SetShowText(false);
  gauge.SetForeColor(RGBColor(0, 0, 255));
}

// The first column (from 1) that is not in the bar's colour on row y, or the right edge.
int FirstUnfilledColumn(const QImage& image, int y, QRgb fore) {
  int x = 1;
  while (x < image.width() - 1 && image.pixel(x, y) == fore) ++x;
  return x;
}

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
  int count = 0;
};

QString ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EInvalidOperation& error) {
    return QString::fromStdString(error.what());
  }
  return QString();
}

}  // namespace

class GaugeTest : public QObject {
  Q_OBJECT

 private slots:
  void NewGaugeHasTheDocumentedDefaults() {
    TGauge gauge;
    QCOMPARE(gauge.MinValue(), 0);
    QCOMPARE(gauge.MaxValue(), 100);
    QCOMPARE(gauge.Progress(), 0);
    QCOMPARE(gauge.Kind(), TGaugeKind::gkHorizontalBar);
    QCOMPARE(gauge.ForeColor(), clBlack);
    QCOMPARE(gauge.BackColor(), clWhite);
    QVERIFY(gauge.ShowText());
    QCOMPARE(gauge.BorderStyle(), TGaugeBorderStyle::bsSingle);
    QCOMPARE(gauge.size(), QSize(100, 100));
    QVERIFY(gauge.testAttribute(Qt::WA_OpaquePaintEvent));
    QCOMPARE(gauge.focusPolicy(), Qt::NoFocus);
    QCOMPARE(gauge.RenderPicture().format(), QImage::Format_RGB32);
  }

  void MainWindowGaugeFillsTheDocumentedColumns() {
    TGauge gauge;
    MakeMainWindowGauge(gauge);
    for (int p = 0; p <= 100; ++p) {
      gauge.SetProgress(p);
      const QImage image = gauge.RenderPicture();
      const int extent = 328 * p / 100;  // exact for this width at every whole percent
      for (int y = 0; y < 9; ++y) {
        QCOMPARE(image.pixel(0, y), kBlack);
        QCOMPARE(image.pixel(328, y), kBlack);
      }
      for (int x = 0; x < 329; ++x) {
        QCOMPARE(image.pixel(x, 0), kBlack);
        QCOMPARE(image.pixel(x, 8), kBlack);
      }
      for (int y = 1; y <= 7; ++y) {
        const int first_unfilled = FirstUnfilledColumn(image, y, kBlue);
        if (first_unfilled != std::max(extent, 1)) {
          QFAIL(qPrintable(QStringLiteral("%1 %: row %2 filled up to column %3, expected %4")
                               .arg(p)
                               .arg(y)
                               .arg(first_unfilled)
                               .arg(std::max(extent, 1))));
        }
        for (int x = first_unfilled; x <= 327; ++x) QCOMPARE(image.pixel(x, y), kWhite);
      }
    }
  }

  void NamedPercentagesAndColumns_data() {
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("first_unfilled");  // 328 when the whole inside is filled
    QTest::newRow("100 %") << 100 << 100 << 100 << 328;
    QTest::newRow("50 %") << 100 << 50 << 50 << 164;
    QTest::newRow("1 %") << 100 << 1 << 1 << 3;
    QTest::newRow("0 %") << 100 << 0 << 0 << 1;
    QTest::newRow("999 of 1000") << 1000 << 999 << 99 << 324;
    QTest::newRow("2 of 3") << 3 << 2 << 66 << 216;
    QTest::newRow("empty range") << 0 << 0 << 0 << 1;
  }
  void NamedPercentagesAndColumns() {
    QFETCH(int, max);
    QFETCH(int, progress);
    QFETCH(int, percent);
    QFETCH(int, first_unfilled);
    TGauge gauge;
    MakeMainWindowGauge(gauge);
    gauge.SetMaxValue(max);
    gauge.SetProgress(progress);
    QCOMPARE(gauge.PercentFilled(), percent);
    const QImage image = gauge.RenderPicture();
    QCOMPARE(FirstUnfilledColumn(image, 4, kBlue), first_unfilled);
    if (first_unfilled <= 327) QCOMPARE(image.pixel(first_unfilled, 4), kWhite);
  }

  void ExtendedPrecisionCanFallOneShort() {
    // W = 10 at 10 %: the product lands just below 1, so nothing is filled.
    TGauge gauge;
    gauge.resize(11, 5);
    gauge.SetShowText(false);
    gauge.SetProgress(10);
    const QImage image = gauge.RenderPicture();
    for (int x = 1; x <= 9; ++x) QCOMPARE(image.pixel(x, 2), kWhite);
    gauge.SetProgress(50);  // extent 5: columns 1 to 4
    QCOMPARE(gauge.RenderPicture().pixel(4, 2), kBlack);
    QCOMPARE(gauge.RenderPicture().pixel(5, 2), kWhite);
  }

  void WithoutBorderThereIsNoFrame() {
    TGauge gauge;
    gauge.resize(20, 4);
    gauge.SetShowText(false);
    gauge.SetBorderStyle(TGaugeBorderStyle::bsNone);
    gauge.SetForeColor(RGBColor(255, 0, 0));
    gauge.SetProgress(50);
    const QImage image = gauge.RenderPicture();
    QCOMPARE(image.pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(image.pixel(0, 3), qRgb(255, 0, 0));
    QCOMPARE(image.pixel(19, 0), kWhite);
  }

  void OtherKinds() {
    TGauge gauge;
    gauge.resize(20, 20);
    gauge.SetShowText(false);
    gauge.SetForeColor(RGBColor(0, 255, 0));
    gauge.SetProgress(50);
    gauge.SetKind(TGaugeKind::gkText);
    QImage image = gauge.RenderPicture();
    for (int x = 1; x <= 18; ++x) QCOMPARE(image.pixel(x, 10), kWhite);

    gauge.SetKind(TGaugeKind::gkVerticalBar);
    image = gauge.RenderPicture();
    QCOMPARE(image.pixel(10, 17), qRgb(0, 255, 0));  // filled from the bottom
    QCOMPARE(image.pixel(10, 2), kWhite);
    QCOMPARE(image.pixel(10, 19), kBlack);  // frame

    for (TGaugeKind kind : {TGaugeKind::gkPie, TGaugeKind::gkNeedle}) {
      gauge.SetKind(kind);
      image = gauge.RenderPicture();
      QCOMPARE(image.pixel(0, 0), kBlack);
      bool has_fore = false;
      for (int y = 1; y < 19; ++y) {
        for (int x = 1; x < 19; ++x) has_fore = has_fore || image.pixel(x, y) == qRgb(0, 255, 0);
      }
      QVERIFY(has_fore);
    }
  }

  void TextInvertsWhatLiesBeneath() {
    TGauge gauge;
    gauge.resize(120, 30);
    gauge.SetForeColor(RGBColor(0, 0, 255));
    gauge.SetProgress(50);
    gauge.SetShowText(false);
    const QImage plain = gauge.RenderPicture();
    gauge.SetShowText(true);
    const QImage with_text = gauge.RenderPicture();
    int inverted = 0;
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 120; ++x) {
        const QRgb before = plain.pixel(x, y);
        const QRgb after = with_text.pixel(x, y);
        if (before == after) continue;
        QCOMPARE(after, (~before & 0x00FFFFFFu) | 0xFF000000u);
        QVERIFY(x >= 1 && x <= 118 && y >= 1 && y <= 28);  // clipped to the inside
        ++inverted;
      }
    }
    QVERIFY(inverted > 0);
  }

  void SettersClampAndRefuse() {
    TGauge gauge;
    gauge.SetProgress(150);
    QCOMPARE(gauge.Progress(), 100);
    gauge.SetProgress(-5);
    QCOMPARE(gauge.Progress(), 0);

    gauge.SetProgress(80);
    gauge.SetMaxValue(50);
    QCOMPARE(gauge.Progress(), 50);
    gauge.SetMinValue(20);
    QCOMPARE(gauge.MinValue(), 20);
    gauge.SetMinValue(40);
    gauge.SetProgress(45);
    gauge.SetMinValue(48);
    QCOMPARE(gauge.Progress(), 48);

    TGauge empty;
    empty.SetMaxValue(0);  // equal to MinValue: accepted
    QCOMPARE(empty.MaxValue(), 0);
    QCOMPARE(empty.PercentFilled(), 0);
    QCOMPARE(empty.RenderPicture().pixel(5, 5), kWhite);
  }

  void RangeErrorsCarryTheBounds() {
    TGauge gauge;
    QCOMPARE(ErrorOf([&] { gauge.SetMaxValue(-1); }),
             QStringLiteral("Value must be between 1 and 2147483647"));
    QCOMPARE(gauge.MaxValue(), 100);
    QCOMPARE(ErrorOf([&] { gauge.SetMinValue(101); }),
             QStringLiteral("Value must be between -2147483647 and 99"));
    QCOMPARE(gauge.MinValue(), 0);
    gauge.SetMinValue(100);  // equal to MaxValue: accepted
    QCOMPARE(gauge.MinValue(), 100);
    QCOMPARE(gauge.Progress(), 100);
  }

  void PercentOfWideRangesDoesNotOverflow() {
    TGauge gauge;
    gauge.SetMaxValue(std::numeric_limits<int32_t>::max());
    gauge.SetMinValue(std::numeric_limits<int32_t>::min());
    gauge.SetProgress(0);
    QCOMPARE(gauge.PercentFilled(), 50);
    gauge.SetProgress(std::numeric_limits<int32_t>::max());
    QCOMPARE(gauge.PercentFilled(), 100);
    gauge.SetMinValue(0);
    gauge.SetProgress(2000000000);
    QCOMPARE(gauge.PercentFilled(), 93);
  }

  void RepaintsOnlyWhenThePictureChanges() {
    TGauge gauge;
    gauge.SetMaxValue(1000);
    gauge.SetProgress(10);
    const int before = gauge.RepaintCount();
    gauge.SetProgress(15);  // still 1 %
    QCOMPARE(gauge.Progress(), 15);
    QCOMPARE(gauge.RepaintCount(), before);
    gauge.SetProgress(25);
    QCOMPARE(gauge.RepaintCount(), before + 1);
    gauge.SetProgress(25);
    gauge.SetProgress(5000);  // clamped to 1000
    QCOMPARE(gauge.RepaintCount(), before + 2);
    gauge.SetKind(TGaugeKind::gkHorizontalBar);
    gauge.SetForeColor(clBlack);
    gauge.SetBackColor(clWhite);
    gauge.SetShowText(true);
    gauge.SetBorderStyle(TGaugeBorderStyle::bsSingle);
    gauge.SetMaxValue(1000);
    QCOMPARE(gauge.RepaintCount(), before + 2);
    gauge.SetBackColor(RGBColor(1, 2, 3));
    gauge.SetMaxValue(2000);
    QCOMPARE(gauge.RepaintCount(), before + 4);
    try {
      gauge.SetMaxValue(-1);
    } catch (const EInvalidOperation&) {
    }
    QCOMPARE(gauge.RepaintCount(), before + 4);
  }

  void VisibleGaugeShowsTheNewPictureBeforeTheWriteReturns() {
    TGauge gauge;
    MakeMainWindowGauge(gauge);
    gauge.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gauge));
    PaintCounter paints;
    gauge.installEventFilter(&paints);
    gauge.SetProgress(50);
    QCOMPARE(paints.count, 1);  // painted inside the write, no event loop in between
    gauge.SetProgress(50);
    QCOMPARE(paints.count, 1);
    const QImage shown = gauge.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.pixel(100, 4), kBlue);
    QCOMPARE(shown.pixel(200, 4), kWhite);
  }
};

QTEST_MAIN(GaugeTest)
#include "bar_gauge_test.moc"
