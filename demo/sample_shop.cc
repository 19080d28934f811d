// Builds a sample shop's files (sample_shop.h): checks the options, writes
// the live database under a temporary name and renames it into place, then
// the settings file and `fifo`; counts a database's records.
#include "sample_shop.h"

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "core/error.h"
#include "dbengine/engine.h"
#include "dbengine/sqlite/sqlite_handle.h"
#include "shop_files.h"
#include "shop_tables.h"
#include "shop_writer.h"

namespace sa::demo {
namespace {

namespace fs = std::filesystem;

// The first column of the first row of `sql`, as text.
std::string QueryText(const dbengine::sqlite::Connection& conn, const std::string& sql) {
  const dbengine::sqlite::Statement stmt = conn.Prepare(sql);
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) conn.Fail(rc, sql);
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  return p != nullptr ? p : "";
}

void CheckOptions(const ShopOptions& o) {
  const auto fail = [](const std::string& what) {
    throw Error(dbengine::EngineError::kInvalidArgument, "Invalid sample shop option.", what);
  };
  if (o.folder.empty()) fail("the shop folder is empty");
  if (!IsValidDate(o.today)) fail("today is not a valid date");
  if (o.months < 0 || o.months > kMaxMonths) {
    fail("months " + std::to_string(o.months) + " is outside 0.." + std::to_string(kMaxMonths));
  }
  if (o.scales < 1 || o.scales > kMaxScales) {
    fail("scales " + std::to_string(o.scales) + " is outside 1.." + std::to_string(kMaxScales));
  }
  if (o.ticketsPerDay < 0 || o.ticketsPerDay > kMaxTicketsPerDay) {
    fail("tickets per day " + std::to_string(o.ticketsPerDay) + " is outside 0.." +
         std::to_string(kMaxTicketsPerDay));
  }
  if (o.retentionDays < 0 || o.retentionDays > kMaxRetentionDays) {
    fail("retention days " + std::to_string(o.retentionDays) + " is outside 0.." +
         std::to_string(kMaxRetentionDays));
  }
  if (o.journalMode != "delete" && o.journalMode != "wal") {
    fail("journal mode \"" + o.journalMode + "\" is neither delete nor wal");
  }
  if (o.processName.find_first_of("\r\n") != std::string::npos) {
    fail("the process name holds a line end");
  }
}

// The live database at `path`, built whole: tables, rows, journal mode.
void BuildLiveDb(const fs::path& path, const ShopOptions& o) {
  const auto conn =
      dbengine::sqlite::OpenConnection(path.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  const std::string mode = o.journalMode == "wal" ? "wal" : "delete";
  const std::string got = QueryText(*conn, "PRAGMA journal_mode=" + mode);
  if (got != mode) {
    throw Error(dbengine::EngineError::kIo, "Cannot set the journal mode.",
                path.string() + ": asked for " + mode + ", got " + got);
  }
  // The file is renamed into place only once complete, so a crash loses
  // nothing worth syncing for.
  conn->Exec("PRAGMA synchronous=OFF");
  conn->Exec("PRAGMA cache_size=-32768");

  const std::vector<LiveTable> tables = LiveTables();
  conn->Exec("BEGIN");
  for (const LiveTable& t : tables) conn->Exec(CreateSql(t));
  conn->Exec("COMMIT");

  WriteSales(*conn, o, tables);
}

}  // namespace

ShopFiles GenerateShop(const ShopOptions& options) {
  CheckOptions(options);
  const fs::path folder = AbsolutePath(options.folder);
  const fs::path data = folder / "datos";
  const fs::path dbPath = data / "live.db";
  const fs::path settingsPath = data / "settings.ini";
  const fs::path programFolder =
      options.programFolder.empty() ? folder : AbsolutePath(options.programFolder);

  MakeFolders(data);
  std::error_code ec;
  if (fs::exists(dbPath, ec)) {
    throw Error(dbengine::EngineError::kDatabaseExists, "Database already exists.",
                dbPath.string() + ": remove it or choose another folder");
  }
  fs::path partial = dbPath;
  partial += ".partial";
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    fs::path stale = partial;
    stale += suffix;
    RemoveIfPresent(stale);
  }
  try {
    BuildLiveDb(partial, options);
  } catch (...) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    throw;
  }
  fs::rename(partial, dbPath, ec);
  if (ec) throw FileError("Cannot rename the database into place.", dbPath.string(), ec.message());

  WriteSettings(settingsPath.string(), options.livestock, options.retentionDays);
  WriteFifo(programFolder.string(), dbPath.string(), settingsPath.string(), options.processName);
  return ShopFiles{dbPath.string(), settingsPath.string(), (programFolder / "fifo").string()};
}

void WriteFifo(const std::string& programFolder, const std::string& dbPath,
               const std::string& settingsPath, const std::string& processName) {
  MakeFolders(programFolder);
  // Every line ends in CRLF, the last two empty ones included, so a reader
  // that splits at line ends sees exactly seven.
  std::string text;
  for (const std::string& line : {dbPath, settingsPath, processName, std::string("0"),
                                  std::string("N"), std::string(), std::string()}) {
    text += line + "\r\n";
  }
  WriteFile(fs::path(programFolder) / "fifo", text);
}

std::map<std::string, long> CountRecords(const std::string& dbPath) {
  std::error_code ec;
  if (!fs::is_regular_file(dbPath, ec)) {
    throw Error(dbengine::EngineError::kFileNotFound, "Could not find the database file.", dbPath);
  }
  // Read-write, though only read: a read-only connection to a WAL database
  // cannot remove the -wal and -shm files it creates when it closes.
  std::unique_ptr<dbengine::sqlite::Connection> conn;
  try {
    conn = dbengine::sqlite::OpenConnection(dbPath, SQLITE_OPEN_READWRITE);
  } catch (const Error&) {
    conn = dbengine::sqlite::OpenConnection(dbPath, SQLITE_OPEN_READONLY);
  }
  std::vector<std::string> names;
  {
    const dbengine::sqlite::Statement stmt = conn->Prepare(
        "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT "
        "LIKE 'sqlite!_%' ESCAPE '!' ORDER BY rowid");
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
      names.emplace_back(p != nullptr ? p : "");
    }
    if (rc != SQLITE_DONE) conn->Fail(rc, dbPath);
  }
  std::map<std::string, long> counts;
  for (const std::string& name : names) {
    counts[name] = std::stol(QueryText(*conn, "SELECT count(*) FROM " + QuoteName(name)));
  }
  return counts;
}

}  // namespace sa::demo
