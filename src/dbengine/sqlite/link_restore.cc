// Taking records back through a SQLite archive link: the archive's records
// copied into the live table, checked to have come back exactly, then
// deleted from the archive.
#include "core/error.h"
#include "dbengine/engine.h"
#include "dbengine/sqlite/archive_link.h"
#include "dbengine/sqlite/catalog.h"
#include "dbengine/sqlite/dialect.h"
#include "dbengine/sqlite/sqlite_value_sql.h"

namespace sa::dbengine::sqlite {

std::vector<int64_t> SqliteArchiveLink::ArchivedIds(const std::string& table) {
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

IdentityStretches SqliteArchiveLink::CopyBack(const std::string& table,
                                              std::span<const int64_t> archivedIds) {
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

long SqliteArchiveLink::DeleteArchived(const std::string& table,
                                       std::span<const int64_t> archivedIds) {
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

long SqliteArchiveLink::DeleteArchivedCopied(const std::string& table,
                                             std::span<const int64_t> archivedIds,
                                             std::span<const int64_t> copyIds) {
  const std::string context = table + " in " + path_;
  CheckCopies(archivedIds, copyIds, context);
  return DeleteCopied(MapBack(table), schema_, "main", archivedIds, copyIds, context);
}

SqliteArchiveLink::Mapping SqliteArchiveLink::MapBack(const std::string& table) {
  Mapping m;
  m.source = session_->RealTableName(schema_, table);
  m.target = session_->RealTableName("main", table);
  const std::vector<Field> into = session_->Fields("main", m.target);
  for (const Field& s : session_->Fields(schema_, m.source)) {
    const Field* t = FindField(into, s.name);
    if (t == nullptr) {
      throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                  "field " + s.name + " of table " + table + ", missing in " + session_->Name());
    }
    m.fields.emplace_back(s, *t);
  }
  return m;
}

// Read back as the archive's field, a live copy differs from the archived
// value where the live field changed it (a fraction into a whole-number
// field, a number into a boolean).
void SqliteArchiveLink::CheckCameBackExactly(const Mapping& m, int64_t first,
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
  Connection& conn = session_->Conn();
  Statement stmt =
      conn.Prepare("SELECT s.rowid, coalesce(" + why + ") AS why FROM temp.sa_keys AS k JOIN " +
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

}  // namespace sa::dbengine::sqlite
