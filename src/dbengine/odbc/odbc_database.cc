#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/odbc_database.h"

#include <algorithm>

#include "core/error.h"
#include "dbengine/odbc/archive_link.h"
#include "dbengine/odbc/dialect.h"
#include "dbengine/odbc/integrity.h"
#include "dbengine/odbc/odbc_recordset.h"
#include "dbengine/odbc/parameter_arrays.h"
#include "dbengine/transaction_guard.h"

namespace sa::dbengine::odbc {

OdbcDatabase::~OdbcDatabase() {
  try {
    Close();
  } catch (const Error&) {
    // Closing drops the connection whatever the driver says.
  }
}

void OdbcDatabase::AppendTableDef(const TableDef& def) {
  Source& src = Src();
  // Names match in any letter case: a table of the same name in another
  // case is the same table, whether or not the database tells them apart;
  // and not every driver reports an existing table by its state.
  src.Forget();
  if (src.Tables().count(LowerAscii(def.Name())) != 0) {
    throw Error(EngineError::kTableExists, "Table already exists.",
                def.Name() + " in " + src.Shown());
  }
  std::string sql = "CREATE TABLE " + src.Family().QuoteName(def.Name()) + " (";
  bool first = true;
  for (const Field& f : def.Fields()) {
    if (!first) sql += ", ";
    first = false;
    sql += src.Family().QuoteName(f.name) + " " + src.Family().DeclaredType(f);
  }
  sql += ")";
  auto stmt = src.NewStatement(def.Name() + " in " + src.Shown());
  stmt->ExecDirect(sql);
  src.Forget();
}

std::vector<TableDef> OdbcDatabase::TableDefs() {
  std::vector<TableDef> defs;
  for (const auto& [key, name] : Src().Tables()) {
    const TableInfo& info = Src().Table(name);
    TableDef def(info.name);
    for (const Field& c : info.columns) {
      Field f;
      f.name = c.name;
      f.type = c.type;
      f.size = c.type == FieldType::kText ? c.size : 0;
      def.Fields().Append(std::move(f));
    }
    defs.push_back(std::move(def));
  }
  return defs;
}

long OdbcDatabase::Execute(const std::string& sql) {
  session_->ForgetRead();
  auto stmt = Src().NewStatement(Src().Shown());
  stmt->ExecDirect(TranslateSql(Src(), sql, nullptr));
  SQLLEN n = 0;
  if (!SQL_SUCCEEDED(SQLRowCount(stmt->get(), &n)) || n < 0) n = 0;
  Src().Forget();
  return static_cast<long>(n);
}

std::unique_ptr<Recordset> OdbcDatabase::OpenRecordset(const std::string& sql) {
  return std::make_unique<OdbcRecordset>(session_->SharedSource(), sql);
}

void OdbcDatabase::Close() {
  for (OdbcArchiveLink* link : session_->Links()) link->Close();
  Src().Close();
}

void OdbcDatabase::BeginTrans() {
  Source& src = Src();
  session_->ForgetRead();
  if (InTransaction()) {
    throw Error(EngineError::kInvalidArgument, "A transaction is already open.", src.Shown());
  }
  // Where the family keeps other writers out with the write lock, it is
  // taken before the transaction reads anything (the catalog included): a
  // transaction that reads first and then asks for it can find a writer
  // waiting for its read to end, and neither gets on until one gives up.
  std::string writeLock;
  if (!src.Family().WriteLockStatement("t").empty() && !src.Tables().empty()) {
    writeLock =
        src.Family().WriteLockStatement(src.Family().QuoteName(src.Tables().begin()->second));
  }
  src.Conn().BeginTrans();
  TransactionGuard begun([] {}, [&] { src.Conn().EndTrans(false); });
  if (!writeLock.empty()) src.Conn().ExecDirect(writeLock);
  begun.Keep();
  for (OdbcArchiveLink* link : session_->Links()) link->Begin();
}

// The archives commit before the live database: a crash between the two
// leaves copies that the move journal names, never records in neither.
void OdbcDatabase::CommitTrans() {
  session_->ForgetRead();
  if (!InTransaction()) {
    throw Error(EngineError::kInvalidArgument, "No transaction is open.", Src().Shown());
  }
  TransactionGuard transaction(
      [&] {
        session_->CommitArchives();
        Src().Conn().EndTrans(true);
      },
      [&] { Rollback(); });
  transaction.Commit();
}

// Without savepoints a step is only marked: undoing it undoes the whole
// transaction.
void OdbcDatabase::Savepoint() {
  if (Src().Family().HasSavepoints()) Src().Conn().ExecDirect("SAVEPOINT sa_step");
  for (OdbcArchiveLink* link : session_->Links()) link->Savepoint();
}

void OdbcDatabase::ReleaseSavepoint() {
  if (Src().Family().HasSavepoints()) Src().Conn().ExecDirect("RELEASE SAVEPOINT sa_step");
  for (OdbcArchiveLink* link : session_->Links()) link->ReleaseSavepoint();
}

bool OdbcDatabase::RollbackToSavepoint() {
  session_->ForgetRead();
  bool kept = Src().Family().HasSavepoints();
  for (OdbcArchiveLink* link : session_->Links()) kept = link->RollbackToSavepoint() && kept;
  try {
    if (kept) {
      Src().Conn().ExecDirect("ROLLBACK TO SAVEPOINT sa_step");
      Src().Conn().ExecDirect("RELEASE SAVEPOINT sa_step");
    }
  } catch (const Error&) {
    kept = false;
  }
  if (!kept) {
    try {
      Rollback();
    } catch (const Error&) {
      // Undone underneath already: the driver may find no transaction left.
    }
  }
  return kept;
}

std::unique_ptr<ArchiveLink> OdbcDatabase::LinkArchive(const std::string& path) {
  if (!archiveEngine_) {
    throw Error(EngineError::kInvalidArgument, "This database cannot reach archives.", path);
  }
  return std::make_unique<OdbcArchiveLink>(session_, archiveEngine_->OpenDatabase(path), path);
}

std::vector<std::string> OdbcDatabase::CheckIntegrity() { return IntegrityProblems(Src()); }

std::vector<int64_t> OdbcDatabase::RecordsWhere(const std::string& table,
                                                std::span<const int64_t> bookmarks,
                                                const std::string& condition) {
  const TableInfo& info = Src().IdentifiedTable(table);
  session_->ReadForMove(info, bookmarks, TranslateSql(Src(), condition, &info));
  std::vector<int64_t> out;
  for (int64_t id : bookmarks) {
    if (session_->Read(id) != nullptr) out.push_back(id);
  }
  return out;
}

// Every value is converted before anything is written, then the rows go
// through one prepared INSERT over arrays of parameters, inside a step of
// their own (a transaction of their own outside the caller's).
long OdbcDatabase::AppendRows(const std::string& table, std::span<const std::string> fields,
                              std::span<const Value> values) {
  Source& src = Src();
  const TableInfo& info = src.Table(table);
  const std::string context = info.name + " in " + src.Shown();
  std::vector<Field> columns;
  std::string names, marks;
  for (const std::string& name : fields) {
    const Field* found = nullptr;
    for (const Field& c : info.columns) {
      if (SameName(c.name, name)) found = &c;
    }
    if (found == nullptr) {
      throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                  "field " + name + " of " + context);
    }
    columns.push_back(*found);
    names += (names.empty() ? "" : ",") + src.Family().QuoteName(found->name);
    marks += marks.empty() ? "?" : ",?";
  }
  if (fields.empty() || values.size() % fields.size() != 0) {
    throw Error(EngineError::kInvalidArgument, "Each row needs a value for every field.", context);
  }
  if (values.empty()) return 0;
  std::vector<Value> converted;
  converted.reserve(values.size());
  for (size_t k = 0; k < values.size(); ++k) {
    const Field& c = columns[k % columns.size()];
    converted.push_back(ConvertForField(values[k], c.type, c.size, c.name));
  }
  Connection& conn = src.Conn();
  const bool own = !InTransaction();
  const bool step = !own && src.Family().HasSavepoints();
  if (own) {
    conn.BeginTrans();
  } else if (step) {
    conn.ExecDirect("SAVEPOINT sa_rows");
  }
  // The driver may have undone more already; the caller's rollback ends
  // the rest.
  TransactionGuard rows(
      [&] {
        if (own) {
          conn.EndTrans(true);
        } else if (step) {
          conn.ExecDirect("RELEASE SAVEPOINT sa_rows");
        }
      },
      [&] {
        if (step) {
          conn.ExecDirect("ROLLBACK TO SAVEPOINT sa_rows");
          conn.ExecDirect("RELEASE SAVEPOINT sa_rows");
        } else {
          Rollback();  // without a step of its own, the whole transaction
        }
      });
  {
    auto insert = src.NewStatement(context);
    insert->Prepare("INSERT INTO " + src.Family().QuoteName(info.name) + " (" + names +
                    ") VALUES (" + marks + ")");
    ParameterArrays params(*insert, columns, src.Family().StoresDatesAsText());
    params.Insert(converted);
    rows.Commit();
  }
  return static_cast<long>(values.size() / fields.size());
}

long OdbcDatabase::DeleteRecords(const std::string& table, std::span<const int64_t> bookmarks) {
  return session_->DeleteByIdentity(Src().IdentifiedTable(table), bookmarks);
}

std::vector<int64_t> OdbcDatabase::DeleteRecordsAsRead(const std::string& table,
                                                       std::span<const int64_t> bookmarks) {
  if (!InTransaction()) {
    throw Error(EngineError::kInvalidArgument, "No transaction is open.", Src().Shown());
  }
  const TableInfo& info = Src().IdentifiedTable(table);
  if (!session_->ReadAll(info, bookmarks)) session_->ReadForMove(info, bookmarks, "");
  std::vector<int64_t> read;
  for (const int64_t id : bookmarks) {
    if (session_->Read(id) != nullptr) read.push_back(id);
  }
  if (!Src().Family().KeepsReadRecordsUntilCommit()) {
    return session_->DeleteUnchanged(info, info.columns, read,
                                     [&](int64_t id) { return session_->Read(id); });
  }
  // Locked since they were read, or out of other writers' reach: each one
  // is there, as read.
  if (session_->DeleteByIdentity(info, read) != static_cast<long>(read.size())) {
    throw Error(EngineError::kRecordDeleted,
                "Records read under lock were deleted by another program.",
                info.name + " in " + Src().Shown());
  }
  return read;
}

// The highest record identity of `table`; 0 when it is empty. A table
// whose records have no identity gives its number of records: records
// appended later still count on from it.
int64_t OdbcDatabase::LastRecordId(const std::string& table) {
  const TableInfo& info = Src().Table(table);
  auto stmt = Src().NewStatement(info.name + " in " + Src().Shown());
  stmt->ExecDirect("SELECT " + (info.identity.empty() ? "COUNT(*)" : "MAX(" + info.identity + ")") +
                   " FROM " + Src().Family().QuoteName(info.name));
  SQLBIGINT id = 0;
  SQLLEN length = 0;
  stmt->Check(SQLBindCol(stmt->get(), 1, SQL_C_SBIGINT, &id, 0, &length));
  if (!stmt->Fetch() || length == SQL_NULL_DATA) return 0;
  return id;
}

}  // namespace sa::dbengine::odbc
