#include "odb/move_journal.h"

#include "platform/text.h"

namespace sa::odb {

namespace {

constexpr char kHeader[] = "sales-archiver pending move 1";
constexpr char kEnd[] = "end";

std::optional<int64_t> ToInt(const std::string& s) {
  if (s.empty()) return std::nullopt;
  size_t used = 0;
  try {
    const long long v = std::stoll(s, &used);
    if (used != s.size()) return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::string MoveJournalPath(const std::string& dataFolder) {
  return platform::JoinPath(platform::JoinPath(dataFolder, "S"), "move.journal");
}

void WriteMoveJournal(platform::FileSystem& fs, const std::string& path, const PendingMove& move) {
  std::string text = std::string(kHeader) + "\n" + move.archivePath + "\n" + move.table + "\n" +
                     std::to_string(move.firstCopyId) + "\n" + std::to_string(move.keys.size()) +
                     "\n";
  for (const int64_t k : move.keys) text += std::to_string(k) + "\n";
  text += std::string(kEnd) + "\n";
  fs.WriteFileDurably(path, text);
}

std::optional<PendingMove> ReadMoveJournal(platform::FileSystem& fs, const std::string& path) {
  if (!fs.IsFile(path)) return std::nullopt;
  const std::vector<std::string> lines = platform::SplitLines(fs.ReadFile(path));
  if (lines.size() < 6 || lines[0] != kHeader || lines.back() != kEnd) return std::nullopt;
  PendingMove move;
  move.archivePath = lines[1];
  move.table = lines[2];
  const auto first = ToInt(lines[3]);
  const auto count = ToInt(lines[4]);
  if (!first || !count || *count < 0 || static_cast<size_t>(*count) + 6 != lines.size()) {
    return std::nullopt;
  }
  for (int64_t i = 0; i < *count; ++i) {
    const auto k = ToInt(lines[static_cast<size_t>(5 + i)]);
    if (!k) return std::nullopt;
    move.keys.push_back(*k);
  }
  move.firstCopyId = *first;
  return move;
}

}  // namespace sa::odb
