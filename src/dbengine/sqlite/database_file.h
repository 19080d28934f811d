// What a database file must be before the backend opens or links it: a
// SQLite 3 file. Anything else is refused with what it is.
#pragma once

#include <string>

namespace sa::dbengine::sqlite {

// Throws sa::Error naming `path` and what it holds when it is not a SQLite
// database: missing (EngineError::kFileNotFound), a folder or a file that
// cannot be opened (EngineError::kInvalidPath), an empty file, a Jet/Access
// file or anything else (EngineError::kUnrecognizedFormat).
void CheckDatabaseFile(const std::string& path);

}  // namespace sa::dbengine::sqlite
