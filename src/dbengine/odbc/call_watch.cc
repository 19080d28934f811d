#include "dbengine/odbc/call_watch.h"

namespace sa::dbengine::odbc {

CallWatch::CallWatch(std::chrono::milliseconds limit, std::vector<platform::SocketId> sockets)
    : limit_(limit), sockets_(std::move(sockets)) {
  if (!sockets_.empty() && limit_.count() > 0) watcher_ = std::thread([this] { Watch(); });
}

CallWatch::~CallWatch() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (watcher_.joinable()) watcher_.join();
}

bool CallWatch::CutOff() const {
  const std::lock_guard lock(mutex_);
  return cut_;
}

// A call that begins wakes the watcher only when it waits for one; one that
// ends leaves it asleep until the deadline it was given, so that short calls
// cost no switch between threads.
void CallWatch::Begin() {
  if (!watcher_.joinable()) return;
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    since_ = std::chrono::steady_clock::now();
    ++calls_;
    wake = idle_;
  }
  if (wake) wake_.notify_one();
}

void CallWatch::End() {
  if (!watcher_.joinable()) return;
  const std::lock_guard lock(mutex_);
  since_.reset();
}

void CallWatch::Watch() {
  std::unique_lock lock(mutex_);
  while (!stop_ && !cut_) {
    if (!since_) {
      idle_ = true;
      wake_.wait(lock, [&] { return stop_ || since_.has_value(); });
      idle_ = false;
      continue;
    }
    const uint64_t call = calls_;
    const auto deadline = *since_ + limit_;
    wake_.wait_until(lock, deadline, [&] { return stop_; });
    if (stop_ || !since_ || calls_ != call) continue;
    if (std::chrono::steady_clock::now() < deadline) continue;
    // Shutting a socket down only wakes whoever waits on it; the driver
    // then ends its call with an error and the connection is lost.
    cut_ = true;
    for (const platform::SocketId& socket : sockets_) platform::CutOffSocket(socket);
  }
}

}  // namespace sa::dbengine::odbc
