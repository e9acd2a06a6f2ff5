// The server's sockets as the system sees them: the listen queue, deepened
// after the library bound it with a queue too short for a burst of clients
// (TCP_INFO: a listening socket's most queued connections), and the
// accepted connections, which send each write at once.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "service/ServerSockets.h"
#include "tests/service/ServiceRig_posix.h"

namespace voltrix::test {
namespace {

// A socket listening on 127.0.0.1 at a port the system picks, queue of 5.
struct ListeningSocket {
  ListeningSocket() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(handle, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(handle, 5), 0);
    EXPECT_EQ(::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port = ntohs(address.sin_port);
  }
  ~ListeningSocket() { ::close(handle); }
  unsigned queueDepth() const {
    tcp_info info{};
    socklen_t length = sizeof info;
    EXPECT_EQ(::getsockopt(handle, IPPROTO_TCP, TCP_INFO, &info, &length), 0);
    return info.tcpi_sacked;
  }
  int handle = ::socket(AF_INET, SOCK_STREAM, 0);
  int port = 0;
};

TEST(ServerSockets, TheListenQueueOfTheGivenPortIsDeepenedAndNoOther) {
  ListeningSocket served, other;
  ASSERT_EQ(served.queueDepth(), 5u);
  EXPECT_TRUE(service::deepenListenQueue(served.port, 200));
  EXPECT_EQ(served.queueDepth(), 200u);
  EXPECT_EQ(other.queueDepth(), 5u);
  // A port nothing in this process listens on: nothing to deepen.
  EXPECT_FALSE(service::deepenListenQueue(1, 200));
}

TEST(ServerSockets, TheServiceSendsEachWriteAtOnce) {
  service::StationHub hub;
  service::MemoryRunHistory history;
  service::MemoryControlAudit audit;
  CountedControls controls;
  service::HttpService http(hub, history, audit, controls, loopbackSettings());
  std::string error;
  ASSERT_TRUE(http.start(error)) << error;
  RawClient stream(http.port());
  stream.send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  ASSERT_TRUE(eventually([&] { return http.openEventStreams() == 1; }));
  const auto connections = service::connectionsTo(http.port());
  ASSERT_EQ(connections.size(), 1u);
  int noDelay = 0;
  socklen_t length = sizeof noDelay;
  ASSERT_EQ(::getsockopt(connections[0].handle, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
  EXPECT_NE(noDelay, 0);
}

}  // namespace
}  // namespace voltrix::test
