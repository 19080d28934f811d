// platform/ holds everything the program asks of the operating system, one
// small interface a job (files, clock, message box, progress display,
// standard error, the process), with POSIX, desktop (FLTK) and Windows
// bodies that CMake picks by their suffix.
//
// What the program asks of the file system. The real body talks to the
// operating system; tests use the recording in-memory one in
// tests/support/fake_platform.h or the real one on a scoped temporary folder.
// Every failure is an sa::Error whose cause names the path and the system's
// reason.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace sa::platform {

// A folder held for this process alone (see FileSystem::LockFolder). The
// hold ends when the object is destroyed, or with the process, however it
// ends: the operating system releases it.
class FolderLock {
 public:
  virtual ~FolderLock() = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // True for an ordinary file only: a folder or a device does not count.
  virtual bool IsFile(const std::string& path) const = 0;
  // True for anything of that name: file, folder, or other.
  virtual bool Exists(const std::string& path) const = 0;
  // Creates the folder; once it returns, its name survives a power cut.
  virtual void MakeFolder(const std::string& path) = 0;
  virtual void RemoveFile(const std::string& path) = 0;
  // Replaces `to` if it exists; atomic where the system allows, and durable:
  // once it returns, a power cut does not bring back the old names.
  virtual void RenameFile(const std::string& from, const std::string& to) = 0;
  // Replaces the file's content with `bytes` so that after a crash it holds
  // either its old content or all of the new, never a part.
  virtual void WriteFileDurably(const std::string& path, std::string_view bytes) = 0;
  // The whole file as bytes. Only an ordinary file can be read: a folder, a
  // pipe or a device is refused at once, never waited on.
  virtual std::string ReadFile(const std::string& path) const = 0;
  // At most `limit` bytes from the start of an ordinary file, refusing
  // anything else as ReadFile does.
  virtual std::string ReadFileHead(const std::string& path, size_t limit) const = 0;
  // Appends bytes, creating the file when missing.
  virtual void AppendFile(const std::string& path, std::string_view bytes) = 0;
  // The names of what a folder holds (files, folders, anything), sorted by
  // their bytes; "." and ".." left out.
  virtual std::vector<std::string> ListFolder(const std::string& path) const = 0;
  // Holds `folder` against every other process that asks for it, waiting up
  // to `wait` while another holds it; a folder this process holds already is
  // shared with the earlier holder. Leaves the folder's listing as it was
  // (on Windows a lock file lives in it while held, and goes with the hold).
  // Throws sa::Error ErrorCode::kFolderInUse when another process still holds it
  // after `wait`, or the system's reason when it cannot be held at all.
  virtual std::unique_ptr<FolderLock> LockFolder(const std::string& folder,
                                                 std::chrono::milliseconds wait) = 0;
};

// The error LockFolder throws when another process still holds `folder`
// after `waited`: it names the folder and says that another run holds it.
Error FolderInUse(const std::string& folder, std::chrono::milliseconds waited);

// How often a held folder is tried again while LockFolder waits.
inline constexpr std::chrono::milliseconds kLockPoll{50};

// The operating system's file system.
FileSystem& RealFileSystem();

// Joins a folder and a name with the platform's separator. An empty folder
// is the root ("" + "S" gives "/S"), and a folder already ending in a
// separator gets no second one.
std::string JoinPath(const std::string& folder, const std::string& name);

// `path` as read from `folder`: unchanged when it is absolute (or empty),
// else `folder` joined with it. On Windows a path from the root of no drive
// ("\datos\live.mdb") takes the drive of `folder`; one with a drive and no
// root ("C:datos") is left to the system.
std::string PathFrom(const std::string& folder, const std::string& path);

// The platform's preferred separator, and whether `c` separates components.
char PathSeparator();
bool IsPathSeparator(char c);

// The folder holding the running executable, links followed.
std::string ProgramFolder();

// `path` as a database driver takes it. The same path, except for a Windows
// program run by Wine, whose ODBC driver manager hands over to the host's
// own drivers: they get the host's name for the file, its bytes. A driver
// without wide calls (the host's SQLite3 driver) gets the name narrowed by
// the host's driver manager, which keeps the low byte of each UTF-16 unit:
// each byte of the name travels in a unit of its own (U+0000..U+00FF), so a
// folder such as "Panadería" reaches the driver exactly.
std::string PathForDriver(const std::string& path);

}  // namespace sa::platform
