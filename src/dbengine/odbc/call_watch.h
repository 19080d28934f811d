// Keeps a connection's driver calls from waiting for ever on a server that
// stops answering. The database system's own timeouts end a statement that
// waits for a lock or runs too long; they cannot end a call whose server
// (or the network to it) has gone silent. The watch times every call made
// through Run: one still running `limit` after it began is cut off by
// shutting down the sockets the connection was made with, on which the
// driver gives up with an error. From then on the connection is of no use:
// CutOff() says so, and the connection's calls fail with EngineError::kQueryTimeout.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/sockets.h"

namespace sa::dbengine::odbc {

class CallWatch {
 public:
  // Watches nothing when `sockets` is empty or `limit` is zero.
  CallWatch(std::chrono::milliseconds limit, std::vector<platform::SocketId> sockets);
  ~CallWatch();
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  // Runs `call`, a driver call on the watched connection, and returns what
  // it returned.
  template <class Call>
  auto Run(Call&& call) {
    Begin();
    auto result = call();
    End();
    return result;
  }
  // The connection was cut off: a call outlived the limit.
  bool CutOff() const;
  std::chrono::milliseconds Limit() const { return limit_; }

 private:
  void Begin();
  void End();
  void Watch();

  const std::chrono::milliseconds limit_;
  const std::vector<platform::SocketId> sockets_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<std::chrono::steady_clock::time_point> since_;  // the call running
  uint64_t calls_ = 0;
  bool idle_ = false;  // the watcher waits for a call to begin
  bool cut_ = false;
  bool stop_ = false;
  std::thread watcher_;
};

}  // namespace sa::dbengine::odbc
