// Standard error, shared by the program's messages and the text progress
// bar. The bar is redrawn in place on one line; a message written while that
// line is open starts on a line of its own, so it never runs into the bar.
#pragma once

#include <cstdio>
#include <string>

namespace sa::platform {

class StandardError {
 public:
  explicit StandardError(std::FILE* out) : out_(out) {}

  // `message` as one line (its own line ends become blanks), then `cause`
  // line by line.
  void Message(const std::string& message, const std::string& cause);
  // Redraws the bar's line with `text` (no line end).
  void Bar(const std::string& text);
  // Ends the bar's line, when one is open.
  void EndBar();

 private:
  std::FILE* out_;
  bool barOpen_ = false;
};

// The process's standard error.
StandardError& RealStandardError();

}  // namespace sa::platform
