// Telling the device in one byte how the run ended.

#include "serial/LinkSession.h"

namespace voltrix {

int sendEndOfRun(DownloadState& state, MessageSink& dialog, int success,
                 const LinkContext& context) {
  LinkSession link(state, dialog, context);
  if (!link.open()) return 1;
  link.send(success != 0 ? CMD_END_OK : CMD_END_FAIL);
  // Any answer will do. A device that never answers must not keep the worker
  // (and the port) for ever; the run's outcome is already on the screen.
  std::uint8_t reply = 0;
  return link.awaitReplyQuietly(reply) ? 0 : 1;
}

}  // namespace voltrix
