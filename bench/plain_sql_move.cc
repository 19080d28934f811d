#include "plain_sql_move.h"

#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "archive/archive.h"
#include "archive/schema.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "dbengine/table_def.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "run/run_archive.h"

namespace sa::bench {
namespace {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

[[noreturn]] void Fail(sqlite3* db, const std::string& sql) {
  throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in: " + sql);
}

Db Open(const std::string& path) {
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) Fail(db.get(), "open " + path);
  sqlite3_busy_timeout(db.get(), 10000);
  return db;
}

Stmt Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) !=
      SQLITE_OK) {
    Fail(db, sql);
  }
  return Stmt(raw);
}

// Runs a statement to its end; returns the rows it changed.
long Exec(sqlite3* db, const std::string& sql) {
  Stmt stmt = Prepare(db, sql);
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) Fail(db, sql);
  return sqlite3_changes(db);
}

long QueryLong(sqlite3* db, const std::string& sql) {
  Stmt stmt = Prepare(db, sql);
  if (sqlite3_step(stmt.get()) != SQLITE_ROW) Fail(db, sql);
  return static_cast<long>(sqlite3_column_int64(stmt.get(), 0));
}

std::string Quote(const std::string& name) {
  std::string q = "\"";
  for (const char c : name) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + '"';
}

std::string Stamp(const CivilDate& d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d 00:00:00", d.year, d.month, d.day);
  return buf;
}

const archive::TableSpec& ArchiveSpec(const std::string& table) {
  for (const archive::TableSpec* layout : archive::ArchiveTables(false)) {
    if (dbengine::SameName(layout->name, table)) return *layout;
  }
  if (table == "cliente") return archive::kCliente;
  throw std::runtime_error("no archive table for " + table);
}

// The archive's field names, quoted, in its order.
std::string FieldList(const archive::TableSpec& layout) {
  std::string list;
  for (const archive::FieldSpec& f : layout.fields) {
    if (!list.empty()) list += ',';
    list += Quote(f.name);
  }
  return list;
}

// The window condition of a month "yyyy-mm": its first day at midnight up to
// the next month's, or up to and including the window's end when that comes
// first.
std::string MonthCondition(const std::string& field, const std::string& month,
                           const CivilDate& windowEnd) {
  const int year = std::stoi(month.substr(0, 4));
  const int mon = std::stoi(month.substr(5, 2));
  const CivilDate first{year, mon, 1};
  const CivilDate next = mon == 12 ? CivilDate{year + 1, 1, 1} : CivilDate{year, mon + 1, 1};
  std::string cond = field + " >= '" + Stamp(first) + "' AND " + field;
  if (windowEnd < next) return cond + " <= '" + Stamp(windowEnd) + "'";
  return cond + " < '" + Stamp(next) + "'";
}

// Attaches an archive with the program's journal settings for archives, and
// detaches it on every way out.
class AttachedArchive {
 public:
  AttachedArchive(sqlite3* db, const std::string& path) : db_(db) {
    Stmt attach = Prepare(db, "ATTACH DATABASE ?1 AS arc");
    sqlite3_bind_text(attach.get(), 1, path.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(attach.get()) != SQLITE_DONE) Fail(db, "ATTACH " + path);
    Exec(db, "PRAGMA arc.journal_mode=DELETE");
    Exec(db, "PRAGMA arc.synchronous=FULL");
  }
  ~AttachedArchive() {
    if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "DETACH DATABASE arc", nullptr, nullptr, nullptr);
  }
  AttachedArchive(const AttachedArchive&) = delete;
  AttachedArchive& operator=(const AttachedArchive&) = delete;

 private:
  sqlite3* db_;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

PlainMoveResult MoveWithPlainSql(const std::string& dataFolder, const CivilDate& windowEnd) {
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = CpuSeconds();
  PlainMoveResult result;
  std::unique_ptr<dbengine::Engine> engine = dbengine::MakeSqliteEngine();
  platform::FileSystem& fs = platform::RealFileSystem();
  const std::string archiveFolder = platform::JoinPath(dataFolder, "S");
  if (!fs.Exists(archiveFolder)) fs.MakeFolder(archiveFolder);
  Db db = Open(platform::JoinPath(dataFolder, "live.db"));
  const std::string windowStart = Stamp(CivilDate{2000, 1, 1});
  const std::string windowLast = Stamp(windowEnd);

  // Every table's months first, then one transaction per month over all
  // the tables that have records in it.
  const std::vector<run::TableEntry> tables = run::TableList(false);
  std::map<std::string, std::vector<const run::TableEntry*>> byMonth;  // "yyyy-mm" keys
  std::string newest;  // the newest month read before the customer table
  for (const run::TableEntry& entry : tables) {
    if (entry.dateField[0] == '\0') break;
    const std::string field = Quote(entry.dateField);
    Stmt stmt =
        Prepare(db.get(), "SELECT DISTINCT substr(" + field + ",1,7) FROM main." +
                              Quote(entry.table) + " WHERE " + field + " >= '" + windowStart +
                              "' AND " + field + " <= '" + windowLast + "' ORDER BY 1");
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
      const std::string month = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
      byMonth[month].push_back(&entry);
      newest = month.substr(0, 4) + month.substr(5, 2);
    }
  }
  for (const auto& [month, entries] : byMonth) {
    const std::string key = month.substr(0, 4) + month.substr(5, 2);
    const std::string path = archive::ArchivePath(dataFolder, key);
    if (!fs.IsFile(path)) {
      archive::CreateMonthArchive(*engine, fs, platform::RealMessageSink(), path, false);
      ++result.archives;
    }
    AttachedArchive arc(db.get(), path);
    Exec(db.get(), "BEGIN");
    for (const run::TableEntry* entry : entries) {
      const std::string table = entry->table;
      const archive::TableSpec& layout = ArchiveSpec(table);
      const std::string fields = FieldList(layout);
      const std::string where =
          " WHERE " + MonthCondition(Quote(entry->dateField), month, windowEnd);
      const long copied =
          Exec(db.get(), "INSERT INTO arc." + Quote(layout.name) + " (" + fields + ") SELECT " +
                             fields + " FROM main." + Quote(table) + where);
      const long deleted = Exec(db.get(), "DELETE FROM main." + Quote(table) + where);
      if (copied != deleted) {
        throw std::runtime_error(table + " " + month + ": copied " + std::to_string(copied) +
                                 " but deleted " + std::to_string(deleted));
      }
      result.moved += copied;
      ++result.months;
    }
    Exec(db.get(), "COMMIT");
    ++result.transactions;
  }
  if (!newest.empty()) {
    const archive::TableSpec& layout = ArchiveSpec("cliente");
    const std::string fields = FieldList(layout);
    AttachedArchive arc(db.get(), archive::ArchivePath(dataFolder, newest));
    Exec(db.get(), "BEGIN");
    Exec(db.get(), "DELETE FROM arc." + Quote(layout.name));
    Exec(db.get(), "INSERT INTO arc." + Quote(layout.name) + " (" + fields + ") SELECT " + fields +
                       " FROM main.cliente");
    Exec(db.get(), "COMMIT");
    ++result.transactions;
  }
  const int rc = sqlite3_close(db.release());
  if (rc != SQLITE_OK) throw std::runtime_error("closing the live database failed");
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpuSeconds = CpuSeconds() - cpuStart;
  return result;
}

long RecordsLeftInWindow(const std::string& dbPath, const CivilDate& windowEnd) {
  Db db = Open(dbPath);
  long left = 0;
  for (const run::TableEntry& entry : run::TableList(false)) {
    if (entry.dateField[0] == '\0') continue;
    const std::string field = Quote(entry.dateField);
    left += QueryLong(db.get(), "SELECT count(*) FROM main." + Quote(entry.table) + " WHERE " +
                                    field + " >= '" + Stamp(CivilDate{2000, 1, 1}) + "' AND " +
                                    field + " <= '" + Stamp(windowEnd) + "'");
  }
  return left;
}

}  // namespace sa::bench
