#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/ProcessSignals.h"

namespace voltrix {

namespace {

// Only a lock-free atomic may be touched from a signal handler.
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onTerminationRequest(int) {
  requested.fetch_add(1);
}

}  // namespace

void ensureStandardStreams() {
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
    if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
    // open() hands out the lowest free number: this one.
    const int opened = ::open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != stream && opened >= 0) ::close(opened);
  }
}

void catchTerminationRequests() {
  struct sigaction action {};
  action.sa_handler = onTerminationRequest;
  sigemptyset(&action.sa_mask);
  for (const int request : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(request, &action, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

bool terminationRequested() {
  return requested.load() > 0;
}

int terminationRequestCount() {
  return requested.load();
}

}  // namespace voltrix
