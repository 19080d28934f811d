#include "boot/unattended.h"

#include <string_view>

#include "core/error.h"
#include "platform/message_text.h"
#include "platform/standard_error.h"

namespace sa::boot {

bool HasUnattendedSwitch(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && std::string_view(argv[i]) == kUnattendedSwitch) return true;
  }
  return false;
}

void UnattendedMessageSink::ShowCritical(const std::string& message, const std::string& cause) {
  platform::RealStandardError().Message(message, cause);
  if (!fs_.IsFile(fifoPath_)) return;
  try {
    log_.Append(platform::MessageLines(message, cause));
  } catch (const Error& e) {
    // Standard error already has the message; say why the log lacks it.
    platform::RealStandardError().Message(e.Description(), e.Cause());
  }
}

}  // namespace sa::boot
