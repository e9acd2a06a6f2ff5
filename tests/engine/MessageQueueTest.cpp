#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "engine/MessageQueue.h"

namespace voltrix {
namespace {

TEST(MessageQueue, KeepsPostingOrderAcrossThreads) {
  MessageQueue queue;
  std::thread poster([&] {
    for (std::uint32_t i = 0; i < 5000; ++i) queue.post(addressMessage(UWM_WRITE_PROGRESS, i, 0));
  });
  for (std::uint32_t expected = 0; expected < 5000; ++expected) {
    auto message = queue.next(std::chrono::seconds(10));
    ASSERT_TRUE(message.has_value());
    ASSERT_EQ(message->wParam, expected);
  }
  poster.join();
  EXPECT_FALSE(queue.tryNext().has_value());
}

TEST(MessageQueue, PostingAfterCloseIsHarmlessAndWakesTheReader) {
  auto queue = std::make_shared<MessageQueue>();
  std::thread reader([queue] { EXPECT_FALSE(queue->next(std::chrono::seconds(30)).has_value()); });
  queue->close();
  reader.join();
  queue->post(textMessage(UWM_ERROR, "late"));
  EXPECT_TRUE(queue->drain().empty());
}

}  // namespace
}  // namespace voltrix
