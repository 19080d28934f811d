#include "dbengine/sqlite/dialect.h"

#include "dbengine/sql_text.h"

namespace sa::dbengine::sqlite {

namespace {

// When the output ends with "<field> <op> ", replaces that with
// "dao_datecmp(<field>," and returns the operator, so the caller can close
// the comparison as "'<literal>') <op> 0": the field is then compared as a
// date whatever stored form its rows use. Returns "" when the literal stands
// elsewhere.
std::string OpenDateComparison(std::string& out) {
  const auto comparison = TakeFieldComparison(out);
  if (!comparison) return {};
  out += "dao_datecmp(" + comparison->field + ",";
  return comparison->op;
}

}  // namespace

std::string TranslateSql(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 32);
  SqlLexer lexer(sql);
  for (SqlToken token; lexer.Next(token);) {
    if (token.kind != SqlToken::Kind::kDate) {
      out += token.text;
      continue;
    }
    const std::string op = OpenDateComparison(out);
    out += '\'' + token.date.ToIso() + '\'';
    if (!op.empty()) out += ") " + op + " 0";
  }
  return out;
}

std::string QuoteName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace sa::dbengine::sqlite
