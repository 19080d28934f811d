// Unattended runs, for schedulers that start the program where nobody can
// click a message box (Windows' Task Scheduler, cron): the switch
// --unattended shows no window and no message box (platform::AllowDesktop). Every message goes to
// standard error and, with its cause, to the run log "registro.txt" in the
// program's folder, in the log's encoding and with CRLF line ends.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/log_text.h"
#include "platform/message_sink.h"
#include "platform/standard_error.h"

namespace sa::boot {

inline constexpr char kUnattendedSwitch[] = "--unattended";

// True when the command line holds --unattended. Other arguments are left to
// whoever reads them; with none the program runs as the host expects.
bool HasUnattendedSwitch(int argc, const char* const* argv);

// Messages to standard error and the run log of `programFolder`; never
// waits for anyone. Nothing is logged while `fifoPath` is missing: a launch
// that is not the host's leaves no log.
class UnattendedMessageSink final : public platform::MessageSink {
 public:
  UnattendedMessageSink(platform::FileSystem& fs, platform::StandardError& standardError,
                        const std::string& programFolder, std::string fifoPath)
      : fs_(fs),
        standardError_(standardError),
        log_(fs, programFolder),
        fifoPath_(std::move(fifoPath)) {}
  void ShowCritical(const std::string& message, const std::string& cause) override;

 private:
  platform::FileSystem& fs_;
  platform::StandardError& standardError_;
  platform::RunLog log_;
  std::string fifoPath_;
};

}  // namespace sa::boot
