#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/service/ServiceRig_posix.h"

namespace voltrix::test {

RawClient::RawClient(int port, int receiveBuffer) {
  socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBuffer > 0) {
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
}

RawClient::~RawClient() {
  if (socket_ >= 0) ::close(socket_);
}

bool RawClient::send(const std::string& bytes) {
  return ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> RawClient::receiveUntilClosed(std::chrono::milliseconds limit,
                                                         bool statusLineEnough) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string received;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd wanted{socket_, POLLIN, 0};
    if (::poll(&wanted, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
    if (got <= 0) return received;
    received.append(buffer, static_cast<std::size_t>(got));
    if (statusLineEnough && received.find("\r\n") != std::string::npos) return received;
  }
}

std::string rawExchange(int port, const std::string& request, std::chrono::milliseconds limit) {
  RawClient client(port);
  client.send(request);
  return client.receiveUntilClosed(limit, true).value_or("(no answer)");
}

}  // namespace voltrix::test
