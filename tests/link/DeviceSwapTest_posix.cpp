// The port name is repointed at another device between two phases of a run
// (a link replaced, a COM name taken over): the run must not be reported as
// verified, and the other device must get nothing.

#include <unistd.h>

#include <cstdio>
#include <functional>

#include "engine/RunFailure.h"
#include "tests/link/LinkFixture.h"

namespace voltrix::test {
namespace {

// Two segments; the first ends with a short block, so that its write and its
// verification each post UWM_SEGMENT_OK.
const std::vector<ImageRecord> kRecords{{0, 0x2000, Bytes(130, 0x3C), {}, {}},
                                        {0, 0x3000, Bytes(20, 0x5A), {}, {}}};

// Points `link` at `target`, replacing whatever it pointed at in one step.
void repoint(const std::string& link, const std::string& target) {
  const std::string fresh = link + ".new";
  ::unlink(fresh.c_str());
  ASSERT_EQ(::symlink(target.c_str(), fresh.c_str()), 0);
  ASSERT_EQ(std::rename(fresh.c_str(), link.c_str()), 0);
}

// Passes every message on and runs `action` on the `occurrence`th `id`, on
// the worker's thread, before the phase after it opens the port.
class OnMessage final : public MessageSink {
 public:
  OnMessage(MessageSink& next, std::uint32_t id, int occurrence, std::function<void()> action)
      : next_(next), id_(id), left_(occurrence), action_(std::move(action)) {}
  void post(const WorkerMessage& message) noexcept override {
    next_.post(message);
    if (message.id == id_ && --left_ == 0) action_();
  }

 private:
  MessageSink& next_;
  std::uint32_t id_;
  int left_;
  std::function<void()> action_;
};

struct SwapPoint {
  const char* name;
  std::uint32_t id;
  int occurrence;
};

void PrintTo(const SwapPoint& point, std::ostream* out) {
  *out << point.name;
}

class DeviceSwappedBetweenPhases : public LinkFixture,
                                   public ::testing::WithParamInterface<SwapPoint> {};

TEST_P(DeviceSwappedBetweenPhases, EndsTheRunAsADeviceGoneAway) {
  device = std::make_unique<sim::ZetakSimulator>();
  ASSERT_TRUE(device->start());
  sim::ZetakSimulator other;
  ASSERT_TRUE(other.start());
  const std::string port = dir.file("COM3");
  repoint(port, device->devicePath());
  link = std::make_unique<SerialLinkPhases>(fixedDeviceResolver(port), timings);
  loadImage(kRecords);

  OnMessage dialog(queue, GetParam().id, GetParam().occurrence,
                   [&] { repoint(port, other.devicePath()); });
  state.busy = BusyState::Downloading;
  EXPECT_EQ(DownloadWorker(state, dialog, *link), 1u);
  const auto posted = messages();
  EXPECT_EQ(countOf(posted, UWM_ERROR), 1) << ::testing::PrintToString(posted);
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), failureMessage(RunFailure::PortGone));
  EXPECT_TRUE(other.bytesFromHost().empty());
  EXPECT_FALSE(other.endOfRunByte().has_value());
  EXPECT_FALSE(device->endOfRunByte().has_value());

  // The next run starts afresh with the device the name now leads to.
  loadImage(kRecords);
  EXPECT_EQ(runWorker(), 0u) << ::testing::PrintToString(messages());
  EXPECT_EQ(other.endOfRunByte(), std::optional<std::uint8_t>(0x5A));
}

INSTANTIATE_TEST_SUITE_P(Moments, DeviceSwappedBetweenPhases,
                         ::testing::Values(SwapPoint{"BeforeTheReadBack", UWM_SEGMENT_OK, 1},
                                           SwapPoint{"BeforeTheNextSegment", UWM_SEGMENT_OK, 2},
                                           SwapPoint{"BeforeTheEndOfRunByte", UWM_VERIFY_DONE, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace voltrix::test
