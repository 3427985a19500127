// velotrax-icon-render: writes the application icon for the desktop from the drawing in
// dist/velotrax.svg, and checks that the drawing still matches the window icon that
// ui/qt/icons.cpp paints, so that the menu and the task bar never show two different pictures.
//
//   velotrax-icon-render SVG OUTDIR SIZE...   writes OUTDIR/SIZExSIZE.png for each SIZE
//   velotrax-icon-render --check SVG          exit 0 when the SVG at 32 x 32 is the window icon
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/qt/icons.h"

namespace {

QImage Render(QSvgRenderer& svg, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  svg.render(&p);
  p.end();
  return image;
}

// Both pictures come from the same painter, so they agree to the pixel today; a little room is
// left for the antialiased edge of the saw-tooth, should a later Qt round it differently.
int Check(QSvgRenderer& svg) {
  const QImage drawn = velotrax::MainIcon().pixmap(32, 32).toImage().convertToFormat(
      QImage::Format_ARGB32_Premultiplied);
  const QImage rendered = Render(svg, 32);
  if (drawn.size() != rendered.size()) {
    std::fprintf(stderr, "velotrax-icon-render: the window icon is not 32 x 32\n");
    return 1;
  }
  int worst = 0;
  int differing = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const QRgb a = drawn.pixel(x, y);
      const QRgb b = rendered.pixel(x, y);
      const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
      worst = std::max(worst, d);
      if (d > 0) ++differing;
    }
  }
  std::printf("velotrax-icon-render: %d of 1024 pixels differ, by at most %d of 255\n", differing,
              worst);
  if (worst > 4 || differing > 16) {
    std::fprintf(stderr, "velotrax-icon-render: the SVG no longer shows the window icon\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Drawing needs no screen; the tool runs at build time on machines without one.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments();
  const bool check = args.size() == 3 && args[1] == "--check";
  if (!check && args.size() < 4) {
    std::fprintf(stderr, "usage: velotrax-icon-render SVG OUTDIR SIZE... | --check SVG\n");
    return 2;
  }
  QSvgRenderer svg(check ? args[2] : args[1]);
  if (!svg.isValid()) {
    std::fprintf(stderr, "velotrax-icon-render: cannot read %s\n",
                 qPrintable(check ? args[2] : args[1]));
    return 1;
  }
  if (check) return Check(svg);
  const QDir out(args[2]);
  if (!out.mkpath(".")) {
    std::fprintf(stderr, "velotrax-icon-render: cannot create %s\n", qPrintable(args[2]));
    return 1;
  }
  for (int i = 3; i < args.size(); ++i) {
    bool ok = false;
    const int size = args[i].toInt(&ok);
    if (!ok || size < 8 || size > 1024) {
      std::fprintf(stderr, "velotrax-icon-render: %s is not an icon size\n", qPrintable(args[i]));
      return 2;
    }
    const QString file = out.filePath(QString("%1x%1.png").arg(size));
    if (!Render(svg, size).save(file, "PNG")) {
      std::fprintf(stderr, "velotrax-icon-render: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
