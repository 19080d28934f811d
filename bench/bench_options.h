// archive-bench's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sa::bench {

inline constexpr int kExitOk = 0;
inline constexpr int kExitProgramFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs of each measurement, the fastest kept: the disk is shared, and one
// stalled sync can add seconds to any single run.
inline constexpr int kDefaultRepeats = 3;

extern const char kUsage[];

struct Options {
  std::vector<long> sizes{10000, 100000, 1000000};
  bool scaling = true;
  std::string dir;
  bool memoryFs = false;
  bool keep = false;
  bool help = false;
  int repeat = kDefaultRepeats;
  std::optional<long> odbcSize;
};

// A command line archive-bench cannot take; `message` says why.
struct UsageError {
  std::string message;
};

// Throws UsageError. Sizes come back sorted, each once.
Options ParseOptions(int argc, char** argv);

}  // namespace sa::bench
