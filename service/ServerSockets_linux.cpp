#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>

#include "service/ServerSockets.h"

namespace voltrix::service {

namespace {

bool numeric(const sockaddr_storage& address, socklen_t length, std::string& host, int& port) {
  char hostText[NI_MAXHOST];
  char portText[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, hostText, sizeof hostText,
                    portText, sizeof portText, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return false;
  }
  host = hostText;
  port = std::atoi(portText);
  return true;
}

// The peer of an accepted connection on `localPort`; false for anything else.
bool peerOf(int handle, int localPort, OpenConnection& connection) {
  struct stat status {};
  if (::fstat(handle, &status) != 0 || !S_ISSOCK(status.st_mode)) return false;
  int listening = 0;
  socklen_t size = sizeof listening;
  if (::getsockopt(handle, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening) {
    return false;
  }
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  std::string localHost;
  int port = 0;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      !numeric(address, length, localHost, port) || port != localPort) {
    return false;
  }
  length = sizeof address;
  if (::getpeername(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  connection.handle = handle;
  return numeric(address, length, connection.peerAddress, connection.peerPort);
}

// Calls `visit` with each handle this process has open.
template <class Visit>
void eachHandle(Visit visit) {
  DIR* folder = ::opendir("/proc/self/fd");
  if (folder == nullptr) return;
  while (const dirent* entry = ::readdir(folder)) {
    char* end = nullptr;
    const long handle = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || end == entry->d_name || handle == ::dirfd(folder)) continue;
    visit(static_cast<int>(handle));
  }
  ::closedir(folder);
}

}  // namespace

std::vector<OpenConnection> connectionsTo(int port) {
  std::vector<OpenConnection> found;
  eachHandle([&](int handle) {
    if (OpenConnection connection; peerOf(handle, port, connection)) {
      found.push_back(std::move(connection));
    }
  });
  return found;
}

bool deepenListenQueue(int port, int depth) {
  bool deepened = false;
  eachHandle([&](int handle) {
    int listening = 0;
    socklen_t size = sizeof listening;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    std::string host;
    int localPort = 0;
    if (::getsockopt(handle, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening &&
        ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        numeric(address, length, host, localPort) && localPort == port) {
      // Listening again on a listening socket only changes its queue's depth.
      deepened = ::listen(handle, depth) == 0 || deepened;
    }
  });
  return deepened;
}

void cutConnection(const OpenConnection& connection) {
  // The handle may have been closed and reused since it was listed: only
  // the same connection is cut.
  OpenConnection now;
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (::getsockname(connection.handle, reinterpret_cast<sockaddr*>(&local), &length) != 0) return;
  std::string host;
  int localPort = 0;
  if (!numeric(local, length, host, localPort)) return;
  if (!peerOf(connection.handle, localPort, now) || now.peerAddress != connection.peerAddress ||
      now.peerPort != connection.peerPort) {
    return;
  }
  ::shutdown(connection.handle, SHUT_RDWR);
}

}  // namespace voltrix::service
