// Telling the device in one byte how the run ended.

#include "link/LinkSession.h"

namespace voltrix {

int sendEndOfRun(DownloadState& state, MessageSink& dialog, int success,
                 const LinkContext& context) {
  LinkSession link(state, dialog, context);
  // A run may count as a success only once 'Z' is out; a port that will not
  // open has said so already.
  if (!link.open()) return 1;
  // The segments are settled, so the byte goes out even after a cancel.
  link.send(success != 0 ? CMD_END_OK : CMD_END_FAIL);
  if (link.port().IsGone()) {
    PostToDialog(dialog, failureMessage(RunFailure::PortGone));
    return 1;
  }
  // Any answer will do, and none changes anything: it is awaited only so
  // that the byte has left before the port closes (closing drops output
  // still unsent). A device that never answers must not keep the worker (and
  // the port) for ever, and a cancel cuts the wait short.
  std::uint8_t reply = 0;
  link.awaitReplyQuietly(reply);
  return 0;
}

}  // namespace voltrix
