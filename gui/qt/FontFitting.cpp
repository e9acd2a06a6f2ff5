#include "gui/qt/FontFitting.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMargins>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

namespace voltrix {

namespace {

bool fits(const QFont& font, const QString& text, const QSize& room) {
  const QFontMetrics metrics(font);
  return metrics.horizontalAdvance(text) <= room.width() && metrics.height() <= room.height();
}

QMargins evenMargins(int margin) {
  return QMargins(margin, margin, margin, margin);
}

}  // namespace

QFont fontFitting(const QFont& font, const QString& text, const QSize& room) {
  if (fits(font, text, room)) return font;
  // A font asked for in points steps down from the pixels it came out at.
  int pixelSize = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
  QFont smaller = font;
  while (pixelSize > kSmallestCaptionPixelSize) {
    smaller.setPixelSize(--pixelSize);
    if (fits(smaller, text, room)) break;
  }
  return smaller;
}

QSize captionRoom(const QLabel& label) {
  return label.contentsRect().size().shrunkBy(evenMargins(label.margin()));
}

QSize captionRoom(const QPushButton& button) {
  // The style keeps its button margin clear all round the text.
  QStyleOptionButton option;
  option.initFrom(&button);
  const int margin = button.style()->pixelMetric(QStyle::PM_ButtonMargin, &option, &button);
  return button.size().shrunkBy(evenMargins(margin));
}

void fitCaption(QLabel& label) {
  label.setFont(fontFitting(label.font(), label.text(), captionRoom(label)));
}

void fitCaption(QPushButton& button) {
  button.setFont(fontFitting(button.font(), button.text(), captionRoom(button)));
}

}  // namespace voltrix
