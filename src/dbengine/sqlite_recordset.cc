#include "dbengine/sqlite_recordset.h"

#include "dbengine/table_def.h"

namespace sa::dbengine {

std::string QuoteName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

SqliteRecordset::SqliteRecordset(std::shared_ptr<Connection> conn, std::string table,
                                 std::vector<Column> columns, std::vector<int64_t> keys)
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
  conn_->Register(this);
  if (!keys_.empty()) visited_ = 1;
}

SqliteRecordset::~SqliteRecordset() { Close(); }

void SqliteRecordset::CheckOpen() const {
  if (!open_) throw Error(kErrInvalidArgument, "Object is closed.", table_);
}

void SqliteRecordset::CheckCurrent() const {
  CheckOpen();
  if (pos_ < 0 || pos_ >= static_cast<long>(keys_.size())) {
    throw Error(kErrNoCurrentRecord, "No current record.", table_);
  }
  if (deleted_.count(pos_) != 0) throw Error(kErrRecordDeleted, "Record is deleted.", table_);
}

void SqliteRecordset::CheckIndex(int index) const {
  if (index < 0 || index >= FieldCount()) {
    throw Error(kErrItemNotFound, "Item not found in this collection.",
                table_ + ": field index " + std::to_string(index));
  }
}

void SqliteRecordset::Moved() {
  rowLoaded_ = false;
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
  if (keys_.empty()) throw Error(kErrNoCurrentRecord, "No current record.", table_);
  pos_ = 0;
  Moved();
}

void SqliteRecordset::MoveLast() {
  CheckOpen();
  if (keys_.empty()) throw Error(kErrNoCurrentRecord, "No current record.", table_);
  pos_ = static_cast<long>(keys_.size()) - 1;
  Moved();
}

void SqliteRecordset::MoveNext() {
  CheckOpen();
  if (Eof()) throw Error(kErrNoCurrentRecord, "No current record.", table_);
  ++pos_;
  Moved();
}

void SqliteRecordset::Move(long rows) {
  CheckOpen();
  if (rows == 0) return;
  if (rows > 0 && Eof()) throw Error(kErrNoCurrentRecord, "No current record.", table_);
  const long target = pos_ + rows;
  if (target < 0) throw Error(kErrNoCurrentRecord, "No current record.", table_);
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
  throw Error(kErrItemNotFound, "Item not found in this collection.",
              "field " + std::string(name) + " of table " + table_ + " in " + conn_->Path());
}

Value SqliteRecordset::GetValue(int index) {
  CheckIndex(index);
  if (adding_) return pending_[static_cast<size_t>(index)];
  CheckCurrent();
  if (!rowLoaded_) {
    conn_->EnsureRead();
    sqlite3_stmt* stmt = fetch_.get();
    sqlite3_reset(stmt);
    sqlite3_bind_int64(stmt, 1, keys_[static_cast<size_t>(pos_)]);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) {
      sqlite3_reset(stmt);
      throw Error(kErrRecordDeleted, "Record is deleted.", table_ + " in " + conn_->Path());
    }
    if (rc != SQLITE_ROW) {
      const Error e = SqliteError(conn_->Handle(), rc, table_ + " in " + conn_->Path());
      sqlite3_reset(stmt);
      throw e;
    }
    row_.resize(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) {
      row_[i] = ColumnValue(stmt, static_cast<int>(i), columns_[i].type);
    }
    sqlite3_reset(stmt);
    rowLoaded_ = true;
  }
  return row_[static_cast<size_t>(index)];
}

void SqliteRecordset::SetValue(int index, const Value& value) {
  CheckOpen();
  CheckIndex(index);
  if (!adding_) {
    throw Error(kErrUpdateWithoutAddNew, "Update or CancelUpdate without AddNew or Edit.", table_);
  }
  const Column& c = columns_[static_cast<size_t>(index)];
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
    throw Error(kErrUpdateWithoutAddNew, "Update or CancelUpdate without AddNew or Edit.", table_);
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
  Statement stmt = conn_->Prepare(sql);
  int bind = 1;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (pendingSet_[i]) BindValue(stmt.get(), bind++, pending_[i]);
  }
  conn_->Run(stmt.get(), table_ + " in " + conn_->Path());
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
  rowLoaded_ = false;
}

void SqliteRecordset::Close() {
  if (!open_) return;
  open_ = false;
  adding_ = false;
  fetch_.reset();
  conn_->Unregister(this);
}

int64_t SqliteRecordset::Bookmark() {
  CheckCurrent();
  return keys_[static_cast<size_t>(pos_)];
}

}  // namespace sa::dbengine
