// The SQLite backend of the engine, built in everywhere but Windows. Files
// are SQLite 3 databases whatever their extension; a Jet/Access file is
// recognised by its first bytes and refused. See the README for the column
// types and storage forms. An archive is linked by attaching it to the live
// database's connection (archive_link.h states what that guarantees).
//
// The backend lives in namespace sa::dbengine::sqlite, one job per file, as
// the ODBC backend's folder is laid out:
//   sqlite_engine     opening and creating databases (this header: the factory)
//   sqlite_database   a database: tables, statements, transactions and steps,
//                     set selections and deletions by identity
//   sqlite_recordset  keyset-driven record sets
//   archive_link      moving records out to an archive, and (link_restore.cc)
//                     taking them back
//   session           what a database shares with its links
//   catalog           tables and fields as stored
//   dialect           the engine's SQL in SQLite's dialect
//   integrity         SQLite's own check of a file
//   staged_keys       identities staged for set statements
//   database_file     the check that a file is a SQLite database
//   sqlite_handle     RAII over the C API, and SQLite's errors as the engine's
//   sqlite_values     values between SQLite and the engine
//   sql_functions     the engine's SQL functions, on every connection
//   sqlite_value_sql  SQL that carries a value from one field into another
#pragma once

#include <cstdint>
#include <memory>

#include "dbengine/engine.h"

namespace sa::dbengine {

// `busyTimeoutMs`: how long an operation waits for a lock another program
// holds. `archivePageLimit`: when not 0, databases this engine creates or
// links as archives may not grow past that many pages, as on a full disk.
std::unique_ptr<Engine> MakeSqliteEngine(int busyTimeoutMs = 10000, int64_t archivePageLimit = 0);

}  // namespace sa::dbengine
