#pragma once
// Dialog layouts are kept in dialog units, as in their templates, and turned
// into pixels with the dialog font's metrics the way Windows does: a
// horizontal unit is a quarter of the average letter width, a vertical unit
// an eighth of the character height (宋体's cell, which is its em).

#include <QFont>
#include <QRect>
#include <QSize>

namespace voltrix {

// The templates' font: 宋体 9 pt, with a CJK font that Linux systems carry as
// the fallback, so the Chinese texts have glyphs.
QFont templateFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int x(int units) const;
  int y(int units) const;
  QRect rect(int x, int y, int width, int height) const;
  QSize size(int width, int height) const;

  // Average width of "A".."Z" "a".."z" (rounded) and em height, in pixels.
  int baseWidth() const { return baseWidth_; }
  int baseHeight() const { return baseHeight_; }

 private:
  int baseWidth_;
  int baseHeight_;
};

}  // namespace voltrix
