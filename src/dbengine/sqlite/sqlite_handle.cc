#include "dbengine/sqlite/sqlite_handle.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "dbengine/engine.h"
#include "dbengine/sqlite/sqlite_recordset.h"

namespace sa::dbengine {

namespace {

// Errors raised inside dao_convert() travel through SQLite as a message of
// the form "\x01number\x01description\x01cause".
constexpr char kTag = '\x01';

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

FieldType FieldTypeOfDeclared(const std::string& declared, int& size) {
  const std::string d = Upper(declared);
  size = 0;
  if (d.find("BOOL") != std::string::npos || d == "BIT") return FieldType::kBoolean;
  if (d.find("SMALLINT") != std::string::npos) return FieldType::kInteger;
  if (d.find("DATE") != std::string::npos || d.find("TIME") != std::string::npos) {
    return FieldType::kDate;
  }
  if (d.find("INT") != std::string::npos) return FieldType::kLong;
  if (d.find("CHAR") != std::string::npos || d.find("CLOB") != std::string::npos ||
      d.find("TEXT") != std::string::npos || d.empty() || d.find("BLOB") != std::string::npos) {
    size = kDefaultTextSize;
    const size_t open = d.find('(');
    if (open != std::string::npos) {
      const int n = std::atoi(d.c_str() + open + 1);
      if (n > 0) size = n;
    }
    return FieldType::kText;
  }
  return FieldType::kDouble;
}

Error SqliteError(sqlite3* db, int rc, const std::string& context) {
  const std::string msg = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (!msg.empty() && msg[0] == kTag) {
    const size_t a = msg.find(kTag, 1);
    const size_t b = a == std::string::npos ? a : msg.find(kTag, a + 1);
    if (b != std::string::npos) {
      return Error(std::atol(msg.c_str() + 1), msg.substr(a + 1, b - a - 1),
                   context + "\n" + msg.substr(b + 1));
    }
  }
  const std::string cause = context + ": " + msg;
  if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY ||
      rc == SQLITE_CONSTRAINT_ROWID) {
    return Error(EngineError::kDuplicateKey,
                 "The changes were not made because they would create duplicate values in the "
                 "index or primary key.",
                 cause);
  }
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Error(EngineError::kLocked, "The database is locked by another program.", cause);
    case SQLITE_FULL:
      return Error(EngineError::kDiskFull, "The disk is full.", cause);
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return Error(EngineError::kReadOnly, "The database cannot be written.", cause);
    case SQLITE_CANTOPEN:
      return Error(EngineError::kFileNotFound, "The database file cannot be opened.", cause);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Error(EngineError::kUnrecognizedFormat,
                   "The database file is damaged or not a database.", cause);
    case SQLITE_IOERR:
      return Error(EngineError::kIo, "Disk or network error.", cause);
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
      return Error(EngineError::kDataConversion, "Data type conversion error.", cause);
    default:
      break;
  }
  if (msg.rfind("no such table", 0) == 0) {
    return Error(EngineError::kTableNotFound, "Cannot find the input table or query.", cause);
  }
  if (msg.rfind("no such column", 0) == 0) {
    return Error(EngineError::kItemNotFound, "Item not found in this collection.", cause);
  }
  if (msg.find("already exists") != std::string::npos) {
    return Error(EngineError::kTableExists, "Table already exists.", cause);
  }
  return Error(EngineError::kSyntax, "Syntax error or invalid query.", cause);
}

Connection::~Connection() { Close(); }

std::unique_ptr<Connection> OpenConnection(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  // Owned from here: SQLite hands back a handle even when the open fails.
  auto conn = std::make_unique<Connection>(db, path);
  if (rc != SQLITE_OK) conn->Fail(rc, path);
  sqlite3_extended_result_codes(db, 1);
  return conn;
}

void Connection::Fail(int rc, const std::string& context) const {
  throw SqliteError(db_, rc, context);
}

Statement Connection::Prepare(const std::string& sql) const {
  if (db_ == nullptr) throw Error(EngineError::kInvalidArgument, "The database is closed.", path_);
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
  Statement owned(stmt);
  if (rc != SQLITE_OK) Fail(rc, path_ + ": " + sql);
  if (stmt == nullptr) throw Error(EngineError::kSyntax, "Empty query.", path_);
  return owned;
}

long Connection::Run(sqlite3_stmt* stmt, const std::string& context) const {
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    const Error e = SqliteError(db_, rc, context);
    sqlite3_reset(stmt);
    throw e;
  }
  sqlite3_reset(stmt);
  return static_cast<long>(sqlite3_changes(db_));
}

void Connection::Exec(const std::string& sql) const {
  Statement stmt = Prepare(sql);
  Run(stmt.get(), path_ + ": " + sql);
}

void Connection::EnsureRead() {
  if (userTxn_ || implicitRead_ || db_ == nullptr) return;
  if (sqlite3_get_autocommit(db_) == 0) return;
  Exec("BEGIN");
  implicitRead_ = true;
}

void Connection::EndImplicitRead() {
  if (!implicitRead_) return;
  implicitRead_ = false;
  if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) Exec("COMMIT");
}

void Connection::Begin() {
  if (userTxn_) throw Error(EngineError::kInvalidArgument, "A transaction is already open.", path_);
  EndImplicitRead();
  Exec("BEGIN IMMEDIATE");
  userTxn_ = true;
}

void Connection::Commit() {
  if (!userTxn_) throw Error(EngineError::kInvalidArgument, "No transaction is open.", path_);
  Exec("COMMIT");
  userTxn_ = false;
}

bool Connection::UserTransactionAlive() const {
  return userTxn_ && db_ != nullptr && sqlite3_get_autocommit(db_) == 0;
}

void Connection::SyncFile() const {
  sqlite3_file* file = nullptr;
  int rc = sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file);
  // A database nothing was written to has no file open yet.
  if (rc == SQLITE_OK && file != nullptr && file->pMethods != nullptr) {
    rc = file->pMethods->xSync(file, SQLITE_SYNC_FULL);
  }
  if (rc != SQLITE_OK) Fail(rc, path_ + ": sync");
}

void Connection::Rollback() {
  if (!userTxn_) return;
  userTxn_ = false;
  // A failed statement may already have rolled the transaction back.
  if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) Exec("ROLLBACK");
}

void Connection::Unregister(SqliteRecordset* rs) {
  recordsets_.erase(std::remove(recordsets_.begin(), recordsets_.end(), rs), recordsets_.end());
  ReleaseIfIdle();
}

void Connection::ReleaseIfIdle() {
  if (recordsets_.empty() && !userTxn_ && db_ != nullptr) {
    try {
      EndImplicitRead();
    } catch (const Error&) {
      // Ending a read-only transaction cannot lose data; the next statement
      // reports any lasting trouble.
    }
  }
}

void Connection::Close() {
  if (db_ == nullptr) return;
  // Closing discards what record sets hold unfinished, then anything open.
  while (!recordsets_.empty()) recordsets_.back()->Close();
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  implicitRead_ = false;
  userTxn_ = false;
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

Value FromSqlite(sqlite3_value* value, FieldType type) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return std::monostate{};
    case SQLITE_INTEGER: {
      const int64_t v = sqlite3_value_int64(value);
      if (type == FieldType::kBoolean) return int64_t{v != 0 ? 1 : 0};
      if (type == FieldType::kDouble) return static_cast<double>(v);
      return v;
    }
    case SQLITE_FLOAT: {
      const double v = sqlite3_value_double(value);
      if (type == FieldType::kBoolean) return int64_t{v != 0 ? 1 : 0};
      return v;
    }
    default: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(value));
      std::string text(p != nullptr ? p : "", static_cast<size_t>(sqlite3_value_bytes(value)));
      if (type == FieldType::kDate) {
        if (auto dt = DateTime::ParseIso(text)) return *dt;
      }
      return text;
    }
  }
}

Value ColumnValue(sqlite3_stmt* stmt, int i, FieldType type) {
  return FromSqlite(sqlite3_column_value(stmt, i), type);
}

void BindValue(sqlite3_stmt* stmt, int i, const Value& v) {
  if (IsNull(v)) {
    sqlite3_bind_null(stmt, i);
  } else if (const auto* n = std::get_if<int64_t>(&v)) {
    sqlite3_bind_int64(stmt, i, *n);
  } else if (const auto* d = std::get_if<double>(&v)) {
    sqlite3_bind_double(stmt, i, *d);
  } else if (const auto* dt = std::get_if<DateTime>(&v)) {
    const std::string iso = dt->ToIso();
    sqlite3_bind_text(stmt, i, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
  } else {
    const auto& s = std::get<std::string>(v);
    sqlite3_bind_text(stmt, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
}

namespace {

// A function argument as it is stored, read as a date when it comes from a
// date field; a text field's reading leaves numbers and texts unchanged.
Value ArgValue(sqlite3_value* arg, bool fromDateField) {
  return FromSqlite(arg, fromDateField ? FieldType::kDate : FieldType::kText);
}

void ResultValue(sqlite3_context* ctx, const Value& v) {
  if (IsNull(v)) {
    sqlite3_result_null(ctx);
  } else if (const auto* n = std::get_if<int64_t>(&v)) {
    sqlite3_result_int64(ctx, *n);
  } else if (const auto* d = std::get_if<double>(&v)) {
    sqlite3_result_double(ctx, *d);
  } else if (const auto* dt = std::get_if<DateTime>(&v)) {
    const std::string iso = dt->ToIso();
    sqlite3_result_text(ctx, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
  } else {
    const auto& s = std::get<std::string>(v);
    sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
}

// The stored form of a date argument ("YYYY-MM-DD HH:MM:SS"), into `buf`
// when it needs converting; nullopt when the argument holds no date.
std::optional<std::string_view> StoredDate(sqlite3_value* arg, std::string& buf) {
  if (sqlite3_value_type(arg) != SQLITE_TEXT) return std::nullopt;
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(arg));
  const std::string_view text(p, static_cast<size_t>(sqlite3_value_bytes(arg)));
  if (DateTime::IsStoredForm(text)) return text;
  const std::optional<DateTime> dt = DateTime::ParseIso(text);
  if (!dt) return std::nullopt;
  buf = dt->ToIso();
  return std::string_view(buf);
}

// dao_datecmp(x, literal): -1, 0 or 1 as the date in x is before, at or
// after the literal (a date in the stored form); NULL when x holds no date.
void DaoDateCmp(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string buf;
  const std::optional<std::string_view> date = StoredDate(argv[0], buf);
  if (!date || sqlite3_value_type(argv[1]) != SQLITE_TEXT) {
    sqlite3_result_null(ctx);
    return;
  }
  const auto* lit = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
  const int c =
      date->compare(std::string_view(lit, static_cast<size_t>(sqlite3_value_bytes(argv[1]))));
  sqlite3_result_int(ctx, c < 0 ? -1 : c > 0 ? 1 : 0);
}

// dao_isstored(x): 1 when x is a date already in the stored form.
void DaoIsStored(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const bool stored = sqlite3_value_type(argv[0]) == SQLITE_TEXT &&
                      DateTime::IsStoredForm(std::string_view(
                          reinterpret_cast<const char*>(sqlite3_value_text(argv[0])),
                          static_cast<size_t>(sqlite3_value_bytes(argv[0]))));
  sqlite3_result_int(ctx, stored ? 1 : 0);
}

// dao_convert(x, fromDateField, fieldType, size, fieldName): x converted for
// the target field, or an error that SqliteError() turns back into the
// engine's number and description.
void DaoConvert(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const bool fromDate = sqlite3_value_int(argv[1]) != 0;
  const auto type = static_cast<FieldType>(sqlite3_value_int(argv[2]));
  const int size = sqlite3_value_int(argv[3]);
  const auto* name = reinterpret_cast<const char*>(sqlite3_value_text(argv[4]));
  try {
    ResultValue(ctx, ConvertForField(ArgValue(argv[0], fromDate), type, size, name ? name : ""));
  } catch (const Error& e) {
    std::string msg;
    msg += kTag;
    msg += std::to_string(e.Number());
    msg += kTag;
    msg += e.Description();
    msg += kTag;
    msg += e.Cause();
    sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// dao_same(x, fromDateField, fieldType, size, copy): 1 when x, converted for
// the field, equals the archived copy; 0 otherwise, also when x no longer
// converts.
void DaoSame(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const bool fromDate = sqlite3_value_int(argv[1]) != 0;
  const auto type = static_cast<FieldType>(sqlite3_value_int(argv[2]));
  const int size = sqlite3_value_int(argv[3]);
  try {
    const Value live = ConvertForField(ArgValue(argv[0], fromDate), type, size, "");
    const Value copy = ArgValue(argv[4], type == FieldType::kDate);
    bool same = live == copy;
    if (!same) {
      // Numbers compare by value whatever their storage class.
      const auto* a = std::get_if<double>(&live);
      const auto* b = std::get_if<int64_t>(&copy);
      const auto* c = std::get_if<int64_t>(&live);
      const auto* d = std::get_if<double>(&copy);
      same = (a && b && *a == static_cast<double>(*b)) || (c && d && static_cast<double>(*c) == *d);
    }
    sqlite3_result_int(ctx, same ? 1 : 0);
  } catch (const std::exception&) {
    sqlite3_result_int(ctx, 0);
  }
}

}  // namespace

void RegisterFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "dao_datecmp", 2, flags, nullptr, DaoDateCmp, nullptr, nullptr);
  sqlite3_create_function(db, "dao_isstored", 1, flags, nullptr, DaoIsStored, nullptr, nullptr);
  sqlite3_create_function(db, "dao_convert", 5, flags, nullptr, DaoConvert, nullptr, nullptr);
  sqlite3_create_function(db, "dao_same", 5, flags, nullptr, DaoSame, nullptr, nullptr);
}

}  // namespace sa::dbengine
