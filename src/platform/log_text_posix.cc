#include "platform/log_text.h"

namespace sa::platform {

std::string ToLogEncoding(std::string_view utf8) { return std::string(utf8); }

}  // namespace sa::platform
