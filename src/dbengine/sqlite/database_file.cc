#include "dbengine/sqlite/database_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/error.h"
#include "dbengine/engine.h"
#include "dbengine/file_kind.h"

namespace sa::dbengine::sqlite {

void CheckDatabaseFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    throw Error(EngineError::kFileNotFound, "Could not find file.",
                path + ": " + std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) {
    throw Error(EngineError::kInvalidPath, "Not a database file.",
                path + ": a folder, not a database file");
  }
  if (st.st_size == 0) {
    throw Error(EngineError::kUnrecognizedFormat, "Unrecognized database format.",
                path + ": the file is empty");
  }
  char head[kSignatureBytes] = {};
  size_t got = 0;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
  } else {
    throw Error(EngineError::kInvalidPath, "The database file cannot be opened.",
                path + ": " + std::strerror(errno));
  }
  switch (KindOfHead(std::string_view(head, got))) {
    case FileKind::kSqlite:
      return;
    case FileKind::kJet:
      throw Error(EngineError::kUnrecognizedFormat, "Unrecognized database format.",
                  path + ": a Jet/Access database; this build reads SQLite database files only");
    case FileKind::kOther:
      break;
  }
  throw Error(EngineError::kUnrecognizedFormat, "Unrecognized database format.",
              path + ": not a SQLite database file");
}

}  // namespace sa::dbengine::sqlite
