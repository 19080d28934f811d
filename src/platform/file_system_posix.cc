// The file system on POSIX systems, through the system calls themselves so
// that every failure carries errno. Paths are UTF-8 bytes, passed unchanged.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "core/error.h"
#include "platform/file_system.h"

namespace sa::platform {
namespace {

// Closes a descriptor when the scope ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Maps errno to the program's numbers. A missing name is "file not found"
// when its folder is there and "path not found" when the folder is missing
// too; everything else (access, a folder where a file was meant, I/O) is
// "path/file access error".
ErrorCode ErrorNumberFor(int err, const std::string& path) {
  switch (err) {
    case ENOENT:
      return IsFolder(ParentFolder(path)) ? ErrorCode::kFileNotFound : ErrorCode::kPathNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ErrorCode::kPathNotFound;
    default:
      return ErrorCode::kPathAccess;
  }
}

[[noreturn]] void Fail(const char* description, const std::string& path, int err) {
  throw Error(ErrorNumberFor(err, path), description, path + ": " + std::strerror(err));
}

// A folder held with flock() on a descriptor of the folder itself: nothing
// is created in it, and the system drops the lock with the descriptor when
// the process ends. flock() locks belong to the open file description, so
// the holds of this process are kept by the folder's identity and shared.
class HeldFolder {
 public:
  using Identity = std::pair<dev_t, ino_t>;

  static std::shared_ptr<HeldFolder> Hold(const std::string& folder,
                                          std::chrono::milliseconds wait) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) Fail("Cannot open folder", folder, errno);
    auto held = std::shared_ptr<HeldFolder>(new HeldFolder(fd));
    struct stat st;
    if (::fstat(fd, &st) != 0) Fail("Cannot open folder", folder, errno);
    const Identity identity{st.st_dev, st.st_ino};

    const std::lock_guard<std::mutex> guard(mutex_);
    if (auto earlier = held_[identity].lock()) return earlier;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      if (err == EINTR) continue;
      if (err != EWOULDBLOCK) Fail("Cannot open folder", folder, err);
      if (std::chrono::steady_clock::now() >= deadline) throw FolderInUse(folder, wait);
      std::this_thread::sleep_for(kLockPoll);
    }
    held_[identity] = held;
    return held;
  }

  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;
  ~HeldFolder() { ::close(fd_); }  // closing the last descriptor drops the lock

 private:
  explicit HeldFolder(int fd) : fd_(fd) {}

  int fd_;
  static inline std::mutex mutex_;
  static inline std::map<Identity, std::weak_ptr<HeldFolder>> held_;
};

class PosixFolderLock final : public FolderLock {
 public:
  explicit PosixFolderLock(std::shared_ptr<HeldFolder> held) : held_(std::move(held)) {}

 private:
  std::shared_ptr<HeldFolder> held_;
};

class PosixFileSystem final : public FileSystem {
 public:
  bool IsFile(const std::string& path) const override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  // lstat: a dangling link still occupies the name.
  bool Exists(const std::string& path) const override {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }

  // The new folder's name is made durable at once: the archives and the
  // move journal made in it must not vanish with it after a power cut.
  void MakeFolder(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) != 0) Fail("Cannot create folder", path, errno);
    SyncFolderOf(path);
  }

  void RemoveFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) Fail("Cannot delete file", path, errno);
  }

  void RenameFile(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) {
      const int err = errno;
      throw Error(ErrorNumberFor(err, from), "Cannot rename file",
                  from + " -> " + to + ": " + std::strerror(err));
    }
    SyncFolderOf(to);
  }

  void WriteFileDurably(const std::string& path, std::string_view bytes) override {
    const std::string temp = path + ".tmp";
    {
      const Descriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
      if (fd.get() < 0) Fail("Cannot write file", temp, errno);
      WriteAll(fd.get(), bytes, temp);
      if (::fsync(fd.get()) != 0) Fail("Cannot write file", temp, errno);
    }
    RenameFile(temp, path);
  }

  std::string ReadFile(const std::string& path) const override {
    return Read(path, std::string::npos);
  }

  std::string ReadFileHead(const std::string& path, size_t limit) const override {
    return Read(path, limit);
  }

  void AppendFile(const std::string& path, std::string_view bytes) override {
    const Descriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) Fail("Cannot write file", path, errno);
    WriteAll(fd.get(), bytes, path);
  }

  std::vector<std::string> ListFolder(const std::string& path) const override {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir) Fail("Cannot list folder", path, errno);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    if (errno != 0) Fail("Cannot list folder", path, errno);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::unique_ptr<FolderLock> LockFolder(const std::string& folder,
                                         std::chrono::milliseconds wait) override {
    return std::make_unique<PosixFolderLock>(HeldFolder::Hold(folder, wait));
  }

 private:
  static void WriteAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("Cannot write file", path, errno);
      }
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }

  // Reads up to `limit` bytes (npos: all) of an ordinary file. Opening
  // without waiting: a named pipe would otherwise block until a writer came.
  static std::string Read(const std::string& path, size_t limit) {
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) Fail("Cannot read file", path, errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) Fail("Cannot read file", path, errno);
    if (!S_ISREG(st.st_mode)) {
      throw Error(ErrorCode::kPathAccess, "Cannot read file",
                  path + ": not an ordinary file (" +
                      (S_ISDIR(st.st_mode)    ? "a folder"
                       : S_ISFIFO(st.st_mode) ? "a named pipe"
                                              : "a device or other special file") +
                      ")");
    }
    std::string bytes;
    const size_t expected = static_cast<size_t>(std::max<off_t>(st.st_size, 0));
    bytes.reserve(std::min(expected, limit));
    char buffer[65536];
    while (bytes.size() < limit) {
      const ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, limit - bytes.size()));
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("Cannot read file", path, errno);
      }
      bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
  }

  // Makes a rename in the folder of `path` durable.
  static void SyncFolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

char PathSeparator() { return '/'; }

bool IsPathSeparator(char c) { return c == '/'; }

std::string PathFrom(const std::string& folder, const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  return JoinPath(folder, path);
}

std::string ProgramFolder() {
  const std::unique_ptr<char, decltype(&::free)> resolved(::realpath("/proc/self/exe", nullptr),
                                                          &::free);
  if (!resolved) {
    const int err = errno;
    throw Error(ErrorCode::kPathNotFound, "Cannot find the program folder",
                std::string("/proc/self/exe: ") + std::strerror(err));
  }
  const std::string exe(resolved.get());
  const size_t slash = exe.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return exe.substr(0, slash);
}

std::string PathForDriver(const std::string& path) { return path; }

}  // namespace sa::platform
