#include "host_settings/host_settings.h"

#include <algorithm>
#include <optional>

#include "core/blanks.h"
#include "core/error.h"
#include "host_settings/conversions.h"
#include "platform/text.h"

namespace sa::host_settings {
namespace {

bool IsSeparator(char c) { return c == ',' || c == '\r' || c == '\n'; }

// Walks the items of a settings text, one at a time.
class ItemReader {
 public:
  explicit ItemReader(std::string_view text) : text_(text) {}

  // True when no item is left: only blanks and line ends remain and the last
  // separator was not a comma.
  bool AtEnd() const {
    return !afterComma_ && text_.find_first_not_of(" \t\r\n", pos_) == std::string_view::npos;
  }

  // The next item, or nullopt at the end.
  std::optional<std::string> Next() {
    if (AtEnd()) return std::nullopt;
    afterComma_ = false;
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;

    std::string item;
    if (pos_ < text_.size() && text_[pos_] == '"') {
      ++pos_;
      const size_t close = std::min(text_.find('"', pos_), text_.size());
      item = text_.substr(pos_, close - pos_);
      pos_ = std::min(close + 1, text_.size());
      while (pos_ < text_.size() && !IsSeparator(text_[pos_])) ++pos_;
    } else {
      const size_t start = pos_;
      while (pos_ < text_.size() && !IsSeparator(text_[pos_])) ++pos_;
      size_t end = pos_;
      while (end > start && IsBlank(text_[end - 1])) --end;
      item = text_.substr(start, end - start);
    }
    SkipSeparator();
    return item;
  }

 private:
  void SkipSeparator() {
    if (pos_ >= text_.size()) return;
    const char c = text_[pos_++];
    if (c == ',') {
      afterComma_ = true;
    } else if (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n') {
      ++pos_;
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  bool afterComma_ = false;
};

// Converts the text at `position`, naming the position and the expected
// form in the cause of a failure.
template <typename Convert>
auto At(const std::vector<std::string>& table, int position, const char* form, Convert convert) {
  const std::string& text = table[static_cast<size_t>(position)];
  try {
    return convert(text);
  } catch (const Error& e) {
    throw e.WithCause("position " + std::to_string(position) + ": \"" + text + "\" is not " + form);
  }
}

void RequireBoolean(const std::vector<std::string>& table, int position) {
  At(table, position, "a Boolean", ToBoolean);
}

void RequireEmptyOrBoolean(const std::vector<std::string>& table, int position) {
  At(table, position, "empty or a Boolean",
     [](const std::string& t) { return t.empty() || ToBoolean(t); });
}

int16_t EmptyOrInt16(const std::vector<std::string>& table, int position) {
  return At(table, position, "empty or a 16-bit integer",
            [](const std::string& t) { return t.empty() ? int16_t{0} : ToInt16(t); });
}

}  // namespace

std::vector<std::string> ReadSettingsTable(std::string_view text) {
  std::vector<std::string> table(kSettingsPositions);
  ItemReader items(text);
  int position = 0;
  while (!items.AtEnd()) {
    if (position >= kSettingsPositions) {
      throw Error(ErrorCode::kTooManyPairs, "Subscript out of range",
                  "more than " + std::to_string(kSettingsPositions) + " pairs");
    }
    std::optional<std::string> first = items.Next();
    if (!items.Next()) {
      throw Error(ErrorCode::kInputPastEnd, "Input past end of file",
                  "the pair at position " + std::to_string(position) + " has no second item");
    }
    table[static_cast<size_t>(position)] = std::move(*first);
    ++position;
  }
  return table;
}

Settings SettingsFromTable(const std::vector<std::string>& table) {
  Settings settings;
  for (const int position : {3, 4}) RequireBoolean(table, position);
  settings.livestockEnabled = At(table, 5, "a Boolean", ToBoolean);
  RequireBoolean(table, 6);
  for (int position = 14; position <= 31; ++position) RequireBoolean(table, position);
  At(table, 34, "a number", ToNumber);
  RequireEmptyOrBoolean(table, 45);
  RequireEmptyOrBoolean(table, 47);
  RequireBoolean(table, 75);
  settings.retentionDays = EmptyOrInt16(table, 76);
  RequireEmptyOrBoolean(table, 91);
  EmptyOrInt16(table, 92);
  return settings;
}

LoadOutcome LoadHostSettings(const std::string& settingsPath, platform::FileSystem& fs,
                             platform::MessageSink& messages, Settings& out) {
  std::string bytes;
  try {
    bytes = fs.ReadFileHead(settingsPath, kSettingsByteLimit + 1);
  } catch (const Error& e) {
    messages.ShowCritical(kSettingsAccessMessage, e.Cause().empty() ? settingsPath : e.Cause());
    return LoadOutcome::kEndProgram;
  }
  try {
    if (bytes.size() > kSettingsByteLimit) {
      // Only the pairs the table holds are read. A file whose 151 pairs do
      // not fit in the limit is not a settings file the host wrote; one that
      // goes on past them is refused as having too many pairs.
      bytes.resize(kSettingsByteLimit);
      try {
        ReadSettingsTable(platform::DecodeText(bytes));
      } catch (const Error& e) {
        if (e.Number() == ErrorCode::kTooManyPairs) throw;
      }
      throw Error(ErrorCode::kInputPastEnd, "Input past end of file",
                  "larger than " + std::to_string(kSettingsByteLimit) + " bytes");
    }
    out = SettingsFromTable(ReadSettingsTable(platform::DecodeText(bytes)));
  } catch (const Error& e) {
    throw e.WithCause("settings file " + settingsPath);
  }
  return LoadOutcome::kLoaded;
}

}  // namespace sa::host_settings
