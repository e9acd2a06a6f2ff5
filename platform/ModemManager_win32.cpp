#include "platform/ModemManager.h"

namespace voltrix {

// Windows has no ModemManager; its own modem service leaves USB ports alone.
bool modemManagerRunning() {
  return false;
}

}  // namespace voltrix
