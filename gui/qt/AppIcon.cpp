#include "gui/qt/AppIcon.h"

// The resource lives in a static library, whose initialiser the linker would
// drop unless something refers to it; this must sit outside any namespace.
static void initVoltrixResources() {
  Q_INIT_RESOURCE(voltrix);
}

namespace voltrix {

QIcon applicationIcon() {
  static const bool loaded = (initVoltrixResources(), true);
  (void)loaded;
  return QIcon(QStringLiteral(":/voltrix/voltrix.png"));
}

}  // namespace voltrix
