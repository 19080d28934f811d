#include "dbengine/sqlite/sql_functions.h"

#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"
#include "dbengine/sqlite/sqlite_handle.h"
#include "dbengine/sqlite/sqlite_values.h"

namespace sa::dbengine::sqlite {

namespace {

// A function argument as it is stored, read as a date when it comes from a
// date field; a text field's reading leaves numbers and texts unchanged.
Value ArgValue(sqlite3_value* arg, bool fromDateField) {
  return FromSqlite(arg, fromDateField ? FieldType::kDate : FieldType::kText);
}

void ResultValue(sqlite3_context* ctx, const Value& v) {
  if (IsNull(v)) {
    sqlite3_result_null(ctx);
  } else if (const auto* n = std::get_if<int64_t>(&v)) {
    sqlite3_result_int64(ctx, *n);
  } else if (const auto* d = std::get_if<double>(&v)) {
    sqlite3_result_double(ctx, *d);
  } else if (const auto* dt = std::get_if<DateTime>(&v)) {
    const std::string iso = dt->ToIso();
    sqlite3_result_text(ctx, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
  } else {
    const auto& s = std::get<std::string>(v);
    sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
}

// The stored form of a date argument ("YYYY-MM-DD HH:MM:SS"), into `buf`
// when it needs converting; nullopt when the argument holds no date.
std::optional<std::string_view> StoredDate(sqlite3_value* arg, std::string& buf) {
  if (sqlite3_value_type(arg) != SQLITE_TEXT) return std::nullopt;
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(arg));
  const std::string_view text(p, static_cast<size_t>(sqlite3_value_bytes(arg)));
  if (DateTime::IsStoredForm(text)) return text;
  const std::optional<DateTime> dt = DateTime::ParseIso(text);
  if (!dt) return std::nullopt;
  buf = dt->ToIso();
  return std::string_view(buf);
}

// dao_datecmp(x, literal): -1, 0 or 1 as the date in x is before, at or
// after the literal (a date in the stored form); NULL when x holds no date.
void DaoDateCmp(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string buf;
  const std::optional<std::string_view> date = StoredDate(argv[0], buf);
  if (!date || sqlite3_value_type(argv[1]) != SQLITE_TEXT) {
    sqlite3_result_null(ctx);
    return;
  }
  const auto* lit = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
  const int c =
      date->compare(std::string_view(lit, static_cast<size_t>(sqlite3_value_bytes(argv[1]))));
  sqlite3_result_int(ctx, c < 0 ? -1 : c > 0 ? 1 : 0);
}

// dao_isstored(x): 1 when x is a date already in the stored form.
void DaoIsStored(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const bool stored = sqlite3_value_type(argv[0]) == SQLITE_TEXT &&
                      DateTime::IsStoredForm(std::string_view(
                          reinterpret_cast<const char*>(sqlite3_value_text(argv[0])),
                          static_cast<size_t>(sqlite3_value_bytes(argv[0]))));
  sqlite3_result_int(ctx, stored ? 1 : 0);
}

// dao_convert(x, fromDateField, fieldType, size, fieldName): x converted for
// the target field, or an error that SqliteError() turns back into the
// engine's number and description.
void DaoConvert(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const bool fromDate = sqlite3_value_int(argv[1]) != 0;
  const auto type = static_cast<FieldType>(sqlite3_value_int(argv[2]));
  const int size = sqlite3_value_int(argv[3]);
  const auto* name = reinterpret_cast<const char*>(sqlite3_value_text(argv[4]));
  try {
    ResultValue(ctx, ConvertForField(ArgValue(argv[0], fromDate), type, size, name ? name : ""));
  } catch (const Error& e) {
    std::string msg;
    msg += kErrorTag;
    msg += std::to_string(e.Number());
    msg += kErrorTag;
    msg += e.Description();
    msg += kErrorTag;
    msg += e.Cause();
    sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// dao_same(x, fromDateField, fieldType, size, copy): 1 when x, converted for
// the field, equals the archived copy; 0 otherwise, also when x no longer
// converts.
void DaoSame(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const bool fromDate = sqlite3_value_int(argv[1]) != 0;
  const auto type = static_cast<FieldType>(sqlite3_value_int(argv[2]));
  const int size = sqlite3_value_int(argv[3]);
  try {
    const Value live = ConvertForField(ArgValue(argv[0], fromDate), type, size, "");
    const Value copy = ArgValue(argv[4], type == FieldType::kDate);
    bool same = live == copy;
    if (!same) {
      // Numbers compare by value whatever their storage class.
      const auto* a = std::get_if<double>(&live);
      const auto* b = std::get_if<int64_t>(&copy);
      const auto* c = std::get_if<int64_t>(&live);
      const auto* d = std::get_if<double>(&copy);
      same = (a && b && *a == static_cast<double>(*b)) || (c && d && static_cast<double>(*c) == *d);
    }
    sqlite3_result_int(ctx, same ? 1 : 0);
  } catch (const std::exception&) {
    sqlite3_result_int(ctx, 0);
  }
}

}  // namespace

void RegisterFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "dao_datecmp", 2, flags, nullptr, DaoDateCmp, nullptr, nullptr);
  sqlite3_create_function(db, "dao_isstored", 1, flags, nullptr, DaoIsStored, nullptr, nullptr);
  sqlite3_create_function(db, "dao_convert", 5, flags, nullptr, DaoConvert, nullptr, nullptr);
  sqlite3_create_function(db, "dao_same", 5, flags, nullptr, DaoSame, nullptr, nullptr);
}

}  // namespace sa::dbengine::sqlite
