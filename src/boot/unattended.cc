#include "boot/unattended.h"

#include <string_view>

#include "core/error.h"
#include "platform/message_text.h"

namespace sa::boot {

bool HasUnattendedSwitch(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && std::string_view(argv[i]) == kUnattendedSwitch) return true;
  }
  return false;
}

void UnattendedMessageSink::ShowCritical(const std::string& message, const std::string& cause) {
  standardError_.Message(message, cause);
  if (!fs_.IsFile(fifoPath_)) return;
  try {
    log_.Append(platform::MessageLines(message, cause));
  } catch (const Error& e) {
    // Standard error already has the message; say why the log lacks it.
    standardError_.Message(e.Description(), e.Cause());
  }
}

}  // namespace sa::boot
