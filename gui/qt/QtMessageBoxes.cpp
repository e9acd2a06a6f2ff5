#include "gui/qt/QtMessageBoxes.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

namespace voltrix {

QtMessageBoxes::QtMessageBoxes(QWidget* owner) : owner_(owner) {}

void QtMessageBoxes::showMessageBox(const char* text, const char* caption) {
  // Without a caption the box is titled with the program's name, which Qt
  // takes from the program file like the original did.
  const QString title =
      caption != nullptr ? QString::fromUtf8(caption) : QCoreApplication::applicationName();
  QMessageBox box(QMessageBox::NoIcon, title, QString::fromUtf8(text != nullptr ? text : ""),
                  QMessageBox::Ok, owner_);
  // Plain text keeps the padding spaces of the "can't be found" lines and
  // never reads markup into a text.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  // Caption, system menu and close only, as a message box always had.
  box.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                     Qt::WindowCloseButtonHint);
  box.exec();
}

}  // namespace voltrix
