#pragma once
// What a thread of this process is doing, read from /proc: lets a helper
// thread act once a read is really waiting instead of sleeping and hoping.

#include <chrono>

namespace voltrix::test {

// The kernel's id of the calling thread.
int currentThreadId();

// True once thread `threadId` of this process sleeps in poll() or ppoll()
// (a read or a write waiting on the line); false when `wait` passed first.
bool waitUntilBlockedInPoll(int threadId,
                            std::chrono::milliseconds wait = std::chrono::seconds(10));

}  // namespace voltrix::test
