// No message box on POSIX yet: every message goes to standard error only,
// which the interface already requires of every platform.
#include "platform/message_sink.h"
#include "platform/standard_error.h"

namespace sa::platform {
namespace {

class PosixMessageSink final : public MessageSink {
 public:
  void ShowCritical(const std::string& message, const std::string& cause) override {
    RealStandardError().Message(message, cause);
  }
};

}  // namespace

MessageSink& RealMessageSink() {
  static PosixMessageSink sink;
  return sink;
}

}  // namespace sa::platform
