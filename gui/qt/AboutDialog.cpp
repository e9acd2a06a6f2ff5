#include "gui/qt/AboutDialog.h"

#include <QLabel>
#include <QPushButton>

#include "gui/qt/AppIcon.h"
#include "gui/qt/DialogUnits.h"
#include "voltrix/Version.h"

namespace voltrix {

namespace {

// A static icon control takes the size of a large icon, whatever its
// template rectangle says.
constexpr int kLargeIconPixels = 32;
constexpr int kTemplateWidth = 235;
constexpr int kTemplateHeight = 55;

}  // namespace

// Caption, system menu and close only: a modal frame offers nothing to
// minimise or maximise.
AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      icon_(new QLabel(this)),
      version_(new QLabel(QStringLiteral("Voltrix V1.0"), this)),
      enter_(new QPushButton(QStringLiteral("Enter"), this)) {
  setWindowTitle(QStringLiteral("About Voltrix"));
  // Shrinks with its font on a screen too small for it, as the main dialog does.
  setFont(templateFontWithin(clientRoomOnScreen(*this), kTemplateWidth, kTemplateHeight));
  setWindowIcon(applicationIcon());
  const DialogUnits units(font());
  setFixedSize(units.size(kTemplateWidth, kTemplateHeight));

  icon_->setObjectName(QStringLiteral("aboutIcon"));
  icon_->setPixmap(applicationIcon().pixmap(kLargeIconPixels, kLargeIconPixels));
  icon_->setGeometry(units.x(11), units.y(17), kLargeIconPixels, kLargeIconPixels);

  version_->setObjectName(QStringLiteral("aboutVersion"));
  // The template's text stays; the build's own version is one hover away.
  version_->setToolTip(QStringLiteral("Voltrix %1").arg(QLatin1StringView(kVoltrixVersion)));
  version_->setTextFormat(Qt::PlainText);
  version_->setGeometry(units.rect(41, 23, 100, 8));

  enter_->setObjectName(QStringLiteral("aboutEnter"));
  enter_->setGeometry(units.rect(150, 21, 50, 14));
  enter_->setDefault(true);
  connect(enter_, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace voltrix
