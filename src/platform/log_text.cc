#include "platform/log_text.h"

#include "platform/text.h"

namespace sa::platform {

RunLog::RunLog(FileSystem& fs, const std::string& programFolder)
    : fs_(fs), path_(JoinPath(programFolder, kRunLogName)) {}

void RunLog::Append(std::string_view utf8) {
  std::string text;
  for (const std::string& line : SplitLines(utf8)) text += line + "\r\n";
  if (!text.empty()) fs_.AppendFile(path_, ToLogEncoding(text));
}

void RunLog::Remove() {
  if (fs_.IsFile(path_)) fs_.RemoveFile(path_);
}

}  // namespace sa::platform
