// A database of the ODBC backend: the live connection (catalog.h) with its
// driver family, shared with its record sets and its archive links
// (session.h). Transactions switch the connection to manual commit; where
// the family keeps other writers out with the write lock, it is taken first.
// Steps are savepoints where the family has them; elsewhere undoing a step
// undoes the transaction.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "dbengine/engine.h"
#include "dbengine/odbc/session.h"
#include "dbengine/record_numbering.h"

namespace sa::dbengine::odbc {

class OdbcDatabase : public Database, public RecordNumbering {
 public:
  OdbcDatabase(std::shared_ptr<Source> src, Engine* archiveEngine)
      : session_(std::make_shared<Session>(std::move(src))), archiveEngine_(archiveEngine) {}
  ~OdbcDatabase() override;

  const std::string& Name() const override { return name_ = session_->Shown(); }

  void AppendTableDef(const TableDef& def) override;

  std::vector<TableDef> TableDefs() override;

  long Execute(const std::string& sql) override;

  std::unique_ptr<Recordset> OpenRecordset(const std::string& sql) override;

  void Close() override;

  void BeginTrans() override;
  // The archives commit before the live database: a crash between the two
  // leaves copies that the move journal names, never records in neither.
  void CommitTrans() override;
  void Rollback() override { session_->Rollback(); }
  bool InTransaction() const override { return session_->InTransaction(); }

  // Without savepoints a step is only marked: undoing it undoes the whole
  // transaction.
  void Savepoint() override;
  void ReleaseSavepoint() override;
  bool RollbackToSavepoint() override;

  std::unique_ptr<ArchiveLink> LinkArchive(const std::string& path) override;
  CommitOrder ArchiveCommitOrder() override { return CommitOrder::kArchiveFirstLiveHeld; }
  // Each archive commits on its own connection: a commit takes one.
  size_t ArchivesPerCommit() override { return 1; }

  std::vector<std::string> CheckIntegrity() override;

  std::vector<int64_t> RecordsWhere(const std::string& table, std::span<const int64_t> bookmarks,
                                    const std::string& condition) override;

  // Every value is converted before anything is written, then the rows go
  // through one prepared INSERT over arrays of parameters, inside a step of
  // their own (a transaction of their own outside the caller's).
  long AppendRows(const std::string& table, std::span<const std::string> fields,
                  std::span<const Value> values) override;

  long DeleteRecords(const std::string& table, std::span<const int64_t> bookmarks) override;

  std::vector<int64_t> DeleteRecordsAsRead(const std::string& table,
                                           std::span<const int64_t> bookmarks) override;

  // The highest record identity of `table`; 0 when it is empty. A table
  // whose records have no identity gives its number of records: records
  // appended later still count on from it.
  int64_t LastRecordId(const std::string& table) override;

 private:
  Source& Src() const { return session_->Src(); }

  std::shared_ptr<Session> session_;
  Engine* archiveEngine_;
  mutable std::string name_;
};

}  // namespace sa::dbengine::odbc
