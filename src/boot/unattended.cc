#include "boot/unattended.h"

#include <cstdio>
#include <string_view>

#include "platform/log_text.h"
#include "platform/message_text.h"
#include "var/error.h"

namespace sa::boot {

bool HasUnattendedSwitch(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && std::string_view(argv[i]) == kUnattendedSwitch) return true;
  }
  return false;
}

void UnattendedMessageSink::ShowCritical(const std::string& message, const std::string& cause) {
  const std::string lines = platform::MessageLines(message, cause);
  std::fwrite(lines.data(), 1, lines.size(), stderr);
  std::fflush(stderr);
  try {
    fs_.AppendFile(logPath_,
                   platform::ToLogEncoding(platform::MessageLines(message, cause, "\r\n")));
  } catch (const Error& e) {
    // Standard error already has the message; say why the log lacks it.
    const std::string why = platform::MessageLines(e.Description(), e.Cause());
    std::fwrite(why.data(), 1, why.size(), stderr);
    std::fflush(stderr);
  }
}

}  // namespace sa::boot
