// The places month archives go, checked before a run or a command uses them:
// the archive folder must be a folder, and a month's name must hold an
// ordinary file or nothing. A run stops with these errors before it builds
// anything, and --verify and --dry-run report them.
#pragma once

#include <optional>
#include <string>

#include "core/error.h"
#include "platform/file_system.h"

namespace sa::archive {

// What occupies `path` when something does and it is not an ordinary file:
// "a folder", "a link to nothing", or the system's reason for refusing to
// read it as a file (a pipe, a device).
std::optional<std::string> NotAFile(const platform::FileSystem& fs, const std::string& path);

// Why the archive of `monthKey` can be neither made nor opened in
// dataFolder/S: the archive folder is a file, or the month's name is taken by
// something other than an ordinary file. nullopt when nothing stands in the way.
std::optional<Error> ArchivePlaceProblem(const platform::FileSystem& fs,
                                         const std::string& dataFolder,
                                         const std::string& monthKey);

}  // namespace sa::archive
