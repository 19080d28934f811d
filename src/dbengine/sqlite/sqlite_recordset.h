// Keyset-driven record sets of the SQLite backend: the rows and their order
// are fixed when the set opens (their rowids); values are fetched from the
// current row when first read. The rowids are kept in fixed-size blocks, so a
// large set costs 8 bytes a record and never a second copy while it grows.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "dbengine/engine.h"
#include "dbengine/sqlite/sqlite_handle.h"

namespace sa::dbengine::sqlite {

class SqliteRecordset : public Recordset {
 public:
  // `keys` are the rowids of `table`'s selected rows, in the set's order.
  SqliteRecordset(std::shared_ptr<Connection> conn, std::string table, std::vector<Field> columns,
                  std::deque<int64_t> keys);
  ~SqliteRecordset() override;

  bool Eof() const override;
  void MoveFirst() override;
  void MoveLast() override;
  void MoveNext() override;
  void Move(long rows) override;
  long RecordCount() const override { return visited_; }

  int FieldCount() const override { return static_cast<int>(columns_.size()); }
  const std::string& FieldName(int index) const override;
  int FieldIndex(std::string_view name) const override;

  Value GetValue(int index) override;
  void SetValue(int index, const Value& value) override;

  void AddNew() override;
  void Update() override;
  void Delete() override;
  void Close() override;
  int64_t Bookmark() override;

 private:
  void CheckOpen() const;
  void CheckCurrent() const;
  void CheckIndex(int index) const;
  void Moved();
  // Drops the values read from the current row.
  void Forget();
  // Ends the connection's implicit read so a write commits on its own.
  void BeforeWrite();

  std::shared_ptr<Connection> conn_;
  std::string table_;
  std::vector<Field> columns_;
  std::deque<int64_t> keys_;
  std::unordered_set<long> deleted_;
  long pos_ = 0;
  long visited_ = 0;
  Statement fetch_;                     // the whole row
  std::vector<Statement> columnFetch_;  // one field, prepared when first needed
  std::vector<Value> row_;
  std::vector<bool> have_;  // fields of the current row read one by one
  bool rowLoaded_ = false;
  bool fetchedOne_ = false;
  bool adding_ = false;
  std::vector<Value> pending_;
  std::vector<bool> pendingSet_;
  Statement insert_;  // the last INSERT, reused while the fields set stay the same
  std::string insertSql_;
  bool open_ = true;
};

}  // namespace sa::dbengine::sqlite
