// Start-up: what happens between the host launching the program and the
// archive run. The host hands over its parameters in the file `fifo` beside
// the executable; without it the program refuses to run. Start-up reads the
// parameters and the host settings, makes sure the archive folder exists,
// and starts the run the host asked for. Every failure is reported here, so
// the exit status is all the caller has to pass on.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "var/params.h"

namespace sa::boot {

class ArchiveRunner {
 public:
  virtual ~ArchiveRunner() = default;
  // Runs the archive; 0 when complete, non-zero when it stopped or left
  // records unarchived. Throws sa::Error when the live database cannot be
  // opened.
  virtual int RunArchive(bool upToToday) = 0;
};

struct StartupPlatform {
  platform::FileSystem& fs;
  platform::MessageSink& messages;
  std::string programFolder;
};

// Exit statuses of RunStartup.
inline constexpr int kExitComplete = 0;
inline constexpr int kExitRefused = 1;  // refused or failed start-up, or run could not start
inline constexpr int kExitStopped = 2;  // the run stopped or left records unarchived

// Shown when start-up fails after the handshake.
inline constexpr char kStartupFailedMessage[] =
    "Este programa sólo puede ser ejecutado desde Brelna+";
// Shown when there is no `fifo`, i.e. the program was not launched by the host.
inline constexpr char kNotLaunchedByHostMessage[] = "This program must be executed by Brelna+";

// Returns the process exit status: 0 run complete, 1 refused/failed
// start-up, 2 run stopped or left records. Fills `launch` and `settings`
// before the run starts. Never modifies or deletes `fifo`.
int RunStartup(const StartupPlatform& platform, LaunchParams& launch, Settings& settings,
               ArchiveRunner& runner);

}  // namespace sa::boot
