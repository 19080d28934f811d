// An archive linked to a live database of the ODBC backend: on a
// connection of its own, opened by the archive engine. A
// move reads the live records here and appends them there in one bulk
// append; a restore reads the archive through its record sets. The archive
// joins the live database's transactions and steps, and commits before it.
//
// A move reads the live records (through the session, as the transaction
// read them) and converts them here; a deletion of live records compares
// them with the copies this link wrote and saw committed, or, after a crash,
// with the copies read back from the archive. The restore half is in
// link_restore.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dbengine/archive_link.h"
#include "dbengine/engine.h"
#include "dbengine/odbc/session.h"

namespace sa::dbengine::odbc {

class OdbcArchiveLink : public ArchiveLink {
 public:
  OdbcArchiveLink(std::shared_ptr<Session> session, std::unique_ptr<Database> archive,
                  std::string path);
  ~OdbcArchiveLink() override;

  const std::string& Path() const override { return path_; }

  // The live database's transaction, on the archive's side.
  void Begin();
  // Commits the archive; what it was given is then committed.
  void Commit();
  void Rollback();
  void Savepoint();
  void ReleaseSavepoint() { archive_->ReleaseSavepoint(); }
  // False when the archive undid its whole transaction.
  bool RollbackToSavepoint();
  // Closes the archive, as the live database closes.
  void Close();

  IdentityStretches CopyOut(const std::string& table, std::span<const int64_t> liveIds) override;

  long ReplaceTable(const std::string& table, std::span<const int64_t> liveIds) override;

  long DeleteLiveCopied(const std::string& table, std::span<const int64_t> liveIds,
                        std::span<const int64_t> copyIds) override;

  // Taking a month back: the archive is read through its own database's
  // record sets (any backend that names its records), the live side through
  // the live connection. The live copies' identities are learnt as the
  // family allows (see CopyBack).
  std::vector<int64_t> ArchivedIds(const std::string& table) override;

  // Inserts the named archived records into the live table one by one,
  // converted for the live fields, and learns each new record's identity:
  // returned by the INSERT, asked for right after it, or, for a key the
  // archive holds, the key's own value.
  IdentityStretches CopyBack(const std::string& table,
                             std::span<const int64_t> archivedIds) override;

  long DeleteArchived(const std::string& table, std::span<const int64_t> archivedIds) override;

  // Deletes the named archived records whose live copies (copyIds, in the
  // same order) hold their values, converted as CopyBack converts.
  long DeleteArchivedCopied(const std::string& table, std::span<const int64_t> archivedIds,
                            std::span<const int64_t> copyIds) override;

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
  const Copies* CommittedCopies(const std::string& table, std::span<const int64_t> bookmarks) const;

  TableDef ArchiveTable(const std::string& table);

  // The live columns that fill the archive table's fields, in its order.
  std::vector<Field> SourceColumns(const TableInfo& info, const TableDef& target) const;

  // An archive table's fields and its records' values, by identity.
  struct ArchivedTable {
    TableDef def;
    std::map<int64_t, std::vector<Value>> rows;
  };

  ArchivedTable ArchivedRecords(const std::string& table);

  // The identity of the record an INSERT ... RETURNING or an identity query
  // just answered; nullopt when it answered none. Closes the answer.
  static std::optional<int64_t> AnsweredIdentity(Statement& stmt);

  // Throws EngineError::kDataConversion when a record just taken back holds
  // a value that its live field changed: its live copy (copyIds[i] for
  // ids[i]), read back as the archive's field, differs from the archived
  // value (a fraction into a whole-number field, a time into a date, a
  // number rounded to the column's scale).
  void CheckCameBackExactly(const ArchivedTable& archived, const TableInfo& info,
                            const std::vector<Field>& columns, std::span<const int64_t> ids,
                            std::span<const int64_t> copyIds, const std::string& context);

  std::shared_ptr<Session> session_;
  std::unique_ptr<Database> archive_;
  std::string path_;
  // Records copied into the archive, as written: those of the open
  // transaction, and those of the last commit, which the deletion of their
  // live records compares against.
  std::vector<Copies> appended_, committed_;
  size_t appendedBeforeStep_ = 0;
};

}  // namespace sa::dbengine::odbc
