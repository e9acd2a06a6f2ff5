#pragma once
// Dialog layouts are kept in dialog units, as in their templates, and turned
// into pixels with the dialog font's metrics the way Windows does: a
// horizontal unit is a quarter of the average letter width, a vertical unit
// an eighth of the character height (宋体's cell, which is its em).

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace voltrix {

// The templates' font: 宋体 9 pt, with a CJK font that Linux systems carry as
// the fallback, so the Chinese texts have glyphs.
QFont templateFont();

// Below this the template's texts would be unreadable; a screen too small
// for a template even at this size gets it at this size all the same.
inline constexpr int kSmallestTemplatePixelSize = 8;

// The template font, unless a template of `widthUnits` × `heightUnits` would
// not fit in `room` with it (a small screen, a large scale factor): then the
// largest smaller size at which it fits, down to kSmallestTemplatePixelSize.
// Every distance is in dialog units of that font, so the whole layout shrinks
// with it and keeps its proportions.
QFont templateFontWithin(const QSize& room, int widthUnits, int heightUnits);

// What a window may take of its screen's available area, less the frame the
// window manager adds (unknown before the window is shown; the style's title
// bar and frame stand in for it).
QSize clientRoomOnScreen(const QWidget& window);

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
