#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/driver_family.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "dbengine/sqlite_format.h"

namespace sa::dbengine::odbc {

namespace {

std::string Size(const Field& field) {
  return std::to_string(field.size > 0 ? field.size : kDefaultTextSize);
}

// A family's names for the field types, the text type written as
// `textBefore` size `textAfter`.
struct TypeNames {
  const char* boolean;
  const char* integer;
  const char* longInteger;
  const char* dbl;
  const char* date;
  const char* textBefore;
  const char* textAfter;
};

std::string Declared(const TypeNames& names, const Field& field) {
  switch (field.type) {
    case FieldType::kBoolean:
      return names.boolean;
    case FieldType::kInteger:
      return names.integer;
    case FieldType::kLong:
      return names.longInteger;
    case FieldType::kDouble:
      return names.dbl;
    case FieldType::kDate:
      return names.date;
    case FieldType::kText:
      break;
  }
  return names.textBefore + Size(field) + names.textAfter;
}

bool Contains(std::string_view text, std::string_view part) {
  return LowerAscii(text).find(LowerAscii(part)) != std::string::npos;
}

// A text as an SQL string literal.
std::string Literal(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'' || c == '\\') out += c;
    out += c;
  }
  return out + "'";
}

// Any other data source: ODBC's own type names, names quoted with the
// driver's own quote character.
class GenericFamily : public DriverFamily {
 public:
  const char* Name() const override { return "generic"; }
  std::string DeclaredType(const Field& field) const override {
    static constexpr TypeNames kNames{"SMALLINT",  "SMALLINT", "INTEGER", "DOUBLE PRECISION",
                                      "TIMESTAMP", "VARCHAR(", ")"};
    return Declared(kNames, field);
  }
  // Not every system spells them SAVEPOINT; undoing the whole transaction
  // is right everywhere.
  bool HasSavepoints() const override { return false; }
};

// Jet through the Access driver: its own type names, bracketed names, files
// created by the driver's setup entry, no row identity but a primary key.
class Jet : public DriverFamily {
 public:
  const char* Name() const override { return "Jet"; }
  std::string DeclaredType(const Field& field) const override {
    static constexpr TypeNames kNames{"BIT", "SHORT", "LONG", "DOUBLE", "DATETIME", "TEXT(", ")"};
    return Declared(kNames, field);
  }
  std::string QuoteName(std::string_view name) const override {
    return "[" + std::string(name) + "]";
  }
  bool HasSavepoints() const override { return false; }
  std::string CreateFileAttributes(const std::string& path) const override {
    // Version 4.0 format, general sort order.
    return "CREATE_DBV4=\"" + path + "\" General";
  }
  std::optional<std::string> FileDriver(std::span<const std::string> drivers) const override {
    for (const std::string& d : drivers) {
      if (Contains(d, "(*.mdb")) return d;
    }
    for (const std::string& d : drivers) {
      if (Contains(d, "access")) return d;
    }
    return std::nullopt;
  }
};

// SQLite through its ODBC driver: the built-in backend's file conventions,
// and the rowid as identity.
class Sqlite : public DriverFamily {
 public:
  const char* Name() const override { return "SQLite"; }
  std::string DeclaredType(const Field& field) const override {
    return sqlite_format::ColumnDeclaration(field);
  }
  std::optional<FieldType> FieldTypeOf(int sqlType, std::string_view typeName) const override {
    if (SameName(typeName, "boolean")) return FieldType::kBoolean;
    return DriverFamily::FieldTypeOf(sqlType, typeName);
  }
  // Dates are texts here, in whichever form their writer chose ("YYYY-MM-DD",
  // a "T" separator, any fraction): both sides are brought to one form, to
  // the millisecond, before they are compared, as the built-in backend reads
  // them. The forms the engine writes only gain their milliseconds; a finer
  // fraction rounds up within its second (never into the next day, never
  // down onto the second); only forms of other shapes pay for strftime. A
  // row holding no date gives NULL, which no comparison selects.
  std::string DateComparison(const std::string& field, const std::string& op,
                             const DateTime& value) const override {
    std::string literal = value.ToIso();
    if (literal.size() == 19) literal += ".000";
    const std::string& f = field;
    const std::string ms = "substr(" + f + ", 21, 3)";
    return "(CASE WHEN length(" + f + ") IN (19, 23) AND substr(" + f +
           ", 11, 1) IN (' ', 'T') THEN replace(substr(" + f +
           " || '.000', 1, 23), 'T', ' ') WHEN length(" + f + ") = 10 THEN " + f +
           " || ' 00:00:00.000' WHEN length(" + f + ") > 23 AND substr(" + f +
           ", 20, 1) = '.' THEN replace(substr(" + f + ", 1, 20), 'T', ' ') || printf('%03d', " +
           ms + " + (" + ms + " <> '999' AND rtrim(substr(" + f +
           ", 24), '0') <> '')) ELSE strftime('%Y-%m-%d %H:%M:%f', " + f + ") END) " + op + " '" +
           literal + "'";
  }
  std::string RowIdentity() const override { return "rowid"; }
  // A write that changes nothing still takes the write lock, held until the
  // transaction ends: no other connection commits a change meanwhile.
  std::string WriteLockStatement(const std::string& quotedTable) const override {
    return "DELETE FROM " + quotedTable + " WHERE 0 = 1";
  }
  // The driver runs an INSERT ... RETURNING but hands back no result, so
  // the new record is found by the rowid the connection gave last.
  std::string InsertedIdentityQuery(const std::string& identity,
                                    const std::string& table) const override {
    return "SELECT " + identity + " FROM " + table + " WHERE rowid = last_insert_rowid()";
  }
  std::string IntegrityCheck() const override { return "PRAGMA integrity_check(10)"; }
  // The driver waits for a lock as long as its own Timeout attribute says
  // (in milliseconds), whatever the connection asks of SQLite itself.
  std::string FileConnectAttributes(const Waits& waits) const override {
    return "Timeout=" + std::to_string(waits.lockSeconds * 1000) + ";";
  }
  // The driver hands every value over as SQLite's text of it, which keeps
  // 15 significant digits of a double: a real is read as its text of 17.
  std::string ReadExpression(const std::string& quotedField, FieldType type) const override {
    if (type != FieldType::kDouble) return quotedField;
    return "(CASE WHEN typeof(" + quotedField + ") = 'real' THEN printf('%!.17g', " + quotedField +
           ") ELSE " + quotedField + " END)";
  }
  std::string CreateFileAttributes(const std::string&) const override { return ""; }
  bool StoresDatesAsText() const override { return true; }
  bool CreatesFileOnConnect() const override { return true; }
  // The header fields the built-in backend records the options in.
  std::vector<std::string> NewFileStatements(int32_t languageId, int32_t options) const override {
    return {
        "PRAGMA application_id=" + std::to_string(sqlite_format::kApplicationId),
        "PRAGMA user_version=" + std::to_string(sqlite_format::UserVersion(languageId, options))};
  }
  std::optional<std::string> FileDriver(std::span<const std::string> drivers) const override {
    for (const std::string& d : drivers) {
      if (Contains(d, "sqlite3")) return d;
    }
    return std::nullopt;
  }
};

// PostgreSQL: its own types (dates to the millisecond), and the tuple
// identity under a row lock where a table has no primary key.
class Postgres : public DriverFamily {
 public:
  const char* Name() const override { return "PostgreSQL"; }
  std::string DeclaredType(const Field& field) const override {
    static constexpr TypeNames kNames{"boolean",      "smallint", "integer", "double precision",
                                      "timestamp(3)", "varchar(", ")"};
    return Declared(kNames, field);
  }
  std::optional<FieldType> FieldTypeOf(int sqlType, std::string_view typeName) const override {
    // The driver may show booleans as characters.
    if (SameName(typeName, "bool")) return FieldType::kBoolean;
    return DriverFamily::FieldTypeOf(sqlType, typeName);
  }
  // Block and offset of the tuple, as one number (see EncodeTid).
  std::string RowIdentity() const override {
    return "((ctid::text::point)[0]::bigint * 65536 + (ctid::text::point)[1]::bigint)";
  }
  // One array literal rather than a literal per record: the driver turns
  // each literal into a parameter of its own.
  std::string RowIdentityIn(std::span<const int64_t> ids) const override {
    std::string list;
    for (int64_t id : ids) {
      if (!list.empty()) list += ',';
      list += "\"" + TidText(id) + "\"";
    }
    return "ctid = ANY ('{" + list + "}'::tid[])";
  }
  std::string KeyIn(const std::string& key, std::span<const int64_t> ids) const override {
    std::string list;
    for (int64_t id : ids) {
      if (!list.empty()) list += ',';
      list += std::to_string(id);
    }
    return key + " = ANY ('{" + list + "}'::bigint[])";
  }
  bool LocksSelectedRows() const override { return true; }
  std::string InsertReturning(const std::string& identity) const override {
    return " RETURNING " + identity;
  }
  std::string CurrentSchemaQuery() const override { return "SELECT current_schema()"; }
  // A lock held by another program is waited for this long; a statement
  // running longer is ended by the server (the driver's query timeout).
  std::vector<std::string> SessionStatements(const Waits& waits) const override {
    return {"SET lock_timeout = " + std::to_string(waits.lockSeconds * 1000)};
  }
};

// MySQL and MariaDB (InnoDB): their own types, backquoted names, the
// database as the catalog, row locks, and no row identity: a table moves by
// its whole-number primary key.
class Mysql : public DriverFamily {
 public:
  explicit Mysql(bool mariaDb) : mariaDb_(mariaDb) {}
  const char* Name() const override { return "MySQL"; }
  std::string DeclaredType(const Field& field) const override {
    static constexpr TypeNames kNames{"BOOLEAN",     "SMALLINT", "INTEGER", "DOUBLE",
                                      "DATETIME(3)", "VARCHAR(", ")"};
    return Declared(kNames, field);
  }
  std::string QuoteName(std::string_view name) const override {
    std::string out = "`";
    for (char c : name) {
      if (c == '`') out += c;
      out += c;
    }
    return out + "`";
  }
  std::string CurrentCatalogQuery() const override { return "SELECT DATABASE()"; }
  // A BOOLEAN column is a TINYINT(1), which the catalog shows as TINYINT.
  std::string BooleanColumnsQuery(const std::string& table) const override {
    return "SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() "
           "AND TABLE_NAME = " +
           Literal(table) + " AND COLUMN_TYPE = 'tinyint(1)'";
  }
  // Row locks (InnoDB) and table locks (LOCK TABLES, DDL) are waited for
  // this long; a statement running longer is ended by the server (MySQL
  // ends only SELECTs so, in milliseconds).
  std::vector<std::string> SessionStatements(const Waits& waits) const override {
    const std::string lock = std::to_string(waits.lockSeconds);
    return {"SET SESSION innodb_lock_wait_timeout = " + lock + ", lock_wait_timeout = " + lock,
            mariaDb_
                ? "SET SESSION max_statement_time = " + std::to_string(waits.answerSeconds)
                : "SET SESSION max_execution_time = " + std::to_string(waits.answerSeconds * 1000)};
  }
  bool LocksSelectedRows() const override { return true; }
  // The MariaDB driver counts a text of characters outside the Basic
  // Multilingual Plane cut to its buffer as one unit per character.
  bool MiscountsCutTexts() const override { return true; }
  // The key an AUTO_INCREMENT column gave the connection's last insert.
  std::string InsertedIdentityQuery(const std::string&, const std::string&) const override {
    return "SELECT LAST_INSERT_ID()";
  }

 private:
  bool mariaDb_;
};

}  // namespace

std::optional<FieldType> DriverFamily::FieldTypeOf(int sqlType, std::string_view) const {
  switch (sqlType) {
    case SQL_BIT:
      return FieldType::kBoolean;
    case SQL_TINYINT:
    case SQL_SMALLINT:
      return FieldType::kInteger;
    case SQL_INTEGER:
    case SQL_BIGINT:
      return FieldType::kLong;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return FieldType::kDouble;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
    case SQL_TIMESTAMP:
      return FieldType::kDate;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return FieldType::kText;
    default:
      return std::nullopt;
  }
}

std::string DriverFamily::QuoteName(std::string_view name) const {
  if (quote_.empty() || quote_ == " ") return std::string(name);
  std::string out = quote_;
  for (size_t at = 0; at < name.size();) {
    if (name.compare(at, quote_.size(), quote_) == 0) {
      out += quote_ + quote_;
      at += quote_.size();
    } else {
      out += name[at++];
    }
  }
  return out + quote_;
}

std::string DriverFamily::DateLiteral(const DateTime& value) const {
  return "{ts '" + value.ToIso() + "'}";
}

std::string DriverFamily::DateComparison(const std::string& field, const std::string& op,
                                         const DateTime& value) const {
  return field + " " + op + " " + DateLiteral(value);
}

std::string DriverFamily::RowIdentityIn(std::span<const int64_t> ids) const {
  return KeyIn(RowIdentity(), ids);
}

std::string DriverFamily::KeyIn(const std::string& key, std::span<const int64_t> ids) const {
  std::string list;
  for (int64_t id : ids) {
    if (!list.empty()) list += ',';
    list += std::to_string(id);
  }
  return key + " IN (" + list + ")";
}

std::string DriverFamily::CreateFileAttributes(const std::string&) const { return ""; }

std::optional<std::string> DriverFamily::FileDriver(std::span<const std::string>) const {
  return std::nullopt;
}

std::unique_ptr<DriverFamily> FamilyForDbms(std::string_view dbmsName, std::string_view quoteChar) {
  std::unique_ptr<DriverFamily> family;
  if (Contains(dbmsName, "postgres")) {
    family = PostgresFamily();
  } else if (Contains(dbmsName, "sqlite")) {
    family = SqliteFamily();
  } else if (Contains(dbmsName, "access")) {
    family = JetFamily();
  } else if (Contains(dbmsName, "mariadb")) {
    family = std::make_unique<Mysql>(true);
  } else if (Contains(dbmsName, "mysql")) {
    family = std::make_unique<Mysql>(false);
  } else {
    family = std::make_unique<GenericFamily>();
  }
  family->SetQuoteChar(quoteChar);
  return family;
}

std::unique_ptr<DriverFamily> FamilyNamed(std::string_view name, std::string_view quoteChar) {
  std::unique_ptr<DriverFamily> family;
  for (auto* make : {&JetFamily, &SqliteFamily, &PostgresFamily, &MysqlFamily}) {
    if (auto f = make(); SameName(f->Name(), name)) family = std::move(f);
  }
  if (SameName(name, "generic")) family = std::make_unique<GenericFamily>();
  if (family) family->SetQuoteChar(quoteChar);
  return family;
}

std::unique_ptr<DriverFamily> JetFamily() { return std::make_unique<Jet>(); }
std::unique_ptr<DriverFamily> SqliteFamily() { return std::make_unique<Sqlite>(); }
std::unique_ptr<DriverFamily> PostgresFamily() { return std::make_unique<Postgres>(); }
std::unique_ptr<DriverFamily> MysqlFamily() { return std::make_unique<Mysql>(true); }

int64_t EncodeTid(uint32_t block, uint16_t offset) {
  return static_cast<int64_t>(block) * 65536 + offset;
}

std::string TidText(int64_t id) {
  return "(" + std::to_string(id / 65536) + "," + std::to_string(id % 65536) + ")";
}

}  // namespace sa::dbengine::odbc
