#include "gui/qt/StatusLine.h"

#include <QFontInfo>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

namespace voltrix {

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setWordWrap(true);
}

int StatusLine::lineStep() const {
  return QFontInfo(font()).pixelSize();
}

void StatusLine::layOut(QTextLayout& layout) const {
  QTextOption option(Qt::AlignLeft | Qt::AlignTop);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  const qreal width = contentsRect().width();
  const int step = lineStep();
  qreal top = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    line.setPosition(QPointF(0, top));
    top += step;
  }
  layout.endLayout();
}

QList<QRectF> StatusLine::lineRects() const {
  QTextLayout layout(text(), font());
  layOut(layout);
  QList<QRectF> rects;
  for (int i = 0; i < layout.lineCount(); ++i) {
    const QTextLine line = layout.lineAt(i);
    rects.append(QRectF(line.position(), QSizeF(line.naturalTextWidth(), lineStep())));
  }
  return rects;
}

void StatusLine::paintEvent(QPaintEvent* event) {
  // The frame as any sunken static draws it; the text is ours.
  QFrame::paintEvent(event);
  QTextLayout layout(text(), font());
  layOut(layout);
  QPainter painter(this);
  painter.setClipRect(contentsRect());
  painter.setPen(palette().color(foregroundRole()));
  layout.draw(&painter, contentsRect().topLeft());
}

}  // namespace voltrix
