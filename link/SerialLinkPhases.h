#pragma once
// The loader protocol over a real serial port, as the worker calls it.

#include <memory>

#include "engine/LinkPhases.h"
#include "link/LinkSession.h"

namespace voltrix {

class SerialLinkPhases final : public LinkPhases {
 public:
  explicit SerialLinkPhases(std::shared_ptr<const ComResolver> resolver = systemComResolver(),
                            LinkTimings timings = {});

  // Every phase of the run must reach the device its first phase reached.
  void beginRun() override;
  int writeSegment(DownloadState& state, MessageSink& dialog,
                   const std::string& writeFileName) override;
  int readBackSegment(DownloadState& state, MessageSink& dialog, const std::string& writeFileName,
                      const std::string& readBackFileName) override;
  int sendEndOfRun(DownloadState& state, MessageSink& dialog, int success) override;

  // Why the port last refused to open (None when it never did).
  const OpenFailureRecord& openFailures() const { return *context_.openFailures; }
  // Every byte of the following runs goes to `trace` too; set before a run.
  void setTrace(std::shared_ptr<ProtocolTrace> trace) { context_.trace = std::move(trace); }

 private:
  LinkContext context_;
};

}  // namespace voltrix
