// Runs executables as child processes of a small helper process and reports
// each one's wall time and peak resident memory.
//
// A child's ru_maxrss also counts the memory of the process it was forked
// from (Linux keeps the larger of the pre-exec and post-exec high-water
// marks), so forking the program straight from the benchmark, which by then
// holds a page cache's worth of generated data, would inflate its figure.
// The helper is forked before the benchmark allocates anything and stays
// small, so what wait4 reports is the program's own peak plus the helper's
// few hundred KiB; running /bin/true through it measures that floor.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace sa::bench {

struct ChildResult {
  bool started = false;  // false: exec failed (execErrno says why)
  int execErrno = 0;
  bool exited = false;  // false: ended by a signal
  int exitStatus = -1;
  int signal = 0;
  double seconds = 0;     // wall time from fork to reaped
  double cpuSeconds = 0;  // user and system time of the child
  int64_t maxRssKiB = 0;  // wait4's ru_maxrss
};

class ChildLauncher {
 public:
  // Forks the helper. Call first thing in main().
  ChildLauncher();
  ~ChildLauncher();
  ChildLauncher(const ChildLauncher&) = delete;
  ChildLauncher& operator=(const ChildLauncher&) = delete;

  // Runs `executable` with no arguments, standard input from /dev/null and
  // standard output and error into `outputPath`, and waits for it.
  ChildResult Run(const std::string& executable, const std::string& outputPath);

 private:
  pid_t helper_ = -1;
  int requests_ = -1;   // write end, to the helper
  int responses_ = -1;  // read end, from the helper
};

}  // namespace sa::bench
