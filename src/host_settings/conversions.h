// Conversions of the host's texts to the values the program keeps. Each one
// either returns the value or throws sa::Error: ErrorCode::kTypeMismatch when the
// text is not of the expected form, ErrorCode::kOverflow when it is a number outside
// the target's range.
//
// A number here is: optional blanks (spaces, tabs), an optional sign, decimal
// digits with an optional fraction (at least one digit in all), optional
// blanks. No exponent, no grouping, no hexadecimal.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sa::host_settings {

// The value of a text that is exactly one number of the settings file's
// form (above); nullopt otherwise. A number too large for a double gives an
// infinity of its sign.
std::optional<double> ParseSettingsNumber(std::string_view text);

// "true" or "false" in any letter case, or a number (0 is false, any other
// value true). Blanks around either are allowed. Anything else, the empty
// text included, is a type mismatch.
bool ToBoolean(std::string_view text);

// A number rounded halves-to-even, within -32768..32767.
int16_t ToInt16(std::string_view text);

// A number, finite.
double ToNumber(std::string_view text);

// The number at the start of `text`, read leniently: blanks anywhere are
// skipped, reading stops at the first character that cannot continue a
// decimal number (digits, one leading sign, one decimal point), and a text
// that does not begin with a number gives 0. Never fails; a number too large
// for a double gives an infinity of its sign. Used for the user level the
// host hands over, not for the settings file.
double LeadingNumber(std::string_view text);

}  // namespace sa::host_settings
