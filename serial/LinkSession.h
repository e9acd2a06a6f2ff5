#pragma once
// One protocol phase's use of the port: opens it for the state's COM number,
// waits for replies within the link's bounds and turns every way a wait can
// go wrong into the one message the phase posts.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/DownloadState.h"
#include "engine/WorkerMessages.h"
#include "serial/ComResolver.h"
#include "serial/PortOpenFailure.h"
#include "serial/ProtocolConstants.h"
#include "serial/SerialPort.h"

namespace voltrix {

// What the front end may want to know after a run: why the port would not open.
class OpenFailureRecord {
 public:
  void record(PortOpenFailure failure);
  // The whole of the last failure, and its kind alone.
  PortOpenFailure last() const;
  OpenFailure failure() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  PortOpenFailure last_;
};

struct LinkContext {
  std::shared_ptr<const ComResolver> resolver;
  LinkTimings timings;
  std::shared_ptr<OpenFailureRecord> openFailures;
};

enum class ReplyStatus { Received, Failed };

class LinkSession {
 public:
  LinkSession(DownloadState& state, MessageSink& dialog, const LinkContext& context);

  // Opens the port; on failure posts "Fail to open the COM!" and records why.
  bool open();
  void send(const std::uint8_t* bytes, std::uint32_t length);
  void send(std::uint8_t byte) { send(&byte, 1); }
  // Waits for the one-byte reply to what was just sent. On silence, a lost
  // port or a cancel, posts the message that says so and returns Failed.
  ReplyStatus awaitReply(std::uint8_t& reply);
  // The same, without a message: for replies whose loss changes nothing.
  bool awaitReplyQuietly(std::uint8_t& reply);
  // Collects `length` bytes of a read-back block; returns how many came.
  std::uint32_t receiveBlock(std::uint8_t* buffer, std::uint32_t length);
  // Tells a device that refused a header or a block to drop the transfer;
  // its answer changes nothing.
  void abortTransfer();
  // Waits `pause`, waking early on a cancel. False when cancelled.
  bool pause(std::chrono::milliseconds pause);
  bool cancelled() const { return state_.cancelRequested.load(); }
  void postCancelled();

  SerialPort& port() { return port_; }
  DownloadState& state() { return state_; }
  MessageSink& dialog() { return dialog_; }
  const LinkTimings& timings() const { return context_.timings; }

 private:
  void postWaitFailure(WaitResult result);

  DownloadState& state_;
  MessageSink& dialog_;
  const LinkContext& context_;
  SerialPort port_;
};

// The three phases.
int writeSegment(DownloadState& state, MessageSink& dialog, const std::string& writeFileName,
                 const LinkContext& context);
int readBackSegment(DownloadState& state, MessageSink& dialog, const std::string& writeFileName,
                    const std::string& readBackFileName, const LinkContext& context);
int sendEndOfRun(DownloadState& state, MessageSink& dialog, int success,
                 const LinkContext& context);

}  // namespace voltrix
