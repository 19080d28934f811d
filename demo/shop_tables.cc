#include "shop_tables.h"

#include <utility>

#include "core/error.h"
#include "dbengine/engine.h"
#include "dbengine/sqlite_format.h"
#include "dbengine/table_def.h"

namespace sa::demo {
namespace {

using dbengine::FieldType;

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

std::string QuoteName(std::string_view name) {
  std::string q = "\"";
  for (const char c : name) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + '"';
}

LiveTable LiveTwin(const archive::TableSpec& layout) {
  LiveTable t;
  t.name = dbengine::SameName(layout.name, "cliente") ? "cliente" : layout.name;
  const bool livestock = dbengine::SameName(layout.name, "GTVacuno");
  for (const archive::FieldSpec& f : layout.fields) {
    LiveColumn c{f.name, dbengine::sqlite_format::DeclaredType(f.type, f.size)};
    const bool dateName =
        dbengine::SameName(f.name, "fecha") || dbengine::SameName(f.name, "d_fecha");
    if (dateName && (f.type == FieldType::kDate || livestock)) {
      c.name = Upper(f.name);
      c.declared = "DATETIME";
    }
    t.columns.push_back(std::move(c));
  }
  t.columns.push_back({"sincronizado", "BOOLEAN"});
  t.columns.push_back({"terminal", "VARCHAR(20)"});
  return t;
}

std::string CreateSql(const LiveTable& t) {
  std::string sql = "CREATE TABLE " + QuoteName(t.name) + " (";
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += QuoteName(t.columns[i].name) + " " + t.columns[i].declared;
  }
  return sql + ")";
}

std::vector<LiveTable> LiveTables() {
  std::vector<LiveTable> tables;
  for (const archive::TableSpec* layout : archive::ArchiveTables(true)) {
    tables.push_back(LiveTwin(*layout));
  }
  return tables;
}

Inserter::Inserter(const dbengine::sqlite::Connection& conn, const LiveTable& table)
    : conn_(conn),
      table_(table),
      context_("INSERT INTO " + table.name),
      checked_(table.columns.size(), nullptr) {
  std::string sql = "INSERT INTO " + QuoteName(table.name) + " VALUES (";
  for (size_t i = 0; i < table.columns.size(); ++i) sql += i == 0 ? "?" : ",?";
  stmt_ = conn.Prepare(sql + ")");
}

Inserter& Inserter::Null(const char* field) {
  sqlite3_bind_null(stmt_.get(), Slot(field));
  return *this;
}

Inserter& Inserter::Int(const char* field, int64_t v) {
  sqlite3_bind_int64(stmt_.get(), Slot(field), v);
  return *this;
}

Inserter& Inserter::Real(const char* field, double v) {
  sqlite3_bind_double(stmt_.get(), Slot(field), v);
  return *this;
}

Inserter& Inserter::Text(const char* field, std::string_view v) {
  sqlite3_bind_text(stmt_.get(), Slot(field), v.data(), static_cast<int>(v.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

void Inserter::Insert() {
  if (next_ != table_.columns.size()) {
    throw Error(dbengine::EngineError::kInvalidArgument, "Sample row does not fill its table.",
                table_.name + ": " + std::to_string(next_) + " of " +
                    std::to_string(table_.columns.size()) + " fields given");
  }
  conn_.Run(stmt_.get(), context_);
  next_ = 0;
}

int Inserter::Slot(const char* field) {
  // Call sites pass literals, so a name seen at this position before is
  // known good without comparing it again.
  if (next_ < checked_.size() && checked_[next_] == field) return static_cast<int>(++next_);
  if (next_ >= table_.columns.size() || !dbengine::SameName(table_.columns[next_].name, field)) {
    const std::string expected =
        next_ < table_.columns.size() ? table_.columns[next_].name : "(end of row)";
    throw Error(dbengine::EngineError::kInvalidArgument, "Sample row out of step with its table.",
                table_.name + ": " + field + " given where " + expected + " is due");
  }
  checked_[next_] = field;
  return static_cast<int>(++next_);
}

}  // namespace sa::demo
