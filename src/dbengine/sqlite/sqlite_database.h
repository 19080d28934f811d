// A database of the SQLite backend: one connection, shared with its record
// sets and its archive links (session.h). Transactions take the write lock
// when they begin (BEGIN IMMEDIATE); steps are savepoints. Set operations
// name records by rowid, staged as stretches (staged_keys.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dbengine/engine.h"
#include "dbengine/record_numbering.h"
#include "dbengine/sql_text.h"
#include "dbengine/sqlite/session.h"

namespace sa::dbengine::sqlite {

class SqliteDatabase : public Database, public RecordNumbering {
 public:
  explicit SqliteDatabase(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  ~SqliteDatabase() override { session_->Conn().Close(); }

  const std::string& Name() const override { return session_->Name(); }

  void AppendTableDef(const TableDef& def) override;
  std::vector<TableDef> TableDefs() override;

  long Execute(const std::string& sql) override;
  std::unique_ptr<Recordset> OpenRecordset(const std::string& sql) override;
  void Close() override;
  // Written without syncs until Close, which syncs once (CreateDatabase).
  void SyncOnClose() { syncOnClose_ = true; }

  void BeginTrans() override { Conn().Begin(); }
  void CommitTrans() override { Conn().Commit(); }
  void Rollback() override { session_->Rollback(); }
  bool InTransaction() const override { return Conn().InUserTransaction(); }
  void Savepoint() override;
  void ReleaseSavepoint() override { Conn().Exec("RELEASE sa_step"); }
  bool RollbackToSavepoint() override;

  std::unique_ptr<ArchiveLink> LinkArchive(const std::string& path) override;
  CommitOrder ArchiveCommitOrder() override;
  size_t ArchivesPerCommit() override;

  std::vector<int64_t> RecordsWhere(const std::string& table, std::span<const int64_t> bookmarks,
                                    const std::string& condition) override;
  long AppendRows(const std::string& table, std::span<const std::string> fields,
                  std::span<const Value> values) override;
  long DeleteRecords(const std::string& table, std::span<const int64_t> bookmarks) override;
  std::vector<int64_t> DeleteRecordsAsRead(const std::string& table,
                                           std::span<const int64_t> bookmarks) override;

  std::vector<std::string> CheckIntegrity() override;
  long CountUndated(const std::string& table, const std::string& dateField) override;

  int64_t LastRecordId(const std::string& table) override;

 private:
  Connection& Conn() const { return session_->Conn(); }
  std::unique_ptr<Recordset> OpenKeyset(const SelectParts& parts, const std::string& sql);

  std::shared_ptr<Session> session_;
  bool syncOnClose_ = false;
  std::optional<CommitOrder> order_;
};

}  // namespace sa::dbengine::sqlite
