#include "platform/file_system.h"

namespace sa::platform {

Error FolderInUse(const std::string& folder, std::chrono::milliseconds waited) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
  return Error(ErrorCode::kFolderInUse, "Another run of sales-archiver is using this folder.",
               folder + ": another run still held it after " + std::to_string(seconds) + " s");
}

// The separator is the platform's; the rest is the same everywhere.
std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return PathSeparator() + name;
  if (IsPathSeparator(folder.back())) return folder + name;
  return folder + PathSeparator() + name;
}

}  // namespace sa::platform
