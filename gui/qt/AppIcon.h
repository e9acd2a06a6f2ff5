#pragma once
// The application icon, shared by the main dialog, the About box and the
// window manager.

#include <QIcon>

namespace voltrix {

QIcon applicationIcon();

}  // namespace voltrix
