#include "platform/standard_error.h"

#include "platform/text.h"

namespace sa::platform {

void StandardError::Message(const std::string& message, const std::string& cause) {
  EndBar();
  std::string text;
  for (const std::string& line : SplitLines(message)) {
    if (!text.empty()) text += ' ';
    text += line;
  }
  text += '\n';
  for (const std::string& line : SplitLines(cause)) text += line + '\n';
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}

void StandardError::Bar(const std::string& text) {
  std::fputs(("\r" + text).c_str(), out_);
  std::fflush(out_);
  barOpen_ = true;
}

void StandardError::EndBar() {
  if (!barOpen_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  barOpen_ = false;
}

StandardError& RealStandardError() {
  static StandardError err(stderr);
  return err;
}

}  // namespace sa::platform
