#pragma once
// The connections clients hold open to this process's server, as the
// system lists them, and a way to cut one; the depth of its listen queue.

#include <string>
#include <vector>

namespace voltrix::service {

struct OpenConnection {
  int handle = -1;
  std::string peerAddress;  // numeric, as the server reports it
  int peerPort = 0;
};

// The accepted connections of this process on local port `port`.
std::vector<OpenConnection> connectionsTo(int port);

// Lets the listening socket on `port` queue up to `depth` connections that
// are not yet accepted (the system caps it); false when there is none.
bool deepenListenQueue(int port, int depth);

// Shuts the connection down in both directions, so that whoever waits on it
// sees its end; nothing when the handle no longer is that connection.
void cutConnection(const OpenConnection& connection);

}  // namespace voltrix::service
