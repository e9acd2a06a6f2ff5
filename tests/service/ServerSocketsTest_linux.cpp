// The listen queue of a server's socket, deepened after the library bound
// it with a queue too short for a burst of clients: the system's own
// account of the socket (TCP_INFO: a listening socket's most queued
// connections) says what it became.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "service/ServerSockets.h"

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

}  // namespace
}  // namespace voltrix::test
