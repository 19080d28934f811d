#include "platform/message_text.h"

#include "platform/text.h"

namespace sa::platform {

std::string OneLine(const std::string& message) {
  std::string line;
  for (const std::string& part : SplitLines(message)) {
    if (!line.empty()) line += ' ';
    line += part;
  }
  return line;
}

std::string MessageLines(const std::string& message, const std::string& cause,
                         const std::string& lineEnd) {
  std::string text = OneLine(message) + lineEnd;
  for (const std::string& line : SplitLines(cause)) text += line + lineEnd;
  return text;
}

}  // namespace sa::platform
