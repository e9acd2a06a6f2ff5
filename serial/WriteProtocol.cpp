// Writing one segment: extract it into its write file, win the device's
// attention with 'S', then send the file in 64-byte blocks, each announced by
// 'W' and a header with its checksum, each acknowledged.

#include <array>

#include "engine/FileIo.h"
#include "engine/ImageFileOps.h"
#include "engine/RunFailure.h"
#include "engine/SystemTexts.h"
#include "serial/HeaderPackets.h"
#include "serial/LinkSession.h"

namespace voltrix {

namespace {

enum class Handshake { Accepted, Failed };

// Asks with 'S' until the device answers ACK. An attempt listens through its
// pause as well, so an answer that arrives late still counts for the request
// it answers; stale input is dropped before every new request, so an old
// answer is never taken for a new one.
Handshake handshake(LinkSession& link) {
  const LinkTimings& timings = link.timings();
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    if (link.cancelled()) {
      link.postCancelled();
      return Handshake::Failed;
    }
    if (timings.handshakeLimit.count() > 0 &&
        std::chrono::steady_clock::now() - started >= timings.handshakeLimit) {
      PostToDialog(link.dialog(), failureMessage(RunFailure::DeviceSilent));
      return Handshake::Failed;
    }
    PostToDialog(link.dialog(), textMessage(UWM_WAIT, texts::kRequestDownloading));
    link.port().PurgeInput();
    link.send(CMD_SYNC);
    std::uint8_t reply = 0;
    switch (link.port().ReadByte(reply, timings.handshakeWindow + timings.retryPause)) {
      case WaitResult::Byte:
        if (reply == ACK) return Handshake::Accepted;
        if (!link.pause(timings.retryPause)) {
          link.postCancelled();
          return Handshake::Failed;
        }
        break;
      case WaitResult::TimedOut:
        break;
      case WaitResult::PortGone:
        PostToDialog(link.dialog(), failureMessage(RunFailure::PortGone));
        return Handshake::Failed;
      case WaitResult::Cancelled:
        link.postCancelled();
        return Handshake::Failed;
    }
  }
}

int sendBlocks(LinkSession& link, File& writeFile) {
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
    const long long got = writeFile.readFully(block.data(), wanted);
    if (got < 0) {
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
      PostToDialog(dialog, failureMessage(RunFailure::DownloadRefused));
      link.abortTransfer();
      return 1;
    }
    link.send(block.data(), count);
    if (link.awaitReply(reply) != ReplyStatus::Received) return 1;
    if (reply != ACK) {
      PostToDialog(dialog, failureMessage(RunFailure::VerifyRefused));
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
  switch (files.extractSegment(state.imageName.load(), writeFileName, state.currentOffset,
                               state.currentLength)) {
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
  if (!link.pause(context.timings.settlePause)) {
    link.postCancelled();
    return 1;
  }
  PostToDialog(dialog, textMessage(UWM_CONNECTED, texts::kConnectedSpace));
  return sendBlocks(link, writeFile);
}

}  // namespace voltrix
