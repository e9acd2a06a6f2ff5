#pragma once
// Whether a one-line caption is whole in its control, and as large as the
// control allows up to the size the dialog asked for.

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace voltrix::test {

inline QSize textRoom(const QPushButton& button) {
  const int margin = button.style()->pixelMetric(QStyle::PM_ButtonMargin);
  return button.size() - QSize(2 * margin, 2 * margin);
}

inline QSize textRoom(const QLabel& label) {
  return label.contentsRect().size();
}

inline bool fitsIn(const QFont& font, const QString& text, const QSize& room) {
  const QFontMetrics metrics(font);
  return metrics.horizontalAdvance(text) <= room.width() && metrics.height() <= room.height();
}

template <typename Control>
::testing::AssertionResult wholeAtLargestSize(const Control& control, int askedPixelSize) {
  const QSize room = textRoom(control);
  QFont larger = control.font();
  const int size = larger.pixelSize();
  larger.setPixelSize(size + 1);
  if (fitsIn(control.font(), control.text(), room) && size <= askedPixelSize &&
      (size == askedPixelSize || !fitsIn(larger, control.text(), room))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << size << " px: " << QFontMetrics(control.font()).horizontalAdvance(control.text())
         << " px wide, " << room.width() << " px available";
}

}  // namespace voltrix::test
