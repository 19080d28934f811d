#include "dbengine/sqlite/sqlite_values.h"

#include <cctype>
#include <cstdlib>

namespace sa::dbengine::sqlite {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

FieldType FieldTypeOfDeclared(const std::string& declared, int& size) {
  const std::string d = Upper(declared);
  size = 0;
  if (d.find("BOOL") != std::string::npos || d == "BIT") return FieldType::kBoolean;
  if (d.find("SMALLINT") != std::string::npos) return FieldType::kInteger;
  if (d.find("DATE") != std::string::npos || d.find("TIME") != std::string::npos) {
    return FieldType::kDate;
  }
  if (d.find("INT") != std::string::npos) return FieldType::kLong;
  if (d.find("CHAR") != std::string::npos || d.find("CLOB") != std::string::npos ||
      d.find("TEXT") != std::string::npos || d.empty() || d.find("BLOB") != std::string::npos) {
    size = kDefaultTextSize;
    const size_t open = d.find('(');
    if (open != std::string::npos) {
      const int n = std::atoi(d.c_str() + open + 1);
      if (n > 0) size = n;
    }
    return FieldType::kText;
  }
  return FieldType::kDouble;
}

Value FromSqlite(sqlite3_value* value, FieldType type) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return std::monostate{};
    case SQLITE_INTEGER: {
      const int64_t v = sqlite3_value_int64(value);
      if (type == FieldType::kBoolean) return int64_t{v != 0 ? 1 : 0};
      if (type == FieldType::kDouble) return static_cast<double>(v);
      return v;
    }
    case SQLITE_FLOAT: {
      const double v = sqlite3_value_double(value);
      if (type == FieldType::kBoolean) return int64_t{v != 0 ? 1 : 0};
      return v;
    }
    default: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(value));
      std::string text(p != nullptr ? p : "", static_cast<size_t>(sqlite3_value_bytes(value)));
      if (type == FieldType::kDate) {
        if (auto dt = DateTime::ParseIso(text)) return *dt;
      }
      return text;
    }
  }
}

Value ColumnValue(sqlite3_stmt* stmt, int i, FieldType type) {
  return FromSqlite(sqlite3_column_value(stmt, i), type);
}

void BindValue(sqlite3_stmt* stmt, int i, const Value& v) {
  if (IsNull(v)) {
    sqlite3_bind_null(stmt, i);
  } else if (const auto* n = std::get_if<int64_t>(&v)) {
    sqlite3_bind_int64(stmt, i, *n);
  } else if (const auto* d = std::get_if<double>(&v)) {
    sqlite3_bind_double(stmt, i, *d);
  } else if (const auto* dt = std::get_if<DateTime>(&v)) {
    const std::string iso = dt->ToIso();
    sqlite3_bind_text(stmt, i, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
  } else {
    const auto& s = std::get<std::string>(v);
    sqlite3_bind_text(stmt, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
}

}  // namespace sa::dbengine::sqlite
