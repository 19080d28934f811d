#include "dbengine/sqlite/archive_link.h"

#include "core/error.h"
#include "dbengine/engine.h"
#include "dbengine/sqlite/catalog.h"
#include "dbengine/sqlite/dialect.h"
#include "dbengine/sqlite/sqlite_value_sql.h"

namespace sa::dbengine::sqlite {

namespace {

// True when every archive field has exactly the type and size of its live
// field, so a value that suits the live field suits the archive's.
template <typename Fields>
bool SameLayout(const Fields& fields) {
  for (const auto& [s, t] : fields) {
    if (s.type != t.type || s.size != t.size) return false;
  }
  return true;
}

}  // namespace

SqliteArchiveLink::SqliteArchiveLink(std::shared_ptr<Session> session, std::string path)
    : session_(std::move(session)), path_(std::move(path)), schema_(session_->Attach(path_)) {}

SqliteArchiveLink::~SqliteArchiveLink() {
  try {
    if (session_->Conn().InUserTransaction()) session_->Rollback();
    session_->Detach(schema_);
  } catch (const Error&) {
    // The connection closes with the live database; nothing is lost by
    // leaving the archive attached until then.
  }
}

IdentityStretches SqliteArchiveLink::CopyOut(const std::string& table,
                                             std::span<const int64_t> liveIds) {
  const Mapping m = Map(table);
  // Values already in their field's form are copied as they are; checking
  // the live table once, rather than each value in every month's copy,
  // keeps the statement prepared for each archive short and the copy fast.
  const bool plain = SameLayout(m.fields) && session_->LiveValuesConform(m.source);
  // Copies take the rowids after the largest, in the order copied: nothing
  // else writes the archive while the transaction holds its write lock.
  const int64_t first = MaxRowid(schema_, m.target) + 1;
  IdentityStretches copies;
  copies.AddStretch(first,
                    CopyRecords(m, "main", schema_, plain, liveIds, table + " into " + path_));
  return copies;
}

long SqliteArchiveLink::ReplaceTable(const std::string& table, std::span<const int64_t> liveIds) {
  const std::string target = session_->RealTableName(schema_, table);
  session_->Conn().Exec("DELETE FROM " + QuoteName(schema_) + "." + QuoteName(target));
  return static_cast<long>(CopyOut(table, liveIds).size());
}

long SqliteArchiveLink::DeleteLiveCopied(const std::string& table, std::span<const int64_t> liveIds,
                                         std::span<const int64_t> copyIds) {
  const std::string context = table + " in " + session_->Name();
  CheckCopies(liveIds, copyIds, context);
  return DeleteCopied(Map(table), "main", schema_, liveIds, copyIds, context);
}

void SqliteArchiveLink::CommitArchive() {
  throw Error(EngineError::kInvalidArgument,
              "The archive commits with the live database, not alone.", path_);
}

void SqliteArchiveLink::CheckCopies(std::span<const int64_t> ids, std::span<const int64_t> copyIds,
                                    const std::string& context) {
  if (copyIds.size() != ids.size()) {
    throw Error(EngineError::kInvalidArgument, "Each record needs the identity of its copy.",
                context);
  }
}

SqliteArchiveLink::Mapping SqliteArchiveLink::Map(const std::string& table) {
  Mapping m;
  m.target = session_->RealTableName(schema_, table);
  // The live side is read once per table; archives differ, so each is read.
  const auto& live = session_->LiveTable(table);
  m.source = live.first;
  for (const Field& t : session_->Fields(schema_, m.target)) {
    const Field* s = FindField(live.second, t.name);
    if (s == nullptr) {
      throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                  "field " + t.name + " of table " + table + ", missing in " + session_->Name());
    }
    m.fields.emplace_back(*s, t);
  }
  return m;
}

long SqliteArchiveLink::CopyRecords(const Mapping& m, const std::string& from,
                                    const std::string& to, bool plain, std::span<const int64_t> ids,
                                    const std::string& context) {
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

// One statement per stretch of the copies: the copy of the i-th record of a
// stretch is the stretch's first copy plus i.
long SqliteArchiveLink::DeleteCopied(const Mapping& m, const std::string& from,
                                     const std::string& to, std::span<const int64_t> ids,
                                     std::span<const int64_t> copyIds, const std::string& context) {
  std::string same;
  for (const auto& [s, t] : m.fields) {
    same += " AND " + SameAsCopy("s." + QuoteName(s.name), s, t, "c." + QuoteName(t.name));
  }
  const std::string source = QuoteName(from) + "." + QuoteName(m.source);
  const std::string sql =
      "DELETE FROM " + source + " WHERE rowid IN (SELECT s.rowid FROM temp.sa_keys AS k JOIN " +
      source + " AS s ON s.rowid BETWEEN k.lo AND k.hi JOIN " + QuoteName(to) + "." +
      QuoteName(m.target) + " AS c ON c.rowid = ?1 + k.pos + s.rowid - k.lo WHERE 1" + same + ")";
  const IdentityStretches copies(copyIds);
  long deleted = 0;
  for (const IdentityStretches::Stretch& stretch : copies.Stretches()) {
    session_->StageKeys(ids.subspan(stretch.at, static_cast<size_t>(stretch.count)));
    Statement stmt = session_->Conn().Prepare(sql);
    sqlite3_bind_int64(stmt.get(), 1, stretch.first);
    deleted += session_->Conn().Run(stmt.get(), context);
  }
  return deleted;
}

int64_t SqliteArchiveLink::MaxRowid(const std::string& schema, const std::string& table) {
  Statement stmt = session_->Conn().Prepare("SELECT coalesce(max(rowid), 0) FROM " +
                                            QuoteName(schema) + "." + QuoteName(table));
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) session_->Conn().Fail(rc, table + " in " + session_->SchemaPath(schema));
  return sqlite3_column_int64(stmt.get(), 0);
}

}  // namespace sa::dbengine::sqlite
