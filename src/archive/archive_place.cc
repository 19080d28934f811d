#include "archive/archive_place.h"

#include "archive/archive.h"
#include "dbengine/engine.h"

namespace sa::archive {

std::optional<std::string> NotAFile(const platform::FileSystem& fs, const std::string& path) {
  if (fs.IsFile(path) || !fs.Exists(path)) return std::nullopt;
  try {
    fs.ListFolder(path);
    return "a folder";
  } catch (const Error&) {
  }
  try {
    fs.ReadFileHead(path, 0);
  } catch (const Error& e) {
    // The name is there, yet opening it finds nothing: a link whose target
    // is gone.
    if (e.Number() == ErrorCode::kFileNotFound || e.Number() == ErrorCode::kPathNotFound) {
      return "a link to nothing";
    }
    const std::string& cause = e.Cause();
    return cause.rfind(path + ": ", 0) == 0 ? cause.substr(path.size() + 2) : cause;
  }
  return "not an ordinary file";
}

std::optional<Error> ArchivePlaceProblem(const platform::FileSystem& fs,
                                         const std::string& dataFolder,
                                         const std::string& monthKey) {
  const std::string folder = platform::JoinPath(dataFolder, "S");
  if (fs.IsFile(folder)) {
    return Error(dbengine::EngineError::kInvalidPath,
                 "The archive folder S is a file, not a folder: no archive can be made in it.",
                 folder);
  }
  const std::string path = ArchivePath(dataFolder, monthKey);
  if (const std::optional<std::string> what = NotAFile(fs, path)) {
    return Error(dbengine::EngineError::kInvalidPath,
                 "The month's archive cannot be made: its name is taken by something that is "
                 "not a file.",
                 path + ": " + *what);
  }
  return std::nullopt;
}

}  // namespace sa::archive
