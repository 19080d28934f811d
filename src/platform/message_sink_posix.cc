// Every message goes to standard error first, with its cause; then, when a
// desktop is there, to the stop dialog, which waits for OK. Without one
// nothing waits.
#include <cstdio>

#include "platform/desktop.h"
#include "platform/desktop_fltk.h"
#include "platform/message_sink.h"
#include "platform/text.h"

namespace sa::platform {
namespace {

// One line per line of `text`, so a cause of several lines stays readable.
void WriteLines(std::FILE* out, const std::string& text) {
  for (const std::string& line : SplitLines(text)) {
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
  }
}

class PosixMessageSink final : public MessageSink {
 public:
  void ShowCritical(const std::string& message, const std::string& cause) override {
    // The message is one line even if it was given with line ends.
    std::string oneLine;
    for (const std::string& line : SplitLines(message)) {
      if (!oneLine.empty()) oneLine += ' ';
      oneLine += line;
    }
    oneLine += '\n';
    std::fputs(oneLine.c_str(), stderr);
    WriteLines(stderr, cause);
    std::fflush(stderr);
    if (DesktopAvailable()) ShowStopDialog(message, cause);
  }
};

}  // namespace

MessageSink& RealMessageSink() {
  static PosixMessageSink sink;
  return sink;
}

}  // namespace sa::platform
