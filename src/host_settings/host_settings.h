// host_settings/ holds the reader of the host's settings file and the
// conversions of its texts (conversions.h).
//
// The host's settings file. It is a text of items separated by commas or
// line ends, read two at a time: the first item of each pair is kept at its
// pair's position (0..150), the second is read and dropped. The program
// takes two settings from it and checks that the positions the host defines
// as flags or numbers hold values of that form.
//
// Item rules:
//  - Blanks (spaces, tabs) in front of an item are skipped.
//  - An item starting with a double quote runs to the next double quote,
//    commas and line ends included; the quotes are not part of it, and
//    anything after the closing quote up to the next separator is dropped.
//    With no closing quote the item runs to the end of the text.
//  - Any other item runs to the next comma or line end (CRLF, LF or CR);
//    its trailing blanks are dropped.
//  - A comma always promises one more item, even at the end of the text.
//    A blank line in the middle of the text is one empty item; blanks and
//    line ends at the very end are nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/params.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"

namespace sa::host_settings {

inline constexpr int kSettingsPositions = 151;
// The most of a settings file that is read; 151 pairs fit many times over.
inline constexpr size_t kSettingsByteLimit = 1 << 20;

// Shown when the settings file cannot be read at all.
inline constexpr char kSettingsAccessMessage[] = "Error accediendo a zizezivazer.ini";

// The first items of the pairs of `text` (UTF-8), by position; a table of
// kSettingsPositions texts, empty past the last pair. Throws sa::Error
// ErrorCode::kTooManyPairs past 151 pairs and ErrorCode::kInputPastEnd when the text ends
// where a pair's second item is due.
std::vector<std::string> ReadSettingsTable(std::string_view text);

// Checks the table's typed positions in ascending order and takes the
// settings from it. Throws the first failing conversion's sa::Error
// (ErrorCode::kTypeMismatch or ErrorCode::kOverflow), its cause naming the position.
Settings SettingsFromTable(const std::vector<std::string>& table);

enum class LoadOutcome {
  kLoaded,
  kEndProgram,  // the file could not be read; the user has been told
};

// Reads `settingsPath` (decoded per platform/text.h) into `out`. When the
// file cannot be read, shows kSettingsAccessMessage and returns kEndProgram;
// the caller ends the program without any further message. Any other failure
// throws sa::Error with the settings file named in its cause. `out` is left
// as it was unless the load succeeds.
[[nodiscard]] LoadOutcome LoadHostSettings(const std::string& settingsPath,
                                           platform::FileSystem& fs,
                                           platform::MessageSink& messages, Settings& out);

}  // namespace sa::host_settings
