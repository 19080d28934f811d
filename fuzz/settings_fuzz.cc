// The settings reader on arbitrary bytes, decoded as the host's files are.
// Every failure must be one of the program's own errors with the number the
// reader and the checks document; a loaded table must give the settings its
// own positions say.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "host_settings/conversions.h"
#include "host_settings/host_settings.h"
#include "platform/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text =
      sa::platform::DecodeText(std::string_view(reinterpret_cast<const char*>(data), size));

  std::vector<std::string> table;
  try {
    table = sa::host_settings::ReadSettingsTable(text);
  } catch (const sa::Error& e) {
    Check(e.Number() == sa::ErrorCode::kTooManyPairs || e.Number() == sa::ErrorCode::kInputPastEnd);
    return 0;
  }
  Check(table.size() == static_cast<size_t>(sa::host_settings::kSettingsPositions));

  sa::Settings settings;
  try {
    settings = sa::host_settings::SettingsFromTable(table);
  } catch (const sa::Error& e) {
    Check(e.Number() == sa::ErrorCode::kTypeMismatch || e.Number() == sa::ErrorCode::kOverflow);
    Check(e.Cause().starts_with("position "));
    return 0;
  }
  Check(settings.livestockEnabled == sa::host_settings::ToBoolean(table[5]));
  Check(settings.retentionDays == (table[76].empty() ? 0 : sa::host_settings::ToInt16(table[76])));
  return 0;
}
