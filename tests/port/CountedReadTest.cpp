// The passes of a counted read, on a scripted line whose clock moves only
// when the read waits or pauses, so every outcome is exact.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "port/CountedRead.h"

namespace voltrix {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using Clock = CountedReadLine::Clock;

class ScriptedLine final : public CountedReadLine {
 public:
  // What the line does at a moment of its clock.
  void bytesAt(milliseconds at, std::vector<std::uint8_t> bytes) {
    events_.push_back({at, Event::Bytes, std::move(bytes)});
  }
  void lineErrorAt(milliseconds at) { events_.push_back({at, Event::LineError, {}}); }
  void goneAt(milliseconds at) { events_.push_back({at, Event::Gone, {}}); }
  void cancelAt(milliseconds at) { events_.push_back({at, Event::Cancel, {}}); }
  // A driver that ends a wait only once all the bytes asked for came (a
  // Win32 ReadFile), instead of at the first one (poll on a terminal).
  void waitsForAllBytes() { waitsForAll_ = true; }
  // What the line says a byte under way takes to arrive.
  void byteTimeIs(Clock::duration byteTime) { byteTime_ = byteTime; }

  Clock::duration elapsed() const { return elapsed_; }
  // Receives that brought bytes: the wake-ups a read cost.
  int takes() const { return takes_; }
  int receives() const { return receives_; }
  int pauses() const { return pauses_; }

  Clock::time_point now() override {
    deliver();
    return Clock::time_point{} + elapsed_;
  }
  bool cancelled() override {
    deliver();
    return cancelled_;
  }
  bool gone() override { return gone_; }
  int receive(std::uint8_t* buffer, std::int32_t count, Clock::duration wait) override {
    if (outOfLooks()) return -1;
    ++receives_;
    const auto end = elapsed_ + std::max(wait, Clock::duration::zero());
    const std::size_t wanted = waitsForAll_ ? static_cast<std::size_t>(count) : 1;
    for (;;) {
      deliver();
      if (gone_) return -1;
      if (cancelled_ || queue_.size() >= wanted) break;
      const auto next = nextEventAfterNow();
      if (!next || *next > end) {
        elapsed_ = std::max(elapsed_, end);
        deliver();
        break;
      }
      elapsed_ = *next;
    }
    const auto taken = std::min<std::size_t>(static_cast<std::size_t>(count), queue_.size());
    if (taken > 0) ++takes_;
    std::copy_n(queue_.begin(), taken, buffer);
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(taken));
    return static_cast<int>(taken);
  }
  Clock::duration timeToArrive(std::int32_t count) override { return byteTime_ * count; }
  bool discardedAfterLineError() override {
    deliver();
    if (!lineError_) return false;
    lineError_ = false;
    queue_.clear();
    return true;
  }
  void pause(Clock::duration wait) override {
    if (outOfLooks()) return;
    ++pauses_;
    elapsed_ += std::max(wait, Clock::duration::zero());
    deliver();
  }

 private:
  enum class Event { Bytes, LineError, Gone, Cancel };
  struct Scripted {
    milliseconds at;
    Event event;
    std::vector<std::uint8_t> bytes;
  };

  // A read that keeps looking without its clock moving would never end:
  // fail it and end the read instead.
  bool outOfLooks() {
    constexpr int kLookBudget = 100000;
    if (++looks_ <= kLookBudget) return false;
    if (!gone_) ADD_FAILURE() << "the read looks at the line again and again";
    gone_ = true;
    return true;
  }
  std::optional<Clock::duration> nextEventAfterNow() const {
    std::optional<Clock::duration> next;
    for (const auto& scripted : events_) {
      if (scripted.at > elapsed_ && (!next || scripted.at < *next)) next = scripted.at;
    }
    return next;
  }
  void deliver() {
    for (auto it = events_.begin(); it != events_.end();) {
      if (it->at > elapsed_) {
        ++it;
        continue;
      }
      switch (it->event) {
        case Event::Bytes:
          queue_.insert(queue_.end(), it->bytes.begin(), it->bytes.end());
          break;
        case Event::LineError:
          lineError_ = true;
          break;
        case Event::Gone:
          gone_ = true;
          break;
        case Event::Cancel:
          cancelled_ = true;
          break;
      }
      it = events_.erase(it);
    }
  }

  std::vector<Scripted> events_;
  std::deque<std::uint8_t> queue_;
  Clock::duration elapsed_{};
  bool lineError_ = false;
  bool gone_ = false;
  bool cancelled_ = false;
  bool waitsForAll_ = false;
  Clock::duration byteTime_{};
  int receives_ = 0;
  int takes_ = 0;
  int pauses_ = 0;
  int looks_ = 0;
};

std::vector<std::uint8_t> numbered(std::size_t count, std::uint8_t first) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

CountedReadLimits passesOf(milliseconds passWait) {
  return {1000, passWait, std::nullopt};
}

TEST(CountedReadPasses, EverythingQueuedIsTakenWithoutWaiting) {
  ScriptedLine line;
  const auto data = numbered(64, 0x80);
  line.bytesAt(0ms, data);
  std::vector<std::uint8_t> buffer(64, 0);
  EXPECT_EQ(readCounted(line, buffer.data(), 64, passesOf(5000ms)), 64);
  EXPECT_EQ(buffer, data);
  EXPECT_EQ(line.elapsed(), Clock::duration::zero());
  EXPECT_EQ(line.takes(), 1);
}

TEST(CountedReadPasses, TakesWhatCameAndCollectsTheRestInLaterPasses) {
  ScriptedLine line;
  const auto data = numbered(64, 1);
  line.bytesAt(0ms, {data.begin(), data.begin() + 10});
  line.bytesAt(150ms, {data.begin() + 10, data.end()});
  std::vector<std::uint8_t> buffer(80, 0xEE);
  EXPECT_EQ(readCounted(line, buffer.data(), 64, passesOf(50ms)), 64);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + 64, buffer.end(), [](auto b) { return b == 0xEE; }));
  EXPECT_EQ(line.takes(), 2);
  EXPECT_EQ(line.elapsed(), Clock::duration(150ms));
}

TEST(CountedReadPasses, GivesUpAfterTheLastPass) {
  ScriptedLine line;
  line.bytesAt(0ms, {1, 2, 3, 4, 5});
  std::vector<std::uint8_t> buffer(10, 0xEE);
  EXPECT_EQ(readCounted(line, buffer.data(), 10, passesOf(1ms)), 5);
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  // A thousand passes of 1 ms, with 2 ms between them.
  EXPECT_EQ(line.elapsed(), Clock::duration(1000ms + 999 * 2ms));
}

TEST(CountedReadPasses, EndsWhenThePortGoesAway) {
  ScriptedLine line;
  line.bytesAt(0ms, {9, 8, 7});
  line.goneAt(150ms);
  std::vector<std::uint8_t> buffer(10, 0);
  EXPECT_EQ(readCounted(line, buffer.data(), 10, passesOf(50ms)), 3);
  EXPECT_EQ(line.elapsed(), Clock::duration(150ms));
  EXPECT_EQ(buffer[0], 9);
  EXPECT_EQ(buffer[2], 7);
}

TEST(CountedReadPasses, EndsWhenCancelled) {
  ScriptedLine line;
  line.cancelAt(100ms);
  line.bytesAt(200ms, {1, 2});
  std::vector<std::uint8_t> buffer(10, 0);
  EXPECT_EQ(readCounted(line, buffer.data(), 10, passesOf(50ms)), 0);
  EXPECT_LT(line.elapsed(), Clock::duration(200ms));
  EXPECT_EQ(line.takes(), 0);
}

TEST(CountedReadPasses, StopsAtTheTotalBound) {
  ScriptedLine line;
  line.bytesAt(0ms, {4, 5, 6});
  std::vector<std::uint8_t> buffer(10, 0xEE);
  EXPECT_EQ(readCounted(line, buffer.data(), 10, {1000, 50ms, 300ms}), 3);
  EXPECT_EQ(line.elapsed(), Clock::duration(300ms));
  EXPECT_EQ(buffer[2], 6);
  EXPECT_EQ(buffer[3], 0xEE);

  // The bound also cuts a single long pass short.
  ScriptedLine quiet;
  EXPECT_EQ(readCounted(quiet, buffer.data(), 10, {1000, 60000ms, 100ms}), 0);
  EXPECT_EQ(quiet.elapsed(), Clock::duration(100ms));
}

TEST(CountedReadPasses, ALineErrorDiscardsThePassAndTheReadGoesOn) {
  ScriptedLine line;
  line.bytesAt(0ms, {1, 2, 3});
  line.lineErrorAt(0ms);
  line.bytesAt(10ms, {7, 8});
  std::vector<std::uint8_t> buffer(2, 0);
  EXPECT_EQ(readCounted(line, buffer.data(), 2, passesOf(50ms)), 2);
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{7, 8}));

  // A pass spoilt after some of its bytes came stores none of them.
  ScriptedLine spoilt;
  spoilt.bytesAt(0ms, {1, 2});
  spoilt.lineErrorAt(5ms);
  std::vector<std::uint8_t> untouched(4, 0xEE);
  EXPECT_EQ(readCounted(spoilt, untouched.data(), 4, {1000, 50ms, 100ms}), 0);
  EXPECT_EQ(untouched, (std::vector<std::uint8_t>(4, 0xEE)));
}

// A block of 50 bytes arriving one per millisecond, as a paced line brings it.
void pacedBlock(ScriptedLine& line) {
  for (int i = 0; i < 50; ++i) {
    line.bytesAt(milliseconds(i), {static_cast<std::uint8_t>(i)});
  }
}

TEST(CountedReadPasses, ABlockUnderWayCostsTwoWakeUpsNotOnePerByte) {
  ScriptedLine line;
  line.byteTimeIs(1ms);
  pacedBlock(line);
  std::vector<std::uint8_t> buffer(50, 0xEE);
  EXPECT_EQ(readCounted(line, buffer.data(), 50, passesOf(1000ms)), 50);
  EXPECT_EQ(buffer, numbered(50, 0));
  EXPECT_EQ(line.takes(), 2);   // the first byte, then the rest
  EXPECT_EQ(line.pauses(), 1);  // while the rest crossed the line
  EXPECT_EQ(line.elapsed(), Clock::duration(49ms));
}

TEST(CountedReadPasses, ALineThatWaitsForTheWholeBlockIsAskedOnce) {
  ScriptedLine line;
  line.waitsForAllBytes();
  pacedBlock(line);
  std::vector<std::uint8_t> buffer(50, 0xEE);
  EXPECT_EQ(readCounted(line, buffer.data(), 50, passesOf(1000ms)), 50);
  EXPECT_EQ(buffer, numbered(50, 0));
  EXPECT_EQ(line.receives(), 1);
  EXPECT_EQ(line.pauses(), 0);
}

TEST(CountedReadPasses, ARestThatComesLateIsStillAwaitedInThePass) {
  // The line says the rest takes 1 ms a byte, but it comes in one piece
  // much later: the read looks once after the pause, then waits again.
  ScriptedLine line;
  line.byteTimeIs(1ms);
  line.bytesAt(0ms, {1});
  line.bytesAt(30ms, {2, 3, 4});
  std::vector<std::uint8_t> buffer(4, 0);
  EXPECT_EQ(readCounted(line, buffer.data(), 4, passesOf(50ms)), 4);
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(line.elapsed(), Clock::duration(30ms));
  EXPECT_EQ(line.takes(), 2);
}

TEST(CountedReadPasses, NothingToReadIntoLeavesTheLineAlone) {
  ScriptedLine line;
  line.bytesAt(0ms, {1});
  std::uint8_t byte = 0;
  EXPECT_EQ(readCounted(line, nullptr, 4, passesOf(50ms)), 0);
  EXPECT_EQ(readCounted(line, &byte, 0, passesOf(50ms)), 0);
  EXPECT_EQ(readCounted(line, &byte, -1, passesOf(50ms)), 0);
  EXPECT_EQ(line.receives(), 0);
}

}  // namespace
}  // namespace voltrix
