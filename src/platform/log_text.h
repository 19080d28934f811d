// The run log "registro.txt" in the program's folder: every line the program
// writes there goes through RunLog, which ends each line with CRLF and writes
// it in the log's encoding: Windows-1252 on Windows, where the host's tools
// read it in that code page, UTF-8 elsewhere. Characters the code page lacks
// become '?'.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace sa::platform {

inline constexpr char kRunLogName[] = "registro.txt";

// `utf8` in the log's encoding.
std::string ToLogEncoding(std::string_view utf8);

class RunLog {
 public:
  // The log in `programFolder`.
  RunLog(FileSystem& fs, const std::string& programFolder);

  // Appends the lines of `utf8` (ended by CRLF, LF or CR, the last one with
  // or without an end), each in the log's encoding and ended by CRLF; an
  // empty line stays empty. Throws sa::Error naming the log.
  void Append(std::string_view utf8);
  // Deletes the log when there is one, so that the next line starts a new log.
  void Remove();
  const std::string& Path() const { return path_; }

 private:
  FileSystem& fs_;
  std::string path_;
};

}  // namespace sa::platform
