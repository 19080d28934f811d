// Connection strings as the program meets them: the "ODBC;" form a live
// database may be named by, and the masking of secrets before a string
// reaches a message, standard error or the log.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sa::dbengine::odbc {

// What follows "ODBC;" (any letter case) when `path` is a connection string.
std::optional<std::string> ConnectionStringOf(std::string_view path);

// `text` with the value of every PWD= and Password= attribute (any letter
// case, braced values included) replaced by "***".
std::string MaskSecrets(std::string_view text);

// The value of attribute `key` (letter case ignored), braces removed.
std::optional<std::string> Attribute(std::string_view connect, std::string_view key);

}  // namespace sa::dbengine::odbc
