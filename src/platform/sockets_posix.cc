#include "platform/sockets.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace sa::platform {

std::vector<SocketId> OpenSockets() {
  std::vector<SocketId> out;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return out;
  const int own = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == own) continue;
    struct stat st {};
    if (fstat(static_cast<int>(fd), &st) == 0 && S_ISSOCK(st.st_mode)) {
      out.push_back({static_cast<int>(fd), static_cast<uint64_t>(st.st_ino)});
    }
  }
  closedir(dir);
  return out;
}

void CutOffSocket(const SocketId& socket) {
  struct stat st {};
  if (fstat(socket.descriptor, &st) != 0 || !S_ISSOCK(st.st_mode) ||
      static_cast<uint64_t>(st.st_ino) != socket.identity) {
    return;
  }
  shutdown(socket.descriptor, SHUT_RDWR);
}

}  // namespace sa::platform
