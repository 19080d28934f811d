#include "support/faulty_engine.h"

#include "core/error.h"

namespace sa::testing {

namespace {

using dbengine::ArchiveLink;
using dbengine::Database;
using dbengine::IdentityStretches;
using dbengine::Recordset;
using dbengine::TableDef;
using dbengine::Value;

class FaultyRecordset : public Recordset {
 public:
  FaultyRecordset(FaultyEngine& e, std::unique_ptr<Recordset> r) : e_(e), r_(std::move(r)) {}
  bool Eof() const override { return r_->Eof(); }
  void MoveFirst() override { e_.Step("MoveFirst"), r_->MoveFirst(); }
  void MoveLast() override { e_.Step("MoveLast"), r_->MoveLast(); }
  void MoveNext() override { e_.Step("MoveNext"), r_->MoveNext(); }
  void Move(long rows) override { e_.Step("Move"), r_->Move(rows); }
  long RecordCount() const override { return r_->RecordCount(); }
  int FieldCount() const override { return r_->FieldCount(); }
  const std::string& FieldName(int i) const override { return r_->FieldName(i); }
  int FieldIndex(std::string_view name) const override { return r_->FieldIndex(name); }
  Value GetValue(int i) override { return e_.Step("GetValue"), r_->GetValue(i); }
  void SetValue(int i, const Value& v) override { e_.Step("SetValue"), r_->SetValue(i, v); }
  void AddNew() override { e_.Step("AddNew"), r_->AddNew(); }
  void Update() override { e_.Step("Update"), r_->Update(); }
  void Delete() override { e_.Step("Delete"), r_->Delete(); }
  void Close() override { r_->Close(); }
  int64_t Bookmark() override { return e_.Step("Bookmark"), r_->Bookmark(); }

 private:
  FaultyEngine& e_;
  std::unique_ptr<Recordset> r_;
};

class FaultyLink : public ArchiveLink {
 public:
  FaultyLink(FaultyEngine& e, std::unique_ptr<ArchiveLink> l) : e_(e), l_(std::move(l)) {}
  const std::string& Path() const override { return l_->Path(); }
  IdentityStretches CopyOut(const std::string& table, std::span<const int64_t> ids) override {
    return e_.Step("CopyOut"), l_->CopyOut(table, ids);
  }
  long ReplaceTable(const std::string& table, std::span<const int64_t> ids) override {
    return e_.Step("ReplaceTable"), l_->ReplaceTable(table, ids);
  }
  long DeleteLiveCopied(const std::string& table, std::span<const int64_t> ids,
                        std::span<const int64_t> copyIds) override {
    return e_.Step("DeleteLiveCopied"), l_->DeleteLiveCopied(table, ids, copyIds);
  }
  std::vector<int64_t> ArchivedIds(const std::string& table) override {
    return e_.Step("ArchivedIds"), l_->ArchivedIds(table);
  }
  IdentityStretches CopyBack(const std::string& table, std::span<const int64_t> ids) override {
    return e_.Step("CopyBack"), l_->CopyBack(table, ids);
  }
  long DeleteArchived(const std::string& table, std::span<const int64_t> ids) override {
    return e_.Step("DeleteArchived"), l_->DeleteArchived(table, ids);
  }
  long DeleteArchivedCopied(const std::string& table, std::span<const int64_t> ids,
                            std::span<const int64_t> copyIds) override {
    return e_.Step("DeleteArchivedCopied"), l_->DeleteArchivedCopied(table, ids, copyIds);
  }
  void CommitArchive() override { e_.Step("CommitArchive"), l_->CommitArchive(); }

 private:
  FaultyEngine& e_;
  std::unique_ptr<ArchiveLink> l_;
};

class FaultyDatabase : public Database {
 public:
  FaultyDatabase(FaultyEngine& e, std::unique_ptr<Database> d) : e_(e), d_(std::move(d)) {}
  const std::string& Name() const override { return d_->Name(); }
  void AppendTableDef(const TableDef& def) override {
    e_.Step("AppendTableDef"), d_->AppendTableDef(def);
  }
  std::vector<TableDef> TableDefs() override { return d_->TableDefs(); }
  long Execute(const std::string& sql) override { return e_.Step("Execute"), d_->Execute(sql); }
  std::unique_ptr<Recordset> OpenRecordset(const std::string& sql) override {
    e_.Step("OpenRecordset");
    return std::make_unique<FaultyRecordset>(e_, d_->OpenRecordset(sql));
  }
  void Close() override { d_->Close(); }
  void BeginTrans() override { e_.Step("BeginTrans"), d_->BeginTrans(); }
  void CommitTrans() override { e_.Step("CommitTrans"), d_->CommitTrans(); }
  void Rollback() override { d_->Rollback(); }
  bool InTransaction() const override { return d_->InTransaction(); }
  void Savepoint() override { e_.Step("Savepoint"), d_->Savepoint(); }
  void ReleaseSavepoint() override { e_.Step("ReleaseSavepoint"), d_->ReleaseSavepoint(); }
  bool RollbackToSavepoint() override { return d_->RollbackToSavepoint(); }
  std::unique_ptr<dbengine::ArchiveLink> LinkArchive(const std::string& path) override {
    e_.Step("LinkArchive");
    return std::make_unique<FaultyLink>(e_, d_->LinkArchive(path));
  }
  dbengine::CommitOrder ArchiveCommitOrder() override { return d_->ArchiveCommitOrder(); }
  size_t ArchivesPerCommit() override { return d_->ArchivesPerCommit(); }
  long AppendRows(const std::string& table, std::span<const std::string> fields,
                  std::span<const Value> values) override {
    return e_.Step("AppendRows"), d_->AppendRows(table, fields, values);
  }
  std::vector<int64_t> RecordsWhere(const std::string& table, std::span<const int64_t> keys,
                                    const std::string& condition) override {
    return e_.Step("RecordsWhere"), d_->RecordsWhere(table, keys, condition);
  }
  long DeleteRecords(const std::string& table, std::span<const int64_t> keys) override {
    return e_.Step("DeleteRecords"), d_->DeleteRecords(table, keys);
  }
  std::vector<int64_t> DeleteRecordsAsRead(const std::string& table,
                                           std::span<const int64_t> keys) override {
    return e_.Step("DeleteRecordsAsRead"), d_->DeleteRecordsAsRead(table, keys);
  }
  long CountUndated(const std::string& table, const std::string& dateField) override {
    return e_.Step("CountUndated"), d_->CountUndated(table, dateField);
  }
  std::vector<std::string> CheckIntegrity() override {
    return e_.Step("CheckIntegrity"), d_->CheckIntegrity();
  }

 private:
  FaultyEngine& e_;
  std::unique_ptr<Database> d_;
};

}  // namespace

void FaultyEngine::Step(const char* op) {
  if (!only.empty() && std::string(op).find(only) == std::string::npos) return;
  ++count_;
  if (failAt_ != 0 && count_ == failAt_) {
    throw Error(3999, std::string("Injected failure in ") + op + ".",
                "operation " + std::to_string(count_));
  }
}

std::unique_ptr<dbengine::Database> FaultyEngine::OpenDatabase(const std::string& path) {
  Step("OpenDatabase");
  return std::make_unique<FaultyDatabase>(*this, real_->OpenDatabase(path));
}

std::unique_ptr<dbengine::Database> FaultyEngine::CreateDatabase(const std::string& path,
                                                                 const std::string& locale,
                                                                 int32_t options) {
  Step("CreateDatabase");
  return std::make_unique<FaultyDatabase>(*this, real_->CreateDatabase(path, locale, options));
}

}  // namespace sa::testing
