// The encoding of the run log "registro.txt": Windows-1252 on Windows, where
// the host's tools read it in that code page, UTF-8 elsewhere. Characters the
// code page lacks become '?'.
#pragma once

#include <string>
#include <string_view>

namespace sa::platform {

// `utf8` in the log's encoding.
std::string ToLogEncoding(std::string_view utf8);

}  // namespace sa::platform
