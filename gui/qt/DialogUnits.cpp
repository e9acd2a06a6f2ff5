#include "gui/qt/DialogUnits.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QStyle>
#include <QWidget>

namespace voltrix {

namespace {

constexpr int kHorizontalUnitsPerBase = 4;
constexpr int kVerticalUnitsPerBase = 8;
constexpr int kLetterCount = 52;

// a × b / c rounded half away from zero, as the conversion has always rounded.
int mulDivRounded(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

int averageLetterWidth(const QFontMetrics& metrics) {
  QString letters;
  for (char c = 'A'; c <= 'Z'; ++c) letters += QLatin1Char(c);
  for (char c = 'a'; c <= 'z'; ++c) letters += QLatin1Char(c);
  return mulDivRounded(metrics.horizontalAdvance(letters), 1, kLetterCount);
}

}  // namespace

QFont templateFont() {
  QFont font;
  // Asked for by name alone, 宋体 falls to fontconfig's default Latin font,
  // which has no Chinese glyphs; the CJK fonts Linux systems carry come next.
  font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                    QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("Droid Sans Fallback")});
  font.setPointSize(9);
  return font;
}

QFont templateFontWithin(const QSize& room, int widthUnits, int heightUnits) {
  QFont font = templateFont();
  const auto fits = [&] {
    const QSize size = DialogUnits(font).size(widthUnits, heightUnits);
    return size.width() <= room.width() && size.height() <= room.height();
  };
  for (int pixels = QFontInfo(font).pixelSize() - 1;
       !fits() && pixels >= kSmallestTemplatePixelSize; --pixels) {
    font.setPixelSize(pixels);
  }
  return font;
}

QSize clientRoomOnScreen(const QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  const int border = window.style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
  const int titleBar = window.style()->pixelMetric(QStyle::PM_TitleBarHeight);
  return screen->availableGeometry().size() - QSize(2 * border, titleBar + 2 * border);
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  baseWidth_ = averageLetterWidth(metrics);
  // 宋体's character cell is exactly its em, and the templates were laid out
  // on that cell. Its substitutes space their lines more loosely (WenQuanYi
  // Zen Hei: 16 px at 12), which would stretch every vertical distance by a
  // third; the em keeps the template's proportions whichever font stands in.
  baseHeight_ = QFontInfo(font).pixelSize();
}

int DialogUnits::x(int units) const {
  return mulDivRounded(units, baseWidth_, kHorizontalUnitsPerBase);
}

int DialogUnits::y(int units) const {
  return mulDivRounded(units, baseHeight_, kVerticalUnitsPerBase);
}

QRect DialogUnits::rect(int x, int y, int width, int height) const {
  return QRect(this->x(x), this->y(y), this->x(width), this->y(height));
}

QSize DialogUnits::size(int width, int height) const {
  return QSize(x(width), y(height));
}

}  // namespace voltrix
