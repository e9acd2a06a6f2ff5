#pragma once
// The sunken status field. Its text wraps onto a second line when it is too
// long (the error line with its file name does), and its lines are one em
// apart as 宋体's are: the field is two such lines high, and a substitute
// font's looser spacing would push the second line out of it.

#include <QLabel>
#include <QList>
#include <QRectF>

class QTextLayout;

namespace voltrix {

class StatusLine final : public QLabel {
  Q_OBJECT

 public:
  explicit StatusLine(QWidget* parent = nullptr);

  // Where each line of the current text goes, within the contents rectangle,
  // each as high as the line step.
  QList<QRectF> lineRects() const;
  int lineStep() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void layOut(QTextLayout& layout) const;
};

}  // namespace voltrix
