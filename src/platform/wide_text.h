// Conversions between the program's UTF-8 strings and the UTF-16 strings of
// the wide-character Windows calls, and the form a path takes for them.
// Windows only; wchar_t is 16 bits there.
#pragma once

#include <string>
#include <string_view>

namespace sa::platform {

// UTF-8 to UTF-16. Throws sa::Error 76 (path not found) naming the text when
// it is not valid UTF-8, which the program's own strings always are.
std::wstring Widen(std::string_view utf8);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view utf16);

// `path` for the wide file calls: either separator accepted, and a path too
// long for the classic limit (MAX_PATH, less the room a folder name needs)
// made absolute and given the \\?\ prefix (\\?\UNC\ for \\server\share).
std::wstring WidePath(const std::string& path);

// The system's description of a Win32 error code, without its line end.
std::string SystemMessage(unsigned long code);

}  // namespace sa::platform
