// Decoding of the text files the host writes (`fifo`, the settings file):
// a leading UTF-8 byte-order mark is skipped; each line is decoded on its
// own: a line of valid UTF-8 is kept as it is, any other line is read as
// Windows-1252. Line ends are kept. The result is always UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sa::platform {

std::string DecodeText(std::string_view bytes);

// Splits at CRLF, LF or CR. A line end at the very end does not start a new
// line, so "a\r\nb\r\n" gives two lines and "" gives none.
std::vector<std::string> SplitLines(std::string_view text);

// Converts UTF-8 text to Windows-1252; characters it lacks become '?'.
std::string ToWindows1252(std::string_view utf8);

}  // namespace sa::platform
