// Runs the real executable the way the host does: copied into a program
// folder beside its `fifo`, started with no arguments.
#pragma once

#include <sys/types.h>
#include <string>

namespace sa::testing {

// Copies the built executable into `programFolder`; returns its path.
std::string InstallProgram(const std::string& programFolder);

struct ProgramResult {
  int exitStatus = -1;  // -1 when killed by a signal
  std::string standardError;
};

// Runs the program to its end; with `timeoutSeconds`, kills it when it has
// not ended by then and reports exit status -2.
ProgramResult RunProgram(const std::string& programPath, int timeoutSeconds = 0);

// Starts the program and returns its process id; standard error is dropped.
pid_t StartProgram(const std::string& programPath);
// Waits for a started program; the exit status, or -1 when a signal ended it.
int WaitProgram(pid_t pid);

}  // namespace sa::testing
