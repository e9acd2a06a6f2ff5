// Writing one segment: extract it into its write file, win the device's
// attention with 'S', then send the file in 64-byte blocks, each announced by
// 'W' and a header with its checksum, each acknowledged.

#include <algorithm>
#include <array>
#include <deque>

#include "engine/ImageFileOps.h"
#include "engine/RunFailure.h"
#include "engine/SystemTexts.h"
#include "link/BlockFiles.h"
#include "link/HeaderPackets.h"
#include "link/LinkSession.h"
#include "platform/FileIo.h"

namespace voltrix {

namespace {

enum class Handshake { Accepted, Failed };

using Clock = std::chrono::steady_clock;
// When each 'S' the device has not answered yet went out, oldest first.
using UnansweredRequests = std::deque<Clock::time_point>;

// A cancel during the handshake sends no further request, but the answers
// to the requests already sent would reach the next run as answers to its
// own, so they are awaited as long as a device that has not fallen silent may
// take. A device that has accepted (before the cancel, or in one of those
// answers) now expects a download: like any accepted request, the accepted
// handshake is closed with the abort packet and its reply, which leaves the
// device at its command state.
Handshake cancelHandshake(LinkSession& link, UnansweredRequests& unanswered, bool accepted) {
  while (!unanswered.empty()) {
    std::uint8_t late = 0;
    if (link.awaitDueByte(late, unanswered.back()) != WaitResult::Byte) break;
    unanswered.pop_front();
    accepted = accepted || late == ACK;
  }
  if (accepted && !link.port().IsGone()) link.abortTransfer();
  link.postCancelled();
  return Handshake::Failed;
}

// The device has accepted, but the answers to the requests sent after the one
// it answered are still on their way: taken later, they would pass for the
// replies to 'W', its header and its data. Each is awaited in turn, for as
// long as the accepting answer took after its own request, with room for
// jitter. A device that serves one request at a time takes up the next only
// once it has answered the one before, so the wait for each answer counts
// from the later of its request and the answer before it: a slow device with
// many requests queued is drained to the last, however long that takes. A
// request the device never heard has no answer, which is why each wait is
// bounded, and never by more than the reply bound. Once the count comes out
// even the line must still stay quiet for a moment: an answer left over from
// an earlier run may have been counted as one of ours.
Handshake drainLateAnswers(LinkSession& link, UnansweredRequests& unanswered,
                           Clock::duration latency) {
  const LinkTimings& timings = link.timings();
  if (unanswered.empty()) {
    link.observeLatency(latency);
    return Handshake::Accepted;
  }
  const Clock::duration slack = latency / 2 + timings.handshakeWindow;
  const Clock::duration answerTime = std::min<Clock::duration>(latency + slack, timings.replyBound);
  Clock::time_point lastByte = Clock::now();
  for (;;) {
    const Clock::time_point end = unanswered.empty()
                                      ? lastByte + timings.handshakeWindow
                                      : std::max(lastByte, unanswered.front()) + answerTime;
    const Clock::duration left = end - Clock::now();
    if (left <= Clock::duration::zero()) break;
    std::uint8_t late = 0;
    const WaitResult result =
        link.port().ReadByte(late, std::chrono::ceil<std::chrono::milliseconds>(left));
    if (result == WaitResult::Byte) link.traceReceived(&late, 1);
    if (result == WaitResult::TimedOut) break;
    if (result == WaitResult::PortGone) {
      PostToDialog(link.dialog(), failureMessage(RunFailure::PortGone));
      return Handshake::Failed;
    }
    if (result == WaitResult::Cancelled) return cancelHandshake(link, unanswered, true);
    if (!unanswered.empty()) unanswered.pop_front();
    lastByte = Clock::now();
  }
  // Only a count that came out even vouches for the latency.
  if (unanswered.empty()) link.observeLatency(latency);
  return Handshake::Accepted;
}

// Asks with 'S' until the device answers ACK. A device busy before it answers
// (erasing its flash, say) may answer after the next 'S' has gone out; it
// answers requests in the order they came, so every byte that arrives is
// taken as the answer to the oldest request still unanswered, whichever
// attempt is listening, and the answers still due once it accepted are
// drained.
Handshake handshake(LinkSession& link) {
  const LinkTimings& timings = link.timings();
  const auto started = Clock::now();
  UnansweredRequests unanswered;
  // Whatever came before the first request answers none of ours.
  link.port().PurgeInput();
  for (;;) {
    if (link.cancelled()) return cancelHandshake(link, unanswered, false);
    if (timings.handshakeLimit.count() > 0 && Clock::now() - started >= timings.handshakeLimit) {
      PostToDialog(link.dialog(), failureMessage(RunFailure::DeviceSilent));
      return Handshake::Failed;
    }
    PostToDialog(link.dialog(), textMessage(UWM_WAIT, texts::kRequestDownloading));
    link.send(CMD_SYNC);
    unanswered.push_back(Clock::now());
    std::uint8_t reply = 0;
    switch (link.port().ReadByte(reply, timings.handshakeWindow + timings.retryPause)) {
      case WaitResult::Byte: {
        link.traceReceived(&reply, 1);
        const Clock::duration latency = Clock::now() - unanswered.front();
        unanswered.pop_front();
        if (reply == ACK) return drainLateAnswers(link, unanswered, latency);
        if (!link.pause(timings.retryPause)) return cancelHandshake(link, unanswered, false);
        break;
      }
      case WaitResult::TimedOut:
        break;
      case WaitResult::PortGone:
        PostToDialog(link.dialog(), failureMessage(RunFailure::PortGone));
        return Handshake::Failed;
      case WaitResult::Cancelled:
        return cancelHandshake(link, unanswered, false);
    }
  }
}

int sendBlocks(LinkSession& link, File& file) {
  BlockSource writeFile(file);
  DownloadState& state = link.state();
  MessageSink& dialog = link.dialog();
  const std::uint32_t length = state.currentLength;
  std::uint32_t address = state.currentAddress;
  std::uint32_t sent = 0;
  std::array<std::uint8_t, BLOCK_SIZE> block{};
  for (std::uint32_t index = 0;; ++index) {
    const std::uint32_t wanted = blockRequest(index, length);
    if (wanted == 0) {
      PostToDialog(dialog, addressMessage(UWM_WRITE_DONE, address, length));
      return 0;
    }
    // A cancel is taken between blocks, never inside one (see LinkSession.h);
    // the device has accepted the download, so it is told to drop it.
    if (link.cancelled()) return link.endCancelledTransfer();
    const long long got = writeFile.read(block.data(), wanted);
    if (got < 0) {
      // Like a cancel: the device is not left expecting the rest.
      link.abortTransfer();
      PostToDialog(dialog, failureMessage(RunFailure::DownloadsFileOpening));
      return 1;
    }
    const auto count = static_cast<std::uint32_t>(got);

    std::uint8_t reply = 0;
    link.send(CMD_WRITE);
    if (link.awaitReply(reply) != ReplyStatus::Received) return 1;  // any byte will do

    const WriteHeader header = makeWriteHeader(index, address, block.data(), count);
    link.send(header.bytes.data(), header.size);
    if (link.awaitReply(reply) != ReplyStatus::Received) return 1;
    if (reply != ACK) {
      link.postFailure(RunFailure::DownloadRefused);
      link.abortTransfer();
      return 1;
    }
    link.send(block.data(), count);
    if (link.awaitReply(reply) != ReplyStatus::Received) return 1;
    if (reply != ACK) {
      link.postFailure(RunFailure::VerifyRefused);
      link.abortTransfer();
      return 1;
    }
    if (count < BLOCK_SIZE) {
      PostToDialog(dialog, addressMessage(UWM_SEGMENT_OK, address, length));
      return 0;
    }
    if (sent % PROGRESS_INTERVAL == 0) {
      PostToDialog(dialog, addressMessage(UWM_WRITE_PROGRESS, address, length));
    }
    address += BLOCK_SIZE;
    sent += BLOCK_SIZE;
  }
}

}  // namespace

int writeSegment(DownloadState& state, MessageSink& dialog, const std::string& writeFileName,
                 const LinkContext& context) {
  ImageFileOps files;
  switch (files.extractSegment(state.inRunFolder(state.imageName.load()), writeFileName,
                               state.currentOffset, state.currentLength)) {
    case EXTRACT_OK:
      break;
    case EXTRACT_IMAGE_TOO_SHORT:
      PostToDialog(dialog, failureMessage(RunFailure::ImageTooShort));
      return 1;
    default:
      PostToDialog(dialog, failureMessage(RunFailure::FileOpening));
      return 1;
  }
  File writeFile = openForReading(writeFileName);
  if (!writeFile) {
    PostToDialog(dialog, failureMessage(RunFailure::DownloadsFileOpening));
    return 1;
  }
  LinkSession link(state, dialog, context);
  if (!link.open()) return 1;
  if (handshake(link) != Handshake::Accepted) return 1;
  if (!link.pause(context.timings.settlePause)) return link.endCancelledTransfer();
  PostToDialog(dialog, textMessage(UWM_CONNECTED, texts::kConnectedSpace));
  return sendBlocks(link, writeFile);
}

}  // namespace voltrix
