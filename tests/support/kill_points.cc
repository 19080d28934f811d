#include "support/kill_points.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "support/program_run.h"

namespace sa::testing {

int KillPoints(const char* variable, int byDefault) {
  const char* env = std::getenv(variable);
  return env != nullptr ? std::atoi(env) : byDefault;
}

KillTally KillAtRandomInstants(int points, std::chrono::microseconds fullRun, unsigned seed,
                               const std::function<pid_t()>& start,
                               const std::function<void(int kill, double boundUs)>& check) {
  std::mt19937 random(static_cast<unsigned>(points) * seed);
  double bound = static_cast<double>(fullRun.count());
  KillTally tally;
  while (tally.killedMidRun < points && tally.kills < 3 * points) {
    const pid_t pid = start();
    usleep(static_cast<useconds_t>(std::uniform_real_distribution<double>(0, bound)(random)));
    kill(pid, SIGKILL);
    if (WaitProgram(pid) == -1) {
      ++tally.killedMidRun;
      bound *= 1.05;
    } else {
      bound *= 0.8;
    }
    check(tally.kills++, bound);
    if (::testing::Test::HasFatalFailure()) break;
  }
  return tally;
}

}  // namespace sa::testing
