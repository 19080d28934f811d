#include "platform/text.h"

#include <algorithm>
#include <cstdint>

namespace sa::platform {
namespace {

// Code points of bytes 0x80..0x9F in Windows-1252. The five bytes the code
// page leaves unassigned map to the C1 control of the same value, as the
// system's own conversion does, so that every byte survives a round trip.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Reads one UTF-8 sequence at `pos`, advancing past it. Overlong forms,
// surrogates and values past U+10FFFF are invalid, as is a cut sequence.
// On failure `pos` is left where it was.
bool NextCodePoint(std::string_view s, size_t& pos, char32_t& cp) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t lead = byte(pos);
  size_t length;
  char32_t min;
  if (lead < 0x80) {
    cp = lead;
    ++pos;
    return true;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, cp = lead & 0x07;
  } else {
    return false;
  }
  if (s.size() - pos < length) return false;
  for (size_t i = 1; i < length; ++i) {
    const uint8_t b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  pos += length;
  return true;
}

bool IsValidUtf8(std::string_view s) {
  size_t pos = 0;
  char32_t cp;
  while (pos < s.size()) {
    if (!NextCodePoint(s, pos, cp)) return false;
  }
  return true;
}

std::string FromWindows1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80) {
      out += c;
    } else if (b < 0xA0) {
      AppendUtf8(out, kCp1252High[b - 0x80]);
    } else {
      AppendUtf8(out, b);  // 0xA0..0xFF are Latin-1
    }
  }
  return out;
}

}  // namespace

std::string DecodeText(std::string_view bytes) {
  // The mark only says how the writer meant the bytes; it is dropped even
  // when what follows turns out not to be UTF-8.
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  std::string out;
  out.reserve(bytes.size());
  // Line by line, so that one line in another encoding (a user name typed
  // on another machine) never changes how a path on another line reads.
  // Line ends are the same bytes in both encodings and are kept.
  while (!bytes.empty()) {
    const size_t end = std::min(bytes.find_first_of("\r\n"), bytes.size());
    const std::string_view line = bytes.substr(0, end);
    if (IsValidUtf8(line)) {
      out.append(line);
    } else {
      out += FromWindows1252(line);
    }
    size_t next = end;
    while (next < bytes.size() && (bytes[next] == '\r' || bytes[next] == '\n')) ++next;
    out.append(bytes.substr(end, next - end));
    bytes.remove_prefix(next);
  }
  return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c != '\r' && c != '\n') {
      ++pos;
      continue;
    }
    lines.emplace_back(text.substr(start, pos - start));
    pos += (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
    start = pos;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string ToWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp;
    if (!NextCodePoint(utf8, pos, cp)) {
      out += '?';
      ++pos;
      continue;
    }
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    char mapped = '?';
    for (size_t i = 0; i < 32; ++i) {
      if (kCp1252High[i] == cp) {
        mapped = static_cast<char>(0x80 + i);
        break;
      }
    }
    out += mapped;
  }
  return out;
}

}  // namespace sa::platform
