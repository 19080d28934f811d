// Record sets of the ODBC backend. A keyset-driven record set over one
// table: the identities and their order are read when it opens; values are
// read from the current record when first asked for, a block of records
// ahead at a time. A SELECT over anything else is read whole when it opens
// and cannot name its records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/engine.h"
#include "dbengine/odbc/catalog.h"
#include "dbengine/odbc/row_block.h"
#include "dbengine/sql_text.h"

namespace sa::dbengine::odbc {

class OdbcRecordset : public Recordset {
 public:
  OdbcRecordset(std::shared_ptr<Source> src, std::string sql);

  bool Eof() const override { return pos_ >= Size(); }
  void MoveFirst() override { Go(0); }
  void MoveLast() override { Go(Size() == 0 ? 0 : Size() - 1); }
  void MoveNext() override;
  void Move(long rows) override;
  long RecordCount() const override { return visited_; }

  int FieldCount() const override { return static_cast<int>(columns_.size()); }
  const std::string& FieldName(int index) const override { return ColumnAt(index).name; }
  int FieldIndex(std::string_view name) const override;

  Value GetValue(int index) override;

  void SetValue(int index, const Value& value) override;

  void AddNew() override;

  void Update() override;

  void Delete() override;

  void Close() override;

  int64_t Bookmark() override;

 private:
  // Starts the block of records the current one is read with: a walk
  // record by record reads the records ahead, a jump the one record.
  void Load();

  // Reads field `index` of the block's records: alone when it is the first
  // field asked for (a walk reading one field reads nothing else), else with
  // every field not read yet.
  void LoadField(size_t index);

  void OpenKeyset(const SelectParts& parts);

  void OpenWhole(const std::string& sql);

  long Size() const { return static_cast<long>(table_ ? ids_.size() : whole_.size()); }
  // Closing the record set, or its database, closes it.
  void CheckOpen() const;
  void Go(long pos);
  void CheckCurrent() const;
  const Field& ColumnAt(int index) const;
  std::string Context() const;

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

}  // namespace sa::dbengine::odbc
