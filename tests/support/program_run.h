// Runs the real executable the way the host does: copied into a program
// folder beside its `fifo`, started with no arguments.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace sa::testing {

// Copies the built executable into `programFolder`; returns its path.
std::string InstallProgram(const std::string& programFolder);

// How a program is started. By default it gets no DISPLAY, whatever the
// tests' own environment holds, so a launch never reaches a desktop (and
// never waits on a dialog) unless a test asks for one.
struct Launch {
  std::vector<std::string> arguments;
  std::optional<std::string> display;  // DISPLAY for the program; unset when empty
  std::string workingFolder;           // where it starts; the tests' own when empty
};

struct ProgramResult {
  int exitStatus = -1;  // -1 when killed by a signal
  std::string standardError;
  std::string standardOutput;
};

// Runs the program to its end; with `timeoutSeconds`, kills it when it has
// not ended by then and reports exit status -2.
ProgramResult RunProgram(const std::string& programPath, const Launch& launch = {},
                         int timeoutSeconds = 0);
ProgramResult RunProgram(const std::string& programPath, int timeoutSeconds);

// Starts the program once per launch, all at once, and waits for every one.
std::vector<ProgramResult> RunTogether(const std::string& programPath,
                                       const std::vector<Launch>& launches);

// Starts the program and returns its process id; standard error goes to
// `errorPath` (dropped when empty).
pid_t StartProgram(const std::string& programPath, const Launch& launch = {},
                   const std::string& errorPath = "");
// Waits for a started program; the exit status, or -1 when a signal ended it.
int WaitProgram(pid_t pid);

}  // namespace sa::testing
