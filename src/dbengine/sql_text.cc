#include "dbengine/sql_text.h"

#include <cctype>

#include "core/error.h"
#include "dbengine/engine.h"

namespace sa::dbengine {

namespace {

bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool ReadInt(std::string_view t, size_t& pos, size_t minDigits, size_t maxDigits, int& out) {
  size_t n = 0;
  int v = 0;
  while (pos < t.size() && n < maxDigits && t[pos] >= '0' && t[pos] <= '9') {
    v = v * 10 + (t[pos] - '0');
    ++pos;
    ++n;
  }
  out = v;
  return n >= minDigits;
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Case-insensitive search for a keyword surrounded by blanks, outside quotes.
size_t FindKeyword(std::string_view s, std::string_view kw, size_t from) {
  char quote = 0;
  for (size_t i = from; i < s.size(); ++i) {
    const char c = s[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      continue;
    }
    if (c == '[') {
      quote = ']';
      continue;
    }
    if (i + kw.size() > s.size()) return std::string_view::npos;
    if ((i == 0 || std::isspace(static_cast<unsigned char>(s[i - 1]))) &&
        (i + kw.size() == s.size() || std::isspace(static_cast<unsigned char>(s[i + kw.size()])))) {
      bool match = true;
      for (size_t k = 0; k < kw.size() && match; ++k) {
        match = std::toupper(static_cast<unsigned char>(s[i + k])) == kw[k];
      }
      if (match) return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::optional<FieldComparison> TakeFieldComparison(std::string& out) {
  size_t end = out.size();
  while (end > 0 && out[end - 1] == ' ') --end;
  size_t opStart = end;
  while (opStart > 0 &&
         (out[opStart - 1] == '<' || out[opStart - 1] == '>' || out[opStart - 1] == '=')) {
    --opStart;
  }
  if (opStart == end || end - opStart > 2) return std::nullopt;
  const std::string op = out.substr(opStart, end - opStart);
  size_t identEnd = opStart;
  while (identEnd > 0 && out[identEnd - 1] == ' ') --identEnd;
  size_t identStart = identEnd;
  if (identStart > 0 && out[identStart - 1] == ']') {
    const size_t open = out.rfind('[', identStart - 1);
    if (open == std::string::npos) return std::nullopt;
    identStart = open;
  } else if (identStart > 1 && out[identStart - 1] == '"') {
    const size_t open = out.rfind('"', identStart - 2);
    if (open == std::string::npos) return std::nullopt;
    identStart = open;
  } else {
    while (identStart > 0 && IsIdentChar(out[identStart - 1])) --identStart;
  }
  if (identStart == identEnd) return std::nullopt;
  std::string field = out.substr(identStart, identEnd - identStart);
  if (std::isdigit(static_cast<unsigned char>(field[0])) != 0) return std::nullopt;
  out.erase(identStart);
  return FieldComparison{std::move(field), op};
}

std::optional<DateTime> ParseDateLiteral(std::string_view text) {
  text = TrimView(text);
  if (auto iso = DateTime::ParseIso(text)) return iso;
  // US form: m/d/yyyy or mm/dd/yy, optionally with a time.
  size_t pos = 0;
  CivilDate d;
  if (!ReadInt(text, pos, 1, 2, d.month) || pos >= text.size() || text[pos++] != '/')
    return std::nullopt;
  if (!ReadInt(text, pos, 1, 2, d.day) || pos >= text.size() || text[pos++] != '/')
    return std::nullopt;
  const size_t yearStart = pos;
  if (!ReadInt(text, pos, 2, 4, d.year)) return std::nullopt;
  if (pos - yearStart == 2)
    d.year += d.year < 30 ? 2000 : 1900;
  else if (pos - yearStart != 4)
    return std::nullopt;
  if (!IsValidDate(d)) return std::nullopt;
  if (pos == text.size()) return DateTime::FromDate(d);
  if (text[pos] != ' ') return std::nullopt;
  int h = 0, mi = 0, s = 0;
  ++pos;
  if (!ReadInt(text, pos, 1, 2, h) || pos >= text.size() || text[pos++] != ':') return std::nullopt;
  if (!ReadInt(text, pos, 2, 2, mi)) return std::nullopt;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadInt(text, pos, 2, 2, s)) return std::nullopt;
  }
  if (pos != text.size() || h > 23 || mi > 59 || s > 59) return std::nullopt;
  return DateTime::FromParts(d, h, mi, s);
}

bool SqlLexer::Next(SqlToken& token) {
  if (at_ >= sql_.size()) return false;
  const size_t start = at_;
  const char c = sql_[at_];
  const auto word = [](char w) {
    return std::isalnum(static_cast<unsigned char>(w)) != 0 || w == '_' ||
           static_cast<unsigned char>(w) >= 0x80;
  };
  if (c == '\'' || c == '"' || c == '[') {
    const size_t close = sql_.find(c == '[' ? ']' : c, at_ + 1);
    at_ = close == std::string_view::npos ? sql_.size() : close + 1;
    token.kind = SqlToken::Kind::kQuoted;
  } else if (c == '#') {
    const size_t close = sql_.find('#', at_ + 1);
    const auto date = close == std::string_view::npos
                          ? std::nullopt
                          : ParseDateLiteral(sql_.substr(at_ + 1, close - at_ - 1));
    if (!date) {
      throw Error(EngineError::kSyntax, "Syntax error in date in query expression.",
                  std::string(sql_));
    }
    at_ = close + 1;
    token.kind = SqlToken::Kind::kDate;
    token.date = *date;
  } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
    while (at_ < sql_.size() && (word(sql_[at_]) || sql_[at_] == '.')) ++at_;
    token.kind = SqlToken::Kind::kNumber;
  } else if (word(c)) {
    while (at_ < sql_.size() && word(sql_[at_])) ++at_;
    token.kind = SqlToken::Kind::kWord;
  } else {
    ++at_;
    token.kind = SqlToken::Kind::kOther;
  }
  token.text = sql_.substr(start, at_ - start);
  return true;
}

std::optional<SelectParts> SplitSelect(std::string_view sql) {
  sql = TrimView(sql);
  if (FindKeyword(sql, "SELECT", 0) != 0) return std::nullopt;
  const size_t from = FindKeyword(sql, "FROM", 6);
  if (from == std::string_view::npos) return std::nullopt;
  SelectParts parts;
  parts.list = std::string(TrimView(sql.substr(6, from - 6)));
  std::string_view tail = TrimView(sql.substr(from + 4));
  size_t nameEnd = 0;
  if (!tail.empty() && (tail[0] == '[' || tail[0] == '"')) {
    const char closer = tail[0] == '[' ? ']' : '"';
    nameEnd = tail.find(closer, 1);
    if (nameEnd == std::string_view::npos) return std::nullopt;
    parts.table = std::string(tail.substr(1, nameEnd - 1));
    ++nameEnd;
  } else {
    while (nameEnd < tail.size() && (IsIdentChar(tail[nameEnd]))) ++nameEnd;
    parts.table = std::string(tail.substr(0, nameEnd));
  }
  if (parts.table.empty() || parts.list.empty()) return std::nullopt;
  parts.rest = std::string(TrimView(tail.substr(nameEnd)));
  if (!parts.rest.empty() && parts.rest.back() == ';') parts.rest.pop_back();
  return parts;
}

}  // namespace sa::dbengine
