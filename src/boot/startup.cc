#include "boot/startup.h"

#include <cmath>
#include <exception>
#include <new>
#include <vector>

#include "dbengine/engine_choice.h"
#include "platform/text.h"
#include "tools/conversions.h"
#include "tools/host_settings.h"
#include "var/error.h"

namespace sa::boot {
namespace {

constexpr char kOldLogName[] = "registro.txt";
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
      throw Error(kErrInputPastEnd, "Input past end of file",
                  fifoPath + ": the first " + std::to_string(kFifoLines) +
                      " lines of fifo are longer than " + std::to_string(kFifoByteLimit) +
                      " bytes");
    }
  }
  if (lines.size() < kFifoLines) {
    throw Error(kErrInputPastEnd, "Input past end of file",
                fifoPath + ": fifo has " + std::to_string(lines.size()) + " lines, " +
                    std::to_string(kFifoLines) + " expected");
  }
  // Line 4 carries nothing the program uses; lines past 7 are ignored.
  return FifoLines{lines[0], lines[1], lines[2], lines[4], lines[5], lines[6]};
}

int16_t UserLevel(const std::string& text, const std::string& fifoPath) {
  const double level = tools::RoundHalfEven(tools::LeadingNumber(text));
  if (!(level >= -32768 && level <= 32767)) {
    throw Error(kErrOverflow, "Overflow",
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
  throw Error(kErrPathNotFound, "Path not found",
              fifoPath + ": database path \"" + dbPath + "\" names no folder");
}

void Fail(const StartupPlatform& platform, const Error& e) {
  std::string cause = e.Description();
  if (!e.Cause().empty()) cause += "\n" + e.Cause();
  platform.messages.ShowCritical(kStartupFailedMessage, cause);
}

}  // namespace

int RunStartup(const StartupPlatform& platform, LaunchParams& launch, Settings& settings,
               ArchiveRunner& runner) {
  platform::FileSystem& fs = platform.fs;
  try {
    // A log left by an earlier run would be mistaken for this run's.
    const std::string oldLog = platform::JoinPath(platform.programFolder, kOldLogName);
    if (fs.IsFile(oldLog)) fs.RemoveFile(oldLog);

    const std::string fifoPath = platform::JoinPath(platform.programFolder, kFifoName);
    if (!fs.IsFile(fifoPath)) {
      platform.messages.ShowCritical(kNotLaunchedByHostMessage, "");
      return kExitRefused;
    }

    const FifoLines fifo = ReadFifo(fs, fifoPath);
    launch.dbPath = fifo.dbPath;
    launch.settingsPath = fifo.settingsPath;
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
    launch.dataFolder = dbengine::IsConnectionString(launch.dbPath)
                            ? platform.programFolder
                            : DataFolder(launch.dbPath, fifoPath);

    // A file named S is left alone: the run reports it when it gets there.
    const std::string archiveFolder = platform::JoinPath(launch.dataFolder, kArchiveFolderName);
    if (!fs.Exists(archiveFolder)) fs.MakeFolder(archiveFolder);

    if (tools::LoadHostSettings(launch.settingsPath, fs, platform.messages, settings) ==
        tools::LoadOutcome::kEndProgram) {
      return kExitRefused;
    }

    const std::string process = AsciiLower(fifo.processName);
    bool upToToday;
    if (process == "proctotalhistorico") {
      upToToday = false;
    } else if (process == "procsiosi") {
      upToToday = true;
    } else {
      throw Error(kErrUnknownProcess, "Unknown process",
                  fifoPath + ": process \"" + fifo.processName + "\" is not one this program runs");
    }
    return runner.RunArchive(upToToday) == 0 ? kExitComplete : kExitStopped;
  } catch (const Error& e) {
    Fail(platform, e);
    return kExitRefused;
  } catch (const std::bad_alloc&) {
    Fail(platform, Error(kErrOutOfMemory, "Out of memory"));
    return kExitRefused;
  } catch (const std::exception& e) {
    Fail(platform, Error(kErrInternal, "Internal error", e.what()));
    return kExitRefused;
  }
}

}  // namespace sa::boot
