// The sample shop's file chores: folders made, files written whole, paths
// made absolute. Each failure is an sa::Error naming the path and the cause.
#pragma once

#include <filesystem>
#include <string>

#include "core/error.h"

namespace sa::demo {

Error FileError(const std::string& what, const std::string& path, const std::string& reason);

// Creates `folder` and its parents; refuses a file of that name.
void MakeFolders(const std::filesystem::path& folder);
// Writes `bytes` as the whole file at `path`, replacing it.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// Absolute, with "." and ".." resolved, so `fifo` works whatever the
// archiver's working folder is.
std::filesystem::path AbsolutePath(const std::string& path);
void RemoveIfPresent(const std::filesystem::path& path);

}  // namespace sa::demo
