#include "support/sim_disk.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "core/error.h"

namespace sa::testing {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kSector = 512;

// The disk the wrapper VFS reports to, and the VFS it wraps.
SimDisk* gDisk = nullptr;
sqlite3_vfs* gBase = nullptr;
sqlite3_vfs gVfs;

bool RealExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// ---- The SQLite VFS ------------------------------------------------------

// A file opened through the wrapper: the wrapped VFS's file follows it in the
// same allocation.
struct SimFile {
  sqlite3_file base;
  int node;           // the disk's node; -1 when the file is not on the disk
  bool dirSync;       // the first sync also syncs the folder (new journals)
  std::string* path;  // owned; null when not on the disk
};
constexpr size_t kInnerOffset = (sizeof(SimFile) + 15) & ~size_t{15};

sqlite3_file* Inner(sqlite3_file* f) {
  return reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + kInnerOffset);
}
SimFile* Sim(sqlite3_file* f) { return reinterpret_cast<SimFile*>(f); }
bool OnDisk(sqlite3_file* f) { return gDisk != nullptr && Sim(f)->node >= 0; }

std::string FolderOfPath(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

int SimClose(sqlite3_file* f) {
  sqlite3_file* inner = Inner(f);
  const int rc = inner->pMethods != nullptr ? inner->pMethods->xClose(inner) : SQLITE_OK;
  delete Sim(f)->path;
  Sim(f)->path = nullptr;
  return rc;
}

int SimRead(sqlite3_file* f, void* buf, int amount, sqlite3_int64 offset) {
  return Inner(f)->pMethods->xRead(Inner(f), buf, amount, offset);
}

int SimWrite(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset) {
  if (OnDisk(f) && !gDisk->Begin(SimDisk::EventKind::kWrite, *Sim(f)->path)) {
    return SQLITE_IOERR_WRITE;
  }
  const int rc = Inner(f)->pMethods->xWrite(Inner(f), buf, amount, offset);
  if (rc == SQLITE_OK && OnDisk(f)) {
    gDisk->Written(Sim(f)->node, offset,
                   std::string(static_cast<const char*>(buf), static_cast<size_t>(amount)));
  }
  return rc;
}

int SimTruncate(sqlite3_file* f, sqlite3_int64 size) {
  if (OnDisk(f) && !gDisk->Begin(SimDisk::EventKind::kWrite, *Sim(f)->path)) {
    return SQLITE_IOERR_TRUNCATE;
  }
  const int rc = Inner(f)->pMethods->xTruncate(Inner(f), size);
  if (rc == SQLITE_OK && OnDisk(f)) gDisk->Truncated(Sim(f)->node, size);
  return rc;
}

// As the unix VFS does: a new journal's first sync also syncs its folder, so
// that its name is as durable as its content.
int SimSync(sqlite3_file* f, int flags) {
  if (OnDisk(f) && !gDisk->Begin(SimDisk::EventKind::kFileSync, *Sim(f)->path)) {
    return SQLITE_IOERR_FSYNC;
  }
  const int rc = Inner(f)->pMethods->xSync(Inner(f), flags);
  if (rc != SQLITE_OK || !OnDisk(f)) return rc;
  gDisk->SyncedFile(Sim(f)->node);
  if (Sim(f)->dirSync) {
    const std::string folder = FolderOfPath(*Sim(f)->path);
    if (!gDisk->Begin(SimDisk::EventKind::kFolderSync, folder)) return SQLITE_IOERR_DIR_FSYNC;
    gDisk->SyncedFolder(folder);
    Sim(f)->dirSync = false;
  }
  return rc;
}

int SimFileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Inner(f)->pMethods->xFileSize(Inner(f), size);
}
int SimLock(sqlite3_file* f, int level) { return Inner(f)->pMethods->xLock(Inner(f), level); }
int SimUnlock(sqlite3_file* f, int level) { return Inner(f)->pMethods->xUnlock(Inner(f), level); }
int SimCheckReservedLock(sqlite3_file* f, int* out) {
  return Inner(f)->pMethods->xCheckReservedLock(Inner(f), out);
}
int SimFileControl(sqlite3_file* f, int op, void* arg) {
  return Inner(f)->pMethods->xFileControl(Inner(f), op, arg);
}
int SimSectorSize(sqlite3_file* f) { return Inner(f)->pMethods->xSectorSize(Inner(f)); }
int SimDeviceCharacteristics(sqlite3_file* f) {
  return Inner(f)->pMethods->xDeviceCharacteristics(Inner(f));
}
// The WAL index (-shm) is shared memory, rebuilt from the WAL after a crash:
// it is not part of what must survive.
int SimShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  return Inner(f)->pMethods->xShmMap(Inner(f), region, size, extend, out);
}
int SimShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Inner(f)->pMethods->xShmLock(Inner(f), offset, n, flags);
}
void SimShmBarrier(sqlite3_file* f) { Inner(f)->pMethods->xShmBarrier(Inner(f)); }
int SimShmUnmap(sqlite3_file* f, int deleteFlag) {
  return Inner(f)->pMethods->xShmUnmap(Inner(f), deleteFlag);
}

// Version 2: no memory-mapped reads, so that every byte read comes through
// xRead of the files the disk tracks.
const sqlite3_io_methods kSimIo = {
    2,
    SimClose,
    SimRead,
    SimWrite,
    SimTruncate,
    SimSync,
    SimFileSize,
    SimLock,
    SimUnlock,
    SimCheckReservedLock,
    SimFileControl,
    SimSectorSize,
    SimDeviceCharacteristics,
    SimShmMap,
    SimShmLock,
    SimShmBarrier,
    SimShmUnmap,
    nullptr,
    nullptr,
};

int SimOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  SimFile* f = Sim(file);
  f->base.pMethods = nullptr;
  f->node = -1;
  f->dirSync = false;
  f->path = nullptr;
  sqlite3_file* inner = Inner(file);
  inner->pMethods = nullptr;
  SimDisk* disk = gDisk;
  const bool tracked = disk != nullptr && name != nullptr && disk->Tracks(name);
  bool creating = false;
  if (tracked) {
    creating = (flags & SQLITE_OPEN_CREATE) != 0 && !RealExists(name);
    if (creating && !disk->Begin(SimDisk::EventKind::kCreate, name)) return SQLITE_CANTOPEN;
  }
  const int rc = gBase->xOpen(gBase, name, inner, flags, outFlags);
  if (inner->pMethods != nullptr) f->base.pMethods = &kSimIo;
  if (rc != SQLITE_OK || !tracked) return rc;
  if (creating) disk->Created(name, false);
  f->node = disk->NodeOf(name);
  f->path = new std::string(name);
  const int type = flags & 0x0FFF00;
  f->dirSync = (flags & SQLITE_OPEN_CREATE) != 0 &&
               (type == SQLITE_OPEN_MAIN_JOURNAL || type == SQLITE_OPEN_SUPER_JOURNAL ||
                type == SQLITE_OPEN_WAL);
  return rc;
}

int SimDelete(sqlite3_vfs*, const char* name, int dirSync) {
  SimDisk* disk = gDisk;
  const bool tracked = disk != nullptr && disk->Tracks(name);
  if (tracked && !disk->Begin(SimDisk::EventKind::kRemove, name)) return SQLITE_IOERR_DELETE;
  const int rc = gBase->xDelete(gBase, name, dirSync);
  if (rc != SQLITE_OK || !tracked) return rc;
  disk->Removed(name);
  if (dirSync != 0) {
    const std::string folder = FolderOfPath(name);
    if (!disk->Begin(SimDisk::EventKind::kFolderSync, folder)) return SQLITE_IOERR_DIR_FSYNC;
    disk->SyncedFolder(folder);
  }
  return rc;
}

int SimAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
  return gBase->xAccess(gBase, name, flags, out);
}
int SimFullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return gBase->xFullPathname(gBase, name, n, out);
}
void* SimDlOpen(sqlite3_vfs*, const char* name) { return gBase->xDlOpen(gBase, name); }
void SimDlError(sqlite3_vfs*, int n, char* out) { gBase->xDlError(gBase, n, out); }
void (*SimDlSym(sqlite3_vfs*, void* h, const char* sym))(void) {
  return gBase->xDlSym(gBase, h, sym);
}
void SimDlClose(sqlite3_vfs*, void* h) { gBase->xDlClose(gBase, h); }
int SimRandomness(sqlite3_vfs*, int n, char* out) { return gBase->xRandomness(gBase, n, out); }
int SimSleep(sqlite3_vfs*, int us) { return gBase->xSleep(gBase, us); }
int SimCurrentTime(sqlite3_vfs*, double* out) { return gBase->xCurrentTime(gBase, out); }
int SimGetLastError(sqlite3_vfs*, int n, char* out) { return gBase->xGetLastError(gBase, n, out); }
int SimCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  return gBase->xCurrentTimeInt64(gBase, out);
}

// ---- The program's file system -------------------------------------------

[[noreturn]] void PowerFailed(const char* what, const std::string& path) {
  throw Error(ErrorCode::kPathAccess, what, path + ": the power failed");
}

[[noreturn]] void SystemFailed(const char* what, const std::string& path) {
  throw Error(ErrorCode::kPathAccess, what, path + ": " + std::strerror(errno));
}

// The durability the FileSystem interface promises, and no more: a rename is
// durable once it returns (it syncs the folder), a durable write syncs its
// temporary file and renames it into place; removals, new folders and
// appends wait for a later sync.
class SimFiles final : public platform::FileSystem {
 public:
  explicit SimFiles(SimDisk& disk) : disk_(disk) {}

  bool IsFile(const std::string& path) const override { return Real().IsFile(path); }
  bool Exists(const std::string& path) const override { return Real().Exists(path); }
  std::string ReadFile(const std::string& path) const override { return Real().ReadFile(path); }
  std::string ReadFileHead(const std::string& path, size_t limit) const override {
    return Real().ReadFileHead(path, limit);
  }
  std::vector<std::string> ListFolder(const std::string& path) const override {
    return Real().ListFolder(path);
  }
  // A lock changes nothing on the disk (POSIX holds the folder itself).
  std::unique_ptr<platform::FolderLock> LockFolder(const std::string& folder,
                                                   std::chrono::milliseconds wait) override {
    return Real().LockFolder(folder, wait);
  }

  void MakeFolder(const std::string& path) override {
    if (!disk_.Tracks(path)) return Real().MakeFolder(path);
    if (!disk_.Begin(SimDisk::EventKind::kCreate, path)) PowerFailed("Cannot create folder", path);
    if (::mkdir(path.c_str(), 0777) != 0) SystemFailed("Cannot create folder", path);
    disk_.Created(path, true);
    // The real body syncs the parent, so the new name is durable.
    const std::string parent = FolderOfPath(path);
    if (!disk_.Begin(SimDisk::EventKind::kFolderSync, parent)) {
      PowerFailed("Cannot create folder", path);
    }
    disk_.SyncedFolder(parent);
  }

  void RemoveFile(const std::string& path) override {
    if (!disk_.Tracks(path)) return Real().RemoveFile(path);
    if (!disk_.Begin(SimDisk::EventKind::kRemove, path)) PowerFailed("Cannot delete file", path);
    Real().RemoveFile(path);
    disk_.Removed(path);
  }

  void RenameFile(const std::string& from, const std::string& to) override {
    if (!disk_.Tracks(to)) return Real().RenameFile(from, to);
    if (!disk_.Begin(SimDisk::EventKind::kRename, to)) PowerFailed("Cannot rename file", from);
    if (::rename(from.c_str(), to.c_str()) != 0) SystemFailed("Cannot rename file", from);
    disk_.Renamed(from, to);
    const std::string folder = FolderOfPath(to);
    if (!disk_.Begin(SimDisk::EventKind::kFolderSync, folder)) {
      PowerFailed("Cannot rename file", to);
    }
    disk_.SyncedFolder(folder);
  }

  void WriteFileDurably(const std::string& path, std::string_view bytes) override {
    if (!disk_.Tracks(path)) return Real().WriteFileDurably(path, bytes);
    const std::string temp = path + ".tmp";
    Open(temp);
    if (!disk_.Begin(SimDisk::EventKind::kWrite, temp)) PowerFailed("Cannot write file", temp);
    fs::resize_file(temp, 0);
    disk_.Truncated(disk_.NodeOf(temp), 0);
    Write(temp, 0, bytes);
    if (!disk_.Begin(SimDisk::EventKind::kFileSync, temp)) PowerFailed("Cannot write file", temp);
    disk_.SyncedFile(disk_.NodeOf(temp));
    RenameFile(temp, path);
  }

  void AppendFile(const std::string& path, std::string_view bytes) override {
    if (!disk_.Tracks(path)) return Real().AppendFile(path, bytes);
    Open(path);
    Write(path, static_cast<int64_t>(fs::file_size(path)), bytes);
  }

 private:
  static platform::FileSystem& Real() { return platform::RealFileSystem(); }

  // Creates the file when missing.
  void Open(const std::string& path) {
    if (RealExists(path)) return;
    if (!disk_.Begin(SimDisk::EventKind::kCreate, path)) PowerFailed("Cannot write file", path);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) SystemFailed("Cannot write file", path);
    ::close(fd);
    disk_.Created(path, false);
  }

  void Write(const std::string& path, int64_t offset, std::string_view bytes) {
    if (!disk_.Begin(SimDisk::EventKind::kWrite, path)) PowerFailed("Cannot write file", path);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) SystemFailed("Cannot write file", path);
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    ::close(fd);
    if (n != static_cast<ssize_t>(bytes.size())) SystemFailed("Cannot write file", path);
    disk_.Written(disk_.NodeOf(path), offset, std::string(bytes));
  }

  SimDisk& disk_;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// ---- The disk ------------------------------------------------------------

SimDisk::SimDisk(const std::string& root, PowerCut cut)
    : root_(fs::canonical(root).string()), cut_(cut), random_(cut.seed) {
  if (gDisk != nullptr) throw std::logic_error("only one simulated disk at a time");
  Adopt(root_);
  files_ = std::make_unique<SimFiles>(*this);

  gBase = sqlite3_vfs_find(nullptr);
  gVfs = sqlite3_vfs{};
  gVfs.iVersion = 2;
  gVfs.szOsFile = static_cast<int>(kInnerOffset) + gBase->szOsFile;
  gVfs.mxPathname = gBase->mxPathname;
  gVfs.zName = "sa-simulated-disk";
  gVfs.xOpen = SimOpen;
  gVfs.xDelete = SimDelete;
  gVfs.xAccess = SimAccess;
  gVfs.xFullPathname = SimFullPathname;
  gVfs.xDlOpen = SimDlOpen;
  gVfs.xDlError = SimDlError;
  gVfs.xDlSym = SimDlSym;
  gVfs.xDlClose = SimDlClose;
  gVfs.xRandomness = SimRandomness;
  gVfs.xSleep = SimSleep;
  gVfs.xCurrentTime = SimCurrentTime;
  gVfs.xGetLastError = SimGetLastError;
  gVfs.xCurrentTimeInt64 = SimCurrentTimeInt64;
  gDisk = this;
  sqlite3_vfs_register(&gVfs, 1);
}

SimDisk::~SimDisk() {
  sqlite3_vfs_register(gBase, 1);
  sqlite3_vfs_unregister(&gVfs);
  gDisk = nullptr;
}

platform::FileSystem& SimDisk::Files() { return *files_; }

bool SimDisk::Begin(EventKind kind, const std::string& path) {
  if (failed_) return false;
  if (cut_.at == static_cast<long>(events_.size()) + 1) {
    failed_ = true;
    return false;
  }
  events_.push_back({kind, path});
  return true;
}

bool SimDisk::Tracks(const std::string& path) const {
  return path.size() > root_.size() && path.compare(0, root_.size(), root_) == 0 &&
         path[root_.size()] == '/';
}

std::string SimDisk::FolderOf(const std::string& path) const { return FolderOfPath(path); }

std::string SimDisk::NameOf(const std::string& path) const {
  return path.substr(path.find_last_of('/') + 1);
}

int SimDisk::NodeOf(const std::string& path) {
  const auto it = paths_.find(path);
  if (it != paths_.end()) return it->second;
  // Something made under the root without the disk seeing it (the WAL index
  // of a database): it survives as it is now.
  return RealExists(path) ? Adopt(path) : -1;
}

int SimDisk::Adopt(const std::string& path) {
  const int id = nextNode_++;
  Node& node = nodes_[id];
  paths_[path] = id;
  if (id != 0) nodes_[paths_.at(FolderOf(path))].entries[NameOf(path)] = id;
  if (fs::is_directory(path)) {
    node.folder = true;
    for (const auto& entry : fs::directory_iterator(path)) Adopt(entry.path().string());
  } else {
    node.bytes = ReadWhole(path);
  }
  return id;
}

void SimDisk::Created(const std::string& path, bool folder) {
  const int id = nextNode_++;
  nodes_[id].folder = folder;
  paths_[path] = id;
  Change c;
  c.seq = static_cast<long>(events_.size());
  c.kind = Change::kCreate;
  c.name = NameOf(path);
  c.node = id;
  nodes_.at(paths_.at(FolderOf(path))).pending.push_back(std::move(c));
}

void SimDisk::Removed(const std::string& path) {
  const auto it = paths_.find(path);
  if (it == paths_.end()) return;
  Change c;
  c.seq = static_cast<long>(events_.size());
  c.kind = Change::kRemove;
  c.name = NameOf(path);
  c.node = it->second;
  paths_.erase(it);
  nodes_.at(paths_.at(FolderOf(path))).pending.push_back(std::move(c));
}

void SimDisk::Renamed(const std::string& from, const std::string& to) {
  const int id = NodeOf(from);
  if (id < 0) return;
  paths_.erase(from);
  paths_[to] = id;
  Change c;
  c.seq = static_cast<long>(events_.size());
  if (FolderOf(from) != FolderOf(to)) {
    // Across folders: a removal in one and a creation in the other.
    c.kind = Change::kRemove;
    c.name = NameOf(from);
    c.node = id;
    nodes_.at(paths_.at(FolderOf(from))).pending.push_back(c);
    c.kind = Change::kCreate;
  } else {
    c.kind = Change::kRename;
    c.from = NameOf(from);
  }
  c.name = NameOf(to);
  c.node = id;
  nodes_.at(paths_.at(FolderOf(to))).pending.push_back(std::move(c));
}

void SimDisk::Written(int node, int64_t offset, std::string bytes) {
  if (node < 0) return;
  Change c;
  c.seq = static_cast<long>(events_.size());
  c.kind = Change::kWrite;
  c.offset = offset;
  c.bytes = std::move(bytes);
  lastWriteSeq_ = c.seq;
  nodes_.at(node).pending.push_back(std::move(c));
}

void SimDisk::Truncated(int node, int64_t size) {
  if (node < 0) return;
  Change c;
  c.seq = static_cast<long>(events_.size());
  c.kind = Change::kTruncate;
  c.offset = size;
  nodes_.at(node).pending.push_back(std::move(c));
}

void SimDisk::SyncedFile(int node) {
  if (node < 0) return;
  Node& n = nodes_.at(node);
  for (const Change& c : n.pending) ApplyData(n.bytes, c, false, false);
  n.pending.clear();
}

// A removal or rename takes effect only on the very file it was made on:
// with some changes lost, the name may stand for another file or none.
void SimDisk::ApplyName(std::map<std::string, int>& entries, const Change& c) {
  if (c.kind == Change::kCreate) {
    entries[c.name] = c.node;
  } else if (c.kind == Change::kRemove) {
    const auto it = entries.find(c.name);
    if (it != entries.end() && it->second == c.node) entries.erase(it);
  } else {
    const auto it = entries.find(c.from);
    if (it == entries.end() || it->second != c.node) return;
    entries.erase(it);
    entries[c.name] = c.node;
  }
}

void SimDisk::SyncedFolder(const std::string& folder) {
  const auto it = paths_.find(folder);
  if (it == paths_.end()) return;
  Node& n = nodes_.at(it->second);
  for (const Change& c : n.pending) {
    ApplyName(n.entries, c);
  }
  n.pending.clear();
}

bool SimDisk::Keeps(const Change& c) {
  switch (cut_.survival) {
    case Survival::kNone:
      return false;
    case Survival::kAll:
      return true;
    case Survival::kPrefix:
      return c.seq < prefixEnd_;
    case Survival::kRandom:
      return std::bernoulli_distribution(0.5)(random_);
  }
  return false;
}

void SimDisk::ApplyData(std::string& bytes, const Change& c, bool torn, bool bySector) {
  if (c.kind == Change::kTruncate) {
    bytes.resize(static_cast<size_t>(c.offset));
    return;
  }
  std::string_view data = c.bytes;
  if (torn && !data.empty()) {
    data = data.substr(0, std::uniform_int_distribution<size_t>(0, data.size() - 1)(random_));
  }
  // Sector by sector, each sector may land on its own.
  int64_t at = c.offset;
  while (!data.empty()) {
    const size_t piece = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(data.size()), kSector - at % kSector));
    if (!bySector || std::bernoulli_distribution(0.5)(random_)) {
      const size_t end = static_cast<size_t>(at) + piece;
      if (bytes.size() < end) bytes.resize(end, '\0');
      bytes.replace(static_cast<size_t>(at), piece, data.substr(0, piece));
    }
    at += static_cast<int64_t>(piece);
    data.remove_prefix(piece);
  }
}

void SimDisk::Build(int id, const std::string& path) {
  Node& node = nodes_.at(id);
  if (!node.folder) {
    std::string bytes = node.bytes;
    for (const Change& c : node.pending) {
      const bool torn = cut_.tornLastWrite && c.seq == lastWriteSeq_;
      // Under random survival a write is decided sector by sector.
      if (c.kind == Change::kWrite && cut_.survival == Survival::kRandom) {
        ApplyData(bytes, c, torn, true);
      } else if (Keeps(c)) {
        ApplyData(bytes, c, torn, false);
      }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return;
  }
  fs::create_directory(path);
  std::map<std::string, int> entries = node.entries;
  for (const Change& c : node.pending) {
    if (Keeps(c)) {
      ApplyName(entries, c);
    }
  }
  for (const auto& [name, child] : entries) Build(child, path + "/" + name);
}

void SimDisk::Survive(const std::string& folder) {
  if (!failed_) throw std::logic_error("the power has not failed");
  if (fs::exists(folder)) throw std::logic_error(folder + " exists");
  long first = cut_.at;
  for (const auto& [id, node] : nodes_) {
    for (const Change& c : node.pending) first = std::min(first, c.seq);
  }
  prefixEnd_ = std::uniform_int_distribution<long>(first, cut_.at)(random_);
  Build(0, folder);
}

}  // namespace sa::testing
