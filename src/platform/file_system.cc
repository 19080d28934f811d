#include "platform/file_system.h"

namespace sa::platform {

Error FolderInUse(const std::string& folder, std::chrono::milliseconds waited) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
  return Error(kErrFolderInUse, "Another run of sales-archiver is using this folder.",
               folder + ": another run still held it after " + std::to_string(seconds) + " s");
}

}  // namespace sa::platform
