// An archive linked to a live database of the SQLite backend: attached to
// the live database's connection, so that its moves are set statements
// between the two schemas over the staged identities (staged_keys.h), and its
// commit is the live database's. Values are converted in SQL by the engine's
// functions (sqlite_value_sql.h), or copied as they are where the live
// values already have the archive fields' form. The restore half is in
// link_restore.cc.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/archive_link.h"
#include "dbengine/sqlite/session.h"

namespace sa::dbengine::sqlite {

class SqliteArchiveLink : public ArchiveLink {
 public:
  // Attaches the archive at `path` (a SQLite file) to the session's
  // connection; outside a transaction only.
  SqliteArchiveLink(std::shared_ptr<Session> session, std::string path);
  ~SqliteArchiveLink() override;

  const std::string& Path() const override { return path_; }

  IdentityStretches CopyOut(const std::string& table, std::span<const int64_t> liveIds) override;
  long ReplaceTable(const std::string& table, std::span<const int64_t> liveIds) override;
  long DeleteLiveCopied(const std::string& table, std::span<const int64_t> liveIds,
                        std::span<const int64_t> copyIds) override;

  std::vector<int64_t> ArchivedIds(const std::string& table) override;
  IdentityStretches CopyBack(const std::string& table,
                             std::span<const int64_t> archivedIds) override;
  long DeleteArchived(const std::string& table, std::span<const int64_t> archivedIds) override;
  long DeleteArchivedCopied(const std::string& table, std::span<const int64_t> archivedIds,
                            std::span<const int64_t> copyIds) override;

  void CommitArchive() override;

 private:
  // The fields of a table on both sides, each source field with the target
  // field of the same name.
  struct Mapping {
    std::string source;
    std::string target;
    std::vector<std::pair<Field, Field>> fields;  // source, target
  };

  // Throws unless each record has the identity of its copy.
  static void CheckCopies(std::span<const int64_t> ids, std::span<const int64_t> copyIds,
                          const std::string& context);
  // The archive's `table` (the target), each field with the live field of
  // the same name.
  Mapping Map(const std::string& table);
  // The archive's `table` (the source), each field with the field of the
  // same name in the live table (the target).
  Mapping MapBack(const std::string& table);
  // Appends the records of `from`.`m.source` named by `ids` (staged in
  // order) to `to`.`m.target`, each field converted for its target field,
  // or copied as it is when `plain`. Returns how many it appended.
  long CopyRecords(const Mapping& m, const std::string& from, const std::string& to, bool plain,
                   std::span<const int64_t> ids, const std::string& context);
  // Deletes those of the named records of `from`.`m.source` whose values,
  // converted for their fields, equal their copies in `to`.`m.target`: the
  // i-th named record against the copy copyIds[i]. Returns how many.
  long DeleteCopied(const Mapping& m, const std::string& from, const std::string& to,
                    std::span<const int64_t> ids, std::span<const int64_t> copyIds,
                    const std::string& context);
  // Throws EngineError::kDataConversion when a record CopyRecords just took
  // back from the archive (the i-th of the staged records now at rowid
  // first + i) holds a value that its live field changed.
  void CheckCameBackExactly(const Mapping& m, int64_t first, const std::string& table);
  int64_t MaxRowid(const std::string& schema, const std::string& table);

  std::shared_ptr<Session> session_;
  std::string path_;
  std::string schema_;
};

}  // namespace sa::dbengine::sqlite
