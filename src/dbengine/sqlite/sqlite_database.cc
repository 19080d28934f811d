#include "dbengine/sqlite/sqlite_database.h"

#include <algorithm>
#include <deque>

#include "core/error.h"
#include "dbengine/sqlite/archive_link.h"
#include "dbengine/sqlite/catalog.h"
#include "dbengine/sqlite/database_file.h"
#include "dbengine/sqlite/dialect.h"
#include "dbengine/sqlite/integrity.h"
#include "dbengine/sqlite/sqlite_recordset.h"
#include "dbengine/sqlite/sqlite_values.h"
#include "dbengine/sqlite_format.h"
#include "dbengine/transaction_guard.h"

namespace sa::dbengine::sqlite {

void SqliteDatabase::AppendTableDef(const TableDef& def) {
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

std::vector<TableDef> SqliteDatabase::TableDefs() {
  std::vector<TableDef> defs;
  for (const std::string& name : TableNames(Conn())) {
    TableDef& def = defs.emplace_back(name);
    for (const Field& f : session_->Fields("main", name)) def.Fields().Append(f);
  }
  return defs;
}

long SqliteDatabase::Execute(const std::string& sql) {
  const std::string translated = TranslateSql(sql);
  session_->BeforeWrite();
  Statement stmt = Conn().Prepare(translated);
  if (sqlite3_stmt_readonly(stmt.get()) != 0 && sqlite3_column_count(stmt.get()) > 0) {
    throw Error(EngineError::kInvalidArgument, "Cannot execute a select query.",
                Name() + ": " + sql);
  }
  return Conn().Run(stmt.get(), Name() + ": " + sql);
}

std::unique_ptr<Recordset> SqliteDatabase::OpenRecordset(const std::string& sql) {
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

void SqliteDatabase::Close() {
  if (syncOnClose_ && Conn().IsOpen() && !Conn().InUserTransaction()) Conn().SyncFile();
  syncOnClose_ = false;
  Conn().Close();
}

void SqliteDatabase::Savepoint() {
  if (!Conn().InUserTransaction()) {
    throw Error(EngineError::kInvalidArgument, "No transaction is open.", Name());
  }
  Conn().Exec("SAVEPOINT sa_step");
}

bool SqliteDatabase::RollbackToSavepoint() {
  session_->ForgetStagedKeys();
  if (!Conn().UserTransactionAlive()) {
    Conn().Rollback();
    return false;
  }
  Conn().Exec("ROLLBACK TO sa_step");
  Conn().Exec("RELEASE sa_step");
  return true;
}

std::unique_ptr<ArchiveLink> SqliteDatabase::LinkArchive(const std::string& path) {
  CheckDatabaseFile(path);
  return std::make_unique<SqliteArchiveLink>(session_, path);
}

CommitOrder SqliteDatabase::ArchiveCommitOrder() {
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
size_t SqliteDatabase::ArchivesPerCommit() {
  if (!Conn().IsOpen()) return 1;
  const int reach = sqlite3_limit(Conn().Handle(), SQLITE_LIMIT_ATTACHED, -1);
  return static_cast<size_t>(std::max(1, reach - 2));
}

std::vector<int64_t> SqliteDatabase::RecordsWhere(const std::string& table,
                                                  std::span<const int64_t> bookmarks,
                                                  const std::string& condition) {
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
long SqliteDatabase::AppendRows(const std::string& table, std::span<const std::string> fields,
                                std::span<const Value> values) {
  Connection& conn = Conn();
  const std::string target = session_->RealTableName("main", table);
  const std::string context = target + " in " + Name();
  const std::vector<Field> all = session_->Fields("main", target);
  std::vector<const Field*> columns;
  std::string names, marks;
  for (const std::string& name : fields) {
    const Field* found = FindField(all, name);
    if (found == nullptr) {
      throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                  "field " + name + " of table " + context);
    }
    columns.push_back(found);
    names += (names.empty() ? "" : ",") + QuoteName(found->name);
    marks += marks.empty() ? "?" : ",?";
  }
  if (fields.empty() || values.size() % fields.size() != 0) {
    throw Error(EngineError::kInvalidArgument, "Each row needs a value for every field.", context);
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

long SqliteDatabase::DeleteRecords(const std::string& table, std::span<const int64_t> bookmarks) {
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
std::vector<int64_t> SqliteDatabase::DeleteRecordsAsRead(const std::string& table,
                                                         std::span<const int64_t> bookmarks) {
  if (!Conn().InUserTransaction()) {
    throw Error(EngineError::kInvalidArgument, "No transaction is open.", Name());
  }
  std::vector<int64_t> existing = RecordsWhere(table, bookmarks, "1 = 1");
  DeleteRecords(table, existing);
  return existing;
}

std::vector<std::string> SqliteDatabase::CheckIntegrity() {
  session_->BeforeWrite();
  return IntegrityProblems(Conn());
}

int64_t SqliteDatabase::LastRecordId(const std::string& table) {
  const std::string target = session_->RealTableName("main", table);
  Statement stmt = Conn().Prepare("SELECT coalesce(max(rowid), 0) FROM main." + QuoteName(target));
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) Conn().Fail(rc, table + " in " + Name());
  return sqlite3_column_int64(stmt.get(), 0);
}

// Whatever dao_datecmp cannot place: a number, a text that is not a date,
// NULL. The bound compared with does not matter.
long SqliteDatabase::CountUndated(const std::string& table, const std::string& dateField) {
  const std::string real = session_->RealTableName("main", table);
  const std::vector<Field> columns = session_->Fields("main", real);
  const Field* field = FindField(columns, dateField);
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

std::unique_ptr<Recordset> SqliteDatabase::OpenKeyset(const SelectParts& parts,
                                                      const std::string& sql) {
  const std::string table = session_->RealTableName("main", parts.table);
  const std::vector<Field> all = session_->Fields("main", table);
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

}  // namespace sa::dbengine::sqlite
