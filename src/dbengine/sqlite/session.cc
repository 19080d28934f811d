#include "dbengine/sqlite/session.h"

#include "core/error.h"
#include "dbengine/engine.h"
#include "dbengine/sqlite/catalog.h"
#include "dbengine/sqlite/dialect.h"
#include "dbengine/sqlite/sqlite_value_sql.h"

namespace sa::dbengine::sqlite {

std::string Session::Attach(const std::string& path) {
  if (conn_->InUserTransaction()) {
    throw Error(EngineError::kInvalidArgument, "Cannot link an archive inside a transaction.",
                path);
  }
  const std::string schema = "arc" + std::to_string(nextSchema_++);
  conn_->EndImplicitRead();
  Statement stmt = conn_->Prepare("ATTACH DATABASE ?1 AS " + QuoteName(schema));
  sqlite3_bind_text(stmt.get(), 1, path.c_str(), -1, SQLITE_TRANSIENT);
  conn_->Run(stmt.get(), path);
  attached_[schema] = path;
  try {
    // Archives keep the rollback journal. Their commit ends when the
    // journal's deletion is durable: with EXTRA the folder is synced after
    // it. Otherwise a power cut may bring the journal back after a later
    // commit elsewhere (the live deletion of a WAL live database) became
    // durable, and the archive's next open would roll its commit back.
    conn_->Exec("PRAGMA " + QuoteName(schema) + ".journal_mode=DELETE");
    conn_->Exec("PRAGMA " + QuoteName(schema) + ".synchronous=EXTRA");
    if (archivePageLimit_ > 0) {
      conn_->Exec("PRAGMA " + QuoteName(schema) +
                  ".max_page_count=" + std::to_string(archivePageLimit_));
    }
    // Reads the schema now, so a damaged file fails here and not half way.
    conn_->Exec("SELECT count(*) FROM " + QuoteName(schema) + ".sqlite_schema");
  } catch (...) {
    Detach(schema);
    throw;
  }
  return schema;
}

void Session::Detach(const std::string& schema) {
  conn_->EndImplicitRead();
  conn_->Exec("DETACH DATABASE " + QuoteName(schema));
  attached_.erase(schema);
}

std::string Session::SchemaPath(const std::string& schema) const {
  const auto it = attached_.find(schema);
  return it == attached_.end() ? Name() : it->second;
}

void Session::Rollback() {
  ForgetStagedKeys();
  conn_->Rollback();
}

void Session::BeforeWrite() {
  if (!conn_->InUserTransaction()) conn_->EndImplicitRead();
}

std::string Session::RealTableName(const std::string& schema, const std::string& table) const {
  return sqlite::RealTableName(*conn_, schema, table, SchemaPath(schema));
}

std::vector<Field> Session::Fields(const std::string& schema, const std::string& table) const {
  return TableFields(*conn_, schema, table, SchemaPath(schema));
}

const std::pair<std::string, std::vector<Field>>& Session::LiveTable(const std::string& table) {
  auto live = liveTables_.find(LowerAscii(table));
  if (live == liveTables_.end()) {
    const std::string source = RealTableName("main", table);
    live = liveTables_.emplace(LowerAscii(table), std::make_pair(source, Fields("main", source)))
               .first;
  }
  return live->second;
}

std::string Session::LiveTableName(const std::string& table) {
  const auto live = liveTables_.find(LowerAscii(table));
  return live != liveTables_.end() ? live->second.first : RealTableName("main", table);
}

// The table is checked once, and the answer trusted for as long as no other
// program commits to the live database; after such a commit the copies
// convert value by value, so a busy host costs a slower copy, never a second
// scan of the table.
bool Session::LiveValuesConform(const std::string& source) {
  const int64_t version = DataVersion();
  const auto known = conforming_.find(source);
  if (known != conforming_.end()) {
    return known->second.first == version && known->second.second;
  }
  const auto& fields = liveTables_.at(LowerAscii(source)).second;
  std::string checks;
  for (const Field& f : fields) {
    const std::string value = "s." + QuoteName(f.name);
    checks += (checks.empty() ? "" : " AND ") +
              ("(" + value + " IS NULL OR " + ReadyCheck(value, f, f) + ")");
  }
  Statement stmt = conn_->Prepare("SELECT 1 FROM main." + QuoteName(source) + " AS s WHERE NOT (" +
                                  checks + ") LIMIT 1");
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) conn_->Fail(rc, source + " in " + Name());
  const bool conform = rc == SQLITE_DONE;
  conforming_[source] = {version, conform};
  return conform;
}

int64_t Session::DataVersion() {
  Statement stmt = conn_->Prepare("PRAGMA main.data_version");
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) conn_->Fail(rc, Name());
  return sqlite3_column_int64(stmt.get(), 0);
}

}  // namespace sa::dbengine::sqlite
