#include "boot/startup.h"

#include <cmath>
#include <exception>
#include <new>
#include <vector>

#include "core/error.h"
#include "core/round.h"
#include "dbengine/engine_choice.h"
#include "host_settings/conversions.h"
#include "host_settings/host_settings.h"
#include "platform/log_text.h"
#include "platform/text.h"

namespace sa::boot {
namespace {

constexpr char kFifoName[] = "fifo";
constexpr char kArchiveFolderName[] = "S";
constexpr size_t kFifoLines = 7;
// Seven lines of paths and names fit many times over.
constexpr size_t kFifoByteLimit = 1 << 20;

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// What `fifo` says, before any of it is interpreted.
struct FifoLines {
  std::string dbPath;
  std::string settingsPath;
  std::string processName;
  std::string loginFlag;
  std::string userName;
  std::string userLevel;
};

FifoLines ReadFifo(platform::FileSystem& fs, const std::string& fifoPath) {
  // Only the head that can hold the seven lines is read: whatever follows
  // them is never looked at, however large.
  const std::string head = fs.ReadFileHead(fifoPath, kFifoByteLimit + 1);
  std::vector<std::string> lines = platform::SplitLines(platform::DecodeText(head));
  if (head.size() > kFifoByteLimit) {
    lines.pop_back();  // the line the limit cut, whole or not
    if (lines.size() < kFifoLines) {
      throw Error(ErrorCode::kInputPastEnd, "Input past end of file",
                  fifoPath + ": the first " + std::to_string(kFifoLines) +
                      " lines of fifo are longer than " + std::to_string(kFifoByteLimit) +
                      " bytes");
    }
  }
  if (lines.size() < kFifoLines) {
    throw Error(ErrorCode::kInputPastEnd, "Input past end of file",
                fifoPath + ": fifo has " + std::to_string(lines.size()) + " lines, " +
                    std::to_string(kFifoLines) + " expected");
  }
  // Line 4 carries nothing the program uses; lines past 7 are ignored.
  return FifoLines{lines[0], lines[1], lines[2], lines[4], lines[5], lines[6]};
}

int16_t UserLevel(const std::string& text, const std::string& fifoPath) {
  const double level = RoundHalfEven(host_settings::LeadingNumber(text));
  if (!(level >= -32768 && level <= 32767)) {
    throw Error(ErrorCode::kOverflow, "Overflow",
                fifoPath + ": user level \"" + text + "\" is outside -32768..32767");
  }
  return static_cast<int16_t>(level);
}

// The database path without its last component and the separator before it;
// empty for a file in the root folder.
std::string DataFolder(const std::string& dbPath, const std::string& fifoPath) {
  for (size_t i = dbPath.size(); i > 0; --i) {
    if (platform::IsPathSeparator(dbPath[i - 1])) return dbPath.substr(0, i - 1);
  }
  throw Error(ErrorCode::kPathNotFound, "Path not found",
              fifoPath + ": database path \"" + dbPath + "\" names no folder");
}

// The folder holding `path`; empty for a bare name (the working folder).
std::string FolderHolding(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (platform::IsPathSeparator(path[i - 1])) return path.substr(0, i > 1 ? i - 1 : 1);
  }
  return {};
}

// The data folder as a folder to hold: the root for a database in the root
// ("" or "C:"), else itself.
std::string FolderToHold(const std::string& dataFolder) {
  if (dataFolder.empty() || dataFolder.back() == ':') return dataFolder + platform::PathSeparator();
  return dataFolder;
}

// What a person who gave a switch is shown: the cause in place of the host
// launch's message (a message without a cause stays as it is).
class CauseInPlace final : public platform::MessageSink {
 public:
  explicit CauseInPlace(platform::MessageSink& shown) : shown_(shown) {}
  void ShowCritical(const std::string& message, const std::string& cause) override {
    if (cause.empty()) return shown_.ShowCritical(message, cause);
    const size_t end = cause.find('\n');
    shown_.ShowCritical(cause.substr(0, end),
                        end == std::string::npos ? std::string() : cause.substr(end + 1));
  }

 private:
  platform::MessageSink& shown_;
};

// A person's command, not the host's launch: any switch but --unattended.
bool ByOperator(const CommandLine& command) {
  return command.command != Command::kRun || !command.fifoPath.empty();
}

void Fail(platform::MessageSink& messages, const Error& e) {
  std::string cause = e.Description();
  if (!e.Cause().empty()) cause += "\n" + e.Cause();
  messages.ShowCritical(kStartupFailedMessage, cause);
}

// What start-up does before it hands over, by command.
struct Steps {
  bool removeOldLog = true;       // the log only ever holds the latest run
  bool makeArchiveFolder = true;  // a run needs S; the checks change nothing
  bool needsProcess = true;       // the process name picks the run's window
  bool byOperator = false;        // causes in place of the host's messages
};

// The shared start-up: old log, handshake, `fifo`, the data folder held,
// archive folder, settings, then `dispatch` with the kind of run `fifo` names.
// The caller holds the program's folder (LockProgramFolder).
template <typename Dispatch>
int Start(const StartupPlatform& platform, const std::string& fifoPath, const Steps& steps,
          LaunchParams& launch, Settings& settings, Dispatch dispatch) {
  platform::FileSystem& fs = platform.fs;
  CauseInPlace causes(platform.messages);
  platform::MessageSink& messages = steps.byOperator ? causes : platform.messages;
  try {
    if (steps.removeOldLog) {
      // A log left by an earlier run would be mistaken for this run's.
      platform::RunLog(fs, platform.programFolder).Remove();
    }

    if (!fs.IsFile(fifoPath)) {
      std::string cause = fifoPath + ": no such file";
      if (fs.Exists(fifoPath)) {
        try {
          fs.ReadFileHead(fifoPath, 0);
        } catch (const Error& e) {
          cause = e.Cause();  // a folder or a device, said as such
        }
      }
      messages.ShowCritical(kNotLaunchedByHostMessage, steps.byOperator ? cause : "");
      return kExitRefused;
    }

    const FifoLines fifo = ReadFifo(fs, fifoPath);
    // Relative paths are read from the folder holding `fifo` (the program's
    // for the host's launch), never from the working folder a scheduler
    // chose; a bare name still names no folder.
    const std::string fifoFolder = FolderHolding(fifoPath);
    const auto fromFifo = [&](const std::string& path) {
      return fifoFolder.empty() ? path : platform::PathFrom(fifoFolder, path);
    };
    const bool connectionString = dbengine::IsConnectionString(fifo.dbPath);
    if (!connectionString) DataFolder(fifo.dbPath, fifoPath);
    launch.dbPath = connectionString ? fifo.dbPath : fromFifo(fifo.dbPath);
    launch.settingsPath = fromFifo(fifo.settingsPath);
    launch.loginActive = AsciiUpper(fifo.loginFlag) == "Y";
    if (launch.loginActive) {
      launch.userName = fifo.userName;
      launch.userLevel = UserLevel(fifo.userLevel, fifoPath);
    } else {
      launch.userName = "admin";
      launch.userLevel = 0;
    }
    // A live database named by a connection string has no folder: its
    // archives go into the program's folder.
    launch.dataFolder =
        connectionString ? platform.programFolder : DataFolder(launch.dbPath, fifoPath);

    // Another run from another program folder may name the same live
    // database and archive folder: the data folder is held before anything
    // in it is touched, S included. It is the program's folder itself for a
    // connection string, held already.
    const std::unique_ptr<platform::FolderLock> dataLock =
        fs.LockFolder(FolderToHold(launch.dataFolder), kFolderLockWait);

    if (steps.makeArchiveFolder) {
      // A file named S is left alone: the run reports it when it gets there.
      const std::string archiveFolder = platform::JoinPath(launch.dataFolder, kArchiveFolderName);
      if (!fs.Exists(archiveFolder)) fs.MakeFolder(archiveFolder);
    }

    if (host_settings::LoadHostSettings(launch.settingsPath, fs, messages, settings) ==
        host_settings::LoadOutcome::kEndProgram) {
      return kExitRefused;
    }

    const std::string process = AsciiLower(fifo.processName);
    bool upToToday = false;
    if (process == "proctotalhistorico") {
      upToToday = false;
    } else if (process == "procsiosi") {
      upToToday = true;
    } else if (steps.needsProcess) {
      throw Error(ErrorCode::kUnknownProcess, "Unknown process",
                  fifoPath + ": process \"" + fifo.processName + "\" is not one this program runs");
    }
    return dispatch(upToToday);
  } catch (const Error& e) {
    Fail(messages, e);
    return kExitRefused;
  } catch (const std::bad_alloc&) {
    Fail(messages, Error(ErrorCode::kOutOfMemory, "Out of memory"));
    return kExitRefused;
  } catch (const std::exception& e) {
    Fail(messages, Error(ErrorCode::kInternal, "Internal error", e.what()));
    return kExitRefused;
  }
}

}  // namespace

int RunStartup(const StartupPlatform& platform, LaunchParams& launch, Settings& settings,
               ArchiveRunner& runner) {
  return Start(platform, platform::JoinPath(platform.programFolder, kFifoName), Steps{}, launch,
               settings, [&](bool upToToday) {
                 return runner.RunArchive(upToToday) == 0 ? kExitComplete : kExitStopped;
               });
}

std::unique_ptr<platform::FolderLock> LockProgramFolder(const StartupPlatform& platform,
                                                        const CommandLine& command) {
  CauseInPlace causes(platform.messages);
  platform::MessageSink& messages = ByOperator(command) ? causes : platform.messages;
  try {
    return platform.fs.LockFolder(platform.programFolder, kFolderLockWait);
  } catch (const Error& e) {
    Fail(messages, e);
  } catch (const std::bad_alloc&) {
    Fail(messages, Error(ErrorCode::kOutOfMemory, "Out of memory"));
  }
  return nullptr;
}

int RunCommand(const StartupPlatform& platform, const CommandLine& command, LaunchParams& launch,
               Settings& settings, ArchiveRunner& runner, std::ostream& out) {
  const bool ownFifo = !command.fifoPath.empty();
  const std::string fifoPath =
      ownFifo ? command.fifoPath : platform::JoinPath(platform.programFolder, kFifoName);
  Steps steps;
  steps.byOperator = ByOperator(command);
  switch (command.command) {
    case Command::kHelp:
      out << UsageText("sales-archiver");
      return kExitComplete;
    case Command::kVersion:
      out << VersionText();
      return kExitComplete;
    case Command::kRun:
      if (!ownFifo) return RunStartup(platform, launch, settings, runner);
      return Start(platform, fifoPath, steps, launch, settings, [&](bool upToToday) {
        return runner.RunArchive(upToToday) == 0 ? kExitComplete : kExitStopped;
      });
    case Command::kDryRun:
      steps = {false, false, true, true};
      return Start(platform, fifoPath, steps, launch, settings,
                   [&](bool upToToday) { return runner.DryRun(upToToday); });
    case Command::kVerify:
      steps = {false, false, false, true};
      return Start(platform, fifoPath, steps, launch, settings,
                   [&](bool) { return runner.VerifyArchives(); });
    case Command::kRestore:
      // The restore replaces the log once it has started (RestoreMonth).
      steps = {false, false, false, true};
      return Start(platform, fifoPath, steps, launch, settings,
                   [&](bool) { return runner.RestoreMonth(command.month); });
  }
  return kExitRefused;
}

}  // namespace sa::boot
