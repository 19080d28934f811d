// boot/ holds the program's start: main.cc wires the real platform and
// engine, command_line.h reads the switches, unattended.h sends messages to
// the log, and start-up (this header) reads `fifo` and dispatches.
//
// Start-up: what happens between the host launching the program and the
// archive run. The host hands over its parameters in the file `fifo` beside
// the executable; without it the program refuses to run. Start-up reads the
// parameters and the host settings, makes sure the archive folder exists,
// and starts the run the host asked for. Every failure is reported here, so
// the exit status is all the caller has to pass on.
#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include "boot/command_line.h"
#include "core/params.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"

namespace sa::boot {

class ArchiveRunner {
 public:
  virtual ~ArchiveRunner() = default;
  // Runs the archive; 0 when complete, non-zero when it stopped or left
  // records unarchived. Throws sa::Error when the live database cannot be
  // opened.
  virtual int RunArchive(bool upToToday) = 0;

  // The operator commands; each returns the process exit status (0 done or
  // sound, 2 records left where they were or an archive not sound) and
  // throws sa::Error when the live database cannot be opened.
  // What a run of this kind would move now, changing nothing.
  virtual int DryRun(bool upToToday) = 0;
  // Checks every archive in the archive folder, changing nothing.
  virtual int VerifyArchives() = 0;
  // Moves the records of the archive of `month` (yyyymm) back to the live tables.
  virtual int RestoreMonth(const std::string& month) = 0;
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

// How long a launch waits for another run to let go of a folder it needs.
inline constexpr std::chrono::seconds kFolderLockWait{10};

// Holds the program's folder (where `fifo` and "registro.txt" are) for this
// launch, before anything is touched: one run at a time per program folder,
// and the data folder (the live database's, which holds S) is held the same
// way once `fifo` names it. Waits up to kFolderLockWait for another run;
// then shows why, as `command` shows start-up failures, and returns null:
// the launch ends with kExitRefused, having changed nothing. Released when
// the returned lock goes, or with the process.
std::unique_ptr<platform::FolderLock> LockProgramFolder(const StartupPlatform& platform,
                                                        const CommandLine& command);

// Returns the process exit status: 0 run complete, 1 refused/failed
// start-up, 2 run stopped or left records. Fills `launch` and `settings`
// before the run starts, and holds the data folder while it runs. Never
// modifies or deletes `fifo`.
int RunStartup(const StartupPlatform& platform, LaunchParams& launch, Settings& settings,
               ArchiveRunner& runner);

// Start-up for a parsed command line. With no switch, exactly RunStartup.
// The commands read `fifo` (or the file --fifo names) and the settings file
// as a run does; relative paths in it are read from its folder. --dry-run and
// --verify change nothing: the old log stays and no archive folder is made.
// --restore needs no process name, and replaces the log with its own once
// it has started. A person's command (any switch but --unattended) is shown
// the cause of a failure in place of the host launch's messages. --help and
// --version print to `out` and touch nothing; every other command expects
// the caller to hold the program's folder (LockProgramFolder).
int RunCommand(const StartupPlatform& platform, const CommandLine& command, LaunchParams& launch,
               Settings& settings, ArchiveRunner& runner, std::ostream& out);

}  // namespace sa::boot
