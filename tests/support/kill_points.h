// The kill loop of the SIGKILL tests: a launch is started and killed at a
// random instant within the length of an uninterrupted run, then the test
// checks what survived. The bound adapts so that most kills land inside a run
// whatever the disk's speed today.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>

namespace sa::testing {

// The kill points a test takes: the environment variable `variable` when
// set, else `byDefault` (a short run; the scripts under tests/ set more).
int KillPoints(const char* variable, int byDefault);

struct KillTally {
  int killedMidRun = 0;  // launches the kill ended before they finished
  int kills = 0;
};

// Starts a launch with `start` (which returns its process id), kills it at a
// random instant, and calls `check` with the kill's number and the bound in
// microseconds; until `points` launches were killed mid-run, 3 * points kills
// were made, or a check failed fatally.
KillTally KillAtRandomInstants(int points, std::chrono::microseconds fullRun, unsigned seed,
                               const std::function<pid_t()>& start,
                               const std::function<void(int kill, double boundUs)>& check);

}  // namespace sa::testing
