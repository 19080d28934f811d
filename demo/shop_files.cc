#include "shop_files.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace sa::demo {

namespace fs = std::filesystem;

Error FileError(const std::string& what, const std::string& path, const std::string& reason) {
  return Error(ErrorCode::kPathAccess, what, path + ": " + reason);
}

void MakeFolders(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) throw FileError("Cannot create the folder.", folder.string(), ec.message());
  if (!fs::is_directory(folder, ec)) {
    throw FileError("Cannot create the folder.", folder.string(), "a file of that name exists");
  }
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw FileError("Cannot write the file.", path.string(), std::strerror(errno));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw FileError("Cannot write the file.", path.string(), std::strerror(errno));
}

fs::path AbsolutePath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(path), ec);
  if (ec) throw FileError("Cannot resolve the path.", path, ec.message());
  return p.lexically_normal();
}

void RemoveIfPresent(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
  if (ec) throw FileError("Cannot remove the file.", path.string(), ec.message());
}

}  // namespace sa::demo
