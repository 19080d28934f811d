// An archive linked to a live database: the one way records travel between
// the two. A move copies live records out into the archive's table of the
// same name and deletes the live ones; a restore copies archived records back
// and deletes the archived ones; the customer list replaces the archive's
// whole table. Everything a link does belongs to the live database's
// transaction (Database::BeginTrans, its steps and its commit span every
// archive it links), and the order in which the two sides commit is the
// backend's, told by Database::ArchiveCommitOrder().
//
// What each backend guarantees:
//  - SQLite (built in): the archive is reached through the live database's
//    own connection. Where the live database keeps a rollback journal the
//    two files commit as one, across a crash (kTogether); in any other
//    journal mode (WAL) a crash can commit one file and not the other, so the
//    archive commits first (kArchiveFirst). Archives always keep a rollback
//    journal with full synchronisation. A transaction links at most 8
//    archives (SQLite reaches 10 databases from one connection; two spare).
//    Copies are numbered by the table's record identity and take the
//    numbers after the table's highest, in the order copied.
//  - ODBC: the archive is on a connection of its own, opened by the archive
//    engine, so the live records a move takes are deleted first, as they
//    were read, and stay locked or out of other writers' reach until the
//    live commit, which follows the archive's (kArchiveFirstLiveHeld). A
//    transaction links one archive. Copies into an archive whose records have
//    no identity (Jet) are numbered by their position in its table. Records
//    taken back learn the identity the live database gives them (a key the
//    archive holds, INSERT ... RETURNING, or the driver's last identity) or
//    are refused with EngineError::kNoIdentity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dbengine/identity_stretches.h"

namespace sa::dbengine {

// When the two sides of a move commit.
enum class CommitOrder {
  // In one commit, all or nothing even across a crash: a move copies and
  // deletes the live records (Database::DeleteRecords) in one transaction.
  kTogether,
  // The archive first, with nothing changed live: a move's live records are
  // deleted after that commit, in a transaction of their own, those still
  // equal to their copies (ArchiveLink::DeleteLiveCopied). A crash between
  // the two commits leaves copies that a move journal must name.
  kArchiveFirst,
  // The archive first (ArchiveLink::CommitArchive), the live transaction
  // after: a move's live records are deleted in the live transaction as they
  // were read, before they are copied (Database::DeleteRecordsAsRead), and
  // stay locked or out of other writers' reach until the live commit. A
  // crash between the two commits leaves copies that a move journal must
  // name, as kArchiveFirst does.
  kArchiveFirstLiveHeld,
};

class ArchiveLink {
 public:
  // Unlinks the archive; inside a transaction, rolls the transaction back
  // first (the live side too).
  virtual ~ArchiveLink() = default;

  // The archive's file.
  virtual const std::string& Path() const = 0;

  // Moving out. Copies the named live records of `table` into the archive's
  // table of the same name, every archive field filled from the live field
  // of the same name with the engine's conversions: a field the live table
  // lacks, or a value that does not convert, fails the whole call. Records
  // read with Database::RecordsWhere in the transaction are copied as read.
  // Returns the copies' identities in the archive, the i-th that of the i-th
  // named record found.
  virtual IdentityStretches CopyOut(const std::string& table, std::span<const int64_t> liveIds) = 0;
  // Empties the archive's `table`, then copies the named live records into
  // it as CopyOut does; the live records stay. Returns how many it copied.
  virtual long ReplaceTable(const std::string& table, std::span<const int64_t> liveIds) = 0;
  // Deletes those of the named live records whose values, converted as
  // CopyOut converts them, equal their copies: the i-th named record against
  // the archive's record copyIds[i] (the spans are as long). A record changed
  // since it was copied, or whose copy the archive does not hold, stays.
  // Returns how many it deleted.
  virtual long DeleteLiveCopied(const std::string& table, std::span<const int64_t> liveIds,
                                std::span<const int64_t> copyIds) = 0;

  // Taking records back. The identities of every record of the archive's
  // `table`, in their order; EngineError::kTableNotFound when the archive has
  // no such table.
  virtual std::vector<int64_t> ArchivedIds(const std::string& table) = 0;
  // Copies the named archived records into the live table of the same name,
  // each archive field into the live field of the same name with the
  // engine's conversions. A field the live table lacks, a value it refuses
  // or changes (read back as the archive's field, it differs), or a key it
  // already holds (EngineError::kDuplicateKey) fails the whole call. Returns
  // the copies' identities in the live table, the i-th that of the i-th
  // named record found.
  virtual IdentityStretches CopyBack(const std::string& table,
                                     std::span<const int64_t> archivedIds) = 0;
  // Deletes the named archived records; returns how many existed.
  virtual long DeleteArchived(const std::string& table, std::span<const int64_t> archivedIds) = 0;
  // Deletes those of the named archived records whose values, converted as
  // CopyBack converts them, equal their live copies: the i-th named record
  // against the live record copyIds[i] (the spans are as long). Returns how
  // many it deleted.
  virtual long DeleteArchivedCopied(const std::string& table, std::span<const int64_t> archivedIds,
                                    std::span<const int64_t> copyIds) = 0;

  // Where the order is kArchiveFirstLiveHeld: commits what the open
  // transaction gave the archive, and keeps the live side of the transaction
  // open. Elsewhere the archive cannot commit alone: throws
  // EngineError::kInvalidArgument.
  virtual void CommitArchive() = 0;
};

}  // namespace sa::dbengine
