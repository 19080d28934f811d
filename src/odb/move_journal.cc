#include "odb/move_journal.h"

#include "platform/text.h"

namespace sa::odb {

namespace {

constexpr char kHeader[] = "sales-archiver pending move 2";
constexpr char kRestoreHeader[] = "sales-archiver pending restore 1";
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
  std::string text = std::string(move.restore ? kRestoreHeader : kHeader) + "\n" +
                     move.archivePath + "\n" + std::to_string(move.tables.size()) + "\n";
  for (const TableMove& t : move.tables) {
    text += t.table + "\n" + std::to_string(t.firstCopyId) + "\n" + std::to_string(t.keys.size()) +
            "\n";
    for (const int64_t k : t.keys) text += std::to_string(k) + "\n";
  }
  text += std::string(kEnd) + "\n";
  fs.WriteFileDurably(path, text);
}

std::optional<PendingMove> ReadMoveJournal(platform::FileSystem& fs, const std::string& path) {
  if (!fs.IsFile(path)) return std::nullopt;
  const std::vector<std::string> lines = platform::SplitLines(fs.ReadFile(path));
  if (lines.size() < 4 || (lines[0] != kHeader && lines[0] != kRestoreHeader) ||
      lines.back() != kEnd) {
    return std::nullopt;
  }
  PendingMove move;
  move.restore = lines[0] == kRestoreHeader;
  move.archivePath = lines[1];
  const auto tables = ToInt(lines[2]);
  if (!tables || *tables < 0) return std::nullopt;
  size_t at = 3;
  const size_t end = lines.size() - 1;
  for (int64_t t = 0; t < *tables; ++t) {
    if (end - at < 3) return std::nullopt;
    TableMove table;
    table.table = lines[at];
    const auto first = ToInt(lines[at + 1]);
    const auto count = ToInt(lines[at + 2]);
    at += 3;
    if (!first || !count || *count < 0 || static_cast<uint64_t>(*count) > end - at) {
      return std::nullopt;
    }
    table.firstCopyId = *first;
    table.keys.reserve(static_cast<size_t>(*count));
    for (int64_t i = 0; i < *count; ++i) {
      const auto k = ToInt(lines[at++]);
      if (!k) return std::nullopt;
      table.keys.push_back(*k);
    }
    move.tables.push_back(std::move(table));
  }
  if (at != end) return std::nullopt;
  return move;
}

}  // namespace sa::odb
