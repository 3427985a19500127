#include "ui/qt/text_codec.h"

#include <QStringDecoder>

namespace velotrax {

namespace {

// Windows-1252 at 0x80..0x9F; the five holes of the code page keep their C1 code points.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString FromWindows1252(const std::string& bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (unsigned char c : bytes) {
    if (c >= 0x80 && c < 0xA0) {
      text.append(QChar(kCp1252High[c - 0x80]));
    } else {
      text.append(QChar(static_cast<char16_t>(c)));
    }
  }
  return text;
}

}  // namespace

QString ShowText(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return text;
  return FromWindows1252(bytes);
}

std::string TakeText(const QString& shown, const std::string& original) {
  if (shown == ShowText(original)) return original;
  return shown.toStdString();
}

}  // namespace velotrax
