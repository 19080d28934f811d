#include "dbengine/sqlite/sqlite_engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "dbengine/sql_text.h"
#include "dbengine/sqlite/sqlite_handle.h"
#include "dbengine/sqlite/sqlite_recordset.h"
#include "dbengine/sqlite/sqlite_value_sql.h"
#include "dbengine/sqlite_format.h"

namespace sa::dbengine {

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

// Refuses anything at `path` that is not a SQLite database, naming what it is.
void CheckDatabaseFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    throw Error(EngineError::kFileNotFound, "Could not find file.",
                path + ": " + std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) {
    throw Error(EngineError::kUnrecognizedFormat, "Unrecognized database format.",
                path + ": a folder, not a database file");
  }
  if (st.st_size == 0) {
    throw Error(EngineError::kUnrecognizedFormat, "Unrecognized database format.",
                path + ": the file is empty");
  }
  unsigned char head[32] = {};
  size_t got = 0;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
  } else {
    throw Error(EngineError::kReadOnly, "The database file cannot be read.",
                path + ": " + std::strerror(errno));
  }
  if (got >= 16 && std::memcmp(head, "SQLite format 3", 16) == 0) return;
  if (got >= 19 && (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 ||
                    std::memcmp(head + 4, "Standard ACE DB", 15) == 0)) {
    throw Error(EngineError::kUnrecognizedFormat, "Unrecognized database format.",
                path + ": a Jet/Access database; this build reads SQLite database files only");
  }
  throw Error(EngineError::kUnrecognizedFormat, "Unrecognized database format.",
              path + ": not a SQLite database file");
}

class SqliteDatabase : public Database {
 public:
  SqliteDatabase(std::shared_ptr<Connection> conn, int64_t attachPageLimit)
      : conn_(std::move(conn)), attachPageLimit_(attachPageLimit) {}
  ~SqliteDatabase() override { conn_->Close(); }

  const std::string& Name() const override { return conn_->Path(); }

  void AppendTableDef(const TableDef& def) override {
    if (def.Fields().Count() == 0) {
      throw Error(EngineError::kInvalidArgument, "No field defined.", def.Name() + " in " + Name());
    }
    std::string sql = "CREATE TABLE " + QuoteName(def.Name()) + " (";
    bool first = true;
    for (const Field& f : def.Fields()) {
      if (!first) sql += ", ";
      first = false;
      sql += QuoteName(f.name) + ' ' + sqlite_format::ColumnDeclaration(f);
    }
    sql += ')';
    BeforeWrite();
    conn_->Exec(sql);
  }

  std::vector<TableDef> TableDefs() override {
    std::vector<TableDef> defs;
    Statement names = conn_->Prepare(
        "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite!_%' "
        "ESCAPE '!' ORDER BY rowid");
    while (sqlite3_step(names.get()) == SQLITE_ROW) {
      const auto* n = reinterpret_cast<const char*>(sqlite3_column_text(names.get(), 0));
      defs.emplace_back(n != nullptr ? n : "");
    }
    for (TableDef& def : defs) {
      for (const Column& c : Columns("main", def.Name())) {
        Field f;
        f.name = c.name;
        f.type = c.type;
        f.size = c.size;
        def.Fields().Append(f);
      }
    }
    return defs;
  }

  long Execute(const std::string& sql) override {
    const std::string translated = TranslateSql(sql);
    BeforeWrite();
    Statement stmt = conn_->Prepare(translated);
    if (sqlite3_stmt_readonly(stmt.get()) != 0 && sqlite3_column_count(stmt.get()) > 0) {
      throw Error(EngineError::kInvalidArgument, "Cannot execute a select query.",
                  Name() + ": " + sql);
    }
    return conn_->Run(stmt.get(), Name() + ": " + sql);
  }

  std::unique_ptr<Recordset> OpenRecordset(const std::string& sql) override {
    const std::string translated = TranslateSql(sql);
    const std::optional<SelectParts> parts = SplitSelect(translated);
    if (!parts) {
      throw Error(EngineError::kSyntax, "Only single-table SELECT texts open record sets.",
                  Name() + ": " + sql);
    }
    // The keyset is read in the transaction the record set then reads in.
    conn_->EnsureRead();
    try {
      return OpenKeyset(*parts, sql);
    } catch (...) {
      conn_->ReleaseIfIdle();
      throw;
    }
  }

  void Close() override {
    if (syncOnClose_ && conn_->IsOpen() && !conn_->InUserTransaction()) conn_->SyncFile();
    syncOnClose_ = false;
    conn_->Close();
  }
  // Written without syncs until Close, which syncs once (CreateDatabase).
  void SyncOnClose() { syncOnClose_ = true; }

 private:
  std::unique_ptr<Recordset> OpenKeyset(const SelectParts& parts, const std::string& sql) {
    const std::string table = RealTableName("main", parts.table);
    const std::vector<Column> all = Columns("main", table);
    std::vector<Column> columns;
    if (parts.list == "*") {
      columns = all;
    } else {
      size_t start = 0;
      while (start <= parts.list.size()) {
        size_t comma = parts.list.find(',', start);
        if (comma == std::string::npos) comma = parts.list.size();
        std::string name = parts.list.substr(start, comma - start);
        while (!name.empty() && name.front() == ' ') name.erase(0, 1);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        if (name.size() >= 2 && (name.front() == '[' || name.front() == '"')) {
          name = name.substr(1, name.size() - 2);
        }
        const Column* found = nullptr;
        for (const Column& c : all) {
          if (SameName(c.name, name)) found = &c;
        }
        if (found == nullptr) {
          throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                      "field " + name + " of table " + table + " in " + Name());
        }
        columns.push_back(*found);
        start = comma + 1;
      }
    }
    std::deque<int64_t> keys;
    Statement keyset = conn_->Prepare("SELECT rowid FROM " + QuoteName(table) + " " + parts.rest);
    int rc;
    while ((rc = sqlite3_step(keyset.get())) == SQLITE_ROW) {
      keys.push_back(sqlite3_column_int64(keyset.get(), 0));
    }
    if (rc != SQLITE_DONE) conn_->Fail(rc, Name() + ": " + sql);
    return std::make_unique<SqliteRecordset>(conn_, table, std::move(columns), std::move(keys));
  }

 public:
  void BeginTrans() override { conn_->Begin(); }
  void CommitTrans() override { conn_->Commit(); }
  void Rollback() override {
    ForgetStagedKeys();
    conn_->Rollback();
  }
  bool InTransaction() const override { return conn_->InUserTransaction(); }

  void Savepoint() override {
    if (!conn_->InUserTransaction()) {
      throw Error(EngineError::kInvalidArgument, "No transaction is open.", Name());
    }
    conn_->Exec("SAVEPOINT sa_step");
  }
  void ReleaseSavepoint() override { conn_->Exec("RELEASE sa_step"); }
  bool RollbackToSavepoint() override {
    ForgetStagedKeys();
    if (!conn_->UserTransactionAlive()) {
      conn_->Rollback();
      return false;
    }
    conn_->Exec("ROLLBACK TO sa_step");
    conn_->Exec("RELEASE sa_step");
    return true;
  }

  void Attach(const std::string& path, const std::string& alias) override {
    CheckDatabaseFile(path);
    if (conn_->InUserTransaction()) {
      throw Error(EngineError::kInvalidArgument, "Cannot attach inside a transaction.", path);
    }
    conn_->EndImplicitRead();
    Statement stmt = conn_->Prepare("ATTACH DATABASE ?1 AS " + QuoteName(alias));
    sqlite3_bind_text(stmt.get(), 1, path.c_str(), -1, SQLITE_TRANSIENT);
    conn_->Run(stmt.get(), path);
    attached_[LowerAscii(alias)] = path;
    try {
      // Archives keep the rollback journal. Their commit ends when the
      // journal's deletion is durable: with EXTRA the folder is synced after
      // it. Otherwise a power cut may bring the journal back after a later
      // commit elsewhere (the live deletion of a WAL live database) became
      // durable, and the archive's next open would roll its commit back.
      conn_->Exec("PRAGMA " + QuoteName(alias) + ".journal_mode=DELETE");
      conn_->Exec("PRAGMA " + QuoteName(alias) + ".synchronous=EXTRA");
      if (attachPageLimit_ > 0) {
        conn_->Exec("PRAGMA " + QuoteName(alias) +
                    ".max_page_count=" + std::to_string(attachPageLimit_));
      }
      // Reads the schema now, so a damaged file fails here and not half way.
      conn_->Exec("SELECT count(*) FROM " + QuoteName(alias) + ".sqlite_schema");
    } catch (...) {
      Detach(alias);
      throw;
    }
  }

  void Detach(const std::string& alias) override {
    conn_->EndImplicitRead();
    conn_->Exec("DETACH DATABASE " + QuoteName(alias));
    attached_.erase(LowerAscii(alias));
  }

  bool AtomicAcrossAttached() override {
    // Another program cannot change the journal mode while this connection
    // is open (that takes exclusive use), so it is read once.
    if (atomic_) return *atomic_;
    Statement stmt = conn_->Prepare("PRAGMA main.journal_mode");
    std::string mode;
    if (sqlite3_step(stmt.get()) == SQLITE_ROW) {
      mode = LowerAscii(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
    }
    atomic_ = mode == "delete" || mode == "truncate" || mode == "persist";
    return *atomic_;
  }
  // Attached files commit in the same statement as this one.
  bool CommitsAttachedFirst() override { return false; }
  bool CommitAttachedFirst() override { return false; }

  std::vector<int64_t> RecordsWhere(const std::string& table, std::span<const int64_t> bookmarks,
                                    const std::string& condition) override {
    const std::string source = RealTableName("main", table);
    StageKeys(bookmarks);
    const std::string sql = "SELECT s.rowid FROM temp.sa_keys AS k JOIN main." + QuoteName(source) +
                            " AS s ON s.rowid BETWEEN k.lo AND k.hi WHERE " +
                            TranslateSql(condition) + " ORDER BY k.seq, s.rowid";
    Statement stmt = conn_->Prepare(sql);
    std::vector<int64_t> keys;
    keys.reserve(bookmarks.size());
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      keys.push_back(sqlite3_column_int64(stmt.get(), 0));
    }
    if (rc != SQLITE_DONE) conn_->Fail(rc, table + " in " + Name() + ": " + condition);
    return keys;
  }

  long AppendRecordsTo(const std::string& alias, const std::string& table,
                       std::span<const int64_t> bookmarks) override {
    const Mapping m = Map(alias, table);
    // Values already in their field's form are copied as they are; checking
    // the live table once, rather than each value in every month's copy,
    // keeps the statement prepared for each archive short and the copy fast.
    const bool plain = SameLayout(m) && LiveValuesConform(m.source);
    return CopyRecords(m, "main", alias, plain, bookmarks, table + " into " + AttachedPath(alias));
  }

  // One prepared INSERT for every row, inside a step of its own (a
  // transaction of its own outside the caller's): a refused value or a failed
  // write undoes the rows written before it.
  long AppendRows(const std::string& table, std::span<const std::string> fields,
                  std::span<const Value> values) override {
    const std::string target = RealTableName("main", table);
    const std::string context = target + " in " + Name();
    const std::vector<Column> all = Columns("main", target);
    std::vector<const Column*> columns;
    std::string names, marks;
    for (const std::string& name : fields) {
      const Column* found = nullptr;
      for (const Column& c : all) {
        if (SameName(c.name, name)) found = &c;
      }
      if (found == nullptr) {
        throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                    "field " + name + " of table " + context);
      }
      columns.push_back(found);
      names += (names.empty() ? "" : ",") + QuoteName(found->name);
      marks += marks.empty() ? "?" : ",?";
    }
    if (fields.empty() || values.size() % fields.size() != 0) {
      throw Error(EngineError::kInvalidArgument, "Each row needs a value for every field.",
                  context);
    }
    if (values.empty()) return 0;
    Statement insert = conn_->Prepare("INSERT INTO main." + QuoteName(target) + " (" + names +
                                      ") VALUES (" + marks + ")");
    const bool own = !conn_->InUserTransaction();
    if (own) {
      conn_->Begin();
    } else {
      conn_->Exec("SAVEPOINT sa_rows");
    }
    try {
      for (size_t at = 0; at < values.size(); at += fields.size()) {
        for (size_t i = 0; i < fields.size(); ++i) {
          const Column& c = *columns[i];
          BindValue(insert.get(), static_cast<int>(i + 1),
                    ConvertForField(values[at + i], c.type, c.size, target + "." + c.name));
        }
        conn_->Run(insert.get(), context);
      }
      if (own) {
        conn_->Commit();
      } else {
        conn_->Exec("RELEASE sa_rows");
      }
    } catch (...) {
      try {
        if (own) {
          conn_->Rollback();
        } else if (conn_->UserTransactionAlive()) {
          conn_->Exec("ROLLBACK TO sa_rows");
          conn_->Exec("RELEASE sa_rows");
        }
      } catch (const Error&) {
        // Undone underneath already; the caller's rollback ends the rest.
      }
      throw;
    }
    return static_cast<long>(values.size() / fields.size());
  }

  int64_t LastRecordId(const std::string& alias, const std::string& table) override {
    const std::string target = RealTableName(alias, table);
    Statement stmt = conn_->Prepare("SELECT coalesce(max(rowid), 0) FROM " + QuoteName(alias) +
                                    "." + QuoteName(target));
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) conn_->Fail(rc, table + " in " + AttachedPath(alias));
    return sqlite3_column_int64(stmt.get(), 0);
  }

  long DeleteRecordsMatching(const std::string& alias, const std::string& table,
                             std::span<const int64_t> bookmarks, int64_t firstCopyId) override {
    return DeleteMatchingCopies(Map(alias, table), "main", alias, bookmarks, firstCopyId,
                                table + " in " + Name());
  }

  std::vector<int64_t> AttachedRecordIds(const std::string& alias,
                                         const std::string& table) override {
    const std::string source = RealTableName(alias, table);
    Statement stmt = conn_->Prepare("SELECT rowid FROM " + QuoteName(alias) + "." +
                                    QuoteName(source) + " ORDER BY rowid");
    std::vector<int64_t> ids;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      ids.push_back(sqlite3_column_int64(stmt.get(), 0));
    }
    if (rc != SQLITE_DONE) conn_->Fail(rc, table + " in " + AttachedPath(alias));
    return ids;
  }

  Appended AppendRecordsFrom(const std::string& alias, const std::string& table,
                             std::span<const int64_t> ids) override {
    const Mapping m = MapBack(alias, table);
    const int64_t before = MaxRowid("main", m.target);
    Appended out;
    out.count = CopyRecords(m, alias, "main", false, ids,
                            table + " from " + AttachedPath(alias) + " into " + Name());
    // New rows take the identities after the largest (or after the largest
    // ever used, for AUTOINCREMENT tables); nothing else writes while the
    // transaction holds the write lock, so they follow one another.
    Statement range = conn_->Prepare("SELECT min(rowid), max(rowid), count(*) FROM main." +
                                     QuoteName(m.target) + " WHERE rowid > ?1");
    sqlite3_bind_int64(range.get(), 1, before);
    if (sqlite3_step(range.get()) != SQLITE_ROW)
      conn_->Fail(sqlite3_errcode(conn_->Handle()), Name());
    const int64_t first = sqlite3_column_int64(range.get(), 0);
    const int64_t last = sqlite3_column_int64(range.get(), 1);
    if (out.count > 0 &&
        (sqlite3_column_int64(range.get(), 2) != out.count || last - first + 1 != out.count)) {
      throw Error(EngineError::kInvalidArgument,
                  "The appended records did not get consecutive identities.",
                  table + " in " + Name());
    }
    out.ids.reserve(static_cast<size_t>(out.count));
    for (long i = 0; i < out.count; ++i) out.ids.push_back(first + i);
    if (out.count > 0) CheckCameBackExactly(m, alias, first, table);
    return out;
  }

  long DeleteAttachedRecords(const std::string& alias, const std::string& table,
                             std::span<const int64_t> ids) override {
    const std::string source = RealTableName(alias, table);
    StageKeys(ids);
    Statement stmt = conn_->Prepare("DELETE FROM " + QuoteName(alias) + "." + QuoteName(source) +
                                    " WHERE rowid BETWEEN ?1 AND ?2");
    long deleted = 0;
    for (const KeyRange& r : ranges_) {
      sqlite3_bind_int64(stmt.get(), 1, r.lo);
      sqlite3_bind_int64(stmt.get(), 2, r.hi);
      deleted += conn_->Run(stmt.get(), table + " in " + AttachedPath(alias));
    }
    return deleted;
  }

  long DeleteAttachedRecordsMatching(const std::string& alias, const std::string& table,
                                     std::span<const int64_t> ids,
                                     std::span<const int64_t> copyIds) override {
    if (copyIds.size() != ids.size()) {
      throw Error(EngineError::kInvalidArgument, "Each record needs the identity of its copy.",
                  table + " in " + AttachedPath(alias));
    }
    const Mapping m = MapBack(alias, table);
    // Compared stretch by stretch: where both identities go up one at a time
    // (always, for copies this engine appended), the copy of the i-th record
    // of the stretch is the stretch's first copy plus i.
    long deleted = 0;
    for (size_t begin = 0; begin < ids.size();) {
      size_t end = begin + 1;
      while (end < ids.size() && ids[end] == ids[end - 1] + 1 &&
             copyIds[end] == copyIds[end - 1] + 1) {
        ++end;
      }
      deleted += DeleteMatchingCopies(m, alias, "main", ids.subspan(begin, end - begin),
                                      copyIds[begin], table + " in " + AttachedPath(alias));
      begin = end;
    }
    return deleted;
  }

  std::vector<std::string> CheckIntegrity() override {
    BeforeWrite();
    std::vector<std::string> problems;
    Statement stmt = conn_->Prepare("PRAGMA main.integrity_check(10)");
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
      problems.emplace_back(text != nullptr ? text : "");
    }
    if (rc != SQLITE_DONE) return {SqliteError(conn_->Handle(), rc, Name()).Cause()};
    if (problems.size() == 1 && problems[0] == "ok") problems.clear();
    return problems;
  }

  // Whatever dao_datecmp cannot place: a number, a text that is not a date,
  // NULL. The bound compared with does not matter.
  long CountUndated(const std::string& table, const std::string& dateField) override {
    const std::string real = RealTableName("main", table);
    const std::vector<Column> columns = Columns("main", real);
    const Column* field = FindColumn(columns, dateField);
    if (field == nullptr) {
      throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                  "field " + dateField + " of table " + real + " in " + Name());
    }
    Statement stmt =
        conn_->Prepare("SELECT count(*) FROM main." + QuoteName(real) + " WHERE dao_datecmp(" +
                       QuoteName(field->name) + ", '2000-01-01 00:00:00') IS NULL");
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) conn_->Fail(rc, table + " in " + Name());
    return static_cast<long>(sqlite3_column_int64(stmt.get(), 0));
  }

  long DeleteRecords(const std::string& table, std::span<const int64_t> bookmarks) override {
    const std::string source = LiveTableName(table);
    StageKeys(bookmarks);
    Statement stmt =
        conn_->Prepare("DELETE FROM main." + QuoteName(source) + " WHERE rowid BETWEEN ?1 AND ?2");
    long deleted = 0;
    for (const KeyRange& r : ranges_) {
      sqlite3_bind_int64(stmt.get(), 1, r.lo);
      sqlite3_bind_int64(stmt.get(), 2, r.hi);
      deleted += conn_->Run(stmt.get(), table + " in " + Name());
    }
    return deleted;
  }

  // The transaction holds the write lock from its start: what it read is
  // still as read, and is deleted by identity.
  std::vector<int64_t> DeleteRecordsAsRead(const std::string& table,
                                           std::span<const int64_t> bookmarks) override {
    if (!conn_->InUserTransaction()) {
      throw Error(EngineError::kInvalidArgument, "No transaction is open.", Name());
    }
    std::vector<int64_t> existing = RecordsWhere(table, bookmarks, "1 = 1");
    DeleteRecords(table, existing);
    return existing;
  }

 private:
  // The column of that name (letter case ignored), or nullptr.
  static const Column* FindColumn(const std::vector<Column>& columns, const std::string& name) {
    for (const Column& c : columns) {
      if (SameName(c.name, name)) return &c;
    }
    return nullptr;
  }

  // The fields of `alias`.`table`, each with the live field of the same name.
  struct Mapping {
    std::string source;
    std::string target;
    std::vector<std::pair<Column, Column>> fields;  // live, archive
  };

  Mapping Map(const std::string& alias, const std::string& table) {
    Mapping m;
    m.target = RealTableName(alias, table);
    // The live side is read once per table; archives differ, so each is read.
    auto live = liveTables_.find(LowerAscii(table));
    if (live == liveTables_.end()) {
      const std::string source = RealTableName("main", table);
      live = liveTables_.emplace(LowerAscii(table), std::make_pair(source, Columns("main", source)))
                 .first;
    }
    m.source = live->second.first;
    const std::vector<Column>& from = live->second.second;
    for (const Column& t : Columns(alias, m.target)) {
      const Column* s = FindColumn(from, t.name);
      if (s == nullptr) {
        throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                    "field " + t.name + " of table " + table + ", missing in " + Name());
      }
      m.fields.emplace_back(*s, t);
    }
    return m;
  }

  // Deletes those of the named records of `from`.`m.source` whose values,
  // converted for their fields, equal the record of `to`.`m.target` with
  // identity firstId + i (the i-th named record's copy).
  long DeleteMatchingCopies(const Mapping& m, const std::string& from, const std::string& to,
                            std::span<const int64_t> ids, int64_t firstId,
                            const std::string& context) {
    std::string same;
    for (const auto& [s, t] : m.fields) {
      same += " AND " + SameAsCopy("s." + QuoteName(s.name), s, t, "c." + QuoteName(t.name));
    }
    StageKeys(ids);
    const std::string source = QuoteName(from) + "." + QuoteName(m.source);
    Statement stmt = conn_->Prepare(
        "DELETE FROM " + source + " WHERE rowid IN (SELECT s.rowid FROM temp.sa_keys AS k JOIN " +
        source + " AS s ON s.rowid BETWEEN k.lo AND k.hi JOIN " + QuoteName(to) + "." +
        QuoteName(m.target) + " AS c ON c.rowid = ?1 + k.pos + s.rowid - k.lo WHERE 1" + same +
        ")");
    sqlite3_bind_int64(stmt.get(), 1, firstId);
    return conn_->Run(stmt.get(), context);
  }

  // The fields of `alias`.`table` (the source), each with the field of the
  // same name in this database's table (the target).
  Mapping MapBack(const std::string& alias, const std::string& table) {
    Mapping m;
    m.source = RealTableName(alias, table);
    m.target = RealTableName("main", table);
    const std::vector<Column> into = Columns("main", m.target);
    for (const Column& s : Columns(alias, m.source)) {
      const Column* t = FindColumn(into, s.name);
      if (t == nullptr) {
        throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                    "field " + s.name + " of table " + table + ", missing in " + Name());
      }
      m.fields.emplace_back(s, *t);
    }
    return m;
  }

  // Appends the records of `from`.`m.source` named by `ids` (staged in
  // order) to `to`.`m.target`, each field converted for its target field,
  // or copied as it is when `plain`. Returns how many it appended.
  long CopyRecords(const Mapping& m, const std::string& from, const std::string& to, bool plain,
                   std::span<const int64_t> ids, const std::string& context) {
    std::string names, exprs;
    for (const auto& [s, t] : m.fields) {
      if (!names.empty()) {
        names += ',';
        exprs += ',';
      }
      names += QuoteName(t.name);
      const std::string value = "s." + QuoteName(s.name);
      exprs += plain ? value : ConvertExpression(value, s, t, m.target);
    }
    StageKeys(ids);
    Statement stmt = conn_->Prepare(
        "INSERT INTO " + QuoteName(to) + "." + QuoteName(m.target) + " (" + names + ") SELECT " +
        exprs + " FROM temp.sa_keys AS k JOIN " + QuoteName(from) + "." + QuoteName(m.source) +
        " AS s ON s.rowid BETWEEN k.lo AND k.hi ORDER BY k.seq, s.rowid");
    return conn_->Run(stmt.get(), context);
  }

  // Throws EngineError::kDataConversion when a record CopyRecords just took back from
  // `alias` (the i-th of the staged records now at rowid first + i) holds a
  // value that its live field changed: read back as the archive's field, it
  // differs from the archived value (a fraction into a whole-number field, a
  // number into a boolean).
  void CheckCameBackExactly(const Mapping& m, const std::string& alias, int64_t first,
                            const std::string& table) {
    const auto literal = [](const std::string& text) {
      std::string out = "'";
      for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
      return out + "'";
    };
    std::string why;
    for (const auto& [a, l] : m.fields) {
      const std::string archived = "s." + QuoteName(a.name);
      const std::string live = "c." + QuoteName(l.name);
      why += (why.empty() ? "" : ",") + std::string("CASE WHEN NOT ") +
             SameAsCopy(live, l, a, archived) + " THEN " + literal(a.name + " ") + " || quote(" +
             archived + ") || ' would come back as ' || quote(" + live + ") END";
    }
    if (m.fields.size() == 1) why += ",NULL";
    Statement stmt = conn_->Prepare(
        "SELECT s.rowid, coalesce(" + why + ") AS why FROM temp.sa_keys AS k JOIN " +
        QuoteName(alias) + "." + QuoteName(m.source) +
        " AS s ON s.rowid BETWEEN k.lo AND k.hi JOIN main." + QuoteName(m.target) +
        " AS c ON c.rowid = ?1 + k.pos + s.rowid - k.lo WHERE why IS NOT NULL LIMIT 1");
    sqlite3_bind_int64(stmt.get(), 1, first);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) return;
    if (rc != SQLITE_ROW) conn_->Fail(rc, table + " in " + Name());
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
    throw Error(EngineError::kDataConversion, "A value would not come back exactly.",
                table + " from " + AttachedPath(alias) + " into " + Name() + ": record " +
                    std::to_string(sqlite3_column_int64(stmt.get(), 0)) + ", field " +
                    (text != nullptr ? text : "") + "; the table's records stay in the archive");
  }

  int64_t MaxRowid(const std::string& schema, const std::string& table) {
    Statement stmt = conn_->Prepare("SELECT coalesce(max(rowid), 0) FROM " + QuoteName(schema) +
                                    "." + QuoteName(table));
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) conn_->Fail(rc, table + " in " + SchemaPath(schema));
    return sqlite3_column_int64(stmt.get(), 0);
  }

  // True when every archive field has exactly the type and size of its live
  // field, so a value that suits the live field suits the archive's.
  static bool SameLayout(const Mapping& m) {
    for (const auto& [s, t] : m.fields) {
      if (s.type != t.type || s.size != t.size) return false;
    }
    return true;
  }

  // True when every value of the live table is in the form its own field
  // declares (storage, range, length). The table is checked once, and the
  // answer trusted for as long as no other program commits to the live
  // database; after such a commit the copies convert value by value, so a
  // busy host costs a slower copy, never a second scan of the table.
  bool LiveValuesConform(const std::string& source) {
    const int64_t version = DataVersion();
    const auto known = conforming_.find(source);
    if (known != conforming_.end()) {
      return known->second.first == version && known->second.second;
    }
    const auto& columns = liveTables_.at(LowerAscii(source)).second;
    std::string checks;
    for (const Column& c : columns) {
      const std::string value = "s." + QuoteName(c.name);
      checks += (checks.empty() ? "" : " AND ") +
                ("(" + value + " IS NULL OR " + ReadyCheck(value, c, c) + ")");
    }
    Statement stmt = conn_->Prepare("SELECT 1 FROM main." + QuoteName(source) +
                                    " AS s WHERE NOT (" + checks + ") LIMIT 1");
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) conn_->Fail(rc, source + " in " + Name());
    const bool conform = rc == SQLITE_DONE;
    conforming_[source] = {version, conform};
    return conform;
  }

  // Changes when another connection commits to the live database.
  int64_t DataVersion() {
    Statement stmt = conn_->Prepare("PRAGMA main.data_version");
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) conn_->Fail(rc, Name());
    return sqlite3_column_int64(stmt.get(), 0);
  }

  std::string LiveTableName(const std::string& table) {
    const auto live = liveTables_.find(LowerAscii(table));
    return live != liveTables_.end() ? live->second.first : RealTableName("main", table);
  }

  void BeforeWrite() {
    if (!conn_->InUserTransaction()) conn_->EndImplicitRead();
  }

  std::string AttachedPath(const std::string& alias) const {
    const auto it = attached_.find(LowerAscii(alias));
    if (it == attached_.end()) {
      throw Error(EngineError::kInvalidArgument, "No database is attached under that name.", alias);
    }
    return it->second;
  }

  std::string SchemaPath(const std::string& schema) const {
    return LowerAscii(schema) == "main" ? Name() : AttachedPath(schema);
  }

  // The table's name as stored, found without regard to case.
  std::string RealTableName(const std::string& schema, const std::string& table) {
    Statement stmt = conn_->Prepare("SELECT name FROM " + QuoteName(schema) +
                                    ".sqlite_schema WHERE type='table' AND name=?1 COLLATE NOCASE");
    sqlite3_bind_text(stmt.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_ROW) return reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    if (rc != SQLITE_DONE) conn_->Fail(rc, SchemaPath(schema));
    throw Error(EngineError::kTableNotFound, "Cannot find the input table or query.",
                "table " + table + " in " + SchemaPath(schema));
  }

  std::vector<Column> Columns(const std::string& schema, const std::string& table) {
    Statement stmt = conn_->Prepare("SELECT name, type FROM pragma_table_info(?1, ?2)");
    sqlite3_bind_text(stmt.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<Column> cols;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      Column c;
      c.name = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
      const auto* decl = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
      c.type = FieldTypeOfDeclared(decl != nullptr ? decl : "", c.size);
      cols.push_back(std::move(c));
    }
    if (rc != SQLITE_DONE) conn_->Fail(rc, SchemaPath(schema));
    return cols;
  }

  // A stretch of consecutive rowids in a run: positions pos.. of the run.
  struct KeyRange {
    int64_t lo;
    int64_t hi;
    int64_t pos;
  };

  // Puts `keys` into temp.sa_keys as stretches of consecutive rowids, in
  // their order, unless they are there already. Records written in date
  // order make long stretches, so a run is a handful of rows there.
  // Keys staged inside work that is undone are gone with it.
  void ForgetStagedKeys() {
    staged_.clear();
    stagedValid_ = false;
  }

  void StageKeys(std::span<const int64_t> keys) {
    if (stagedValid_ && staged_.size() == keys.size() &&
        std::equal(keys.begin(), keys.end(), staged_.begin())) {
      return;
    }
    ranges_.clear();
    for (size_t i = 0; i < keys.size(); ++i) {
      if (!ranges_.empty() && keys[i] == ranges_.back().hi + 1) {
        ranges_.back().hi = keys[i];
      } else {
        ranges_.push_back({keys[i], keys[i], static_cast<int64_t>(i)});
      }
    }
    const bool own = !conn_->InUserTransaction();
    if (own) conn_->Begin();
    try {
      conn_->Exec(
          "CREATE TEMP TABLE IF NOT EXISTS sa_keys(seq INTEGER PRIMARY KEY, lo INTEGER NOT NULL, "
          "hi INTEGER NOT NULL, pos INTEGER NOT NULL)");
      conn_->Exec("DELETE FROM temp.sa_keys");
      Statement insert =
          conn_->Prepare("INSERT INTO temp.sa_keys(seq, lo, hi, pos) VALUES (?1, ?2, ?3, ?4)");
      for (size_t i = 0; i < ranges_.size(); ++i) {
        sqlite3_bind_int64(insert.get(), 1, static_cast<int64_t>(i));
        sqlite3_bind_int64(insert.get(), 2, ranges_[i].lo);
        sqlite3_bind_int64(insert.get(), 3, ranges_[i].hi);
        sqlite3_bind_int64(insert.get(), 4, ranges_[i].pos);
        conn_->Run(insert.get(), "temp.sa_keys");
      }
      if (own) conn_->Commit();
    } catch (...) {
      if (own) conn_->Rollback();
      stagedValid_ = false;
      throw;
    }
    staged_.assign(keys.begin(), keys.end());
    stagedValid_ = !own;
  }

  std::shared_ptr<Connection> conn_;
  int64_t attachPageLimit_;
  std::map<std::string, std::string> attached_;  // lower-cased alias -> path
  std::vector<int64_t> staged_;
  std::vector<KeyRange> ranges_;
  bool stagedValid_ = false;
  bool syncOnClose_ = false;
  std::optional<bool> atomic_;
  // live table -> (data version when checked, whether its values conform)
  std::map<std::string, std::pair<int64_t, bool>> conforming_;
  // lower-cased table -> its name and fields in the live database
  std::map<std::string, std::pair<std::string, std::vector<Column>>> liveTables_;
};

class SqliteEngine : public Engine {
 public:
  SqliteEngine(int busyTimeoutMs, int64_t pageLimit)
      : busyTimeoutMs_(busyTimeoutMs), pageLimit_(pageLimit) {}

  std::unique_ptr<Database> OpenDatabase(const std::string& path) override {
    CheckDatabaseFile(path);
    auto conn = Connect(path, SQLITE_OPEN_READWRITE);
    // Reads the schema now, so a damaged file fails on open.
    conn->Exec("SELECT count(*) FROM sqlite_schema");
    return std::make_unique<SqliteDatabase>(std::move(conn), pageLimit_);
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
    auto db = std::make_unique<SqliteDatabase>(std::move(conn), pageLimit_);
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

std::unique_ptr<Engine> MakeSqliteEngine(int busyTimeoutMs, int64_t archivePageLimit) {
  return std::make_unique<SqliteEngine>(busyTimeoutMs, archivePageLimit);
}

}  // namespace sa::dbengine
