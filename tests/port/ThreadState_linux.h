#pragma once
// What a thread of this process is doing, read from /proc: lets a helper
// thread act once a read is really waiting instead of sleeping and hoping.

#include <chrono>
#include <vector>

namespace voltrix::test {

// The kernel's id of the calling thread.
int currentThreadId();

// True once thread `threadId` of this process sleeps in poll() or ppoll()
// (a read or a write waiting on the line); false when `wait` passed first.
bool waitUntilBlockedInPoll(int threadId,
                            std::chrono::milliseconds wait = std::chrono::seconds(10));

// How often the calling thread has gone to sleep of its own accord: each
// wait for the line costs one.
long voluntarySwitchesOfThisThread();

// The ids of this process's threads.
std::vector<int> threadIds();

// True once thread `threadId` sleeps in poll() or ppoll() with no time limit
// (it wakes only when something happens); false when `wait` passed first.
bool waitUntilBlockedWithoutTimeLimit(int threadId,
                                      std::chrono::milliseconds wait = std::chrono::seconds(10));

}  // namespace voltrix::test
