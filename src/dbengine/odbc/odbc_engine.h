// The ODBC backend of the engine: a live database reached through an ODBC
// driver (a connection string, or a database file served by an installed
// driver). Month archives are made by `archiveEngine` (the build's default
// file format) and linked on connections of their own: a transaction over
// the live database and an archive is not atomic across both, so the archive
// commits first and the records a move takes stay held until the live commit
// (CommitOrder::kArchiveFirstLiveHeld).
//
// Records are named by a whole-number identity: a single whole-number primary
// key where the table has one, else the family's row identity (SQLite's
// rowid, PostgreSQL's ctid as block * 65536 + offset). A table with neither
// is refused (EngineError::kNoIdentity). A move deletes the live records inside
// the live transaction, before the archive commits, as they were read: locked
// when selected (PostgreSQL, MariaDB/MySQL), kept from other writers by the
// write lock (SQLite), or else compared field by field in each deletion.
// Records taken back from an archive learn their new identity as they are
// inserted (a key the archive holds; PostgreSQL: INSERT ... RETURNING;
// MariaDB/MySQL: LAST_INSERT_ID(); SQLite: the rowid the connection gave
// last) or are refused, and are read back: a value the live field changed
// refuses its table.
//
// Every connection waits a bounded time: for locks (OdbcOptions), for a
// statement, and for a server that stops answering (odbc::CallWatch).
// CheckIntegrity runs the family's own check where it has one (SQLite's
// integrity_check), else reads every record of every table.
//
// The backend lives in namespace sa::dbengine::odbc, one job per file, as
// the SQLite backend's folder is laid out:
//   odbc_engine       opening and creating databases (this header: the factory)
//   odbc_database     a database: tables, statements, transactions and steps,
//                     set selections and deletions by identity
//   odbc_recordset    keyset-driven record sets
//   archive_link      moving records out to an archive, and (link_restore.cc)
//                     taking them back
//   session           what a database shares with its links
//   catalog           the connection with its family, tables and fields
//   dialect           the engine's SQL in the driver's dialect
//   integrity         the family's check, or every record read
//   row_reads         records read by identity, many per statement
//   fetch_rows        result sets fetched many rows per driver call
//   parameter_arrays  INSERTs over arrays of parameters
//   row_block         rows by identity, their values flat
//   odbc_values       values between the driver and the engine
//   odbc_handle       RAII over the ODBC API, and the driver's errors
//   driver_family     what differs between driver families, in one class
//   call_watch        calls cut off when a server stops answering
//   connection_string "ODBC;" connection strings and their secrets
#pragma once

#include <memory>
#include <string>

#include "dbengine/engine.h"
#include "platform/file_system.h"

namespace sa::dbengine {

// How the backend treats its connections. By default each gets the family
// its driver reports, waits up to 10 s for a lock and up to 60 s for the
// server to answer any one call.
struct OdbcOptions {
  // The driver family by name (see odbc::FamilyNamed), whatever the driver
  // reports; empty: the reported one.
  std::string family;
  int lockSeconds = 10;
  int answerSeconds = 60;
};

// `fs` reads a database file's first bytes and tells whether a file exists.
// `archiveEngine` creates and opens the archives; when null, archives are
// files of the live database's own format created through its driver.
std::unique_ptr<Engine> MakeOdbcEngine(platform::FileSystem& fs,
                                       std::unique_ptr<Engine> archiveEngine,
                                       OdbcOptions options = {});

}  // namespace sa::dbengine
