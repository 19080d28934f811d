#include "dbengine/sqlite/sqlite_recordset.h"

#include "dbengine/sqlite/dialect.h"
#include "dbengine/sqlite/sqlite_values.h"
#include "dbengine/table_def.h"

namespace sa::dbengine::sqlite {

SqliteRecordset::SqliteRecordset(std::shared_ptr<Connection> conn, std::string table,
                                 std::vector<Field> columns, std::deque<int64_t> keys)
    : conn_(std::move(conn)),
      table_(std::move(table)),
      columns_(std::move(columns)),
      keys_(std::move(keys)) {
  std::string sql = "SELECT ";
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0) sql += ',';
    sql += QuoteName(columns_[i].name);
  }
  sql += " FROM " + QuoteName(table_) + " WHERE rowid=?1";
  fetch_ = conn_->Prepare(sql);
  columnFetch_.resize(columns_.size());
  row_.resize(columns_.size());
  have_.assign(columns_.size(), false);
  conn_->Register(this);
  if (!keys_.empty()) visited_ = 1;
}

SqliteRecordset::~SqliteRecordset() { Close(); }

void SqliteRecordset::CheckOpen() const {
  if (!open_) throw Error(EngineError::kInvalidArgument, "Object is closed.", table_);
}

void SqliteRecordset::CheckCurrent() const {
  CheckOpen();
  if (pos_ < 0 || pos_ >= static_cast<long>(keys_.size())) {
    throw Error(EngineError::kNoCurrentRecord, "No current record.", table_);
  }
  if (deleted_.count(pos_) != 0)
    throw Error(EngineError::kRecordDeleted, "Record is deleted.", table_);
}

void SqliteRecordset::CheckIndex(int index) const {
  if (index < 0 || index >= FieldCount()) {
    throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                table_ + ": field index " + std::to_string(index));
  }
}

void SqliteRecordset::Moved() {
  Forget();
  adding_ = false;
  const long reached = std::min<long>(pos_ + 1, static_cast<long>(keys_.size()));
  if (reached > visited_) visited_ = reached;
}

bool SqliteRecordset::Eof() const {
  CheckOpen();
  return pos_ >= static_cast<long>(keys_.size());
}

void SqliteRecordset::MoveFirst() {
  CheckOpen();
  if (keys_.empty()) throw Error(EngineError::kNoCurrentRecord, "No current record.", table_);
  pos_ = 0;
  Moved();
}

void SqliteRecordset::MoveLast() {
  CheckOpen();
  if (keys_.empty()) throw Error(EngineError::kNoCurrentRecord, "No current record.", table_);
  pos_ = static_cast<long>(keys_.size()) - 1;
  Moved();
}

void SqliteRecordset::MoveNext() {
  CheckOpen();
  if (Eof()) throw Error(EngineError::kNoCurrentRecord, "No current record.", table_);
  ++pos_;
  Moved();
}

void SqliteRecordset::Move(long rows) {
  CheckOpen();
  if (rows == 0) return;
  if (rows > 0 && Eof()) throw Error(EngineError::kNoCurrentRecord, "No current record.", table_);
  const long target = pos_ + rows;
  if (target < 0) throw Error(EngineError::kNoCurrentRecord, "No current record.", table_);
  pos_ = std::min<long>(target, static_cast<long>(keys_.size()));
  Moved();
}

const std::string& SqliteRecordset::FieldName(int index) const {
  CheckIndex(index);
  return columns_[static_cast<size_t>(index)].name;
}

int SqliteRecordset::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (SameName(columns_[i].name, name)) return static_cast<int>(i);
  }
  throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
              "field " + std::string(name) + " of table " + table_ + " in " + conn_->Path());
}

Value SqliteRecordset::GetValue(int index) {
  CheckIndex(index);
  if (adding_) return pending_[static_cast<size_t>(index)];
  CheckCurrent();
  const auto i = static_cast<size_t>(index);
  if (rowLoaded_ || have_[i]) return row_[i];
  // The first value asked of a row is fetched alone (walking a set by its
  // date reads one field of every record); a second one fetches the row.
  const bool whole = fetchedOne_;
  if (!whole && !columnFetch_[i]) {
    columnFetch_[i] = conn_->Prepare("SELECT " + QuoteName(columns_[i].name) + " FROM " +
                                     QuoteName(table_) + " WHERE rowid=?1");
  }
  sqlite3_stmt* stmt = whole ? fetch_.get() : columnFetch_[i].get();
  conn_->EnsureRead();
  sqlite3_reset(stmt);
  sqlite3_bind_int64(stmt, 1, keys_[static_cast<size_t>(pos_)]);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) {
    sqlite3_reset(stmt);
    throw Error(EngineError::kRecordDeleted, "Record is deleted.", table_ + " in " + conn_->Path());
  }
  if (rc != SQLITE_ROW) {
    const Error e = SqliteError(conn_->Handle(), rc, table_ + " in " + conn_->Path());
    sqlite3_reset(stmt);
    throw e;
  }
  if (whole) {
    for (size_t c = 0; c < columns_.size(); ++c) {
      row_[c] = ColumnValue(stmt, static_cast<int>(c), columns_[c].type);
    }
    rowLoaded_ = true;
  } else {
    row_[i] = ColumnValue(stmt, 0, columns_[i].type);
    have_[i] = true;
    fetchedOne_ = true;
  }
  sqlite3_reset(stmt);
  return row_[i];
}

void SqliteRecordset::SetValue(int index, const Value& value) {
  CheckOpen();
  CheckIndex(index);
  if (!adding_) {
    throw Error(EngineError::kUpdateWithoutAddNew, "Update or CancelUpdate without AddNew or Edit.",
                table_);
  }
  const Field& c = columns_[static_cast<size_t>(index)];
  pending_[static_cast<size_t>(index)] =
      ConvertForField(value, c.type, c.size, table_ + "." + c.name);
  pendingSet_[static_cast<size_t>(index)] = true;
}

void SqliteRecordset::AddNew() {
  CheckOpen();
  pending_.assign(columns_.size(), std::monostate{});
  pendingSet_.assign(columns_.size(), false);
  adding_ = true;
}

void SqliteRecordset::BeforeWrite() {
  if (!conn_->InUserTransaction()) conn_->EndImplicitRead();
}

void SqliteRecordset::Update() {
  CheckOpen();
  if (!adding_) {
    throw Error(EngineError::kUpdateWithoutAddNew, "Update or CancelUpdate without AddNew or Edit.",
                table_);
  }
  std::string names, marks;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!pendingSet_[i]) continue;
    if (!names.empty()) {
      names += ',';
      marks += ',';
    }
    names += QuoteName(columns_[i].name);
    marks += '?';
  }
  const std::string sql = names.empty() ? "INSERT INTO " + QuoteName(table_) + " DEFAULT VALUES"
                                        : "INSERT INTO " + QuoteName(table_) + " (" + names +
                                              ") VALUES (" + marks + ")";
  BeforeWrite();
  // Records added one after another with the same fields share one
  // prepared statement.
  if (!insert_ || sql != insertSql_) {
    insert_ = conn_->Prepare(sql);
    insertSql_ = sql;
  } else {
    sqlite3_clear_bindings(insert_.get());
  }
  int bind = 1;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (pendingSet_[i]) BindValue(insert_.get(), bind++, pending_[i]);
  }
  conn_->Run(insert_.get(), table_ + " in " + conn_->Path());
  keys_.push_back(sqlite3_last_insert_rowid(conn_->Handle()));
  adding_ = false;
}

void SqliteRecordset::Delete() {
  CheckCurrent();
  BeforeWrite();
  Statement stmt = conn_->Prepare("DELETE FROM " + QuoteName(table_) + " WHERE rowid=?1");
  sqlite3_bind_int64(stmt.get(), 1, keys_[static_cast<size_t>(pos_)]);
  conn_->Run(stmt.get(), table_ + " in " + conn_->Path());
  deleted_.insert(pos_);
  Forget();
}

void SqliteRecordset::Forget() {
  if (fetchedOne_) have_.assign(columns_.size(), false);
  rowLoaded_ = false;
  fetchedOne_ = false;
}

void SqliteRecordset::Close() {
  if (!open_) return;
  open_ = false;
  adding_ = false;
  fetch_.reset();
  columnFetch_.clear();
  insert_.reset();
  conn_->Unregister(this);
}

int64_t SqliteRecordset::Bookmark() {
  CheckCurrent();
  return keys_[static_cast<size_t>(pos_)];
}

}  // namespace sa::dbengine::sqlite
