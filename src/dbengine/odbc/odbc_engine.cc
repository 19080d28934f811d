#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/odbc_engine.h"

#include <odbcinst.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "dbengine/file_kind.h"
#include "dbengine/odbc/connection_string.h"
#include "dbengine/odbc/driver_family.h"
#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/odbc/row_arrays.h"
#include "dbengine/record_numbering.h"
#include "dbengine/sql_text.h"
#include "dbengine/transaction_guard.h"
#include "platform/file_system.h"

namespace sa::dbengine {

namespace {

using odbc::Connection;
using odbc::DriverFamily;
using odbc::Narrow;
using odbc::ReadValue;
using odbc::RowBlock;
using odbc::Statement;
using odbc::Widen;
using odbc::WideString;

// Identities named in one statement at most.
constexpr size_t kIdsPerStatement = 500;

struct TableInfo {
  std::string name;  // as the database spells it
  std::vector<Field> columns;
  std::string identity;  // whole-number identity expression, "" when none
  bool keyed = false;    // identity is the primary key
};

std::string CatalogText(SQLHSTMT stmt, SQLUSMALLINT column) {
  SQLWCHAR buffer[512];
  SQLLEN length = 0;
  const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &length);
  if (!SQL_SUCCEEDED(rc) || length == SQL_NULL_DATA) return "";
  const size_t n = std::min<size_t>(static_cast<size_t>(length) / sizeof(SQLWCHAR), 511);
  return Narrow(buffer, n);
}

int64_t CatalogInt(SQLHSTMT stmt, SQLUSMALLINT column) {
  SQLBIGINT v = 0;
  SQLLEN length = 0;
  const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_SBIGINT, &v, 0, &length);
  if (!SQL_SUCCEEDED(rc) || length == SQL_NULL_DATA) return 0;
  return v;
}

// The live connection, its family and its catalog, shared by the database
// and its record sets.
class Source {
 public:
  Source(std::unique_ptr<Connection> conn, std::unique_ptr<DriverFamily> family,
         const odbc::Waits& waits)
      : conn_(std::move(conn)), family_(std::move(family)), shown_(conn_->Shown()) {
    for (const std::string& sql : family_->SessionStatements(waits)) conn_->ExecDirect(sql);
    const auto ask = [&](const std::string& query) {
      if (query.empty()) return WideString();
      auto stmt = NewStatement(Shown());
      stmt->ExecDirect(query);
      return stmt->Fetch() ? Widen(CatalogText(stmt->get(), 1)) : WideString();
    };
    schema_ = ask(family_->CurrentSchemaQuery());
    catalog_ = ask(family_->CurrentCatalogQuery());
  }

  Connection& Conn() { return *conn_; }
  const DriverFamily& Family() const { return *family_; }
  const std::string& Shown() const { return shown_; }
  bool Open() const { return conn_ != nullptr; }
  // Frees the statements record sets keep before the connection goes, as
  // the driver manager frees them with it.
  void Close() {
    for (const auto& kept : kept_) {
      if (const auto stmt = kept.lock()) stmt->Free();
    }
    kept_.clear();
    conn_.reset();
  }

  std::unique_ptr<Statement> NewStatement(const std::string& context) {
    if (!conn_) throw Error(EngineError::kInvalidArgument, "The database is closed.", context);
    return std::make_unique<Statement>(*conn_, context);
  }
  // A statement kept across calls (a prepared INSERT), freed by Close.
  std::shared_ptr<Statement> NewKeptStatement(const std::string& context) {
    std::shared_ptr<Statement> stmt = NewStatement(context);
    std::erase_if(kept_, [](const std::weak_ptr<Statement>& w) { return w.expired(); });
    kept_.push_back(stmt);
    return stmt;
  }

  // The tables' names as the database spells them, by lower-cased name.
  const std::map<std::string, std::string>& Tables() {
    if (!tables_) {
      std::map<std::string, std::string> names;
      auto stmt = NewStatement(Shown());
      WideString type = Widen("TABLE");
      stmt->Check(stmt->Run([&] {
        return SQLTablesW(stmt->get(), Catalog(), CatalogLength(), Schema(), SchemaLength(),
                          nullptr, 0, type.data(), static_cast<SQLSMALLINT>(type.size()));
      }));
      while (stmt->Fetch()) {
        const std::string name = CatalogText(stmt->get(), 3);
        names.emplace(LowerAscii(name), name);
      }
      tables_ = std::move(names);
    }
    return *tables_;
  }

  void Forget() {
    tables_.reset();
    infos_.clear();
  }

  // The table named `table` in any letter case; throws EngineError::kTableNotFound.
  const TableInfo& Table(const std::string& table) { return *TablePtr(table); }
  std::shared_ptr<const TableInfo> TablePtr(const std::string& table) {
    const std::string key = LowerAscii(table);
    if (auto it = infos_.find(key); it != infos_.end()) return it->second;
    const auto& names = Tables();
    const auto found = names.find(key);
    if (found == names.end()) {
      throw Error(EngineError::kTableNotFound, "Cannot find the input table or query.",
                  table + " in " + Shown());
    }
    TableInfo info;
    info.name = found->second;
    WideString name = Widen(info.name);
    {
      auto stmt = NewStatement(table + " in " + Shown());
      stmt->Check(stmt->Run([&] {
        return SQLColumnsW(stmt->get(), Catalog(), CatalogLength(), Schema(), SchemaLength(),
                           name.data(), static_cast<SQLSMALLINT>(name.size()), nullptr, 0);
      }));
      while (stmt->Fetch()) {
        Field c;
        c.name = CatalogText(stmt->get(), 4);
        const auto type = family_->FieldTypeOf(static_cast<int>(CatalogInt(stmt->get(), 5)),
                                               CatalogText(stmt->get(), 6));
        c.type = type.value_or(FieldType::kText);
        c.size = static_cast<int>(CatalogInt(stmt->get(), 7));
        info.columns.push_back(std::move(c));
      }
    }
    if (const std::string query = family_->BooleanColumnsQuery(info.name); !query.empty()) {
      auto stmt = NewStatement(table + " in " + Shown());
      stmt->ExecDirect(query);
      while (stmt->Fetch()) {
        const std::string name = CatalogText(stmt->get(), 1);
        for (Field& c : info.columns) {
          if (c.name == name) c.type = FieldType::kBoolean;
        }
      }
    }
    std::vector<std::string> keys;
    {
      auto stmt = NewStatement(table + " in " + Shown());
      const SQLRETURN rc = stmt->Run([&] {
        return SQLPrimaryKeysW(stmt->get(), Catalog(), CatalogLength(), Schema(), SchemaLength(),
                               name.data(), static_cast<SQLSMALLINT>(name.size()));
      });
      if (SQL_SUCCEEDED(rc)) {
        while (stmt->Fetch()) keys.push_back(CatalogText(stmt->get(), 4));
      }
    }
    if (keys.size() == 1) {
      for (const Field& c : info.columns) {
        if (c.name == keys[0] && (c.type == FieldType::kLong || c.type == FieldType::kInteger)) {
          info.identity = family_->QuoteName(c.name);
          info.keyed = true;
        }
      }
    }
    if (info.identity.empty() && !family_->RowIdentity().empty()) {
      // A table may lack its family's row identity (SQLite's WITHOUT ROWID):
      // then it has none.
      try {
        auto stmt = NewStatement(table + " in " + Shown());
        stmt->ExecDirect("SELECT " + family_->RowIdentity() + " FROM " +
                         family_->QuoteName(info.name) + " WHERE 1 = 0");
        info.identity = family_->RowIdentity();
      } catch (const Error&) {
      }
    }
    return infos_.emplace(key, std::make_shared<const TableInfo>(std::move(info))).first->second;
  }

  // Throws EngineError::kNoIdentity when the table's records cannot be named.
  const TableInfo& IdentifiedTable(const std::string& table) {
    const TableInfo& info = Table(table);
    if (info.identity.empty()) {
      throw Error(EngineError::kNoIdentity,
                  "The table has no primary key or row identity to move by.",
                  info.name + " in " + Shown() +
                      ": give it a whole-number primary key; its records stay live");
    }
    return info;
  }

  // The condition naming the records of `info` whose identities are `ids`.
  std::string IdentityIn(const TableInfo& info, std::span<const int64_t> ids) const {
    return info.keyed ? family_->KeyIn(info.identity, ids) : family_->RowIdentityIn(ids);
  }

  // The engine's SQL in the driver's dialect: date literals become escapes,
  // and names of tables and of `columnsOf`'s fields are quoted as the
  // database spells them.
  std::string Translate(std::string_view sql, const TableInfo* columnsOf) {
    // Without a table given, the fields are those of the first table named.
    if (columnsOf == nullptr) {
      const auto& names = Tables();
      SqlLexer words(sql);
      for (SqlToken token; columnsOf == nullptr && words.Next(token);) {
        if (token.kind == SqlToken::Kind::kWord && names.count(LowerAscii(token.text)) != 0) {
          columnsOf = &Table(std::string(token.text));
        }
      }
    }
    std::string out;
    SqlLexer lexer(sql);
    for (SqlToken token; lexer.Next(token);) {
      if (token.kind == SqlToken::Kind::kDate) {
        if (const auto comparison = TakeFieldComparison(out)) {
          out += family_->DateComparison(comparison->field, comparison->op, token.date);
        } else {
          out += family_->DateLiteral(token.date);
        }
      } else if (token.kind == SqlToken::Kind::kWord) {
        out += QuotedName(std::string(token.text), columnsOf);
      } else {
        out += token.text;
      }
    }
    return out;
  }

 private:
  SQLWCHAR* Schema() { return schema_.empty() ? nullptr : schema_.data(); }
  SQLSMALLINT SchemaLength() const { return static_cast<SQLSMALLINT>(schema_.size()); }
  SQLWCHAR* Catalog() { return catalog_.empty() ? nullptr : catalog_.data(); }
  SQLSMALLINT CatalogLength() const { return static_cast<SQLSMALLINT>(catalog_.size()); }

  std::string QuotedName(const std::string& word, const TableInfo* columnsOf) {
    if (columnsOf != nullptr) {
      for (const Field& col : columnsOf->columns) {
        if (SameName(col.name, word)) return family_->QuoteName(col.name);
      }
    }
    const auto& names = Tables();
    if (auto it = names.find(LowerAscii(word)); it != names.end()) {
      return family_->QuoteName(it->second);
    }
    return word;
  }

  std::unique_ptr<Connection> conn_;
  std::unique_ptr<DriverFamily> family_;
  std::string shown_;
  std::vector<std::weak_ptr<Statement>> kept_;
  WideString schema_;
  WideString catalog_;
  std::optional<std::map<std::string, std::string>> tables_;
  std::unordered_map<std::string, std::shared_ptr<const TableInfo>> infos_;
};

// Reads the rows of `info` named by `ids` (any order), `columns` of them, in
// the order the database answers: many rows per driver call, a row whose
// text outgrows its column's buffer again on its own, value by value.
// Only those meeting `where` when it is given; locked until the transaction
// ends with `lock`.
// `rows` is emptied first; its storage serves again.
void ReadBlock(Source& src, const TableInfo& info, const std::vector<Field>& columns,
               std::span<const int64_t> ids, RowBlock& rows, bool lock = false,
               const std::string& where = "") {
  rows.Clear(columns.size());
  rows.Values().reserve(ids.size() * columns.size());
  std::string list = info.identity;
  for (const Field& c : columns) {
    list += ", " + src.Family().ReadExpression(src.Family().QuoteName(c.name), c.type);
  }
  const std::string from =
      "SELECT " + list + " FROM " + src.Family().QuoteName(info.name) + " WHERE ";
  const std::string rest =
      (where.empty() ? "" : " AND (" + where + ")") + (lock ? " FOR UPDATE" : "");
  const std::string context = info.name + " in " + src.Shown();
  // Buffers for texts of characters of two UTF-16 units each, where the
  // driver cannot be trusted to say it cut one.
  std::vector<Field> fetched = columns;
  if (src.Family().MiscountsCutTexts()) {
    for (Field& c : fetched) c.size *= 2;
  }
  for (size_t first = 0; first < ids.size(); first += kIdsPerStatement) {
    const auto chunk = ids.subspan(first, std::min(kIdsPerStatement, ids.size() - first));
    std::vector<int64_t> longer;
    {
      auto stmt = src.NewStatement(context);
      stmt->ExecDirect(from + src.IdentityIn(info, chunk) + rest);
      longer = odbc::FetchRows(*stmt, fetched, rows);
    }
    for (const int64_t id : longer) {
      auto stmt = src.NewStatement(context);
      stmt->ExecDirect(from + src.IdentityIn(info, {&id, 1}) + rest);
      Value* out = rows.Find(id);
      if (!stmt->Fetch() || out == nullptr) {
        // Gone since: not read at all.
        rows.Drop(id);
        continue;
      }
      for (size_t i = 0; i < columns.size(); ++i) {
        out[i] = ReadValue(*stmt, static_cast<SQLUSMALLINT>(i + 2), columns[i].type);
      }
    }
  }
}

// The same rows by identity, each with its own values.
std::unordered_map<int64_t, std::vector<Value>> ReadRows(Source& src, const TableInfo& info,
                                                         const std::vector<Field>& columns,
                                                         std::span<const int64_t> ids,
                                                         bool lock = false,
                                                         const std::string& where = "") {
  RowBlock block;
  ReadBlock(src, info, columns, ids, block, lock, where);
  std::unordered_map<int64_t, std::vector<Value>> rows;
  rows.reserve(block.Size());
  for (size_t r = 0; r < block.Size(); ++r) {
    Value* values = block.Find(block.Id(r));
    if (values == nullptr || rows.count(block.Id(r)) != 0) continue;
    rows.emplace(block.Id(r), std::vector<Value>(std::make_move_iterator(values),
                                                 std::make_move_iterator(values + block.Width())));
  }
  return rows;
}

// A keyset-driven record set over one table: the identities and their order
// are read when it opens; values are read from the current record when
// first asked for. A SELECT over anything else is read whole when it opens
// and cannot name its records.
class OdbcRecordset : public Recordset {
 public:
  OdbcRecordset(std::shared_ptr<Source> src, std::string sql) : src_(std::move(src)) {
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

  bool Eof() const override { return pos_ >= Size(); }
  void MoveFirst() override { Go(0); }
  void MoveLast() override { Go(Size() == 0 ? 0 : Size() - 1); }
  void MoveNext() override {
    CheckCurrent();
    Go(pos_ + 1);
  }
  void Move(long rows) override {
    if (rows != 0) CheckCurrent();
    Go(std::clamp<long>(pos_ + rows, 0, Size()));
  }
  long RecordCount() const override { return visited_; }

  int FieldCount() const override { return static_cast<int>(columns_.size()); }
  const std::string& FieldName(int index) const override { return ColumnAt(index).name; }
  int FieldIndex(std::string_view name) const override {
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (SameName(columns_[i].name, name)) return static_cast<int>(i);
    }
    throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                std::string(name));
  }

  Value GetValue(int index) override {
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

  void SetValue(int index, const Value& value) override {
    ColumnAt(index);
    if (!adding_) {
      throw Error(EngineError::kUpdateWithoutAddNew,
                  "Update or CancelUpdate without AddNew or Edit.", Context());
    }
    pending_[static_cast<size_t>(index)] = value;
  }

  void AddNew() override {
    if (!into_) throw Error(EngineError::kReadOnly, "The record set cannot be updated.", Context());
    adding_ = true;
    pending_.assign(columns_.size(), std::monostate{});
  }

  void Update() override {
    if (!adding_) {
      throw Error(EngineError::kUpdateWithoutAddNew,
                  "Update or CancelUpdate without AddNew or Edit.", Context());
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
    odbc::ParameterArrays(*insert_, columns, src_->Family().StoresDatesAsText()).Insert(values);
  }

  void Delete() override {
    CheckCurrent();
    if (!table_)
      throw Error(EngineError::kReadOnly, "The record set cannot be updated.", Context());
    const int64_t id = ids_[static_cast<size_t>(pos_)];
    auto stmt = src_->NewStatement(Context());
    stmt->ExecDirect("DELETE FROM " + src_->Family().QuoteName(table_->name) + " WHERE " +
                     src_->IdentityIn(*table_, {&id, 1}));
    if (stmt->RowCount() == 0) {
      throw Error(EngineError::kRecordDeleted, "Record is deleted.", Context());
    }
    for (RowBlock& part : parts_) part.Drop(id);
  }

  void Close() override {
    insert_.reset();
    closed_ = true;
    adding_ = false;
  }

  int64_t Bookmark() override {
    CheckCurrent();
    if (!table_) {
      // Over a table, the table's own refusal says what to do about it.
      if (into_) src_->IdentifiedTable(into_->name);
      throw Error(EngineError::kNoIdentity, "The record set cannot name its records.", Context());
    }
    return ids_[static_cast<size_t>(pos_)];
  }

 private:
  // Starts the block of records the current one is read with: a walk
  // record by record reads the records ahead, a jump the one record.
  void Load() {
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
  void LoadField(size_t index) {
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

  void OpenKeyset(const SelectParts& parts) {
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
                     src_->Translate(parts.rest, table_.get()));
    RowBlock keys(0);
    odbc::FetchRows(*stmt, {}, keys);
    ids_.assign(keys.Ids().begin(), keys.Ids().end());
    Go(0);
  }

  void OpenWhole(const std::string& sql) {
    auto stmt = src_->NewStatement(src_->Shown());
    stmt->ExecDirect(src_->Translate(sql, nullptr));
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

  long Size() const { return static_cast<long>(table_ ? ids_.size() : whole_.size()); }
  // Closing the record set, or its database, closes it.
  void CheckOpen() const {
    if (closed_ || !src_->Open()) {
      throw Error(EngineError::kInvalidArgument, "The record set is closed.", Context());
    }
  }
  void Go(long pos) {
    CheckOpen();
    adding_ = false;
    pos_ = pos;
    visited_ = std::max(visited_, std::min(pos_ + 1, Size()));
  }
  void CheckCurrent() const {
    CheckOpen();
    if (pos_ >= Size()) throw Error(EngineError::kNoCurrentRecord, "No current record.", Context());
  }
  const Field& ColumnAt(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= columns_.size()) {
      throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                  "field " + std::to_string(index));
    }
    return columns_[static_cast<size_t>(index)];
  }
  std::string Context() const {
    return (into_ ? into_->name + " in " : std::string()) + src_->Shown();
  }

  std::shared_ptr<Source> src_;
  std::shared_ptr<const TableInfo> table_;  // when its records have identities
  std::shared_ptr<const TableInfo> into_;   // the one table named, added records go to
  std::vector<Field> columns_;
  std::vector<int64_t> ids_;
  std::vector<std::vector<Value>> whole_;
  static constexpr long kReadAhead = 256;
  // The block's fields as read so far: in which part each is, and where.
  std::vector<RowBlock> parts_;
  std::vector<std::optional<size_t>> part_;
  std::vector<size_t> offset_;
  long blockBegin_ = 0;
  long blockEnd_ = 0;
  std::vector<Value> pending_;
  std::shared_ptr<Statement> insert_;
  std::string insertNames_;
  long pos_ = 0;
  long visited_ = 0;
  bool adding_ = false;
  bool closed_ = false;
};

class OdbcArchiveLink;

// What a database shares with its archive links: the live connection, the
// records the open transaction last read for a move, and the links its
// transactions span. Links hold it too, so either may go first.
class Session {
 public:
  explicit Session(std::shared_ptr<Source> src) : src_(std::move(src)) {}

  Source& Src() { return *src_; }
  const std::shared_ptr<Source>& SharedSource() const { return src_; }
  const std::string& Shown() const { return src_->Shown(); }
  bool InTransaction() const { return src_->Open() && src_->Conn().InTransaction(); }

  std::vector<OdbcArchiveLink*>& Links() { return links_; }
  void Register(OdbcArchiveLink* link) { links_.push_back(link); }
  void Unregister(OdbcArchiveLink* link) { std::erase(links_, link); }

  // Undoes the open transaction, on the live database and in every archive.
  void Rollback();
  // Commits the open transaction in every archive; the live side stays open.
  void CommitArchives();

  void ForgetRead() {
    read_.table.clear();
    read_.rows.Clear(0);
  }

  // Reads the named records of `info` that meet `where` (the driver's SQL;
  // empty: all), every field, for a move. Inside a transaction they stay as
  // read until it ends where the family can see to it: locked as they are
  // selected (so that a row identity that depends on the row's place cannot
  // change either), or kept from other writers by the write lock taken
  // first. The copy that follows takes their values from here rather than
  // reading the same records again.
  void ReadForMove(const TableInfo& info, std::span<const int64_t> ids, const std::string& where) {
    const std::string writeLock =
        src_->Family().WriteLockStatement(src_->Family().QuoteName(info.name));
    if (InTransaction() && !writeLock.empty()) src_->Conn().ExecDirect(writeLock);
    ReadBlock(*src_, info, info.columns, ids, read_.rows,
              src_->Family().LocksSelectedRows() && InTransaction(), where);
    read_.table = InTransaction() ? LowerAscii(info.name) : "";
  }

  // Whether ReadForMove read every one of the named records of `info`.
  bool ReadAll(const TableInfo& info, std::span<const int64_t> ids) const {
    return read_.table == LowerAscii(info.name) &&
           std::all_of(ids.begin(), ids.end(),
                       [&](int64_t id) { return read_.rows.Find(id) != nullptr; });
  }
  // The values ReadForMove read of record `id`; nullptr when it read none.
  const Value* Read(int64_t id) const { return read_.rows.Find(id); }

  // The named records of `info` that exist, in the order named, with
  // `columns` of their values: those the transaction read with RecordsWhere
  // when it named all of them, else read now. The values RecordsWhere read
  // serve one copy only; the rows stay until the next read.
  struct RowsRead {
    std::span<const int64_t> ids;
    std::span<const Value> values;  // row after row, `columns` of each
  };
  RowsRead RowsToCopy(const TableInfo& info, const std::vector<Field>& columns,
                      std::span<const int64_t> ids) {
    const bool readBefore = InTransaction() && ReadAll(info, ids);
    read_.table.clear();
    std::vector<size_t> at;
    if (readBefore) {
      for (const Field& c : columns) {
        for (size_t i = 0; i < info.columns.size(); ++i) {
          if (info.columns[i].name == c.name) {
            at.push_back(i);
            break;
          }
        }
      }
    } else {
      ReadBlock(*src_, info, columns, ids, read_.rows);
      for (size_t i = 0; i < columns.size(); ++i) at.push_back(i);
    }
    RowBlock& read = read_.rows;
    // Read in the order named, every field in its place: taken as they are.
    bool asRead = read.Whole() && read.Size() == ids.size() && at.size() == read.Width();
    for (size_t i = 0; asRead && i < at.size(); ++i) asRead = at[i] == i;
    for (size_t r = 0; asRead && r < ids.size(); ++r) asRead = read.Id(r) == ids[r];
    if (asRead) return {read.Ids(), read.Values()};
    // As many rows read as named, each found: no record is named twice, and
    // the values read can move.
    const bool once = read.Whole() && read.Distinct() && read.Size() == ids.size();
    copy_.Clear(columns.size());
    copy_.Values().reserve(ids.size() * columns.size());
    for (int64_t id : ids) {
      Value* all = read.Find(id);
      if (all == nullptr) continue;
      Value* values = copy_.Add(id);
      for (size_t i = 0; i < at.size(); ++i) {
        values[i] = once ? std::move(all[at[i]]) : all[at[i]];
      }
    }
    return {copy_.Ids(), copy_.Values()};
  }

  // Deletes the named records of `info` by identity; returns how many existed.
  long DeleteByIdentity(const TableInfo& info, std::span<const int64_t> ids) {
    long deleted = 0;
    for (size_t first = 0; first < ids.size(); first += kIdsPerStatement) {
      const auto chunk = ids.subspan(first, std::min(kIdsPerStatement, ids.size() - first));
      auto stmt = src_->NewStatement(info.name + " in " + Shown());
      stmt->ExecDirect("DELETE FROM " + src_->Family().QuoteName(info.name) + " WHERE " +
                       src_->IdentityIn(info, chunk));
      deleted += static_cast<long>(stmt->RowCount());
    }
    return deleted;
  }

  // Deletes each of the named records of `info` whose `columns` still hold
  // the values `read` gives for it, one statement per record, its identity
  // and every field compared in the statement itself: a record another
  // program changes after it was read is not deleted, and one it changes
  // later waits for this transaction. Returns those deleted, in the order
  // named. A record left although the database, reading it as this
  // transaction does (the same snapshot, where it keeps one), still finds
  // it as read, yet cannot find its values equal to those read, refuses
  // the call: the comparison cannot be made exactly there, and the record
  // would never move.
  std::vector<int64_t> DeleteUnchanged(const TableInfo& info, const std::vector<Field>& columns,
                                       std::span<const int64_t> ids,
                                       const std::function<const Value*(int64_t)>& read) {
    const std::string context = info.name + " in " + Shown();
    // One prepared statement per pattern of null fields.
    struct Prepared {
      std::unique_ptr<Statement> stmt;
      std::unique_ptr<odbc::ParameterArrays> params;
    };
    std::map<std::vector<bool>, Prepared> prepared;
    std::vector<int64_t> deleted, left;
    for (const int64_t id : ids) {
      const Value* values = read(id);
      if (values == nullptr) continue;
      std::vector<bool> nulls(columns.size());
      for (size_t i = 0; i < columns.size(); ++i) nulls[i] = IsNull(values[i]);
      SameAsRead same = SameAsReadCondition(info, columns, id, values);
      Prepared& p = prepared[nulls];
      if (!p.stmt) {
        p.stmt = src_->NewStatement(context);
        p.stmt->Prepare("DELETE FROM " + src_->Family().QuoteName(info.name) + " WHERE " +
                        same.where);
        p.params = std::make_unique<odbc::ParameterArrays>(*p.stmt, same.params,
                                                           src_->Family().StoresDatesAsText());
      }
      p.params->Insert(same.args);
      (p.stmt->RowCount() > 0 ? deleted : left).push_back(id);
    }
    if (!left.empty()) {
      const auto now = ReadRows(*src_, info, columns, left);
      for (const int64_t id : left) {
        const auto row = now.find(id);
        if (row == now.end() || !std::equal(row->second.begin(), row->second.end(), read(id)) ||
            FindsSameAsRead(info, columns, id, read(id))) {
          continue;  // changed or deleted since it was read: it stays
        }
        std::string field = "(together)";
        for (size_t i = 0; i < columns.size(); ++i) {
          const std::vector<Field> one{columns[i]};
          if (!FindsSameAsRead(info, one, id, read(id) + i)) {
            field = columns[i].name + " " + ValueToText(read(id)[i]);
            break;
          }
        }
        throw Error(EngineError::kCallFailed,
                    "A record cannot be compared with what was read of it.",
                    context + ": record " + std::to_string(id) + ", field " + field +
                        ": the database does not find the value read equal to itself; the "
                        "record stays live");
      }
    }
    return deleted;
  }

 private:
  // The condition that the record of the first parameter's identity holds
  // `values` in `columns` (IS NULL for a null), and the columns of its
  // parameters, with the arguments for `id`.
  struct SameAsRead {
    std::string where;
    std::vector<Field> params;
    std::vector<Value> args;
  };
  SameAsRead SameAsReadCondition(const TableInfo& info, const std::vector<Field>& columns,
                                 int64_t id, const Value* values) const {
    SameAsRead out{info.identity + " = ?", {Field{"", FieldType::kLong, 0}}, {id}};
    for (size_t i = 0; i < columns.size(); ++i) {
      const bool null = IsNull(values[i]);
      out.where +=
          " AND " + src_->Family().QuoteName(columns[i].name) + (null ? " IS NULL" : " = ?");
      if (!null) {
        out.params.push_back(columns[i]);
        out.args.push_back(values[i]);
      }
    }
    return out;
  }

  // Whether the database finds record `id` of `info` equal to `values` in
  // `columns` (as SameAsReadCondition compares them) when it reads it as
  // this transaction reads.
  bool FindsSameAsRead(const TableInfo& info, const std::vector<Field>& columns, int64_t id,
                       const Value* values) {
    const SameAsRead same = SameAsReadCondition(info, columns, id, values);
    auto stmt = src_->NewStatement(info.name + " in " + Shown());
    stmt->Prepare("SELECT " + info.identity + " FROM " + src_->Family().QuoteName(info.name) +
                  " WHERE " + same.where);
    odbc::ParameterArrays(*stmt, same.params, src_->Family().StoresDatesAsText()).Insert(same.args);
    return stmt->Fetch();
  }

  std::shared_ptr<Source> src_;
  std::vector<OdbcArchiveLink*> links_;
  // The records the open transaction last read with RecordsWhere.
  struct ReadUnderLock {
    std::string table;  // lower-cased; "" when none
    RowBlock rows;
  };
  ReadUnderLock read_;
  RowBlock copy_;  // the rows of the last copy, when not as read
};

// A text equal for two records exactly when their values are equal, each
// value with its kind, so that records can be counted by their values.
std::string Fingerprint(const std::vector<Value>& values) {
  std::string out;
  for (const Value& v : values) {
    if (const auto* i = std::get_if<int64_t>(&v)) {
      out += 'i' + std::to_string(*i);
    } else if (const auto* d = std::get_if<double>(&v)) {
      // Zero of either sign is one value; the bits tell the others apart.
      out += 'd' + std::to_string(std::bit_cast<uint64_t>(*d == 0 ? 0.0 : *d));
    } else if (const auto* t = std::get_if<std::string>(&v)) {
      out += 's' + std::to_string(t->size()) + ':' + *t;
    } else if (const auto* dt = std::get_if<DateTime>(&v)) {
      out += 't' + dt->ToIso();
    } else {
      out += 'n';
    }
    out += ';';
  }
  return out;
}

// An archive on a connection of its own, opened by the archive engine: a
// move reads the live records here and appends them there in one bulk
// append; a restore reads the archive through its record sets. The archive
// joins the live database's transactions and steps, and commits before it.
class OdbcArchiveLink : public ArchiveLink {
 public:
  OdbcArchiveLink(std::shared_ptr<Session> session, std::unique_ptr<Database> archive,
                  std::string path)
      : session_(std::move(session)), archive_(std::move(archive)), path_(std::move(path)) {
    if (session_->InTransaction()) archive_->BeginTrans();
    session_->Register(this);
  }
  ~OdbcArchiveLink() override {
    try {
      if (session_->InTransaction()) session_->Rollback();
    } catch (const Error&) {
      // The live database's own rollback on close undoes it as well.
    }
    session_->Unregister(this);
    Close();
  }

  const std::string& Path() const override { return path_; }

  // The live database's transaction, on the archive's side.
  void Begin() {
    archive_->BeginTrans();
    appended_.clear();
  }
  // Commits the archive; what it was given is then committed.
  void Commit() {
    if (archive_->InTransaction()) archive_->CommitTrans();
    committed_ = std::exchange(appended_, {});
  }
  void Rollback() {
    appended_.clear();
    try {
      if (archive_->InTransaction()) archive_->Rollback();
    } catch (const Error&) {
      // The archive's own rollback on close undoes it as well.
    }
  }
  void Savepoint() {
    appendedBeforeStep_ = appended_.size();
    archive_->Savepoint();
  }
  void ReleaseSavepoint() { archive_->ReleaseSavepoint(); }
  // False when the archive undid its whole transaction.
  bool RollbackToSavepoint() {
    appended_.resize(std::min(appended_.size(), appendedBeforeStep_));
    return archive_->RollbackToSavepoint();
  }
  // Closes the archive, as the live database closes.
  void Close() {
    try {
      archive_->Close();
    } catch (const Error&) {
      // Closing drops the connection whatever the driver says.
    }
  }

  IdentityStretches CopyOut(const std::string& table, std::span<const int64_t> liveIds) override {
    Source& src = session_->Src();
    const TableInfo& info = src.IdentifiedTable(table);
    const TableDef target = ArchiveTable(table);
    const std::vector<Field> sources = SourceColumns(info, target);
    const auto rows = session_->RowsToCopy(info, sources, liveIds);
    const size_t width = sources.size();
    Copies copies{LowerAscii(info.name), {rows.ids.begin(), rows.ids.end()}, width, {}};
    copies.values.reserve(rows.ids.size() * width);
    try {
      for (size_t r = 0; r < rows.ids.size(); ++r) {
        size_t i = 0;
        for (const Field& f : target.Fields()) {
          copies.values.push_back(
              ConvertForField(rows.values[r * width + i++], f.type, f.size, f.name));
        }
      }
    } catch (const Error& e) {
      // A refused value names its field; the table and the archive go first.
      throw e.WithCause(info.name + " into " + archive_->Name());
    }
    // One bulk append: the run in the archive whole or not at all. The
    // copies take the identities after the archive's last record.
    std::vector<std::string> fields;
    for (const Field& f : target.Fields()) fields.push_back(f.name);
    const int64_t first = NumberingOf(*archive_).LastRecordId(target.Name()) + 1;
    const long appended = archive_->AppendRows(target.Name(), fields, copies.values);
    appended_.push_back(std::move(copies));
    IdentityStretches out;
    out.AddStretch(first, appended);
    return out;
  }

  long ReplaceTable(const std::string& table, std::span<const int64_t> liveIds) override {
    archive_->Execute("delete from " + table);
    return static_cast<long>(CopyOut(table, liveIds).size());
  }

  long DeleteLiveCopied(const std::string& table, std::span<const int64_t> liveIds,
                        std::span<const int64_t> copyIds) override {
    Source& src = session_->Src();
    if (copyIds.size() != liveIds.size()) {
      throw Error(EngineError::kInvalidArgument, "Each record needs the identity of its copy.",
                  table + " in " + src.Shown());
    }
    const bool inTransaction = session_->InTransaction();
    const TableInfo& info = src.IdentifiedTable(table);
    const TableDef target = ArchiveTable(table);
    const std::vector<Field> sources = SourceColumns(info, target);
    const std::string writeLock =
        src.Family().WriteLockStatement(src.Family().QuoteName(info.name));
    if (inTransaction && !writeLock.empty()) src.Conn().ExecDirect(writeLock);
    const auto live =
        ReadRows(src, info, sources, liveIds, inTransaction && src.Family().LocksSelectedRows());
    // The live record's values as the copy took them; a value that no
    // longer converts differs from its copy.
    const auto converted = [&](int64_t bookmark) -> std::optional<std::vector<Value>> {
      const auto row = live.find(bookmark);
      if (row == live.end()) return std::nullopt;
      std::vector<Value> values;
      int i = 0;
      try {
        for (const Field& f : target.Fields()) {
          values.push_back(
              ConvertForField(row->second[static_cast<size_t>(i++)], f.type, f.size, f.name));
        }
      } catch (const Error&) {
        return std::nullopt;
      }
      return values;
    };
    // Equal to their copies when read: deleted as read.
    const auto deleteSame = [&](const std::vector<int64_t>& same) -> long {
      if (inTransaction && src.Family().KeepsReadRecordsUntilCommit()) {
        return session_->DeleteByIdentity(info, same);
      }
      return static_cast<long>(session_
                                   ->DeleteUnchanged(info, sources, same,
                                                     [&](int64_t id) {
                                                       const auto row = live.find(id);
                                                       return row == live.end()
                                                                  ? nullptr
                                                                  : row->second.data();
                                                     })
                                   .size());
    };
    std::vector<int64_t> same;
    if (const Copies* known = CommittedCopies(info.name, liveIds)) {
      // Copies this link wrote and saw committed: compared as written.
      for (size_t k = 0; k < known->bookmarks.size(); ++k) {
        const auto values = converted(known->bookmarks[k]);
        const auto copy = std::span(known->values).subspan(k * known->width, known->width);
        if (values && std::equal(values->begin(), values->end(), copy.begin(), copy.end())) {
          same.push_back(known->bookmarks[k]);
        }
      }
      return deleteSame(same);
    }
    // After a crash the copies are read back, once the archive is seen to
    // hold them (its commit is atomic: every copy is there, or none): by
    // identity, the i-th named record against the copy named copyIds[i]; in
    // an archive whose records have no identity (numbered by position), each
    // live record against a copy of equal values that no other live record
    // has taken.
    if (liveIds.empty() || NumberingOf(*archive_).LastRecordId(target.Name()) <
                               *std::min_element(copyIds.begin(), copyIds.end())) {
      return 0;
    }
    const std::unordered_set<int64_t> named(copyIds.begin(), copyIds.end());
    std::unordered_map<int64_t, std::vector<Value>> byId;
    std::unordered_map<std::string, long> byValues;
    bool identified = true;
    {
      auto rs = archive_->OpenRecordset("SELECT * FROM " + target.Name());
      for (; !rs->Eof(); rs->MoveNext()) {
        std::vector<Value> values;
        for (int i = 0; i < rs->FieldCount(); ++i) values.push_back(rs->GetValue(i));
        if (identified) {
          try {
            const int64_t id = rs->Bookmark();
            if (named.count(id) != 0) byId.emplace(id, std::move(values));
            continue;
          } catch (const Error& e) {
            if (e.Number() != EngineError::kNoIdentity) throw;
            identified = false;
          }
        }
        ++byValues[Fingerprint(values)];
      }
      rs->Close();
    }
    for (size_t k = 0; k < liveIds.size(); ++k) {
      const auto values = converted(liveIds[k]);
      if (!values) continue;
      if (identified) {
        const auto copy = byId.find(copyIds[k]);
        if (copy != byId.end() && copy->second == *values) same.push_back(liveIds[k]);
      } else if (long& left = byValues[Fingerprint(*values)]; left > 0) {
        --left;
        same.push_back(liveIds[k]);
      }
    }
    return deleteSame(same);
  }

  // Taking a month back: the archive is read through its own database's
  // record sets (any backend that names its records), the live side through
  // the live connection. The live copies' identities are learnt as the
  // family allows (see CopyBack).
  std::vector<int64_t> ArchivedIds(const std::string& table) override {
    std::vector<int64_t> ids;
    for (const auto& [id, values] : ArchivedRecords(table).rows) ids.push_back(id);
    return ids;
  }

  // Inserts the named archived records into the live table one by one,
  // converted for the live fields, and learns each new record's identity:
  // returned by the INSERT, asked for right after it, or, for a key the
  // archive holds, the key's own value.
  IdentityStretches CopyBack(const std::string& table,
                             std::span<const int64_t> archivedIds) override {
    Source& src = session_->Src();
    const ArchivedTable archived = ArchivedRecords(table);
    const TableInfo& info = src.IdentifiedTable(table);
    const std::vector<Field> columns = SourceColumns(info, archived.def);
    const DriverFamily& family = src.Family();
    const std::string quoted = family.QuoteName(info.name);
    const std::string context = info.name + " from " + archive_->Name() + " into " + src.Shown();
    std::optional<size_t> keyField;
    for (size_t i = 0; i < columns.size() && info.keyed; ++i) {
      if (family.QuoteName(columns[i].name) == info.identity) keyField = i;
    }
    const std::string returning = family.InsertReturning(info.identity);
    const std::string query =
        returning.empty() ? family.InsertedIdentityQuery(info.identity, quoted) : "";
    if (returning.empty() && query.empty() && !keyField) {
      throw Error(EngineError::kNoIdentity,
                  "The identity a restored record gets cannot be learnt here.",
                  context +
                      ": the driver tells no new record's identity; a whole-number "
                      "primary key that the archive holds would name them");
    }
    std::string names, marks;
    for (const Field& c : columns) {
      names += (names.empty() ? "" : ",") + family.QuoteName(c.name);
      marks += marks.empty() ? "?" : ",?";
    }
    auto insert = src.NewStatement(context);
    insert->Prepare("INSERT INTO " + quoted + " (" + names + ") VALUES (" + marks + ")" +
                    returning);
    std::unique_ptr<Statement> ask;
    if (!query.empty()) {
      ask = src.NewStatement(context);
      ask->Prepare(query);
    }
    odbc::ParameterArrays params(*insert, columns, family.StoresDatesAsText());
    std::vector<int64_t> copyIds;
    copyIds.reserve(archivedIds.size());
    for (const int64_t id : archivedIds) {
      const auto row = archived.rows.find(id);
      if (row == archived.rows.end()) continue;
      std::vector<Value> values;
      values.reserve(columns.size());
      for (size_t i = 0; i < columns.size(); ++i) {
        values.push_back(
            ConvertForField(row->second[i], columns[i].type, columns[i].size, columns[i].name));
      }
      params.Insert(values);
      std::optional<int64_t> copy;
      if (!returning.empty()) {
        copy = AnsweredIdentity(*insert);
      } else if (ask) {
        ask->Execute();
        copy = AnsweredIdentity(*ask);
      } else if (const auto* key = std::get_if<int64_t>(&values[*keyField])) {
        copy = *key;
      }
      if (!copy) {
        throw Error(EngineError::kNoIdentity,
                    "The identity a restored record got cannot be learnt.",
                    context + ": record " + std::to_string(id) + " of the archive");
      }
      copyIds.push_back(*copy);
    }
    CheckCameBackExactly(archived, info, columns, archivedIds, copyIds, context);
    return IdentityStretches(copyIds);
  }

  long DeleteArchived(const std::string& table, std::span<const int64_t> archivedIds) override {
    return archive_->DeleteRecords(table, archivedIds);
  }

  // Deletes the named archived records whose live copies (copyIds, in the
  // same order) hold their values, converted as CopyBack converts.
  long DeleteArchivedCopied(const std::string& table, std::span<const int64_t> archivedIds,
                            std::span<const int64_t> copyIds) override {
    if (copyIds.size() != archivedIds.size()) {
      throw Error(EngineError::kInvalidArgument, "Each record needs the identity of its copy.",
                  table + " in " + archive_->Name());
    }
    Source& src = session_->Src();
    const ArchivedTable archived = ArchivedRecords(table);
    const TableInfo& info = src.IdentifiedTable(table);
    const std::vector<Field> columns = SourceColumns(info, archived.def);
    const auto live = ReadRows(src, info, columns, copyIds,
                               session_->InTransaction() && src.Family().LocksSelectedRows());
    std::vector<int64_t> same;
    for (size_t k = 0; k < archivedIds.size(); ++k) {
      const auto row = archived.rows.find(archivedIds[k]);
      const auto copy = live.find(copyIds[k]);
      if (row == archived.rows.end() || copy == live.end()) continue;
      bool equal = true;
      for (size_t i = 0; i < columns.size() && equal; ++i) {
        try {
          equal = ConvertForField(row->second[i], columns[i].type, columns[i].size,
                                  columns[i].name) == copy->second[i];
        } catch (const Error&) {
          equal = false;
        }
      }
      if (equal) same.push_back(archivedIds[k]);
    }
    return archive_->DeleteRecords(archived.def.Name(), same);
  }

  void CommitArchive() override { Commit(); }

 private:
  // Records copied into the archive (the table lower-cased).
  struct Copies {
    std::string table;
    std::vector<int64_t> bookmarks;
    size_t width = 0;           // fields per record
    std::vector<Value> values;  // record after record, as converted for the archive
  };

  // The copies of `table` this link appended and committed last, when they
  // are of the named records.
  const Copies* CommittedCopies(const std::string& table,
                                std::span<const int64_t> bookmarks) const {
    for (auto it = committed_.rbegin(); it != committed_.rend(); ++it) {
      if (it->table != LowerAscii(table)) continue;
      const std::unordered_set<int64_t> named(bookmarks.begin(), bookmarks.end());
      const bool all = std::all_of(it->bookmarks.begin(), it->bookmarks.end(),
                                   [&](int64_t id) { return named.count(id) != 0; });
      return all ? &*it : nullptr;
    }
    return nullptr;
  }

  TableDef ArchiveTable(const std::string& table) {
    for (TableDef& def : archive_->TableDefs()) {
      if (SameName(def.Name(), table)) return std::move(def);
    }
    throw Error(EngineError::kTableNotFound, "Cannot find the input table or query.",
                table + " in " + archive_->Name());
  }

  // The live columns that fill the archive table's fields, in its order.
  std::vector<Field> SourceColumns(const TableInfo& info, const TableDef& target) const {
    std::vector<Field> out;
    for (const Field& f : target.Fields()) {
      const Field* found = nullptr;
      for (const Field& c : info.columns) {
        if (SameName(c.name, f.name)) found = &c;
      }
      if (!found) {
        throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                    "field " + f.name + " of " + info.name + " in " + session_->Shown());
      }
      out.push_back(*found);
    }
    return out;
  }

  // An archive table's fields and its records' values, by identity.
  struct ArchivedTable {
    TableDef def;
    std::map<int64_t, std::vector<Value>> rows;
  };

  ArchivedTable ArchivedRecords(const std::string& table) {
    ArchivedTable out{ArchiveTable(table), {}};
    auto rs = archive_->OpenRecordset("SELECT * FROM " + out.def.Name());
    std::vector<int> fields;
    for (const Field& f : out.def.Fields()) fields.push_back(rs->FieldIndex(f.name));
    for (; !rs->Eof(); rs->MoveNext()) {
      int64_t id = 0;
      try {
        id = rs->Bookmark();
      } catch (const Error& e) {
        if (e.Number() != EngineError::kNoIdentity) throw;
        throw Error(EngineError::kNoIdentity,
                    "The archive's records have no identity to take them back by.",
                    out.def.Name() + " in " + archive_->Name() +
                        ": its database format offers no row identity; the records stay in "
                        "the archive");
      }
      std::vector<Value> values;
      values.reserve(fields.size());
      for (const int i : fields) values.push_back(rs->GetValue(i));
      out.rows.emplace(id, std::move(values));
    }
    rs->Close();
    return out;
  }

  // The identity of the record an INSERT ... RETURNING or an identity query
  // just answered; nullopt when it answered none. Closes the answer.
  static std::optional<int64_t> AnsweredIdentity(Statement& stmt) {
    std::optional<int64_t> id;
    if (stmt.Fetch()) {
      SQLBIGINT v = 0;
      SQLLEN length = 0;
      stmt.Check(SQLGetData(stmt.get(), 1, SQL_C_SBIGINT, &v, 0, &length));
      if (length != SQL_NULL_DATA) id = v;
    }
    SQLFreeStmt(stmt.get(), SQL_CLOSE);
    return id;
  }

  // Throws EngineError::kDataConversion when a record just taken back holds
  // a value that its live field changed: its live copy (copyIds[i] for
  // ids[i]), read back as the archive's field, differs from the archived
  // value (a fraction into a whole-number field, a time into a date, a
  // number rounded to the column's scale).
  void CheckCameBackExactly(const ArchivedTable& archived, const TableInfo& info,
                            const std::vector<Field>& columns, std::span<const int64_t> ids,
                            std::span<const int64_t> copyIds, const std::string& context) {
    Source& src = session_->Src();
    const auto live = ReadRows(src, info, columns, copyIds,
                               session_->InTransaction() && src.Family().LocksSelectedRows());
    size_t k = 0;
    for (const int64_t id : ids) {
      const auto row = archived.rows.find(id);
      if (row == archived.rows.end()) continue;
      const auto copy = live.find(copyIds[k++]);
      for (size_t i = 0; i < columns.size(); ++i) {
        const Field& field = archived.def.Fields().Item(static_cast<int>(i));
        const Value* now = copy == live.end() ? nullptr : &copy->second[i];
        bool same = false;
        try {
          same = now != nullptr &&
                 ConvertForField(*now, field.type, field.size, field.name) == row->second[i];
        } catch (const Error&) {
        }
        if (same) continue;
        throw Error(EngineError::kDataConversion, "A value would not come back exactly.",
                    context + ": record " + std::to_string(id) + ", field " + field.name + " " +
                        ValueToText(row->second[i]) + " would come back as " +
                        (now != nullptr ? ValueToText(*now) : std::string("nothing")) +
                        "; the table's records stay in the archive");
      }
    }
  }

  std::shared_ptr<Session> session_;
  std::unique_ptr<Database> archive_;
  std::string path_;
  // Records copied into the archive, as written: those of the open
  // transaction, and those of the last commit, which the deletion of their
  // live records compares against.
  std::vector<Copies> appended_, committed_;
  size_t appendedBeforeStep_ = 0;
};

void Session::Rollback() {
  ForgetRead();
  for (OdbcArchiveLink* link : links_) link->Rollback();
  if (src_->Open()) src_->Conn().EndTrans(false);
}

void Session::CommitArchives() {
  for (OdbcArchiveLink* link : links_) link->Commit();
}

class OdbcDatabase : public Database, public RecordNumbering {
 public:
  OdbcDatabase(std::shared_ptr<Source> src, Engine* archiveEngine)
      : session_(std::make_shared<Session>(std::move(src))), archiveEngine_(archiveEngine) {}
  ~OdbcDatabase() override {
    try {
      Close();
    } catch (const Error&) {
      // Closing drops the connection whatever the driver says.
    }
  }

  const std::string& Name() const override { return name_ = session_->Shown(); }

  void AppendTableDef(const TableDef& def) override {
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

  std::vector<TableDef> TableDefs() override {
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

  long Execute(const std::string& sql) override {
    session_->ForgetRead();
    auto stmt = Src().NewStatement(Src().Shown());
    stmt->ExecDirect(Src().Translate(sql, nullptr));
    SQLLEN n = 0;
    if (!SQL_SUCCEEDED(SQLRowCount(stmt->get(), &n)) || n < 0) n = 0;
    Src().Forget();
    return static_cast<long>(n);
  }

  std::unique_ptr<Recordset> OpenRecordset(const std::string& sql) override {
    return std::make_unique<OdbcRecordset>(session_->SharedSource(), sql);
  }

  void Close() override {
    for (OdbcArchiveLink* link : session_->Links()) link->Close();
    Src().Close();
  }

  void BeginTrans() override {
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
  void CommitTrans() override {
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
  void Rollback() override { session_->Rollback(); }
  bool InTransaction() const override { return session_->InTransaction(); }

  // Without savepoints a step is only marked: undoing it undoes the whole
  // transaction.
  void Savepoint() override {
    if (Src().Family().HasSavepoints()) Src().Conn().ExecDirect("SAVEPOINT sa_step");
    for (OdbcArchiveLink* link : session_->Links()) link->Savepoint();
  }
  void ReleaseSavepoint() override {
    if (Src().Family().HasSavepoints()) Src().Conn().ExecDirect("RELEASE SAVEPOINT sa_step");
    for (OdbcArchiveLink* link : session_->Links()) link->ReleaseSavepoint();
  }
  bool RollbackToSavepoint() override {
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

  std::unique_ptr<ArchiveLink> LinkArchive(const std::string& path) override {
    if (!archiveEngine_) {
      throw Error(EngineError::kInvalidArgument, "This database cannot reach archives.", path);
    }
    return std::make_unique<OdbcArchiveLink>(session_, archiveEngine_->OpenDatabase(path), path);
  }
  CommitOrder ArchiveCommitOrder() override { return CommitOrder::kArchiveFirstLiveHeld; }
  // Each archive commits on its own connection: a commit takes one.
  size_t ArchivesPerCommit() override { return 1; }

  std::vector<std::string> CheckIntegrity() override {
    if (!Src().Family().IntegrityCheck().empty()) return FamilyIntegrityCheck();
    return ReadEveryTable();
  }

  std::vector<int64_t> RecordsWhere(const std::string& table, std::span<const int64_t> bookmarks,
                                    const std::string& condition) override {
    const TableInfo& info = Src().IdentifiedTable(table);
    session_->ReadForMove(info, bookmarks, Src().Translate(condition, &info));
    std::vector<int64_t> out;
    for (int64_t id : bookmarks) {
      if (session_->Read(id) != nullptr) out.push_back(id);
    }
    return out;
  }

  // Every value is converted before anything is written, then the rows go
  // through one prepared INSERT over arrays of parameters, inside a step of
  // their own (a transaction of their own outside the caller's).
  long AppendRows(const std::string& table, std::span<const std::string> fields,
                  std::span<const Value> values) override {
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
      throw Error(EngineError::kInvalidArgument, "Each row needs a value for every field.",
                  context);
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
      odbc::ParameterArrays params(*insert, columns, src.Family().StoresDatesAsText());
      params.Insert(converted);
      rows.Commit();
    }
    return static_cast<long>(values.size() / fields.size());
  }

  long DeleteRecords(const std::string& table, std::span<const int64_t> bookmarks) override {
    return session_->DeleteByIdentity(Src().IdentifiedTable(table), bookmarks);
  }

  std::vector<int64_t> DeleteRecordsAsRead(const std::string& table,
                                           std::span<const int64_t> bookmarks) override {
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
  int64_t LastRecordId(const std::string& table) override {
    const TableInfo& info = Src().Table(table);
    auto stmt = Src().NewStatement(info.name + " in " + Src().Shown());
    stmt->ExecDirect("SELECT " +
                     (info.identity.empty() ? "COUNT(*)" : "MAX(" + info.identity + ")") +
                     " FROM " + Src().Family().QuoteName(info.name));
    SQLBIGINT id = 0;
    SQLLEN length = 0;
    stmt->Check(SQLBindCol(stmt->get(), 1, SQL_C_SBIGINT, &id, 0, &length));
    if (!stmt->Fetch() || length == SQL_NULL_DATA) return 0;
    return id;
  }

 private:
  Source& Src() const { return session_->Src(); }

  // The database system's own check, through the driver.
  std::vector<std::string> FamilyIntegrityCheck() {
    std::vector<std::string> problems;
    try {
      auto stmt = Src().NewStatement(Src().Shown());
      stmt->ExecDirect(Src().Family().IntegrityCheck());
      while (stmt->Fetch()) problems.push_back(CatalogText(stmt->get(), 1));
    } catch (const Error& e) {
      return {e.Description() + (e.Cause().empty() ? "" : " " + e.Cause())};
    }
    if (problems.empty()) return {"the integrity check gave no answer"};
    if (problems.size() == 1 && problems[0] == "ok") problems.clear();
    return problems;
  }

  // Where the system has no check of its own: every table is opened and
  // each of its records read, every value as its field's type.
  std::vector<std::string> ReadEveryTable() {
    constexpr size_t kMostProblems = 10;
    std::vector<std::string> problems;
    std::vector<std::string> names;
    for (const auto& [key, name] : Src().Tables()) names.push_back(name);
    for (const std::string& name : names) {
      try {
        const TableInfo& info = Src().Table(name);
        std::string list;
        for (const Field& c : info.columns) {
          list += (list.empty() ? "" : ", ") + Src().Family().QuoteName(c.name);
        }
        if (list.empty()) continue;
        auto stmt = Src().NewStatement(info.name + " in " + Src().Shown());
        stmt->ExecDirect("SELECT " + list + " FROM " + Src().Family().QuoteName(info.name));
        while (stmt->Fetch()) {
          for (size_t i = 0; i < info.columns.size(); ++i) {
            ReadValue(*stmt, static_cast<SQLUSMALLINT>(i + 1), info.columns[i].type);
          }
        }
      } catch (const Error& e) {
        problems.push_back("table " + name + ": " + e.Description() +
                           (e.Cause().empty() ? "" : " " + e.Cause()));
        if (problems.size() >= kMostProblems) break;
      }
    }
    return problems;
  }

  std::shared_ptr<Session> session_;
  Engine* archiveEngine_;
  mutable std::string name_;
};

// The language id of the general sort order, the only one archives are made with.
constexpr int32_t kGeneralSortOrderId = 0x0409;

class OdbcEngine : public Engine {
 public:
  OdbcEngine(platform::FileSystem& fs, std::unique_ptr<Engine> archiveEngine, OdbcOptions options)
      : fs_(fs),
        env_(std::make_shared<odbc::Environment>()),
        archiveEngine_(std::move(archiveEngine)),
        options_(std::move(options)) {}

  std::unique_ptr<Database> OpenDatabase(const std::string& path) override {
    if (const auto connect = odbc::ConnectionStringOf(path)) return Connect(*connect);
    // A file in the archives' own format is one of them: it opens with the
    // engine that makes them.
    if (archiveEngine_ && KindOfFile(fs_, path) == FileKind::kSqlite) {
      return archiveEngine_->OpenDatabase(path);
    }
    auto family = FileFamily(path);
    const auto drivers = env_->Drivers();
    const auto driver = family->FileDriver(drivers);
    if (!driver) {
      throw Error(EngineError::kNoDriver, "No installed ODBC driver reads this database format.",
                  path + ": a " + family->Name() + " database");
    }
    const std::string connect = "Driver={" + *driver + "};Dbq=" + platform::PathForDriver(path) +
                                ";Database=" + platform::PathForDriver(path) + ";" +
                                family->FileConnectAttributes(Waits());
    // Archives made without an archive engine take the format of the first
    // file opened: the live database's.
    if (!fileFamily_) fileFamily_ = std::move(family);
    return Connect(connect);
  }

  std::unique_ptr<Database> CreateDatabase(const std::string& path, const std::string& locale,
                                           int32_t options) override {
    if (archiveEngine_) return archiveEngine_->CreateDatabase(path, locale, options);
    if (locale != kLangGeneral || options != kVersion40) {
      throw Error(EngineError::kInvalidArgument, "Invalid locale or options argument.", locale);
    }
    // Files of the live database's format, made by its driver: through its
    // setup entry, or by connecting to the new file's name.
    const std::unique_ptr<DriverFamily> jet = fileFamily_ ? nullptr : odbc::JetFamily();
    const DriverFamily& family = fileFamily_ ? *fileFamily_ : *jet;
    const auto driver = family.FileDriver(env_->Drivers());
    if (!driver) {
      throw Error(EngineError::kNoDriver, "No installed ODBC driver creates this database format.",
                  path);
    }
    if (family.CreatesFileOnConnect()) {
      if (fs_.Exists(path)) {
        throw Error(EngineError::kDatabaseExists, "Database already exists.", path);
      }
      const std::string file = platform::PathForDriver(path);
      Connection conn(
          env_,
          "Driver={" + *driver + "};Database=" + file + ";" + family.FileConnectAttributes(Waits()),
          path);
      for (const std::string& sql : family.NewFileStatements(kGeneralSortOrderId, options)) {
        conn.ExecDirect(sql);
      }
      return OpenDatabase(path);
    }
    WideString attributes = Widen(family.CreateFileAttributes(path));
    attributes.push_back(0);
    attributes.push_back(0);
    const WideString name = Widen(*driver) + WideString(1, 0);
    if (!SQLConfigDataSourceW(nullptr, ODBC_ADD_DSN, name.data(), attributes.data())) {
      throw Error(EngineError::kInvalidPath, "The database file cannot be created.", path);
    }
    return OpenDatabase(path);
  }

 private:
  std::unique_ptr<DriverFamily> FileFamily(const std::string& path) {
    const std::optional<FileKind> kind = KindOfFile(fs_, path);
    if (!kind && !fs_.Exists(path)) {
      throw Error(EngineError::kFileNotFound, "Could not find file.", path);
    }
    if (!kind) {
      throw Error(EngineError::kInvalidPath, "Not a database file.",
                  path + ": a folder or a device");
    }
    switch (*kind) {
      case FileKind::kJet:
        return odbc::JetFamily();
      case FileKind::kSqlite:
        return odbc::SqliteFamily();
      case FileKind::kOther:
        break;
    }
    throw Error(EngineError::kUnrecognizedFormat, "Unrecognized database format.", path);
  }

  std::unique_ptr<Database> Connect(const std::string& connect) {
    auto conn = std::make_unique<Connection>(env_, connect, odbc::MaskSecrets(connect),
                                             options_.answerSeconds);
    const std::string quote = conn->Info(SQL_IDENTIFIER_QUOTE_CHAR);
    auto family = options_.family.empty() ? odbc::FamilyForDbms(conn->Info(SQL_DBMS_NAME), quote)
                                          : odbc::FamilyNamed(options_.family, quote);
    if (!family) {
      throw Error(EngineError::kInvalidArgument, "No such driver family.", options_.family);
    }
    auto src = std::make_shared<Source>(std::move(conn), std::move(family), Waits());
    // Without an archive engine, archives are files this engine makes and opens.
    Engine* archives = archiveEngine_ ? archiveEngine_.get() : this;
    return std::make_unique<OdbcDatabase>(std::move(src), archives);
  }

  platform::FileSystem& fs_;
  std::shared_ptr<odbc::Environment> env_;
  std::unique_ptr<Engine> archiveEngine_;
  odbc::Waits Waits() const { return {options_.lockSeconds, options_.answerSeconds}; }

  std::unique_ptr<DriverFamily> fileFamily_;  // of the first file opened
  OdbcOptions options_;
};

}  // namespace

std::unique_ptr<Engine> MakeOdbcEngine(platform::FileSystem& fs,
                                       std::unique_ptr<Engine> archiveEngine, OdbcOptions options) {
  return std::make_unique<OdbcEngine>(fs, std::move(archiveEngine), std::move(options));
}

}  // namespace sa::dbengine
