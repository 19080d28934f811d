// The database engine: DAO-shaped operations over database files, behind an
// interface that does not show the backend. Every operation either succeeds
// or throws sa::Error with the engine's number and description, and the path
// or table concerned in its cause.
//
// This folder holds the interface (this header, and archive_link.h for the
// moves between a live database and its archives), what both backends share
// (values and their conversions, table definitions, file kinds by their
// first bytes, the SQL lexer, identity stretches, the transaction guard, the
// SQLite file conventions), and the choice of backend for a live database
// (engine_choice.h). The backends are in sqlite/ (built in) and odbc/.
//
// Properties callers rely on:
//  1. A SELECT opens an updatable record set in ORDER BY order, positioned on
//     its first record. The set of rows and their order are fixed when it
//     opens (keyset); values are read from the current row.
//  2. Move(rows) moves that many records forward.
//  3. RecordCount counts the records visited so far; after MoveLast it is the
//     full count.
//  4. After Delete the position stays on the deleted record until MoveNext.
//  5. Table and field names match without regard to case.
//  6. Closing a database discards an added record not yet updated and closes
//     its record sets.
//  7. AllowZeroLength may be set on any field, and a size passed for a fixed
//     width type, before the table is appended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/archive_link.h"
#include "dbengine/table_def.h"
#include "dbengine/value.h"

namespace sa::dbengine {

class Recordset {
 public:
  virtual ~Recordset() = default;

  virtual bool Eof() const = 0;
  virtual void MoveFirst() = 0;
  virtual void MoveLast() = 0;
  virtual void MoveNext() = 0;
  virtual void Move(long rows) = 0;
  virtual long RecordCount() const = 0;

  virtual int FieldCount() const = 0;
  virtual const std::string& FieldName(int index) const = 0;
  // Throws sa::Error 3265 when no field has that name (letter case ignored).
  virtual int FieldIndex(std::string_view name) const = 0;

  virtual Value GetValue(int index) = 0;
  Value GetValue(std::string_view name) { return GetValue(FieldIndex(name)); }
  // Only between AddNew and Update.
  virtual void SetValue(int index, const Value& value) = 0;
  void SetValue(std::string_view name, const Value& value) { SetValue(FieldIndex(name), value); }

  virtual void AddNew() = 0;
  // Writes the added record, converting each value to its field's type.
  virtual void Update() = 0;
  virtual void Delete() = 0;
  virtual void Close() = 0;

  // The identity of the current record in its table, stable while it lives.
  virtual int64_t Bookmark() = 0;
};

class Database {
 public:
  virtual ~Database() = default;

  // The file this database was opened or created from.
  virtual const std::string& Name() const = 0;

  TableDef CreateTableDef(std::string name) const { return TableDef(std::move(name)); }
  // TableDefs.Append: creates the table with its fields in their order.
  virtual void AppendTableDef(const TableDef& def) = 0;
  // The tables, in creation order, with their fields.
  virtual std::vector<TableDef> TableDefs() = 0;

  // Runs an action query; returns the number of records it touched.
  virtual long Execute(const std::string& sql) = 0;
  virtual std::unique_ptr<Recordset> OpenRecordset(const std::string& sql) = 0;
  virtual void Close() = 0;

  // Workspace transactions: one transaction over this database and every
  // archive it links.
  virtual void BeginTrans() = 0;
  virtual void CommitTrans() = 0;
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;
  // One step inside the open transaction (steps do not nest): the work done
  // since Savepoint is kept by ReleaseSavepoint, or undone on its own by
  // RollbackToSavepoint while the transaction's earlier work stays. Some
  // failures (a full disk, an I/O error), and any failure on a database
  // system without savepoints (Jet), make the engine undo the whole
  // transaction; RollbackToSavepoint then returns false and the transaction
  // is over.
  virtual void Savepoint() = 0;
  virtual void ReleaseSavepoint() = 0;
  virtual bool RollbackToSavepoint() = 0;

  // Links the archive at `path` (a database file in the format this
  // engine's archives are made in) for moves between it and this database;
  // outside a transaction only. The link must go before this database is
  // closed.
  virtual std::unique_ptr<ArchiveLink> LinkArchive(const std::string& path) = 0;
  // When the archives this database links commit against it.
  virtual CommitOrder ArchiveCommitOrder() = 0;
  // How many archives one transaction may link at a time.
  virtual size_t ArchivesPerCommit() = 0;

  // Those of the named records of `table` that exist and meet `condition` (a
  // WHERE condition in the engine's SQL, date literals included), in the
  // order named.
  virtual std::vector<int64_t> RecordsWhere(const std::string& table,
                                            std::span<const int64_t> bookmarks,
                                            const std::string& condition) = 0;
  // Appends rows to `table`: `values` holds them one after another, each
  // with a value for every one of `fields` in their order. Each value is
  // converted to its field's type as Update converts it; a value that cannot
  // be (or any other failure) leaves none of the rows in the table; on a
  // database system without savepoints, inside a transaction, it undoes the
  // whole transaction. Returns the number of rows appended.
  virtual long AppendRows(const std::string& table, std::span<const std::string> fields,
                          std::span<const Value> values) = 0;
  // Deletes the named records; returns how many existed.
  virtual long DeleteRecords(const std::string& table, std::span<const int64_t> bookmarks) = 0;
  // Deletes, inside the open transaction, those of the named records that
  // still hold the values the transaction read of them (with RecordsWhere;
  // read now when it read none), and returns them in the order named. A
  // record another program changed or deleted since it was read is left as
  // it is. ArchiveLink::CopyOut then copies the records deleted with the
  // values read. Where the records read are locked, or any change to them
  // waits for the transaction, they are deleted by identity; elsewhere each
  // deletion compares the record's every field in its own statement.
  virtual std::vector<int64_t> DeleteRecordsAsRead(const std::string& table,
                                                   std::span<const int64_t> bookmarks) = 0;

  // The engine's own check of the database's structure: empty when it is
  // sound, else what it found wrong (a few lines at most). Where the database
  // system offers no such check, every table is opened and read whole.
  virtual std::vector<std::string> CheckIntegrity() = 0;

  // How many records of `table` hold no date in `dateField` (NULL, an empty
  // text, a text that is not a date, a number), so that no date window ever
  // selects them. Where a database system types its date columns only NULL
  // can be such a value; this body reads the records whose date compares
  // outside every window and checks each, which also finds the texts that a
  // driver comparing dates as texts sorts there.
  virtual long CountUndated(const std::string& table, const std::string& dateField);
};

class Engine {
 public:
  virtual ~Engine() = default;
  // Opens an existing database, shared, for reading and writing.
  virtual std::unique_ptr<Database> OpenDatabase(const std::string& path) = 0;
  // Creates a new, empty database; refuses an existing file. `locale` and
  // `options` are recorded in the file. A created database is written without
  // waiting for the disk and made durable once, when it is closed: a crash
  // before Close can leave it damaged, so build it under a temporary name and
  // give it its real name after Close.
  virtual std::unique_ptr<Database> CreateDatabase(const std::string& path,
                                                   const std::string& locale, int32_t options) = 0;
};

// The general sort order, and the version 4.0 file format option.
inline constexpr char kLangGeneral[] = ";LANGID=0x0409;CP=1252;COUNTRY=0";
inline constexpr int32_t kVersion40 = 64;

// The engine's error numbers, those of the original engine where it has one.
// Each has one meaning, whichever backend raises it.
enum class EngineError : long {
  kInvalidArgument = 3001,  // a call not valid here: a wrong argument, an object closed
                            // or in the wrong state (no transaction open, one open already)
  kTableExists = 3010,
  kUpdateWithoutAddNew = 3020,
  kNoCurrentRecord = 3021,
  kDuplicateKey = 3022,  // a key the table already holds
  kFileNotFound = 3024,  // nothing at the path
  kDiskFull = 3026,
  kIo = 3043,           // the disk or the network failed
  kInvalidPath = 3044,  // no database file can be opened or created at the path: a
                        // folder, a device, a missing folder, no permission
  kReadOnly = 3051,     // a database or record set that cannot be written
  kTableNotFound = 3078,
  kSyntax = 3075,         // an SQL text the engine cannot run
  kCallFailed = 3146,     // a driver call that failed for a reason of its own
  kConnectFailed = 3151,  // a data source that cannot be reached or refuses the login
  kFieldTooSmall = 3163,  // text longer than the field's size
  kRecordDeleted = 3167,  // a record another program or this one deleted
  kNoDriver = 3170,       // no installed driver for the database's format
  kDatabaseExists = 3204,
  kQueryTimeout = 3234,        // a server that did not answer in time
  kLocked = 3260,              // locked by another program past the timeout
  kItemNotFound = 3265,        // no field of that name, or at that place
  kUnrecognizedFormat = 3343,  // a file holding no database the engine reads: damaged,
                               // empty, or of another format
  kNumericOverflow = 3349,     // number outside the field type's range
  kDataConversion = 3421,      // a value that does not convert to the field's type, or
                               // would not come back as it was
  kNoIdentity = 3622,          // records without an identity the engine can name them by
};

// An error's number against one of the engine's codes.
constexpr bool operator==(long number, EngineError code) {
  return number == static_cast<long>(code);
}

}  // namespace sa::dbengine
