#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/dialect.h"

#include "dbengine/sql_text.h"

namespace sa::dbengine::odbc {

namespace {

// A word of the text as the database spells it: a field of `columnsOf`, a
// table, or (a keyword, anything else) as it is.
std::string QuotedName(Source& src, const std::string& word, const TableInfo* columnsOf) {
  if (columnsOf != nullptr) {
    for (const Field& col : columnsOf->columns) {
      if (SameName(col.name, word)) return src.Family().QuoteName(col.name);
    }
  }
  const auto& names = src.Tables();
  if (auto it = names.find(LowerAscii(word)); it != names.end()) {
    return src.Family().QuoteName(it->second);
  }
  return word;
}

}  // namespace

std::string TranslateSql(Source& src, std::string_view sql, const TableInfo* columnsOf) {
  // Without a table given, the fields are those of the first table named.
  if (columnsOf == nullptr) {
    const auto& names = src.Tables();
    SqlLexer words(sql);
    for (SqlToken token; columnsOf == nullptr && words.Next(token);) {
      if (token.kind == SqlToken::Kind::kWord && names.count(LowerAscii(token.text)) != 0) {
        columnsOf = &src.Table(std::string(token.text));
      }
    }
  }
  std::string out;
  SqlLexer lexer(sql);
  for (SqlToken token; lexer.Next(token);) {
    if (token.kind == SqlToken::Kind::kDate) {
      if (const auto comparison = TakeFieldComparison(out)) {
        out += src.Family().DateComparison(comparison->field, comparison->op, token.date);
      } else {
        out += src.Family().DateLiteral(token.date);
      }
    } else if (token.kind == SqlToken::Kind::kWord) {
      out += QuotedName(src, std::string(token.text), columnsOf);
    } else {
      out += token.text;
    }
  }
  return out;
}

}  // namespace sa::dbengine::odbc
