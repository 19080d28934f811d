// The text conversions on arbitrary input, each checked against what it
// promises and against the others:
//  - ToNumber, ToInt16 and ToBoolean agree with ParseSettingsNumber, and fail with
//    the documented error number when they fail;
//  - LeadingNumber never fails and reads any exact number as ParseSettingsNumber does;
//  - DecodeText gives valid UTF-8: the input itself when it is UTF-8, else
//    text that converts back to the very same bytes;
//  - SplitLines gives lines free of CR and LF that add up to the text.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/round.h"
#include "host_settings/conversions.h"
#include "platform/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<uint8_t>(s[i]);
    size_t n;
    uint32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      n = 2, cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      n = 3, cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      n = 4, cp = b & 0x07;
    } else {
      return false;
    }
    if (s.size() - i < n) return false;
    for (size_t k = 1; k < n; ++k) {
      const auto c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const uint32_t min = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

// Runs `convert`; on failure checks the error is one of the two it may throw
// and returns nullopt.
template <typename Convert>
auto Try(Convert convert) -> std::optional<decltype(convert())> {
  try {
    return convert();
  } catch (const sa::Error& e) {
    Check(e.Number() == sa::ErrorCode::kTypeMismatch || e.Number() == sa::ErrorCode::kOverflow);
    return std::nullopt;
  }
}

bool SameNumber(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

void CheckNumbers(std::string_view text) {
  const std::optional<double> parsed = sa::host_settings::ParseSettingsNumber(text);
  if (parsed) Check(!std::isnan(*parsed));

  const auto number = Try([&] { return sa::host_settings::ToNumber(text); });
  Check(number.has_value() == (parsed && std::isfinite(*parsed)));
  if (number) Check(SameNumber(*number, *parsed));

  const auto int16 = Try([&] { return sa::host_settings::ToInt16(text); });
  if (parsed) {
    const double rounded = sa::RoundHalfEven(*parsed);
    Check(!std::isfinite(*parsed) || std::fabs(rounded - *parsed) <= 0.5);
    Check(int16.has_value() == (rounded >= -32768 && rounded <= 32767));
    if (int16) Check(*int16 == rounded);
  } else {
    Check(!int16);
  }

  const auto boolean = Try([&] { return sa::host_settings::ToBoolean(text); });
  if (number) Check(boolean == (*number != 0));

  const double leading = sa::host_settings::LeadingNumber(text);
  Check(!std::isnan(leading));
  if (parsed) Check(SameNumber(leading, *parsed) || (leading == 0 && *parsed == 0));
}

void CheckText(std::string_view bytes) {
  const std::string decoded = sa::platform::DecodeText(bytes);
  Check(IsUtf8(decoded));
  std::string_view body = bytes;
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
  // Line by line: line ends stay where they were, a UTF-8 line is kept as it
  // is, and any other line reads back to its bytes through Windows-1252.
  std::string_view rest = decoded;
  while (!body.empty()) {
    const size_t end = std::min(body.find_first_of("\r\n"), body.size());
    size_t next = end;
    while (next < body.size() && (body[next] == '\r' || body[next] == '\n')) ++next;
    const std::string_view line = body.substr(0, end);
    const size_t decodedEnd = std::min(rest.find_first_of("\r\n"), rest.size());
    const std::string_view decodedLine = rest.substr(0, decodedEnd);
    if (IsUtf8(line)) {
      Check(decodedLine == line);
    } else {
      Check(sa::platform::ToWindows1252(decodedLine) == line);
    }
    Check(rest.substr(decodedEnd, next - end) == body.substr(end, next - end));
    rest.remove_prefix(decodedEnd + (next - end));
    body.remove_prefix(next);
  }
  Check(rest.empty());

  const std::vector<std::string> lines = sa::platform::SplitLines(bytes);
  std::string joined;
  for (const std::string& line : lines) {
    Check(line.find_first_of("\r\n") == std::string::npos);
    joined += line;
  }
  std::string stripped;
  for (const char c : bytes) {
    if (c != '\r' && c != '\n') stripped += c;
  }
  Check(joined == stripped);
  Check(lines.empty() == bytes.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckNumbers(input);
  CheckText(input);
  return 0;
}
