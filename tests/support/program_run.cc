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

pid_t Spawn(const std::string& programPath, const std::vector<std::string>& args,
            const std::string& errPath, const std::string& outPath) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(programPath.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    for (const auto& [path, target] : {std::pair{errPath, 2}, std::pair{outPath, 1}}) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd >= 0 ? fd : devnull, target);
      if (fd >= 0) ::close(fd);
    }
    execv(programPath.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(path);
  return text.str();
}

}  // namespace

ProgramResult RunProgram(const std::string& programPath, const std::vector<std::string>& args,
                         int timeoutSeconds) {
  const std::string errPath = programPath + ".stderr";
  const std::string outPath = programPath + ".stdout";
  ProgramResult result;
  const pid_t pid = Spawn(programPath, args, errPath, outPath);
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
  result.standardError = Slurp(errPath);
  result.standardOutput = Slurp(outPath);
  return result;
}

ProgramResult RunProgram(const std::string& programPath, int timeoutSeconds) {
  return RunProgram(programPath, {}, timeoutSeconds);
}

pid_t StartProgram(const std::string& programPath, const std::vector<std::string>& args) {
  return Spawn(programPath, args, "/dev/null", "/dev/null");
}

int WaitProgram(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace sa::testing
