// The optional switches a person can give the program. The host always
// starts it with none, and then nothing here changes what it does.
//
//   --dry-run          what a run would move now, changing nothing
//   --verify           checks every month archive, changing nothing
//   --restore yyyymm   moves a month's archived records back into the live tables
//   --fifo PATH        reads the parameters from PATH instead of `fifo`
//   --unattended       no window and no message box
//   --help, --version
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace sa::boot {

enum class Command { kRun, kDryRun, kVerify, kRestore, kHelp, kVersion };

struct CommandLine {
  Command command = Command::kRun;
  std::string fifoPath;  // empty: `fifo` in the program's folder
  std::string month;     // yyyymm, for kRestore
  bool unattended = false;
};

// The parsed switches, or `error` (one line, for standard error) when a
// switch is unknown, given twice, lacks its value, or the month is not a
// valid yyyymm. Switches take their value as the next argument or after
// "=". --help and --version win over any other switch.
struct ParsedCommandLine {
  CommandLine options;
  std::string error;  // empty when the command line is sound
};
ParsedCommandLine ParseCommandLine(std::span<const std::string_view> args);

// The text --help prints, naming the program as `program`.
std::string UsageText(std::string_view program);
// The text --version prints.
std::string VersionText();

}  // namespace sa::boot
