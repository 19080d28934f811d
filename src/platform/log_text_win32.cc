#include "platform/log_text.h"
#include "platform/text.h"

namespace sa::platform {

std::string ToLogEncoding(std::string_view utf8) { return ToWindows1252(utf8); }

}  // namespace sa::platform
