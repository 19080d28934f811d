#include "child_launcher.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace sa::bench {
namespace {

// The helper's answer, as raw bytes over a pipe between two processes of the
// same executable.
struct Response {
  int32_t started;
  int32_t execErrno;
  int32_t exited;
  int32_t exitStatus;
  int32_t signal;
  int32_t pad;
  int64_t maxRssKiB;
  double seconds;
  double cpuSeconds;
};

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, void* data, size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteText(int fd, const std::string& text) {
  const auto size = static_cast<uint32_t>(text.size());
  return WriteAll(fd, &size, sizeof size) && WriteAll(fd, text.data(), text.size());
}

bool ReadText(int fd, std::string& text) {
  uint32_t size = 0;
  if (!ReadAll(fd, &size, sizeof size)) return false;
  text.assign(size, '\0');
  return ReadAll(fd, text.data(), size);
}

double Now() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Seconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

// The helper's whole life: one child per request until the benchmark closes
// the request pipe. Uses no stdio, so nothing buffered in the benchmark
// before the fork is written twice.
[[noreturn]] void ServeRequests(int requests, int responses) {
  std::string executable, output;
  while (ReadText(requests, executable) && ReadText(requests, output)) {
    // The exec status travels over a close-on-exec pipe: empty when the exec
    // worked, the errno when it did not.
    int execPipe[2];
    if (::pipe2(execPipe, O_CLOEXEC) != 0) ::_exit(3);
    Response r{};
    const double start = Now();
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(execPipe[0]);
      const int in = ::open("/dev/null", O_RDONLY);
      const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in >= 0) ::dup2(in, 0);
      if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
      }
      ::execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
      const int err = errno;
      WriteAll(execPipe[1], &err, sizeof err);
      ::_exit(127);
    }
    ::close(execPipe[1]);
    if (pid < 0) {
      r.execErrno = errno;
    } else {
      int err = 0;
      r.started = ReadAll(execPipe[0], &err, sizeof err) ? 0 : 1;
      r.execErrno = r.started ? 0 : err;
      int status = 0;
      rusage usage{};
      while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
      }
      r.seconds = Now() - start;
      r.maxRssKiB = usage.ru_maxrss;
      r.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
      r.exited = WIFEXITED(status) ? 1 : 0;
      r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    ::close(execPipe[0]);
    if (!WriteAll(responses, &r, sizeof r)) break;
  }
  ::_exit(0);
}

}  // namespace

ChildLauncher::ChildLauncher() {
  int toHelper[2], fromHelper[2];
  if (::pipe2(toHelper, O_CLOEXEC) != 0 || ::pipe2(fromHelper, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  std::fflush(nullptr);
  helper_ = ::fork();
  if (helper_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (helper_ == 0) {
    ::close(toHelper[1]);
    ::close(fromHelper[0]);
    ServeRequests(toHelper[0], fromHelper[1]);
  }
  ::close(toHelper[0]);
  ::close(fromHelper[1]);
  requests_ = toHelper[1];
  responses_ = fromHelper[0];
}

ChildLauncher::~ChildLauncher() {
  if (requests_ >= 0) ::close(requests_);
  if (responses_ >= 0) ::close(responses_);
  if (helper_ > 0) {
    int status = 0;
    while (::waitpid(helper_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

ChildResult ChildLauncher::Run(const std::string& executable, const std::string& outputPath) {
  Response r{};
  if (!WriteText(requests_, executable) || !WriteText(requests_, outputPath) ||
      !ReadAll(responses_, &r, sizeof r)) {
    throw std::runtime_error("the launcher process stopped answering");
  }
  ChildResult result;
  result.started = r.started != 0;
  result.execErrno = r.execErrno;
  result.exited = r.exited != 0;
  result.exitStatus = r.exitStatus;
  result.signal = r.signal;
  result.seconds = r.seconds;
  result.maxRssKiB = r.maxRssKiB;
  result.cpuSeconds = r.cpuSeconds;
  return result;
}

}  // namespace sa::bench
