// The network sockets the process holds, and cutting one off from another
// thread: the last resort against a server that stops answering, whose
// client library would otherwise wait on the socket for ever. A socket is
// named by its descriptor and its identity in the system, so that a
// descriptor closed and reused meanwhile is left alone.
#pragma once

#include <cstdint>
#include <vector>

namespace sa::platform {

struct SocketId {
  int descriptor = -1;
  uint64_t identity = 0;
  bool operator==(const SocketId&) const = default;
};

// The sockets open in the process now; empty where the system does not tell
// (Windows).
std::vector<SocketId> OpenSockets();

// Shuts the socket down both ways, so that a call blocked on it returns at
// once; does nothing when the descriptor no longer names that socket.
void CutOffSocket(const SocketId& socket);

}  // namespace sa::platform
