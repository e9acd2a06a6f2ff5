// What a factory script relies on: every way a run can end has its exit code
// and its one text, and the two never drift apart.

#include <gtest/gtest.h>

#include <set>

#include "control/ExitCodes.h"
#include "control/Outcome.h"
#include "engine/SystemTexts.h"

namespace voltrix::cli {
namespace {

struct FailureRow {
  RunFailure failure;
  std::uint32_t message;
  const char* text;
  int exitCode;
};

const FailureRow kFailures[] = {
    {RunFailure::FileOpening, UWM_ERROR, texts::kFileOpeningError, 10},
    {RunFailure::DownloadsFileOpening, UWM_ERROR, texts::kDownloadsFileOpeningError, 10},
    {RunFailure::ImageTooShort, UWM_ERROR, texts::kImageTooShort, 4},
    {RunFailure::PortOpen, UWM_PORT_FAIL, texts::kFailToOpenCom, 6},
    {RunFailure::DownloadRefused, UWM_ERROR, texts::kDownloadingFails, 7},
    {RunFailure::VerifyRefused, UWM_ERROR, texts::kVerifyingFails, 7},
    {RunFailure::VerifyMismatch, UWM_ERROR, texts::kIncorrectVerify, 9},
    {RunFailure::DeviceSilent, UWM_ERROR, texts::kDeviceSilent, 8},
    {RunFailure::PortGone, UWM_ERROR, texts::kPortGone, 8},
    {RunFailure::Cancelled, UWM_ERROR, texts::kCancelled, 11},
    {RunFailure::FileWrite, UWM_ERROR, texts::kFileWriteError, 10},
};

TEST(Outcome, EveryRunFailureHasItsMessageTextAndExitCode) {
  std::set<const char*> texts;
  for (const FailureRow& row : kFailures) {
    SCOPED_TRACE(row.text);
    const WorkerMessage message = failureMessage(row.failure);
    EXPECT_EQ(message.id, row.message);
    EXPECT_EQ(message.text, row.text);  // the constant itself, not a copy
    EXPECT_EQ(message.failure, row.failure);
    EXPECT_EQ(exitCodeFor(row.failure), row.exitCode);
    texts.insert(message.text);
  }
  EXPECT_EQ(texts.size(), std::size(kFailures));  // no two kinds share a text
  EXPECT_EQ(exitCodeFor(RunFailure::None), kExitOk);
  EXPECT_EQ(failureText(RunFailure::None), nullptr);
}

TEST(Outcome, EveryRefusalHasItsBoxAndExitCode) {
  struct Row {
    Refusal refusal;
    const char* text;
    const char* caption;
    int exitCode;
  };
  const Row rows[] = {
      {Refusal::RegistryDamaged, texts::kRegistryDamaged, nullptr, 5},
      {Refusal::DriverNotInstalled, texts::kDriverNotInstalled, nullptr, 5},
      {Refusal::Busy, texts::kBeingInDownload, texts::kInfoCaption, 1},
      {Refusal::ImageMissing, texts::kSystemFileNotFound, texts::kInfoCaption, 3},
      {Refusal::ImageEmpty, texts::kDownloadingFileNotFound, texts::kInfoCaption, 4},
      {Refusal::TooManySegments, texts::kTooManySegments, texts::kInfoCaption, 4},
      {Refusal::ImageUnreadable, texts::kSystemFileUnreadable, texts::kInfoCaption, 3},
      {Refusal::WorkerNotStarted, texts::kWorkerNotStarted, texts::kInfoCaption, 1},
      {Refusal::NoRunFolder, texts::kFileOpeningError, texts::kInfoCaption, 10},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(refusalText(row.refusal), row.text);
    EXPECT_EQ(refusalCaption(row.refusal), row.caption);
    EXPECT_EQ(exitCodeFor(row.refusal), row.exitCode);
  }
  EXPECT_EQ(exitCodeFor(Refusal::None), kExitOk);
}

TEST(Outcome, TableLoadResultsBecomeRefusals) {
  EXPECT_EQ(loadRefusal(-1), Refusal::ImageMissing);
  EXPECT_EQ(loadRefusal(0), Refusal::ImageEmpty);
  EXPECT_EQ(loadRefusal(-2), Refusal::TooManySegments);
  EXPECT_EQ(loadRefusal(-3), Refusal::ImageUnreadable);
  EXPECT_EQ(loadRefusal(1), Refusal::None);
  EXPECT_EQ(loadRefusal(128), Refusal::None);
}

}  // namespace
}  // namespace voltrix::cli
