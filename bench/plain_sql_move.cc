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
#include "dbengine/sqlite/sqlite_handle.h"
#include "dbengine/table_def.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "run/run_archive.h"

namespace sa::bench {
namespace {

using dbengine::sqlite::Connection;
using dbengine::sqlite::Statement;

// The live database, waiting for locks as the program does.
std::unique_ptr<Connection> Open(const std::string& path) {
  std::unique_ptr<Connection> conn = dbengine::sqlite::OpenConnection(path, SQLITE_OPEN_READWRITE);
  sqlite3_busy_timeout(conn->Handle(), 10000);
  return conn;
}

// Runs a statement to its end; returns the rows it changed.
long Exec(const Connection& db, const std::string& sql) {
  const Statement stmt = db.Prepare(sql);
  return db.Run(stmt.get(), sql);
}

long QueryLong(const Connection& db, const std::string& sql) {
  const Statement stmt = db.Prepare(sql);
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) db.Fail(rc, sql);
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
  AttachedArchive(const Connection& db, const std::string& path) : db_(db) {
    const Statement attach = db.Prepare("ATTACH DATABASE ?1 AS arc");
    sqlite3_bind_text(attach.get(), 1, path.c_str(), -1, SQLITE_TRANSIENT);
    db.Run(attach.get(), "ATTACH " + path);
    Exec(db, "PRAGMA arc.journal_mode=DELETE");
    Exec(db, "PRAGMA arc.synchronous=FULL");
  }
  ~AttachedArchive() {
    sqlite3* handle = db_.Handle();
    if (sqlite3_get_autocommit(handle) == 0)
      sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_exec(handle, "DETACH DATABASE arc", nullptr, nullptr, nullptr);
  }
  AttachedArchive(const AttachedArchive&) = delete;
  AttachedArchive& operator=(const AttachedArchive&) = delete;

 private:
  const Connection& db_;
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
  const std::unique_ptr<Connection> db = Open(platform::JoinPath(dataFolder, "live.db"));
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
    const Statement stmt = db->Prepare(
        "SELECT DISTINCT substr(" + field + ",1,7) FROM main." + Quote(entry.table) + " WHERE " +
        field + " >= '" + windowStart + "' AND " + field + " <= '" + windowLast + "' ORDER BY 1");
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
    AttachedArchive arc(*db, path);
    Exec(*db, "BEGIN");
    for (const run::TableEntry* entry : entries) {
      const std::string table = entry->table;
      const archive::TableSpec& layout = ArchiveSpec(table);
      const std::string fields = FieldList(layout);
      const std::string where =
          " WHERE " + MonthCondition(Quote(entry->dateField), month, windowEnd);
      const long copied =
          Exec(*db, "INSERT INTO arc." + Quote(layout.name) + " (" + fields + ") SELECT " + fields +
                        " FROM main." + Quote(table) + where);
      const long deleted = Exec(*db, "DELETE FROM main." + Quote(table) + where);
      if (copied != deleted) {
        throw std::runtime_error(table + " " + month + ": copied " + std::to_string(copied) +
                                 " but deleted " + std::to_string(deleted));
      }
      result.moved += copied;
      ++result.months;
    }
    Exec(*db, "COMMIT");
    ++result.transactions;
  }
  if (!newest.empty()) {
    const archive::TableSpec& layout = ArchiveSpec("cliente");
    const std::string fields = FieldList(layout);
    AttachedArchive arc(*db, archive::ArchivePath(dataFolder, newest));
    Exec(*db, "BEGIN");
    Exec(*db, "DELETE FROM arc." + Quote(layout.name));
    Exec(*db, "INSERT INTO arc." + Quote(layout.name) + " (" + fields + ") SELECT " + fields +
                  " FROM main.cliente");
    Exec(*db, "COMMIT");
    ++result.transactions;
  }
  db->Close();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpuSeconds = CpuSeconds() - cpuStart;
  return result;
}

long RecordsLeftInWindow(const std::string& dbPath, const CivilDate& windowEnd) {
  const std::unique_ptr<Connection> db = Open(dbPath);
  long left = 0;
  for (const run::TableEntry& entry : run::TableList(false)) {
    if (entry.dateField[0] == '\0') continue;
    const std::string field = Quote(entry.dateField);
    left += QueryLong(*db, "SELECT count(*) FROM main." + Quote(entry.table) + " WHERE " + field +
                               " >= '" + Stamp(CivilDate{2000, 1, 1}) + "' AND " + field + " <= '" +
                               Stamp(windowEnd) + "'");
  }
  return left;
}

}  // namespace sa::bench
