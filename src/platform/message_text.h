// How a message and its cause read on standard error and in the run log: the
// message on one line (line ends inside it become blanks), then each line of
// the cause on a line of its own.
#pragma once

#include <string>

namespace sa::platform {

// The message and its cause as lines, each ended by `lineEnd`.
std::string MessageLines(const std::string& message, const std::string& cause,
                         const std::string& lineEnd = "\n");

// The message alone, its line ends turned into blanks.
std::string OneLine(const std::string& message);

}  // namespace sa::platform
