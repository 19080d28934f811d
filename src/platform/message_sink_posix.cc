// No message box on POSIX yet: every message goes to standard error only,
// which the interface already requires of every platform.
#include <cstdio>

#include "platform/message_sink.h"
#include "platform/message_text.h"

namespace sa::platform {
namespace {

class PosixMessageSink final : public MessageSink {
 public:
  void ShowCritical(const std::string& message, const std::string& cause) override {
    const std::string text = MessageLines(message, cause);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
};

}  // namespace

MessageSink& RealMessageSink() {
  static PosixMessageSink sink;
  return sink;
}

}  // namespace sa::platform
