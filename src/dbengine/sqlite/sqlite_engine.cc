#include "dbengine/sqlite/sqlite_engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>

#include "core/error.h"
#include "dbengine/sqlite/database_file.h"
#include "dbengine/sqlite/session.h"
#include "dbengine/sqlite/sql_functions.h"
#include "dbengine/sqlite/sqlite_database.h"
#include "dbengine/sqlite/sqlite_handle.h"
#include "dbengine/sqlite_format.h"

namespace sa::dbengine {

namespace sqlite {

namespace {

// Written into every database this engine creates, with the creation options
// in the user version: (language id << 16) | options.

struct Locale {
  const char* text;
  int32_t langId;
};
constexpr Locale kLocales[] = {
    {";LANGID=0x0409;CP=1252;COUNTRY=0", 0x0409},  // general sort order
    {";LANGID=0x040A;CP=1252;COUNTRY=0", 0x040A},  // Spanish
};
// File format versions 1.0, 1.1, 2.0, 3.0, 4.0 and the engine's default.
constexpr int32_t kOptions[] = {0, 1, 8, 16, 32, 64};

class SqliteEngine : public Engine {
 public:
  SqliteEngine(int busyTimeoutMs, int64_t pageLimit)
      : busyTimeoutMs_(busyTimeoutMs), pageLimit_(pageLimit) {}

  std::unique_ptr<Database> OpenDatabase(const std::string& path) override {
    CheckDatabaseFile(path);
    auto conn = Connect(path, SQLITE_OPEN_READWRITE);
    // Reads the schema now, so a damaged file fails on open.
    conn->Exec("SELECT count(*) FROM sqlite_schema");
    return std::make_unique<SqliteDatabase>(std::make_shared<Session>(std::move(conn), pageLimit_));
  }

  std::unique_ptr<Database> CreateDatabase(const std::string& path, const std::string& locale,
                                           int32_t options) override {
    int32_t langId = -1;
    for (const Locale& l : kLocales) {
      if (locale == l.text) langId = l.langId;
    }
    if (langId < 0) throw Error(EngineError::kInvalidArgument, "Invalid locale argument.", locale);
    if (std::find(std::begin(kOptions), std::end(kOptions), options) == std::end(kOptions)) {
      throw Error(EngineError::kInvalidArgument, "Invalid options argument.",
                  std::to_string(options));
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
      throw Error(EngineError::kDatabaseExists, "Database already exists.", path);
    }
    auto conn = Connect(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
      // The file is synced once, on Close; until then a crash may leave it
      // half written, which is why callers build it under another name. The
      // journal in memory still lets a failed statement be undone.
      conn->Exec("PRAGMA journal_mode=MEMORY");
      conn->Exec("PRAGMA synchronous=OFF");
      conn->Exec("BEGIN");
      conn->Exec("PRAGMA application_id=" + std::to_string(sqlite_format::kApplicationId));
      conn->Exec("PRAGMA user_version=" +
                 std::to_string(sqlite_format::UserVersion(langId, options)));
      conn->Exec("COMMIT");
      if (pageLimit_ > 0) conn->Exec("PRAGMA max_page_count=" + std::to_string(pageLimit_));
    } catch (...) {
      conn->Close();
      // Through SQLite's file layer, as every other change to the file.
      sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
      if (vfs != nullptr) vfs->xDelete(vfs, path.c_str(), 0);
      throw;
    }
    auto db =
        std::make_unique<SqliteDatabase>(std::make_shared<Session>(std::move(conn), pageLimit_));
    db->SyncOnClose();
    return db;
  }

 private:
  std::shared_ptr<Connection> Connect(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      const Error e =
          rc == SQLITE_CANTOPEN
              ? Error(EngineError::kInvalidPath, "Not a valid path, or the file cannot be opened.",
                      path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)))
              : SqliteError(db, rc, path);
      sqlite3_close_v2(db);
      throw e;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, busyTimeoutMs_);
    RegisterFunctions(db);
    return std::make_shared<Connection>(db, path);
  }

  int busyTimeoutMs_;
  int64_t pageLimit_;
};

}  // namespace

}  // namespace sqlite

std::unique_ptr<Engine> MakeSqliteEngine(int busyTimeoutMs, int64_t archivePageLimit) {
  return std::make_unique<sqlite::SqliteEngine>(busyTimeoutMs, archivePageLimit);
}

}  // namespace sa::dbengine
