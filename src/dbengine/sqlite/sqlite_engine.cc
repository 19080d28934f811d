#include "dbengine/sqlite/sqlite_engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "dbengine/file_kind.h"
#include "dbengine/record_numbering.h"
#include "dbengine/sql_text.h"
#include "dbengine/sqlite/dialect.h"
#include "dbengine/sqlite/sqlite_handle.h"
#include "dbengine/sqlite/sqlite_recordset.h"
#include "dbengine/sqlite/sqlite_value_sql.h"
#include "dbengine/sqlite_format.h"
#include "dbengine/transaction_guard.h"

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
  char head[kSignatureBytes] = {};
  size_t got = 0;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
  } else {
    throw Error(EngineError::kReadOnly, "The database file cannot be read.",
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

// What a database shares with its archive links: the connection (archives
// are attached to it), the identities staged for the next set statement, and
// the live tables' layouts as the moves read them. Links hold it too, so
// either may go first.
class Session {
 public:
  Session(std::shared_ptr<Connection> conn, int64_t archivePageLimit)
      : conn_(std::move(conn)), archivePageLimit_(archivePageLimit) {}

  Connection& Conn() { return *conn_; }
  const std::shared_ptr<Connection>& SharedConn() const { return conn_; }
  const std::string& Name() const { return conn_->Path(); }

  // Attaches the archive at `path` under a schema name of its own and returns
  // the name.
  std::string Attach(const std::string& path) {
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

  void Detach(const std::string& schema) {
    conn_->EndImplicitRead();
    conn_->Exec("DETACH DATABASE " + QuoteName(schema));
    attached_.erase(schema);
  }

  // The file a schema name stands for: this database's, or an archive's.
  std::string SchemaPath(const std::string& schema) const {
    const auto it = attached_.find(schema);
    return it == attached_.end() ? Name() : it->second;
  }

  void Rollback() {
    ForgetStagedKeys();
    conn_->Rollback();
  }

  void BeforeWrite() {
    if (!conn_->InUserTransaction()) conn_->EndImplicitRead();
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

  std::vector<Field> Columns(const std::string& schema, const std::string& table) {
    Statement stmt = conn_->Prepare("SELECT name, type FROM pragma_table_info(?1, ?2)");
    sqlite3_bind_text(stmt.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<Field> cols;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      Field c;
      c.name = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
      const auto* decl = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
      c.type = FieldTypeOfDeclared(decl != nullptr ? decl : "", c.size);
      cols.push_back(std::move(c));
    }
    if (rc != SQLITE_DONE) conn_->Fail(rc, SchemaPath(schema));
    return cols;
  }

  // A live table's name and fields, read once per table.
  const std::pair<std::string, std::vector<Field>>& LiveTable(const std::string& table) {
    auto live = liveTables_.find(LowerAscii(table));
    if (live == liveTables_.end()) {
      const std::string source = RealTableName("main", table);
      live = liveTables_.emplace(LowerAscii(table), std::make_pair(source, Columns("main", source)))
                 .first;
    }
    return live->second;
  }

  std::string LiveTableName(const std::string& table) {
    const auto live = liveTables_.find(LowerAscii(table));
    return live != liveTables_.end() ? live->second.first : RealTableName("main", table);
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
    for (const Field& c : columns) {
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

  // Keys staged inside work that is undone are gone with it.
  void ForgetStagedKeys() { stagedValid_ = false; }

  // Puts `keys` into temp.sa_keys as stretches of consecutive rowids, in
  // their order (the stretch's bounds, and the position of its first key
  // among the keys), unless they are there already. Records written in date
  // order make long stretches, so a run is a handful of rows there.
  void StageKeys(std::span<const int64_t> keys) {
    if (stagedValid_ && staged_.Equals(keys)) return;
    staged_ = IdentityStretches(keys);
    stagedValid_ = false;
    // Outside the caller's transaction, in one of their own.
    const bool own = !conn_->InUserTransaction();
    if (own) conn_->Begin();
    TransactionGuard step([&] { conn_->Commit(); }, [&] { conn_->Rollback(); });
    if (!own) step.Keep();
    conn_->Exec(
        "CREATE TEMP TABLE IF NOT EXISTS sa_keys(seq INTEGER PRIMARY KEY, lo INTEGER NOT NULL, "
        "hi INTEGER NOT NULL, pos INTEGER NOT NULL)");
    conn_->Exec("DELETE FROM temp.sa_keys");
    Statement insert =
        conn_->Prepare("INSERT INTO temp.sa_keys(seq, lo, hi, pos) VALUES (?1, ?2, ?3, ?4)");
    int64_t seq = 0;
    for (const IdentityStretches::Stretch& stretch : staged_.Stretches()) {
      sqlite3_bind_int64(insert.get(), 1, seq++);
      sqlite3_bind_int64(insert.get(), 2, stretch.first);
      sqlite3_bind_int64(insert.get(), 3, stretch.last());
      sqlite3_bind_int64(insert.get(), 4, static_cast<int64_t>(stretch.at));
      conn_->Run(insert.get(), "temp.sa_keys");
    }
    if (own) step.Commit();
    stagedValid_ = !own;
  }
  // The stretches of the keys staged last.
  const std::vector<IdentityStretches::Stretch>& Staged() const { return staged_.Stretches(); }

 private:
  // Changes when another connection commits to the live database.
  int64_t DataVersion() {
    Statement stmt = conn_->Prepare("PRAGMA main.data_version");
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) conn_->Fail(rc, Name());
    return sqlite3_column_int64(stmt.get(), 0);
  }

  std::shared_ptr<Connection> conn_;
  int64_t archivePageLimit_;
  int nextSchema_ = 0;
  std::map<std::string, std::string> attached_;  // schema name -> path
  IdentityStretches staged_;
  bool stagedValid_ = false;
  // live table -> (data version when checked, whether its values conform)
  std::map<std::string, std::pair<int64_t, bool>> conforming_;
  // lower-cased table -> its name and fields in the live database
  std::map<std::string, std::pair<std::string, std::vector<Field>>> liveTables_;
};

// The column of that name (letter case ignored), or nullptr.
const Field* FindColumn(const std::vector<Field>& columns, const std::string& name) {
  for (const Field& c : columns) {
    if (SameName(c.name, name)) return &c;
  }
  return nullptr;
}

// An archive attached to the live database's connection: its moves are set
// statements between the two schemas.
class SqliteArchiveLink : public ArchiveLink {
 public:
  SqliteArchiveLink(std::shared_ptr<Session> session, std::string path)
      : session_(std::move(session)), path_(std::move(path)), schema_(session_->Attach(path_)) {}
  ~SqliteArchiveLink() override {
    try {
      if (session_->Conn().InUserTransaction()) session_->Rollback();
      session_->Detach(schema_);
    } catch (const Error&) {
      // The connection closes with the live database; nothing is lost by
      // leaving the archive attached until then.
    }
  }

  const std::string& Path() const override { return path_; }

  IdentityStretches CopyOut(const std::string& table, std::span<const int64_t> liveIds) override {
    const Mapping m = Map(table);
    // Values already in their field's form are copied as they are; checking
    // the live table once, rather than each value in every month's copy,
    // keeps the statement prepared for each archive short and the copy fast.
    const bool plain = SameLayout(m) && session_->LiveValuesConform(m.source);
    // Copies take the rowids after the largest, in the order copied: nothing
    // else writes the archive while the transaction holds its write lock.
    const int64_t first = MaxRowid(schema_, m.target) + 1;
    IdentityStretches copies;
    copies.AddStretch(first,
                      CopyRecords(m, "main", schema_, plain, liveIds, table + " into " + path_));
    return copies;
  }

  long ReplaceTable(const std::string& table, std::span<const int64_t> liveIds) override {
    const std::string target = session_->RealTableName(schema_, table);
    session_->Conn().Exec("DELETE FROM " + QuoteName(schema_) + "." + QuoteName(target));
    return static_cast<long>(CopyOut(table, liveIds).size());
  }

  long DeleteLiveCopied(const std::string& table, std::span<const int64_t> liveIds,
                        std::span<const int64_t> copyIds) override {
    CheckCopies(liveIds, copyIds, table + " in " + session_->Name());
    const Mapping m = Map(table);
    const IdentityStretches copies(copyIds);
    long deleted = 0;
    for (const IdentityStretches::Stretch& s : copies.Stretches()) {
      deleted += DeleteMatchingCopies(m, "main", schema_,
                                      liveIds.subspan(s.at, static_cast<size_t>(s.count)), s.first,
                                      table + " in " + session_->Name());
    }
    return deleted;
  }

  std::vector<int64_t> ArchivedIds(const std::string& table) override {
    const std::string source = session_->RealTableName(schema_, table);
    Statement stmt = session_->Conn().Prepare("SELECT rowid FROM " + QuoteName(schema_) + "." +
                                              QuoteName(source) + " ORDER BY rowid");
    std::vector<int64_t> ids;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      ids.push_back(sqlite3_column_int64(stmt.get(), 0));
    }
    if (rc != SQLITE_DONE) session_->Conn().Fail(rc, table + " in " + path_);
    return ids;
  }

  IdentityStretches CopyBack(const std::string& table,
                             std::span<const int64_t> archivedIds) override {
    Connection& conn = session_->Conn();
    const Mapping m = MapBack(table);
    const int64_t before = MaxRowid("main", m.target);
    const long count = CopyRecords(m, schema_, "main", false, archivedIds,
                                   table + " from " + path_ + " into " + session_->Name());
    // New rows take the identities after the largest (or after the largest
    // ever used, for AUTOINCREMENT tables); nothing else writes while the
    // transaction holds the write lock, so they follow one another.
    Statement range = conn.Prepare("SELECT min(rowid), max(rowid), count(*) FROM main." +
                                   QuoteName(m.target) + " WHERE rowid > ?1");
    sqlite3_bind_int64(range.get(), 1, before);
    if (sqlite3_step(range.get()) != SQLITE_ROW) {
      conn.Fail(sqlite3_errcode(conn.Handle()), session_->Name());
    }
    const int64_t first = sqlite3_column_int64(range.get(), 0);
    const int64_t last = sqlite3_column_int64(range.get(), 1);
    if (count > 0 && (sqlite3_column_int64(range.get(), 2) != count || last - first + 1 != count)) {
      throw Error(EngineError::kInvalidArgument,
                  "The appended records did not get consecutive identities.",
                  table + " in " + session_->Name());
    }
    IdentityStretches copies;
    copies.AddStretch(first, count);
    if (count > 0) CheckCameBackExactly(m, first, table);
    return copies;
  }

  long DeleteArchived(const std::string& table, std::span<const int64_t> archivedIds) override {
    const std::string source = session_->RealTableName(schema_, table);
    session_->StageKeys(archivedIds);
    Statement stmt = session_->Conn().Prepare("DELETE FROM " + QuoteName(schema_) + "." +
                                              QuoteName(source) + " WHERE rowid BETWEEN ?1 AND ?2");
    long deleted = 0;
    for (const IdentityStretches::Stretch& s : session_->Staged()) {
      sqlite3_bind_int64(stmt.get(), 1, s.first);
      sqlite3_bind_int64(stmt.get(), 2, s.last());
      deleted += session_->Conn().Run(stmt.get(), table + " in " + path_);
    }
    return deleted;
  }

  long DeleteArchivedCopied(const std::string& table, std::span<const int64_t> archivedIds,
                            std::span<const int64_t> copyIds) override {
    CheckCopies(archivedIds, copyIds, table + " in " + path_);
    const Mapping m = MapBack(table);
    // Compared stretch by stretch of the copies: the copy of the i-th record
    // of a stretch is the stretch's first copy plus i.
    const IdentityStretches copies(copyIds);
    long deleted = 0;
    for (const IdentityStretches::Stretch& s : copies.Stretches()) {
      deleted += DeleteMatchingCopies(m, schema_, "main",
                                      archivedIds.subspan(s.at, static_cast<size_t>(s.count)),
                                      s.first, table + " in " + path_);
    }
    return deleted;
  }

  void CommitArchive() override {
    throw Error(EngineError::kInvalidArgument,
                "The archive commits with the live database, not alone.", path_);
  }

 private:
  // The fields of a table on both sides, each source field with the target
  // field of the same name.
  struct Mapping {
    std::string source;
    std::string target;
    std::vector<std::pair<Field, Field>> fields;  // source, target
  };

  static void CheckCopies(std::span<const int64_t> ids, std::span<const int64_t> copyIds,
                          const std::string& context) {
    if (copyIds.size() != ids.size()) {
      throw Error(EngineError::kInvalidArgument, "Each record needs the identity of its copy.",
                  context);
    }
  }

  // The archive's `table` (the target), each field with the live field of
  // the same name.
  Mapping Map(const std::string& table) {
    Mapping m;
    m.target = session_->RealTableName(schema_, table);
    // The live side is read once per table; archives differ, so each is read.
    const auto& live = session_->LiveTable(table);
    m.source = live.first;
    for (const Field& t : session_->Columns(schema_, m.target)) {
      const Field* s = FindColumn(live.second, t.name);
      if (s == nullptr) {
        throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                    "field " + t.name + " of table " + table + ", missing in " + session_->Name());
      }
      m.fields.emplace_back(*s, t);
    }
    return m;
  }

  // The archive's `table` (the source), each field with the field of the
  // same name in the live table (the target).
  Mapping MapBack(const std::string& table) {
    Mapping m;
    m.source = session_->RealTableName(schema_, table);
    m.target = session_->RealTableName("main", table);
    const std::vector<Field> into = session_->Columns("main", m.target);
    for (const Field& s : session_->Columns(schema_, m.source)) {
      const Field* t = FindColumn(into, s.name);
      if (t == nullptr) {
        throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                    "field " + s.name + " of table " + table + ", missing in " + session_->Name());
      }
      m.fields.emplace_back(s, *t);
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
    session_->StageKeys(ids);
    const std::string source = QuoteName(from) + "." + QuoteName(m.source);
    Statement stmt = session_->Conn().Prepare(
        "DELETE FROM " + source + " WHERE rowid IN (SELECT s.rowid FROM temp.sa_keys AS k JOIN " +
        source + " AS s ON s.rowid BETWEEN k.lo AND k.hi JOIN " + QuoteName(to) + "." +
        QuoteName(m.target) + " AS c ON c.rowid = ?1 + k.pos + s.rowid - k.lo WHERE 1" + same +
        ")");
    sqlite3_bind_int64(stmt.get(), 1, firstId);
    return session_->Conn().Run(stmt.get(), context);
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
    session_->StageKeys(ids);
    Statement stmt = session_->Conn().Prepare(
        "INSERT INTO " + QuoteName(to) + "." + QuoteName(m.target) + " (" + names + ") SELECT " +
        exprs + " FROM temp.sa_keys AS k JOIN " + QuoteName(from) + "." + QuoteName(m.source) +
        " AS s ON s.rowid BETWEEN k.lo AND k.hi ORDER BY k.seq, s.rowid");
    return session_->Conn().Run(stmt.get(), context);
  }

  // Throws EngineError::kDataConversion when a record CopyRecords just took
  // back from the archive (the i-th of the staged records now at rowid
  // first + i) holds a value that its live field changed: read back as the
  // archive's field, it differs from the archived value (a fraction into a
  // whole-number field, a number into a boolean).
  void CheckCameBackExactly(const Mapping& m, int64_t first, const std::string& table) {
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
    Connection& conn = session_->Conn();
    Statement stmt = conn.Prepare(
        "SELECT s.rowid, coalesce(" + why + ") AS why FROM temp.sa_keys AS k JOIN " +
        QuoteName(schema_) + "." + QuoteName(m.source) +
        " AS s ON s.rowid BETWEEN k.lo AND k.hi JOIN main." + QuoteName(m.target) +
        " AS c ON c.rowid = ?1 + k.pos + s.rowid - k.lo WHERE why IS NOT NULL LIMIT 1");
    sqlite3_bind_int64(stmt.get(), 1, first);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) return;
    if (rc != SQLITE_ROW) conn.Fail(rc, table + " in " + session_->Name());
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
    throw Error(EngineError::kDataConversion, "A value would not come back exactly.",
                table + " from " + path_ + " into " + session_->Name() + ": record " +
                    std::to_string(sqlite3_column_int64(stmt.get(), 0)) + ", field " +
                    (text != nullptr ? text : "") + "; the table's records stay in the archive");
  }

  int64_t MaxRowid(const std::string& schema, const std::string& table) {
    Statement stmt = session_->Conn().Prepare("SELECT coalesce(max(rowid), 0) FROM " +
                                              QuoteName(schema) + "." + QuoteName(table));
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) session_->Conn().Fail(rc, table + " in " + session_->SchemaPath(schema));
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

  std::shared_ptr<Session> session_;
  std::string path_;
  std::string schema_;
};

class SqliteDatabase : public Database, public RecordNumbering {
 public:
  explicit SqliteDatabase(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  ~SqliteDatabase() override { session_->Conn().Close(); }

  const std::string& Name() const override { return session_->Name(); }

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
    session_->BeforeWrite();
    Conn().Exec(sql);
  }

  std::vector<TableDef> TableDefs() override {
    std::vector<TableDef> defs;
    Statement names = Conn().Prepare(
        "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite!_%' "
        "ESCAPE '!' ORDER BY rowid");
    while (sqlite3_step(names.get()) == SQLITE_ROW) {
      const auto* n = reinterpret_cast<const char*>(sqlite3_column_text(names.get(), 0));
      defs.emplace_back(n != nullptr ? n : "");
    }
    for (TableDef& def : defs) {
      for (const Field& f : session_->Columns("main", def.Name())) def.Fields().Append(f);
    }
    return defs;
  }

  long Execute(const std::string& sql) override {
    const std::string translated = TranslateSql(sql);
    session_->BeforeWrite();
    Statement stmt = Conn().Prepare(translated);
    if (sqlite3_stmt_readonly(stmt.get()) != 0 && sqlite3_column_count(stmt.get()) > 0) {
      throw Error(EngineError::kInvalidArgument, "Cannot execute a select query.",
                  Name() + ": " + sql);
    }
    return Conn().Run(stmt.get(), Name() + ": " + sql);
  }

  std::unique_ptr<Recordset> OpenRecordset(const std::string& sql) override {
    const std::string translated = TranslateSql(sql);
    const std::optional<SelectParts> parts = SplitSelect(translated);
    if (!parts) {
      throw Error(EngineError::kSyntax, "Only single-table SELECT texts open record sets.",
                  Name() + ": " + sql);
    }
    // The keyset is read in the transaction the record set then reads in.
    Conn().EnsureRead();
    try {
      return OpenKeyset(*parts, sql);
    } catch (...) {
      Conn().ReleaseIfIdle();
      throw;
    }
  }

  void Close() override {
    if (syncOnClose_ && Conn().IsOpen() && !Conn().InUserTransaction()) Conn().SyncFile();
    syncOnClose_ = false;
    Conn().Close();
  }
  // Written without syncs until Close, which syncs once (CreateDatabase).
  void SyncOnClose() { syncOnClose_ = true; }

  void BeginTrans() override { Conn().Begin(); }
  void CommitTrans() override { Conn().Commit(); }
  void Rollback() override { session_->Rollback(); }
  bool InTransaction() const override { return session_->Conn().InUserTransaction(); }

  void Savepoint() override {
    if (!Conn().InUserTransaction()) {
      throw Error(EngineError::kInvalidArgument, "No transaction is open.", Name());
    }
    Conn().Exec("SAVEPOINT sa_step");
  }
  void ReleaseSavepoint() override { Conn().Exec("RELEASE sa_step"); }
  bool RollbackToSavepoint() override {
    session_->ForgetStagedKeys();
    if (!Conn().UserTransactionAlive()) {
      Conn().Rollback();
      return false;
    }
    Conn().Exec("ROLLBACK TO sa_step");
    Conn().Exec("RELEASE sa_step");
    return true;
  }

  std::unique_ptr<ArchiveLink> LinkArchive(const std::string& path) override {
    CheckDatabaseFile(path);
    return std::make_unique<SqliteArchiveLink>(session_, path);
  }

  CommitOrder ArchiveCommitOrder() override {
    // Another program cannot change the journal mode while this connection
    // is open (that takes exclusive use), so it is read once. Only a rollback
    // journal commits the live database and its archives as one.
    if (!order_) {
      Statement stmt = Conn().Prepare("PRAGMA main.journal_mode");
      std::string mode;
      if (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        mode = LowerAscii(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
      }
      order_ = mode == "delete" || mode == "truncate" || mode == "persist"
                   ? CommitOrder::kTogether
                   : CommitOrder::kArchiveFirst;
    }
    return *order_;
  }

  // Two of the databases one connection may reach stay spare.
  size_t ArchivesPerCommit() override {
    if (!Conn().IsOpen()) return 1;
    const int reach = sqlite3_limit(Conn().Handle(), SQLITE_LIMIT_ATTACHED, -1);
    return static_cast<size_t>(std::max(1, reach - 2));
  }

  std::vector<int64_t> RecordsWhere(const std::string& table, std::span<const int64_t> bookmarks,
                                    const std::string& condition) override {
    const std::string source = session_->RealTableName("main", table);
    session_->StageKeys(bookmarks);
    const std::string sql = "SELECT s.rowid FROM temp.sa_keys AS k JOIN main." + QuoteName(source) +
                            " AS s ON s.rowid BETWEEN k.lo AND k.hi WHERE " +
                            TranslateSql(condition) + " ORDER BY k.seq, s.rowid";
    Statement stmt = Conn().Prepare(sql);
    std::vector<int64_t> keys;
    keys.reserve(bookmarks.size());
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      keys.push_back(sqlite3_column_int64(stmt.get(), 0));
    }
    if (rc != SQLITE_DONE) Conn().Fail(rc, table + " in " + Name() + ": " + condition);
    return keys;
  }

  // One prepared INSERT for every row, inside a step of its own (a
  // transaction of its own outside the caller's): a refused value or a failed
  // write undoes the rows written before it.
  long AppendRows(const std::string& table, std::span<const std::string> fields,
                  std::span<const Value> values) override {
    Connection& conn = Conn();
    const std::string target = session_->RealTableName("main", table);
    const std::string context = target + " in " + Name();
    const std::vector<Field> all = session_->Columns("main", target);
    std::vector<const Field*> columns;
    std::string names, marks;
    for (const std::string& name : fields) {
      const Field* found = FindColumn(all, name);
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
    Statement insert = conn.Prepare("INSERT INTO main." + QuoteName(target) + " (" + names +
                                    ") VALUES (" + marks + ")");
    const bool own = !conn.InUserTransaction();
    if (own) {
      conn.Begin();
    } else {
      conn.Exec("SAVEPOINT sa_rows");
    }
    // Undone underneath already when the step is not alive: the caller's
    // rollback ends the rest.
    TransactionGuard step(
        [&] {
          if (own) {
            conn.Commit();
          } else {
            conn.Exec("RELEASE sa_rows");
          }
        },
        [&] {
          if (own) {
            conn.Rollback();
          } else if (conn.UserTransactionAlive()) {
            conn.Exec("ROLLBACK TO sa_rows");
            conn.Exec("RELEASE sa_rows");
          }
        });
    for (size_t at = 0; at < values.size(); at += fields.size()) {
      for (size_t i = 0; i < fields.size(); ++i) {
        const Field& c = *columns[i];
        BindValue(insert.get(), static_cast<int>(i + 1),
                  ConvertForField(values[at + i], c.type, c.size, target + "." + c.name));
      }
      conn.Run(insert.get(), context);
    }
    step.Commit();
    return static_cast<long>(values.size() / fields.size());
  }

  long DeleteRecords(const std::string& table, std::span<const int64_t> bookmarks) override {
    const std::string source = session_->LiveTableName(table);
    session_->StageKeys(bookmarks);
    Statement stmt =
        Conn().Prepare("DELETE FROM main." + QuoteName(source) + " WHERE rowid BETWEEN ?1 AND ?2");
    long deleted = 0;
    for (const IdentityStretches::Stretch& s : session_->Staged()) {
      sqlite3_bind_int64(stmt.get(), 1, s.first);
      sqlite3_bind_int64(stmt.get(), 2, s.last());
      deleted += Conn().Run(stmt.get(), table + " in " + Name());
    }
    return deleted;
  }

  // The transaction holds the write lock from its start: what it read is
  // still as read, and is deleted by identity.
  std::vector<int64_t> DeleteRecordsAsRead(const std::string& table,
                                           std::span<const int64_t> bookmarks) override {
    if (!Conn().InUserTransaction()) {
      throw Error(EngineError::kInvalidArgument, "No transaction is open.", Name());
    }
    std::vector<int64_t> existing = RecordsWhere(table, bookmarks, "1 = 1");
    DeleteRecords(table, existing);
    return existing;
  }

  std::vector<std::string> CheckIntegrity() override {
    session_->BeforeWrite();
    std::vector<std::string> problems;
    Statement stmt = Conn().Prepare("PRAGMA main.integrity_check(10)");
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
      problems.emplace_back(text != nullptr ? text : "");
    }
    if (rc != SQLITE_DONE) return {SqliteError(Conn().Handle(), rc, Name()).Cause()};
    if (problems.size() == 1 && problems[0] == "ok") problems.clear();
    return problems;
  }

  int64_t LastRecordId(const std::string& table) override {
    const std::string target = session_->RealTableName("main", table);
    Statement stmt =
        Conn().Prepare("SELECT coalesce(max(rowid), 0) FROM main." + QuoteName(target));
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) Conn().Fail(rc, table + " in " + Name());
    return sqlite3_column_int64(stmt.get(), 0);
  }

  // Whatever dao_datecmp cannot place: a number, a text that is not a date,
  // NULL. The bound compared with does not matter.
  long CountUndated(const std::string& table, const std::string& dateField) override {
    const std::string real = session_->RealTableName("main", table);
    const std::vector<Field> columns = session_->Columns("main", real);
    const Field* field = FindColumn(columns, dateField);
    if (field == nullptr) {
      throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                  "field " + dateField + " of table " + real + " in " + Name());
    }
    Statement stmt =
        Conn().Prepare("SELECT count(*) FROM main." + QuoteName(real) + " WHERE dao_datecmp(" +
                       QuoteName(field->name) + ", '2000-01-01 00:00:00') IS NULL");
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) Conn().Fail(rc, table + " in " + Name());
    return static_cast<long>(sqlite3_column_int64(stmt.get(), 0));
  }

 private:
  Connection& Conn() const { return session_->Conn(); }

  std::unique_ptr<Recordset> OpenKeyset(const SelectParts& parts, const std::string& sql) {
    const std::string table = session_->RealTableName("main", parts.table);
    const std::vector<Field> all = session_->Columns("main", table);
    std::vector<Field> columns;
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
        const Field* found = nullptr;
        for (const Field& c : all) {
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
    Statement keyset = Conn().Prepare("SELECT rowid FROM " + QuoteName(table) + " " + parts.rest);
    int rc;
    while ((rc = sqlite3_step(keyset.get())) == SQLITE_ROW) {
      keys.push_back(sqlite3_column_int64(keyset.get(), 0));
    }
    if (rc != SQLITE_DONE) Conn().Fail(rc, Name() + ": " + sql);
    return std::make_unique<SqliteRecordset>(session_->SharedConn(), table, std::move(columns),
                                             std::move(keys));
  }

  std::shared_ptr<Session> session_;
  bool syncOnClose_ = false;
  std::optional<CommitOrder> order_;
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

std::unique_ptr<Engine> MakeSqliteEngine(int busyTimeoutMs, int64_t archivePageLimit) {
  return std::make_unique<SqliteEngine>(busyTimeoutMs, archivePageLimit);
}

}  // namespace sa::dbengine
