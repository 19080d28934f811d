// Every message goes to standard error first, with its cause; then, when a
// desktop is there, to the stop dialog, which waits for OK. Without one
// nothing waits.
#include "platform/desktop.h"
#include "platform/desktop_fltk.h"
#include "platform/message_sink.h"
#include "platform/standard_error.h"

namespace sa::platform {
namespace {

class PosixMessageSink final : public MessageSink {
 public:
  void ShowCritical(const std::string& message, const std::string& cause) override {
    RealStandardError().Message(message, cause);
    if (DesktopAvailable()) ShowStopDialog(message, cause);
  }
};

}  // namespace

MessageSink& RealMessageSink() {
  static PosixMessageSink sink;
  return sink;
}

}  // namespace sa::platform
