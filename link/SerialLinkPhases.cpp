#include "link/SerialLinkPhases.h"

namespace voltrix {

SerialLinkPhases::SerialLinkPhases(std::shared_ptr<const ComResolver> resolver, LinkTimings timings)
    : context_{std::move(resolver),
               timings,
               std::make_shared<OpenFailureRecord>(),
               std::make_shared<RecentReplyLatency>(),
               nullptr,
               std::make_shared<PinnedDevice>()} {}

void SerialLinkPhases::beginRun() {
  context_.pinnedDevice->forget();
}

int SerialLinkPhases::writeSegment(DownloadState& state, MessageSink& dialog,
                                   const std::string& writeFileName) {
  return voltrix::writeSegment(state, dialog, writeFileName, context_);
}

int SerialLinkPhases::readBackSegment(DownloadState& state, MessageSink& dialog,
                                      const std::string& writeFileName,
                                      const std::string& readBackFileName) {
  return voltrix::readBackSegment(state, dialog, writeFileName, readBackFileName, context_);
}

int SerialLinkPhases::sendEndOfRun(DownloadState& state, MessageSink& dialog, int success) {
  return voltrix::sendEndOfRun(state, dialog, success, context_);
}

}  // namespace voltrix
