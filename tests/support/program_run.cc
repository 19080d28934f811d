#include "support/program_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sa::testing {

std::string InstallProgram(const std::string& programFolder) {
  const std::filesystem::path target = std::filesystem::path(programFolder) / "sales-archiver";
  std::filesystem::create_directories(programFolder);
  std::filesystem::copy_file(SA_EXECUTABLE, target,
                             std::filesystem::copy_options::overwrite_existing);
  return target.string();
}

namespace {

pid_t Spawn(const std::string& programPath, const std::string& errPath) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, 2);
      ::close(fd);
    }
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    execl(programPath.c_str(), programPath.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

}  // namespace

ProgramResult RunProgram(const std::string& programPath, int timeoutSeconds) {
  const std::string errPath = programPath + ".stderr";
  ProgramResult result;
  const pid_t pid = Spawn(programPath, errPath);
  bool timedOut = false;
  if (timeoutSeconds > 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        timedOut = true;
        break;
      }
      usleep(20000);
    }
    if (!timedOut) result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  if (timedOut) {
    WaitProgram(pid);
    result.exitStatus = -2;
  } else if (timeoutSeconds <= 0) {
    result.exitStatus = WaitProgram(pid);
  }
  std::ifstream in(errPath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  result.standardError = text.str();
  std::filesystem::remove(errPath);
  return result;
}

pid_t StartProgram(const std::string& programPath) { return Spawn(programPath, "/dev/null"); }

int WaitProgram(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace sa::testing
