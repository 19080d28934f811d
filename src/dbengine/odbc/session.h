// What a database of the ODBC backend shares with its archive links: the live connection, the
// records the open transaction last read for a move, and the links its
// transactions span. Links hold it too, so either may go first.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "dbengine/odbc/catalog.h"
#include "dbengine/odbc/row_block.h"
#include "dbengine/value.h"

namespace sa::dbengine::odbc {

class OdbcArchiveLink;

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

  void ForgetRead();

  // Reads the named records of `info` that meet `where` (the driver's SQL;
  // empty: all), every field, for a move. Inside a transaction they stay as
  // read until it ends where the family can see to it: locked as they are
  // selected (so that a row identity that depends on the row's place cannot
  // change either), or kept from other writers by the write lock taken
  // first. The copy that follows takes their values from here rather than
  // reading the same records again.
  void ReadForMove(const TableInfo& info, std::span<const int64_t> ids, const std::string& where);

  // Whether ReadForMove read every one of the named records of `info`.
  bool ReadAll(const TableInfo& info, std::span<const int64_t> ids) const;
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
                      std::span<const int64_t> ids);

  // Deletes the named records of `info` by identity; returns how many existed.
  long DeleteByIdentity(const TableInfo& info, std::span<const int64_t> ids);

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
                                       const std::function<const Value*(int64_t)>& read);

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
                                 int64_t id, const Value* values) const;

  // Whether the database finds record `id` of `info` equal to `values` in
  // `columns` (as SameAsReadCondition compares them) when it reads it as
  // this transaction reads.
  bool FindsSameAsRead(const TableInfo& info, const std::vector<Field>& columns, int64_t id,
                       const Value* values);

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

}  // namespace sa::dbengine::odbc
