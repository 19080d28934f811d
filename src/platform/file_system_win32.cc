// The file system on Windows, through the wide-character calls so that any
// path the host writes (drive letters, UNC names, either separator, letters
// of any script) reaches the system as it is; long paths get the \\?\ form.
// Every failure carries the system's own description and the path.
#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "core/error.h"
#include "platform/file_system.h"
#include "platform/wide_text.h"

namespace sa::platform {
namespace {

// Closes a handle when the scope ends.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Maps Win32 codes to the program's numbers: a missing file is "file not
// found", a missing or malformed folder part "path not found", everything
// else (access, a folder where a file was meant, sharing, I/O) "path/file
// access error".
ErrorCode ErrorNumberFor(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return ErrorCode::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
      return ErrorCode::kPathNotFound;
    default:
      return ErrorCode::kPathAccess;
  }
}

[[noreturn]] void Fail(const char* description, const std::string& path, DWORD code) {
  throw Error(ErrorNumberFor(code), description, path + ": " + SystemMessage(code));
}

DWORD Attributes(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  try {
    return ::GetFileAttributesW(WidePath(path).c_str());
  } catch (const Error&) {
    return INVALID_FILE_ATTRIBUTES;  // a name that cannot be written names nothing
  }
}

// Opens `path` for writing with `access`, `disposition` as CreateFileW takes them.
HANDLE OpenForWriting(const std::string& path, DWORD access, DWORD disposition) {
  return ::CreateFileW(WidePath(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void WriteAll(HANDLE handle, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
      Fail("Cannot write file", path, ::GetLastError());
    }
    bytes.remove_prefix(written);
  }
}

// A folder held through a lock file in it, opened with no sharing at all and
// deleted when its handle closes: the system closes it when the process
// ends, however it ends. A folder cannot be held itself without keeping
// other programs (Explorer's change watch among them) out of it. The holds
// of this process are kept by the folder's identity and shared.
class HeldFolder {
 public:
  using Identity = std::tuple<DWORD, DWORD, DWORD>;  // volume, file index

  static std::shared_ptr<HeldFolder> Hold(const std::string& folder,
                                          std::chrono::milliseconds wait) {
    const Identity identity = IdentityOf(folder);
    const std::lock_guard<std::mutex> guard(mutex_);
    if (auto earlier = held_[identity].lock()) return earlier;

    const std::string lockPath = JoinPath(folder, kLockName);
    const std::wstring wide = WidePath(lockPath);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      const HANDLE handle =
          ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        auto held = std::shared_ptr<HeldFolder>(new HeldFolder(handle));
        held_[identity] = held;
        return held;
      }
      const DWORD code = ::GetLastError();
      // Another holder keeps the file open; one that has just let go leaves
      // it waiting for deletion, which reads as "access denied" while the
      // name is still there. A folder that refuses the file fails at once.
      bool held = code == ERROR_SHARING_VIOLATION;
      if (code == ERROR_ACCESS_DENIED) {
        held = ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES ||
               ::GetLastError() != ERROR_FILE_NOT_FOUND;
      }
      if (!held) Fail("Cannot open folder", lockPath, code);
      if (std::chrono::steady_clock::now() >= deadline) {
        if (code == ERROR_SHARING_VIOLATION) throw FolderInUse(folder, wait);
        Fail("Cannot open folder", lockPath, code);
      }
      std::this_thread::sleep_for(kLockPoll);
    }
  }

  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;
  ~HeldFolder() { ::CloseHandle(handle_); }  // deletes the lock file

 private:
  static constexpr char kLockName[] = "sales-archiver.lock";

  explicit HeldFolder(HANDLE handle) : handle_(handle) {}

  static Identity IdentityOf(const std::string& folder) {
    const Handle handle(::CreateFileW(WidePath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) Fail("Cannot open folder", folder, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle.get(), &info)) {
      Fail("Cannot open folder", folder, ::GetLastError());
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      Fail("Cannot open folder", folder, ERROR_DIRECTORY);
    }
    return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  }

  HANDLE handle_;
  static inline std::mutex mutex_;
  static inline std::map<Identity, std::weak_ptr<HeldFolder>> held_;
};

class Win32FolderLock final : public FolderLock {
 public:
  explicit Win32FolderLock(std::shared_ptr<HeldFolder> held) : held_(std::move(held)) {}

 private:
  std::shared_ptr<HeldFolder> held_;
};

class Win32FileSystem final : public FileSystem {
 public:
  bool IsFile(const std::string& path) const override {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  }

  bool Exists(const std::string& path) const override {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
  }

  void MakeFolder(const std::string& path) override {
    if (!::CreateDirectoryW(WidePath(path).c_str(), nullptr)) {
      Fail("Cannot create folder", path, ::GetLastError());
    }
  }

  void RemoveFile(const std::string& path) override {
    if (!::DeleteFileW(WidePath(path).c_str())) {
      Fail("Cannot delete file", path, ::GetLastError());
    }
  }

  // MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk.
  void RenameFile(const std::string& from, const std::string& to) override {
    if (!::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const DWORD code = ::GetLastError();
      throw Error(ErrorNumberFor(code), "Cannot rename file",
                  from + " -> " + to + ": " + SystemMessage(code));
    }
  }

  void WriteFileDurably(const std::string& path, std::string_view bytes) override {
    const std::string temp = path + ".tmp";
    {
      const Handle file(OpenForWriting(temp, GENERIC_WRITE, CREATE_ALWAYS));
      if (!file.valid()) Fail("Cannot write file", temp, ::GetLastError());
      WriteAll(file.get(), bytes, temp);
      if (!::FlushFileBuffers(file.get())) Fail("Cannot write file", temp, ::GetLastError());
    }
    RenameFile(temp, path);
  }

  std::string ReadFile(const std::string& path) const override {
    return Read(path, std::string::npos);
  }

  std::string ReadFileHead(const std::string& path, size_t limit) const override {
    return Read(path, limit);
  }

  // At most `limit` bytes from the start of an ordinary file.
  static std::string Read(const std::string& path, size_t limit) {
    // A folder cannot be opened this way at all; a device or a pipe can, and
    // is refused below, before anything could wait on it.
    const Handle file(::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      const DWORD code = ::GetLastError();
      const DWORD attributes = Attributes(path);
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw Error(ErrorCode::kPathAccess, "Cannot read file",
                    path + ": not an ordinary file (a folder)");
      }
      Fail("Cannot read file", path, code);
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
      throw Error(ErrorCode::kPathAccess, "Cannot read file",
                  path + ": not an ordinary file (a device or a pipe)");
    }

    std::string bytes;
    LARGE_INTEGER size;
    if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
      bytes.reserve(std::min(static_cast<size_t>(size.QuadPart), limit));
    }
    char buffer[65536];
    while (bytes.size() < limit) {
      const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, limit - bytes.size()));
      DWORD n = 0;
      if (!::ReadFile(file.get(), buffer, want, &n, nullptr)) {
        Fail("Cannot read file", path, ::GetLastError());
      }
      if (n == 0) break;
      bytes.append(buffer, n);
    }
    return bytes;
  }

  std::vector<std::string> ListFolder(const std::string& path) const override {
    WIN32_FIND_DATAW entry;
    const HANDLE found = ::FindFirstFileW(WidePath(JoinPath(path, "*")).c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE) Fail("Cannot list folder", path, ::GetLastError());
    std::vector<std::string> names;
    do {
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") names.push_back(Narrow(name));
    } while (::FindNextFileW(found, &entry));
    const DWORD code = ::GetLastError();
    ::FindClose(found);
    if (code != ERROR_NO_MORE_FILES) Fail("Cannot list folder", path, code);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::unique_ptr<FolderLock> LockFolder(const std::string& folder,
                                         std::chrono::milliseconds wait) override {
    return std::make_unique<Win32FolderLock>(HeldFolder::Hold(folder, wait));
  }

  // FILE_APPEND_DATA alone makes every write land at the end of the file.
  void AppendFile(const std::string& path, std::string_view bytes) override {
    const Handle file(OpenForWriting(path, FILE_APPEND_DATA, OPEN_ALWAYS));
    if (!file.valid()) Fail("Cannot write file", path, ::GetLastError());
    WriteAll(file.get(), bytes, path);
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static Win32FileSystem fs;
  return fs;
}

char PathSeparator() { return '\\'; }

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::string PathFrom(const std::string& folder, const std::string& path) {
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (path.empty()) return path;
  if (path.size() >= 2 && isLetter(path[0]) && path[1] == ':') return path;  // a drive
  if (!IsPathSeparator(path[0])) return JoinPath(folder, path);
  if (path.size() >= 2 && IsPathSeparator(path[1])) return path;  // \\server\share
  // From the root of the folder's drive or share.
  if (folder.size() >= 2 && isLetter(folder[0]) && folder[1] == ':') {
    return folder.substr(0, 2) + path;
  }
  if (folder.size() >= 2 && IsPathSeparator(folder[0]) && IsPathSeparator(folder[1])) {
    size_t end = folder.find_first_of("\\/", 2);                               // after the server
    if (end != std::string::npos) end = folder.find_first_of("\\/", end + 1);  // the share
    return folder.substr(0, end) + path;
  }
  return path;
}

std::string ProgramFolder() {
  std::wstring module(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    if (length == 0) {
      const DWORD code = ::GetLastError();
      throw Error(ErrorCode::kPathNotFound, "Cannot find the program folder", SystemMessage(code));
    }
    if (length < module.size()) {
      module.resize(length);
      break;
    }
    module.resize(module.size() * 2);  // truncated: try a bigger buffer
  }
  const size_t separator = module.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return ".";
  std::wstring folder = module.substr(0, separator);
  if (folder.size() == 2 && folder[1] == L':')
    folder += L'\\';  // "C:" alone means the current folder
  if (folder.rfind(L"\\\\?\\", 0) == 0 && folder.size() < MAX_PATH - 12) {
    folder = folder.rfind(L"\\\\?\\UNC\\", 0) == 0 ? L"\\\\" + folder.substr(8) : folder.substr(4);
  }
  return Narrow(folder);
}

std::string PathForDriver(const std::string& path) {
  // Wine's own export; absent on Windows.
  using UnixName = char*(CDECL*)(const wchar_t*);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto toUnix = kernel == nullptr ? nullptr
                                        : reinterpret_cast<UnixName>(reinterpret_cast<void*>(
                                              ::GetProcAddress(kernel, "wine_get_unix_file_name")));
  if (toUnix == nullptr) return path;
  char* unixName = toUnix(WidePath(path).c_str());
  if (unixName == nullptr) return path;
  // Each byte of the host's name as the character of that number, in UTF-8.
  std::string carried;
  for (const char* c = unixName; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte < 0x80) {
      carried += static_cast<char>(byte);
    } else {
      carried += static_cast<char>(0xC0 | (byte >> 6));
      carried += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  ::HeapFree(::GetProcessHeap(), 0, unixName);
  return carried;
}

}  // namespace sa::platform
