// What a database file is, by its first bytes, whatever its extension: the
// signatures of the formats the engine meets, kept in one place.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace sa::dbengine {

enum class FileKind {
  kSqlite,  // a SQLite 3 database
  kJet,     // a Jet or ACE (Access) database
  kOther,   // anything else, an empty file among them
};

// How many of a file's first bytes tell its kind.
inline constexpr size_t kSignatureBytes = 32;

// The kind of a file whose first bytes (all of them, for a shorter file) are
// `head`.
FileKind KindOfHead(std::string_view head);

// The kind of the file at `path`, its first bytes read through `fs`; nullopt
// when there is no ordinary file to read there (missing, a folder, a device,
// unreadable).
std::optional<FileKind> KindOfFile(const platform::FileSystem& fs, const std::string& path);

}  // namespace sa::dbengine
