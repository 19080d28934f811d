// Blanks as the host's texts and stored values have them: spaces and tabs.
#pragma once

#include <string_view>

namespace sa {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// `text` without the blanks at either end.
inline std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace sa
