// What differs between the database systems the ODBC backend reaches, one
// class per family: declared column types for the engine's field types, how a
// new database file is made, how names are quoted, how date literals are
// written, which row identity a table without a usable primary key has,
// whether selected rows can be locked, and how long a connection waits for a
// lock or an answer. Everything else in the backend is the same for every
// driver.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/datetime.h"
#include "dbengine/table_def.h"

namespace sa::dbengine::odbc {

// How long a connection waits: for a lock another program holds, and for a
// server to answer any one call (a server that stops answering is given up
// on, its connection with it).
struct Waits {
  int lockSeconds = 10;
  int answerSeconds = 60;
};

class DriverFamily {
 public:
  virtual ~DriverFamily() = default;
  virtual const char* Name() const = 0;

  // The column type a field of `field`'s type and size is created with.
  virtual std::string DeclaredType(const Field& field) const = 0;
  // The engine's field type of a column the catalog describes; nullopt for a
  // type the engine does not handle.
  virtual std::optional<FieldType> FieldTypeOf(int sqlType, std::string_view typeName) const;

  // A table or field name quoted: by default with the driver's own
  // identifier quote character (none when the driver has none).
  virtual std::string QuoteName(std::string_view name) const;
  // The query naming the schema whose tables the catalog is searched in
  // (the connection's own); "" to search every table the driver lists.
  virtual std::string CurrentSchemaQuery() const { return ""; }
  // The same for database systems whose catalog names a database (catalog)
  // where others name a schema.
  virtual std::string CurrentCatalogQuery() const { return ""; }
  // Statements run once on every new connection: bounds on how long the
  // database system itself lets a statement wait for a lock or run.
  virtual std::vector<std::string> SessionStatements(const Waits& waits) const {
    (void)waits;
    return {};
  }
  // A query answering, one per row, the names of those columns of `table`
  // that hold booleans although the catalog shows them as small integers;
  // "" where the catalog tells booleans apart.
  virtual std::string BooleanColumnsQuery(const std::string& table) const {
    (void)table;
    return "";
  }
  // Whether the driver, fetching a text into a buffer too short for it,
  // may report the length of a shorter text than it holds (and no cut):
  // its texts are fetched into buffers long enough for any text of their
  // column.
  virtual bool MiscountsCutTexts() const { return false; }
  // The select-list expression that reads `quotedField`, of `type`, exactly:
  // by default the field itself.
  virtual std::string ReadExpression(const std::string& quotedField, FieldType type) const {
    (void)type;
    return quotedField;
  }
  // The escape a date literal becomes.
  std::string DateLiteral(const DateTime& value) const;
  // A field compared with a date literal ("<field> <op> #...#"), compared as
  // a date whatever form its rows keep it in. By default the field against
  // the literal's escape, for databases that keep dates as dates.
  virtual std::string DateComparison(const std::string& field, const std::string& op,
                                     const DateTime& value) const;

  // The expression that yields a record's identity as a whole number when the
  // table has no single whole-number primary key; "" when the family has none.
  virtual std::string RowIdentity() const { return ""; }
  // The condition selecting the records whose RowIdentity() is in `ids`.
  virtual std::string RowIdentityIn(std::span<const int64_t> ids) const;
  // The condition selecting the records whose whole-number primary key `key`
  // (quoted) is in `ids`.
  virtual std::string KeyIn(const std::string& key, std::span<const int64_t> ids) const;
  // Whether the database system takes SAVEPOINT statements: without them a
  // step that fails undoes its whole transaction.
  virtual bool HasSavepoints() const { return true; }
  // Whether selecting records for a move locks them until the transaction
  // ends (so that their row identity cannot change under the move).
  virtual bool LocksSelectedRows() const { return false; }
  // The statement that makes the open transaction take the database's write
  // lock before it reads the records it will delete, so that other writers
  // wait for it rather than it for them; "" where selecting locks the rows.
  virtual std::string WriteLockStatement(const std::string& quotedTable) const {
    (void)quotedTable;
    return "";
  }
  // Whether records read inside a transaction stay as they were read until
  // it ends, locked as they are selected or kept out of other writers' reach
  // by the write lock taken first: such records can be deleted by identity
  // without being compared again.
  bool KeepsReadRecordsUntilCommit() const {
    return LocksSelectedRows() || !WriteLockStatement("t").empty();
  }
  // How the identity a new record got is learnt, `identity` being the
  // table's identity expression: a clause that makes the INSERT return it
  // as its one result column, or else a query run right after the INSERT on
  // the same connection (`table` quoted); "" when the family offers neither.
  virtual std::string InsertReturning(const std::string& identity) const {
    (void)identity;
    return "";
  }
  virtual std::string InsertedIdentityQuery(const std::string& identity,
                                            const std::string& table) const {
    (void)identity;
    (void)table;
    return "";
  }
  // The statement that checks the database's structure, answering one row
  // "ok" when it is sound and a row per problem otherwise; "" when the
  // database system has none.
  virtual std::string IntegrityCheck() const { return ""; }

  // The connection attributes ("Key=value;" each) that a connection to one
  // of this family's files, made by the engine, is given for `waits`.
  virtual std::string FileConnectAttributes(const Waits& waits) const {
    (void)waits;
    return "";
  }
  // The driver attributes that create a new database file at `path` (for
  // SQLConfigDataSource's ODBC_ADD_DSN request); "" when the driver cannot.
  virtual std::string CreateFileAttributes(const std::string& path) const;
  // Whether dates are written as their stored text ("YYYY-MM-DD HH:MM:SS"),
  // for a file format that keeps them as texts, rather than as timestamps.
  virtual bool StoresDatesAsText() const { return false; }
  // Whether the driver makes a new database file when connected to a name
  // that does not exist yet (instead of through CreateFileAttributes).
  virtual bool CreatesFileOnConnect() const { return false; }
  // What a new file of this family is given on its first connection: the
  // creation options (language id, option bits) where the file keeps them.
  virtual std::vector<std::string> NewFileStatements(int32_t languageId, int32_t options) const {
    (void)languageId;
    (void)options;
    return {};
  }
  // The installed driver that serves this family's files, from `drivers`.
  virtual std::optional<std::string> FileDriver(std::span<const std::string> drivers) const;

  // The driver's identifier quote character, for QuoteName: " " or "" when
  // it quotes none.
  void SetQuoteChar(std::string_view quote) { quote_ = quote; }

 private:
  std::string quote_ = "\"";
};

// The family of a data source by the DBMS name its driver reports;
// `quoteChar` is the driver's identifier quote character (SQLGetInfo's
// SQL_IDENTIFIER_QUOTE_CHAR: " " when it has none), which the families that
// do not fix their own quoting use.
std::unique_ptr<DriverFamily> FamilyForDbms(std::string_view dbmsName,
                                            std::string_view quoteChar = "\"");
// The family of that name ("generic", "Jet", "SQLite", "PostgreSQL",
// "MySQL"), whatever the driver reports; nullptr for another name.
std::unique_ptr<DriverFamily> FamilyNamed(std::string_view name, std::string_view quoteChar = "\"");
// The family of Jet/Access files, and that of SQLite files.
std::unique_ptr<DriverFamily> JetFamily();
std::unique_ptr<DriverFamily> SqliteFamily();
std::unique_ptr<DriverFamily> PostgresFamily();
// MySQL and MariaDB, the statements bounding their waits in MariaDB's words.
std::unique_ptr<DriverFamily> MysqlFamily();

// A PostgreSQL tuple identity (block, offset) as one whole number and back.
int64_t EncodeTid(uint32_t block, uint16_t offset);
std::string TidText(int64_t id);

}  // namespace sa::dbengine::odbc
