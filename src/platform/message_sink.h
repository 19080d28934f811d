// The critical message box. Every message is also written to standard error
// as one line, followed by its cause on the next lines, so that a run with no
// display or no person still explains itself. Never blocks a headless run.
#pragma once

#include <string>

namespace sa::platform {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows `message` with the stop icon and an OK button; `cause` may be empty.
  virtual void ShowCritical(const std::string& message, const std::string& cause) = 0;
};

MessageSink& RealMessageSink();

}  // namespace sa::platform
