#pragma once
// The banner and DOWNLOAD ask for Arial at sizes chosen for Arial's metrics.
// Where Arial is missing, the font system stands in whatever it has, often a
// wider face, and a caption that no longer fits its control is cut off. Such
// a caption is set a little smaller instead, down to a size still legible.

#include <QFont>
#include <QSize>

class QLabel;
class QPushButton;
class QString;

namespace voltrix {

// Below this a caption would be unreadable; one that still does not fit is
// left to be cut rather than shrunk into illegibility.
inline constexpr int kSmallestCaptionPixelSize = 8;

// `font` itself when `text` fits in `room` (its advance no wider, its line no
// higher); otherwise the same font one pixel smaller at a time until it
// fits, but never below kSmallestCaptionPixelSize.
QFont fontFitting(const QFont& font, const QString& text, const QSize& room);

// The space each control draws its one-line caption in.
QSize captionRoom(const QLabel& label);
QSize captionRoom(const QPushButton& button);

// Gives the control the largest size of its own font, at most the one it
// has, at which its caption fits.
void fitCaption(QLabel& label);
void fitCaption(QPushButton& button);

}  // namespace voltrix
