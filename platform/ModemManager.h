#pragma once
// Whether ModemManager is running: it grabs a new USB modem's port for a few
// seconds after the port appears, so a busy port may be its doing.

namespace voltrix {

bool modemManagerRunning();

}  // namespace voltrix
