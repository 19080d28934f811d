#include "dbengine/odbc/connection_string.h"

#include <vector>

#include "dbengine/table_def.h"

namespace sa::dbengine::odbc {

namespace {

struct Item {
  size_t keyBegin, keyEnd;      // the attribute's name, blanks trimmed
  size_t valueBegin, valueEnd;  // its value as written (braces included)
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Splits "k=v;k={v;v};..." into its items; a braced value may hold ';' and
// "}}" stands for one '}'.
std::vector<Item> Items(std::string_view text) {
  std::vector<Item> items;
  size_t i = 0;
  while (i < text.size()) {
    const size_t keyBegin = i;
    while (i < text.size() && text[i] != '=' && text[i] != ';') ++i;
    if (i >= text.size() || text[i] == ';') {
      ++i;
      continue;
    }
    const size_t keyEnd = i++;
    size_t valueBegin = i;
    while (valueBegin < text.size() && text[valueBegin] == ' ') ++valueBegin;
    i = valueBegin;
    if (i < text.size() && text[i] == '{') {
      ++i;
      while (i < text.size()) {
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      while (i < text.size() && text[i] != ';') ++i;
    } else {
      while (i < text.size() && text[i] != ';') ++i;
    }
    items.push_back({keyBegin, keyEnd, valueBegin, i});
    ++i;
  }
  return items;
}

std::string_view Key(std::string_view text, const Item& item) {
  return Trim(text.substr(item.keyBegin, item.keyEnd - item.keyBegin));
}

}  // namespace

std::optional<std::string> ConnectionStringOf(std::string_view path) {
  if (path.size() < 5 || !SameName(path.substr(0, 5), "odbc;")) return std::nullopt;
  return std::string(path.substr(5));
}

std::string MaskSecrets(std::string_view text) {
  std::string out;
  size_t copied = 0;
  for (const Item& item : Items(text)) {
    const std::string_view key = Key(text, item);
    if (!SameName(key, "pwd") && !SameName(key, "password")) continue;
    // Already masked: a message masked again keeps what follows the mask.
    if (text.substr(item.valueBegin, 3) == "***") continue;
    out.append(text.substr(copied, item.valueBegin - copied));
    out += "***";
    copied = item.valueEnd;
  }
  out.append(text.substr(copied));
  return out;
}

}  // namespace sa::dbengine::odbc
