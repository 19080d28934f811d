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
#include <string_view>
#include <vector>

namespace sa::testing {

std::string InstallProgram(const std::string& programFolder) {
  const std::filesystem::path target = std::filesystem::path(programFolder) / "sales-archiver";
  std::filesystem::create_directories(programFolder);
  std::filesystem::copy_file(SA_EXECUTABLE, target,
                             std::filesystem::copy_options::overwrite_existing);
  return target.string();
}

namespace {

pid_t Spawn(const std::string& programPath, const Launch& launch, const std::string& errPath,
            const std::string& outPath = "/dev/null") {
  // Built before the fork: the child only calls what is safe after it.
  std::vector<char*> argv{const_cast<char*>(programPath.c_str())};
  for (const std::string& argument : launch.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string_view(*entry).substr(0, 8) != "DISPLAY=") environment.emplace_back(*entry);
  }
  if (launch.display) environment.push_back("DISPLAY=" + *launch.display);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, 2);
      ::close(fd);
    }
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out >= 0 ? out : devnull, 1);
    if (out >= 0) ::close(out);
    if (!launch.workingFolder.empty() && ::chdir(launch.workingFolder.c_str()) != 0) _exit(126);
    execve(programPath.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

// The whole file, which is then removed.
std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(path);
  return text.str();
}

}  // namespace

ProgramResult RunProgram(const std::string& programPath, int timeoutSeconds) {
  return RunProgram(programPath, Launch{}, timeoutSeconds);
}

ProgramResult RunProgram(const std::string& programPath, const Launch& launch, int timeoutSeconds) {
  const std::string errPath = programPath + ".stderr";
  const std::string outPath = programPath + ".stdout";
  ProgramResult result;
  const pid_t pid = Spawn(programPath, launch, errPath, outPath);
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

std::vector<ProgramResult> RunTogether(const std::string& programPath,
                                       const std::vector<Launch>& launches) {
  std::vector<pid_t> pids;
  for (size_t i = 0; i < launches.size(); ++i) {
    const std::string stem = programPath + "." + std::to_string(i);
    pids.push_back(Spawn(programPath, launches[i], stem + ".stderr", stem + ".stdout"));
  }
  std::vector<ProgramResult> results(launches.size());
  for (size_t i = 0; i < launches.size(); ++i) {
    const std::string stem = programPath + "." + std::to_string(i);
    results[i].exitStatus = WaitProgram(pids[i]);
    results[i].standardError = Slurp(stem + ".stderr");
    results[i].standardOutput = Slurp(stem + ".stdout");
  }
  return results;
}

pid_t StartProgram(const std::string& programPath, const Launch& launch,
                   const std::string& errorPath) {
  return Spawn(programPath, launch, errorPath.empty() ? "/dev/null" : errorPath);
}

int WaitProgram(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace sa::testing
