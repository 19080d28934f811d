// A simulated disk for power-loss tests. Every write the program makes under
// a root folder, through SQLite or through its own file system, goes through
// to the real files there (what the running process sees: the operating
// system's cache) and is also recorded as not yet durable: per file the
// writes and truncations since its last sync, per folder the names created,
// removed or renamed since the folder was last synced. A sync makes them
// durable, as POSIX promises and no more.
//
// At a chosen instant the power fails: from then on every write fails, and
// Survive() builds, in a fresh folder, the state a rebooted machine finds:
// what was synced, plus none, all, a prefix or a random subset of what was
// not, and optionally the last write cut short.
//
//   SimDisk disk(root, {.at = 120, .survival = Survival::kRandom});
//   run the program on root with disk.Files() as its file system;
//   if (disk.PowerFailed()) disk.Survive(rebooted);
//
// While a SimDisk lives, SQLite's default file system (VFS) is a wrapper of
// the previous default that reports to it; connections must be closed before
// it goes. Only one SimDisk may live at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace sa::testing {

// What survives of the changes not yet synced when the power fails.
enum class Survival {
  kNone,    // only what was synced
  kAll,     // everything (the cache reached the disk just in time)
  kPrefix,  // the changes up to a random instant, in the order they were made
  kRandom,  // each change on its own, a write sector by sector
};

struct PowerCut {
  long at = 0;  // the event (1-based) the power fails before; 0: it never does
  Survival survival = Survival::kNone;
  bool tornLastWrite = false;  // the last write before the cut lands cut short
  uint32_t seed = 1;
};

class SimDisk {
 public:
  // A data write or truncation; a name made (file or folder), removed or
  // renamed; a sync of a file or a folder.
  enum class EventKind { kWrite, kCreate, kRemove, kRename, kFileSync, kFolderSync };
  struct Event {
    EventKind kind;
    std::string path;  // the file written or synced, the name (rename: the new one), the folder
  };

  // Takes everything under `root` (which must exist) as durable.
  explicit SimDisk(const std::string& root, PowerCut cut = {});
  ~SimDisk();
  SimDisk(const SimDisk&) = delete;
  SimDisk& operator=(const SimDisk&) = delete;

  // The program's file system on this disk.
  platform::FileSystem& Files();

  // Every event so far, in order; event n of a PowerCut is events()[n - 1].
  const std::vector<Event>& Events() const { return events_; }
  bool PowerFailed() const { return failed_; }

  // Writes the state found after the power failure into `folder` (created;
  // it must not exist), as a copy of the root. Call it once the power failed.
  void Survive(const std::string& folder);

  // For the VFS and the file system body: called before each change, false
  // when the power has failed (the change must not happen).
  bool Begin(EventKind kind, const std::string& path);
  bool Tracks(const std::string& path) const;
  // Records changes that have happened on the real files.
  int NodeOf(const std::string& path);  // -1 when unknown
  void Created(const std::string& path, bool folder);
  void Removed(const std::string& path);
  void Renamed(const std::string& from, const std::string& to);
  void Written(int node, int64_t offset, std::string bytes);
  void Truncated(int node, int64_t size);
  void SyncedFile(int node);
  void SyncedFolder(const std::string& folder);

 private:
  struct Change {
    long seq = 0;
    enum Kind { kWrite, kTruncate, kCreate, kRemove, kRename } kind = kWrite;
    int64_t offset = 0;  // write: where; truncate: the new size
    std::string bytes;   // write: the data
    std::string name;    // name changes: the name (rename: the new one)
    std::string from;    // rename: the old name
    int node = 0;        // name changes: the file or folder named
  };
  struct Node {
    bool folder = false;
    std::string bytes;                   // files: the durable content
    std::map<std::string, int> entries;  // folders: the durable names
    std::vector<Change> pending;         // data changes or name changes
  };

  std::string FolderOf(const std::string& path) const;
  std::string NameOf(const std::string& path) const;
  int Adopt(const std::string& path);  // a node for what is on the real disk now
  bool Keeps(const Change& c);
  void ApplyData(std::string& bytes, const Change& c, bool torn, bool bySector);
  static void ApplyName(std::map<std::string, int>& entries, const Change& c);
  void Build(int node, const std::string& path);

  std::string root_;
  PowerCut cut_;
  std::mt19937 random_;
  long lastWriteSeq_ = 0;
  long prefixEnd_ = 0;
  bool failed_ = false;
  std::vector<Event> events_;
  std::map<int, Node> nodes_;
  std::map<std::string, int> paths_;  // current names under the root
  int nextNode_ = 0;
  std::unique_ptr<platform::FileSystem> files_;
};

}  // namespace sa::testing
