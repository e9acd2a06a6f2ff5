#pragma once
// One protocol phase's use of the port: opens it for the state's COM number,
// waits for replies within the link's bounds and turns every way a wait can
// go wrong into the one message the phase posts.
//
// A cancel (the state's cancelRequested) never leaves the device's loader in
// the middle of a block: the loader takes every byte as the next part of the
// step it expects, so a host that walked away after 'W' would have the next
// run's 'S' taken as a header length. What the host does, per step:
//   - handshake ('S' sent, answer awaited; also while the late answers are
//     drained): no further 'S' is sent; the answers still due are awaited
//     within the closing allowance, or the next run would take them for the
//     answers to its own. A device that refused every request is at its
//     command state and is sent nothing more. A device that accepted (before
//     the cancel, or in an answer that arrives within the allowance) expects
//     a download: as after any accepted request, the abort packet goes out
//     and its reply is awaited.
//   - after the handshake was accepted, before the first block: the abort
//     packet and its reply, as inside a block.
//   - start of the read-back, or a segment that has just been written or
//     read back completely: the loader is at its command state with nothing
//     pending. Nothing is sent.
//   - inside a write block (after 'W', after its header, after its data) or
//     a read-back block (after 'R', after its header, after 0xBB while the
//     data come, after the closing ACK): the block is carried to its end as
//     usual (header, data; or header, 0xBB, data, ACK), then the abort packet
//     03 45 00 goes out and its one reply is awaited, as after a refused
//     block, so that the loader drops the transfer and waits for a command.
//     A header or block refused on the way ends the block there and is
//     followed by the abort packet just the same.
// Once the cancel has come, every reply is awaited only within a closing
// allowance counted from its request: twice the recent reply latency plus
// LinkTimings::closingAllowance, never more than the reply bound. A reply
// that does not come within it means the device is silent, and nothing more
// is sent (every further byte would only be taken as part of a step the
// device never finished), so a silent device lets the run end at once. Only
// the ACK that closes a read-back block goes out however much of the block
// came: the device awaits it once it has sent its data.
// A local failure in the middle of an exchange (the read-back file cannot be
// written, the write file cannot be read) ends it the same way: the block
// under way is carried to its end and the abort packet follows, so that the
// next run finds the loader at its command state.
// The end-of-run byte is no part of a block: once the segments are settled
// it goes out even after a cancel, which only shortens the wait for its
// answer to the closing allowance.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/DownloadState.h"
#include "engine/RunFailure.h"
#include "engine/WorkerMessages.h"
#include "link/ProtocolConstants.h"
#include "link/ProtocolTrace.h"
#include "port/ComResolver.h"
#include "port/PortOpenFailure.h"
#include "port/SerialPort.h"

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

// How long the device has lately taken to answer, carried from one phase to
// the next so that a phase knows its device before its first reply.
class RecentReplyLatency {
 public:
  void observe(std::chrono::steady_clock::duration latency);
  // The longest of the last few replies; zero before the first.
  std::chrono::steady_clock::duration longest() const;

 private:
  mutable std::mutex mutex_;
  std::array<std::chrono::steady_clock::duration, 8> samples_{};
  std::size_t next_ = 0;
};

// The device a run's first phase reached. Every phase opens the port anew,
// so a port name repointed between phases (a link, a COM name taken over by
// another device) would hand a later phase another device, and a run that
// wrote its first segment into one device would go on with the next one.
class PinnedDevice {
 public:
  // A new run: the next identity admitted is pinned.
  void forget();
  // True when `identity` is the pinned one, or none is pinned yet (then it
  // is). An empty identity (the system cannot tell) pins nothing and is
  // always admitted.
  bool admit(const std::string& identity);

 private:
  std::mutex mutex_;
  std::string pinned_;
};

struct LinkContext {
  std::shared_ptr<const ComResolver> resolver;
  LinkTimings timings;
  std::shared_ptr<OpenFailureRecord> openFailures;
  std::shared_ptr<RecentReplyLatency> replyLatency;
  std::shared_ptr<ProtocolTrace> trace;        // sees every byte sent and received; may be null
  std::shared_ptr<PinnedDevice> pinnedDevice;  // none: any device will do
};

enum class ReplyStatus { Received, Failed };

class LinkSession {
 public:
  using Clock = std::chrono::steady_clock;

  LinkSession(DownloadState& state, MessageSink& dialog, const LinkContext& context);

  // Opens the port; on failure posts "Fail to open the COM!" and records why.
  // A port that now leads to another device than the run's first phase
  // reached is closed again before a byte is sent, and the device counts as
  // gone away.
  bool open();
  // Hands the bytes to the port whole: a cancel never cuts a request short.
  void send(const std::uint8_t* bytes, std::uint32_t length);
  void send(std::uint8_t byte) { send(&byte, 1); }
  // Waits for the one-byte reply to what was just sent. On silence, a lost
  // port or a cancel, posts the message that says so and returns Failed.
  // After a cancel the wait goes on within the closing allowance.
  ReplyStatus awaitReply(std::uint8_t& reply);
  // The same, without a message: for replies whose loss changes nothing.
  bool awaitReplyQuietly(std::uint8_t& reply);
  // The wait itself, posting nothing.
  WaitResult waitForReply(std::uint8_t& reply);
  // After a cancel: waits, within the closing allowance, for a byte due in
  // answer to a request sent at `sentAt`.
  WaitResult awaitDueByte(std::uint8_t& byte, Clock::time_point sentAt);
  // Collects `length` bytes of a read-back block; returns how many came.
  // After a cancel the rest is collected within the closing allowance.
  std::uint32_t receiveBlock(std::uint8_t* buffer, std::uint32_t length);
  // Tells a device that refused a header or a block to drop the transfer;
  // its answer changes nothing.
  void abortTransfer();
  // At a block boundary after a cancel: the abort packet, then "Download
  // cancelled!". Returns the phase's failure result.
  int endCancelledTransfer();
  // Waits `pause`, waking early on a cancel. False when cancelled.
  bool pause(std::chrono::milliseconds pause);
  bool cancelled() const { return state_.cancelRequested.load(); }
  void postCancelled();
  // Posts the failure, or "Download cancelled!" once the run is cancelled:
  // the operator's cancel came first.
  void postFailure(RunFailure failure);
  // How long a reply to a request sent now may take before the exchange is
  // given up after a cancel.
  Clock::duration closingAllowance() const;
  void observeLatency(Clock::duration latency);
  // For bytes a phase takes from port() itself.
  void traceReceived(const std::uint8_t* bytes, std::size_t length);

  SerialPort& port() { return port_; }
  DownloadState& state() { return state_; }
  MessageSink& dialog() { return dialog_; }
  const LinkTimings& timings() const { return context_.timings; }

 private:
  // From here on no wait of the port is cut by the cancel flag: the session
  // bounds its waits by the closing allowance instead.
  void beginClosing();
  void postWaitFailure(WaitResult result);

  DownloadState& state_;
  MessageSink& dialog_;
  const LinkContext& context_;
  SerialPort port_;
  RecentReplyLatency ownLatency_;  // when the context carries none
  RecentReplyLatency& latency_;
  bool closing_ = false;
  Clock::time_point sentAt_{};
};

// The three phases.
int writeSegment(DownloadState& state, MessageSink& dialog, const std::string& writeFileName,
                 const LinkContext& context);
int readBackSegment(DownloadState& state, MessageSink& dialog, const std::string& writeFileName,
                    const std::string& readBackFileName, const LinkContext& context);
// 0 once the byte went out, whether or not its answer came; 1 when it could
// not go out at all (the port will not open, or is gone), which is posted.
int sendEndOfRun(DownloadState& state, MessageSink& dialog, int success,
                 const LinkContext& context);

}  // namespace voltrix
