#include "engine/DownloadWorker.h"

#include <cstdio>

#include "platform/FileIo.h"
#include "engine/ImageFileOps.h"
#include "engine/RequestWatch.h"
#include "engine/RunFailure.h"
#include "engine/RunPreparation.h"
#include "engine/SystemTexts.h"

namespace voltrix {

std::string segmentFileName(int number, const char* kind, const char* imageName) {
  char name[512];
  std::snprintf(name, sizeof name, "F_%d_%s_%s", number, kind, imageName);
  return name;
}

namespace {

enum class Ending { AllVerified, FailedWithoutSignal, FailedWithSignal };

Ending runSegments(DownloadState& state, MessageSink& dialog, LinkPhases& link) {
  while (state.cursor.load() < state.segmentCount.load()) {
    state.imageName = texts::kImageFileName;
    const int index = state.cursor.load();
    state.currentLength = static_cast<std::uint32_t>(state.segmentLengths[index]);
    state.currentAddress = static_cast<std::uint32_t>(state.segmentAddresses[index]);
    state.currentOffset = static_cast<std::uint32_t>(state.segmentOffsets[index]);
    // The cursor names the next entry while this one is processed.
    state.cursor = index + 1;

    const std::string writeFile =
        state.inRunFolder(segmentFileName(index + 1, "W", state.imageName.load()));
    const std::string readBackFile =
        state.inRunFolder(segmentFileName(index + 1, "R", state.imageName.load()));

    if (link.writeSegment(state, dialog, writeFile) != 0) return Ending::FailedWithoutSignal;
    if (link.readBackSegment(state, dialog, writeFile, readBackFile) != 0) {
      return Ending::FailedWithoutSignal;
    }
    ImageFileOps files;
    switch (files.compareSegmentFiles(writeFile, readBackFile)) {
      case COMPARE_EQUAL:
        break;
      case COMPARE_DIFFERENT:
        PostToDialog(dialog, failureMessage(RunFailure::VerifyMismatch));
        return Ending::FailedWithSignal;
      default:
        PostToDialog(dialog, failureMessage(RunFailure::FileOpening));
        return Ending::FailedWithSignal;
    }
    const std::uint32_t length = state.currentLength;
    PostToDialog(dialog, addressMessage(UWM_SEGMENT_OK, state.currentAddress + length, length));
    // A file another program holds open can still be unlinked here; a failed
    // delete leaves a stale file that the next run replaces, nothing more.
    removeFile(writeFile);
    removeFile(readBackFile);
  }
  return Ending::AllVerified;
}

}  // namespace

std::uint32_t DownloadWorker(DownloadState& state, MessageSink& dialog, LinkPhases& link) {
  link.beginRun();
  RequestWatch watch(dialog);
  const Ending ending = runSegments(state, watch, link);
  // A failed run's files stay for inspection once something went out to the
  // device; before that (no port, no device) they tell nothing. The folder
  // goes before the state is handed back: a new run may take it over at once.
  if (ending == Ending::AllVerified || !watch.anythingSent()) discardRunFolder(state);
  // The operator may start again while the device still answers the signal.
  state.busy = BusyState::Idle;
  switch (ending) {
    case Ending::AllVerified:
      // A run whose 'Z' could not go out is no success (the phase said why).
      return link.sendEndOfRun(state, dialog, 1) == 0 ? 0 : 1;
    case Ending::FailedWithSignal:
      link.sendEndOfRun(state, dialog, 0);
      return 1;
    case Ending::FailedWithoutSignal:
      return 1;
  }
  return 1;
}

}  // namespace voltrix
