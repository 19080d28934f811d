#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/odbc_recordset.h"

#include <algorithm>

#include "core/error.h"
#include "dbengine/odbc/dialect.h"
#include "dbengine/odbc/fetch_rows.h"
#include "dbengine/odbc/odbc_values.h"
#include "dbengine/odbc/parameter_arrays.h"
#include "dbengine/odbc/row_reads.h"

namespace sa::dbengine::odbc {

OdbcRecordset::OdbcRecordset(std::shared_ptr<Source> src, std::string sql) : src_(std::move(src)) {
  const auto parts = SplitSelect(sql);
  if (parts) {
    into_ = src_->TablePtr(parts->table);
    if (!into_->identity.empty()) table_ = into_;
  }
  if (table_ != nullptr) {
    OpenKeyset(*parts);
  } else {
    OpenWhole(sql);
  }
}

void OdbcRecordset::MoveNext() {
  CheckCurrent();
  Go(pos_ + 1);
}

void OdbcRecordset::Move(long rows) {
  if (rows != 0) CheckCurrent();
  Go(std::clamp<long>(pos_ + rows, 0, Size()));
}

int OdbcRecordset::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (SameName(columns_[i].name, name)) return static_cast<int>(i);
  }
  throw Error(EngineError::kItemNotFound, "Item not found in this collection.", std::string(name));
}

Value OdbcRecordset::GetValue(int index) {
  ColumnAt(index);
  CheckOpen();
  if (adding_) return pending_[static_cast<size_t>(index)];
  CheckCurrent();
  if (!table_) return whole_[static_cast<size_t>(pos_)][static_cast<size_t>(index)];
  if (pos_ < blockBegin_ || pos_ >= blockEnd_) Load();
  const auto i = static_cast<size_t>(index);
  if (!part_[i]) LoadField(i);
  const Value* row = parts_[*part_[i]].Find(ids_[static_cast<size_t>(pos_)]);
  if (row == nullptr) {
    throw Error(EngineError::kRecordDeleted, "Record is deleted.",
                table_->name + " in " + src_->Shown());
  }
  return row[offset_[i]];
}

void OdbcRecordset::SetValue(int index, const Value& value) {
  ColumnAt(index);
  if (!adding_) {
    throw Error(EngineError::kUpdateWithoutAddNew, "Update or CancelUpdate without AddNew or Edit.",
                Context());
  }
  pending_[static_cast<size_t>(index)] = value;
}

void OdbcRecordset::AddNew() {
  if (!into_) throw Error(EngineError::kReadOnly, "The record set cannot be updated.", Context());
  adding_ = true;
  pending_.assign(columns_.size(), std::monostate{});
}

void OdbcRecordset::Update() {
  if (!adding_) {
    throw Error(EngineError::kUpdateWithoutAddNew, "Update or CancelUpdate without AddNew or Edit.",
                Context());
  }
  CheckOpen();
  std::vector<Value> values;
  std::vector<Field> columns;
  std::string names, marks;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (IsNull(pending_[i])) continue;
    values.push_back(
        ConvertForField(pending_[i], columns_[i].type, columns_[i].size, columns_[i].name));
    columns.push_back(columns_[i]);
    names += (names.empty() ? "" : ",") + src_->Family().QuoteName(columns_[i].name);
    marks += marks.empty() ? "?" : ",?";
  }
  // Records added one after another with the same fields reuse the
  // prepared statement.
  if (!insert_ || insertNames_ != names) {
    insert_ = src_->NewKeptStatement(Context());
    insert_->Prepare("INSERT INTO " + src_->Family().QuoteName(into_->name) + " (" + names +
                     ") VALUES (" + marks + ")");
    insertNames_ = names;
  }
  adding_ = false;
  ParameterArrays(*insert_, columns, src_->Family().StoresDatesAsText()).Insert(values);
}

void OdbcRecordset::Delete() {
  CheckCurrent();
  if (!table_) throw Error(EngineError::kReadOnly, "The record set cannot be updated.", Context());
  const int64_t id = ids_[static_cast<size_t>(pos_)];
  auto stmt = src_->NewStatement(Context());
  stmt->ExecDirect("DELETE FROM " + src_->Family().QuoteName(table_->name) + " WHERE " +
                   src_->IdentityIn(*table_, {&id, 1}));
  if (stmt->RowCount() == 0) {
    throw Error(EngineError::kRecordDeleted, "Record is deleted.", Context());
  }
  for (RowBlock& part : parts_) part.Drop(id);
}

void OdbcRecordset::Close() {
  insert_.reset();
  closed_ = true;
  adding_ = false;
}

int64_t OdbcRecordset::Bookmark() {
  CheckCurrent();
  if (!table_) {
    // Over a table, the table's own refusal says what to do about it.
    if (into_) src_->IdentifiedTable(into_->name);
    throw Error(EngineError::kNoIdentity, "The record set cannot name its records.", Context());
  }
  return ids_[static_cast<size_t>(pos_)];
}

// Starts the block of records the current one is read with: a walk
// record by record reads the records ahead, a jump the one record.
void OdbcRecordset::Load() {
  const long count = pos_ == blockEnd_ ? std::min<long>(kReadAhead, Size() - pos_) : 1;
  blockBegin_ = pos_;
  blockEnd_ = pos_ + count;
  parts_.clear();
  part_.assign(columns_.size(), std::nullopt);
  offset_.assign(columns_.size(), 0);
}

// Reads field `index` of the block's records: alone when it is the first
// field asked for (a walk reading one field reads nothing else), else with
// every field not read yet.
void OdbcRecordset::LoadField(size_t index) {
  const bool first = parts_.empty();
  std::vector<Field> wanted;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (part_[i] || (first && i != index)) continue;
    part_[i] = parts_.size();
    offset_[i] = wanted.size();
    wanted.push_back(columns_[i]);
  }
  ReadBlock(*src_, *table_, wanted,
            std::span(ids_).subspan(static_cast<size_t>(blockBegin_),
                                    static_cast<size_t>(blockEnd_ - blockBegin_)),
            parts_.emplace_back());
}

void OdbcRecordset::OpenKeyset(const SelectParts& parts) {
  if (parts.list == "*") {
    columns_ = table_->columns;
  } else {
    size_t start = 0;
    const std::string& list = parts.list;
    while (start <= list.size()) {
      size_t end = list.find(',', start);
      if (end == std::string::npos) end = list.size();
      std::string name = list.substr(start, end - start);
      name.erase(0, name.find_first_not_of(" []\""));
      name.erase(name.find_last_not_of(" []\"") + 1);
      const Field* found = nullptr;
      for (const Field& c : table_->columns) {
        if (SameName(c.name, name)) found = &c;
      }
      if (!found) {
        throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                    name + " in " + table_->name);
      }
      columns_.push_back(*found);
      start = end + 1;
    }
  }
  auto stmt = src_->NewStatement(table_->name + " in " + src_->Shown());
  stmt->ExecDirect("SELECT " + table_->identity + " FROM " +
                   src_->Family().QuoteName(table_->name) + " " +
                   TranslateSql(*src_, parts.rest, table_.get()));
  RowBlock keys(0);
  FetchRows(*stmt, {}, keys);
  ids_.assign(keys.Ids().begin(), keys.Ids().end());
  Go(0);
}

void OdbcRecordset::OpenWhole(const std::string& sql) {
  auto stmt = src_->NewStatement(src_->Shown());
  stmt->ExecDirect(TranslateSql(*src_, sql, nullptr));
  SQLSMALLINT count = 0;
  stmt->Check(SQLNumResultCols(stmt->get(), &count));
  for (SQLSMALLINT i = 1; i <= count; ++i) {
    SQLWCHAR name[256];
    SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    stmt->Check(SQLDescribeColW(stmt->get(), static_cast<SQLUSMALLINT>(i), name, 256, &nameLength,
                                &type, &size, &digits, &nullable));
    Field c;
    c.name = Narrow(name, std::min<size_t>(static_cast<size_t>(nameLength), 255));
    c.type = src_->Family().FieldTypeOf(type, "").value_or(FieldType::kText);
    c.size = static_cast<int>(size);
    // A column of the one table named is as its catalog describes it.
    for (const Field& known : into_ ? into_->columns : std::vector<Field>{}) {
      if (SameName(known.name, c.name)) c = known;
    }
    columns_.push_back(std::move(c));
  }
  while (stmt->Fetch()) {
    std::vector<Value> row;
    for (size_t i = 0; i < columns_.size(); ++i) {
      row.push_back(ReadValue(*stmt, static_cast<SQLUSMALLINT>(i + 1), columns_[i].type));
    }
    whole_.push_back(std::move(row));
  }
  Go(0);
}

// Closing the record set, or its database, closes it.
void OdbcRecordset::CheckOpen() const {
  if (closed_ || !src_->Open()) {
    throw Error(EngineError::kInvalidArgument, "The record set is closed.", Context());
  }
}

void OdbcRecordset::Go(long pos) {
  CheckOpen();
  adding_ = false;
  pos_ = pos;
  visited_ = std::max(visited_, std::min(pos_ + 1, Size()));
}

void OdbcRecordset::CheckCurrent() const {
  CheckOpen();
  if (pos_ >= Size()) throw Error(EngineError::kNoCurrentRecord, "No current record.", Context());
}

const Field& OdbcRecordset::ColumnAt(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= columns_.size()) {
    throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                "field " + std::to_string(index));
  }
  return columns_[static_cast<size_t>(index)];
}

std::string OdbcRecordset::Context() const {
  return (into_ ? into_->name + " in " : std::string()) + src_->Shown();
}

}  // namespace sa::dbengine::odbc
