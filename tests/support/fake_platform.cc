#include "support/fake_platform.h"

#include "core/error.h"

namespace sa::testing {
namespace {

[[noreturn]] void Fail(ErrorCode number, const char* description, const std::string& path,
                       const char* reason) {
  throw Error(number, description, path + ": " + reason);
}

class FakeFolderLock final : public platform::FolderLock {
 public:
  FakeFolderLock(std::multiset<std::string>& held, std::string folder)
      : held_(held), folder_(std::move(folder)) {
    held_.insert(folder_);
  }
  ~FakeFolderLock() override { held_.erase(held_.find(folder_)); }

 private:
  std::multiset<std::string>& held_;
  std::string folder_;
};

}  // namespace

bool FakeFileSystem::IsFile(const std::string& path) const { return files.contains(path); }

bool FakeFileSystem::Exists(const std::string& path) const {
  return files.contains(path) || folders.contains(path);
}

void FakeFileSystem::MakeFolder(const std::string& path) {
  if (failing.contains(path)) Fail(ErrorCode::kPathAccess, "Cannot create folder", path, "refused");
  if (Exists(path)) Fail(ErrorCode::kPathAccess, "Cannot create folder", path, "exists");
  folders.insert(path);
  foldersMade.push_back(path);
}

void FakeFileSystem::RemoveFile(const std::string& path) {
  if (failing.contains(path)) Fail(ErrorCode::kPathAccess, "Cannot delete file", path, "refused");
  if (files.erase(path) == 0)
    Fail(ErrorCode::kFileNotFound, "Cannot delete file", path, "not found");
  removed.push_back(path);
}

void FakeFileSystem::RenameFile(const std::string& from, const std::string& to) {
  if (failing.contains(from) || failing.contains(to)) {
    Fail(ErrorCode::kPathAccess, "Cannot rename file", from, "refused");
  }
  const auto found = files.find(from);
  if (found == files.end()) Fail(ErrorCode::kFileNotFound, "Cannot rename file", from, "not found");
  std::string bytes = std::move(found->second);
  files.erase(found);
  files[to] = std::move(bytes);
  renamed.emplace_back(from, to);
}

std::string FakeFileSystem::ReadFile(const std::string& path) const {
  if (failing.contains(path)) Fail(ErrorCode::kPathAccess, "Cannot read file", path, "refused");
  const auto found = files.find(path);
  if (found == files.end()) Fail(ErrorCode::kFileNotFound, "Cannot read file", path, "not found");
  return found->second;
}

std::string FakeFileSystem::ReadFileHead(const std::string& path, size_t limit) const {
  return ReadFile(path).substr(0, limit);
}

void FakeFileSystem::WriteFileDurably(const std::string& path, std::string_view bytes) {
  if (failing.contains(path)) Fail(ErrorCode::kPathAccess, "Cannot write file", path, "refused");
  files[path] = std::string(bytes);
}

void FakeFileSystem::AppendFile(const std::string& path, std::string_view bytes) {
  if (failing.contains(path)) Fail(ErrorCode::kPathAccess, "Cannot write file", path, "refused");
  files[path].append(bytes);
}

std::vector<std::string> FakeFileSystem::ListFolder(const std::string& path) const {
  if (failing.contains(path)) Fail(ErrorCode::kPathAccess, "Cannot list folder", path, "refused");
  if (!folders.contains(path))
    Fail(ErrorCode::kPathNotFound, "Cannot list folder", path, "not found");
  std::set<std::string> names;
  const std::string prefix = path + "/";
  auto take = [&](const std::string& name) {
    if (name.starts_with(prefix) && name.find('/', prefix.size()) == std::string::npos) {
      names.insert(name.substr(prefix.size()));
    }
  };
  for (const auto& [name, bytes] : files) take(name);
  for (const std::string& name : folders) take(name);
  return {names.begin(), names.end()};
}

}  // namespace sa::testing

namespace sa::testing {

std::unique_ptr<platform::FolderLock> FakeFileSystem::LockFolder(const std::string& folder,
                                                                 std::chrono::milliseconds wait) {
  if (heldElsewhere.contains(folder)) throw platform::FolderInUse(folder, wait);
  locked.push_back(folder);
  return std::make_unique<FakeFolderLock>(held, folder);
}

}  // namespace sa::testing
