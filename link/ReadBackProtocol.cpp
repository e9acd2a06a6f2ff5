// Reading one segment back: the same range, block by block, into the
// read-back file. Each block is announced by 'R' and a header, asked for with
// 0xBB, and acknowledged once it has arrived.

#include <array>

#include "engine/RunFailure.h"
#include "engine/SystemTexts.h"
#include "link/BlockFiles.h"
#include "link/HeaderPackets.h"
#include "link/LinkSession.h"
#include "platform/FileIo.h"

namespace voltrix {

namespace {

int abortReadBack(LinkSession& link) {
  link.postFailure(RunFailure::VerifyRefused);
  link.abortTransfer();
  return 1;
}

int receiveBlocks(LinkSession& link, File& writeFileOnDisk, File& readBackFileOnDisk) {
  BlockSource writeFile(writeFileOnDisk);
  BlockSink readBackFile(readBackFileOnDisk);
  DownloadState& state = link.state();
  MessageSink& dialog = link.dialog();
  std::uint32_t address = state.currentAddress;
  std::uint32_t done = 0;
  std::array<std::uint8_t, BLOCK_SIZE> expected{}, received{};
  for (std::uint32_t index = 0;; ++index) {
    // The length is taken afresh before every block.
    const std::uint32_t wanted = blockRequest(index, state.currentLength);
    if (wanted == 0) break;
    // A cancel is taken between blocks, never inside one (see LinkSession.h).
    if (link.cancelled()) {
      if (index > 0) return link.endCancelledTransfer();
      link.postCancelled();
      return 1;
    }
    // Only the count matters here: the device sends the data.
    const long long got = writeFile.read(expected.data(), wanted);
    if (got < 0) {
      PostToDialog(dialog, failureMessage(RunFailure::FileOpening));
      // After a block the device still counts on the transfer: as a cancel
      // does, it is told to drop it.
      if (index > 0) link.abortTransfer();
      return 1;
    }
    const auto count = static_cast<std::uint32_t>(got);

    std::uint8_t reply = 0;
    link.send(CMD_READ);
    if (link.awaitReply(reply) != ReplyStatus::Received) return 1;  // any byte will do
    const ReadHeader header = makeReadHeader(index, address, count);
    link.send(header.bytes.data(), header.size);
    if (link.awaitReply(reply) != ReplyStatus::Received) return 1;
    if (reply != ACK) return abortReadBack(link);

    link.send(DATA_REQUEST);
    const std::uint32_t arrived = link.receiveBlock(received.data(), count);
    if (link.port().IsGone()) {
      link.postFailure(RunFailure::PortGone);
      return 1;
    }
    // Only bytes that came are stored: a short or empty block leaves the
    // read-back file short, and the comparison then finds the segment
    // unverified (and the device is told so).
    // The block that ends the segment has its bytes on disk before it is
    // acknowledged, so that a write error is still handled at a block.
    const bool endsSegment = arrived < count || count < BLOCK_SIZE ||
                             blockRequest(index + 1, state.currentLength) == 0;
    if (!readBackFile.write(received.data(), arrived) ||
        (endsSegment && !readBackFile.flush())) {
      // A full disk must not leave the device waiting for the block's ACK
      // (the next run's 'S' would be taken for it): the block is closed as
      // usual and the transfer dropped, as after a cancel.
      PostToDialog(dialog, failureMessage(RunFailure::FileWrite));
      link.send(ACK);
      link.awaitReplyQuietly(reply);
      link.abortTransfer();
      return 1;
    }
    link.send(ACK);
    if (arrived < count) {
      // A block of which nothing came is no answer at all unless the device
      // still answers the acknowledgement: then it is alive and merely sent
      // an empty block; otherwise it has stopped answering.
      if (arrived == 0) {
        if (link.awaitReply(reply) != ReplyStatus::Received) return 1;
      } else {
        link.awaitReplyQuietly(reply);
      }
      // Cut short by a cancel, the block says nothing about the device.
      if (link.cancelled()) {
        link.postCancelled();
        return 1;
      }
      break;
    }
    if (link.awaitReply(reply) != ReplyStatus::Received) return 1;
    if (count < BLOCK_SIZE) break;
    if (done % PROGRESS_INTERVAL == 0) {
      PostToDialog(dialog, addressMessage(UWM_VERIFY_PROGRESS, address, state.currentLength));
    }
    done += BLOCK_SIZE;
    address += BLOCK_SIZE;
  }
  if (!readBackFile.flush()) {
    // The device has finished the transfer: there is nothing to drop.
    PostToDialog(dialog, failureMessage(RunFailure::FileWrite));
    return 1;
  }
  PostToDialog(dialog, addressMessage(UWM_VERIFY_DONE, address, state.currentLength));
  return 0;
}

}  // namespace

int readBackSegment(DownloadState& state, MessageSink& dialog, const std::string& writeFileName,
                    const std::string& readBackFileName, const LinkContext& context) {
  File writeFile = openForReading(writeFileName);
  File readBackFile = createFreshFile(readBackFileName);
  if (!writeFile || !readBackFile) {
    PostToDialog(dialog, failureMessage(RunFailure::FileOpening));
    return 1;
  }
  // The write has left the device at its command state: nothing to end.
  if (state.cancelRequested) {
    PostToDialog(dialog, failureMessage(RunFailure::Cancelled));
    return 1;
  }
  LinkSession link(state, dialog, context);
  if (!link.open()) return 1;
  PostToDialog(dialog, textMessage(UWM_WAIT, texts::kRequestVerifying));
  return receiveBlocks(link, writeFile, readBackFile);
}

}  // namespace voltrix
