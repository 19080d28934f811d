#include "archive/move_journal.h"

#include <cstdint>
#include <span>

#include "dbengine/identity_stretches.h"
#include "platform/text.h"

namespace sa::archive {

namespace {

constexpr char kHeader[] = "sales-archiver pending move 2";
// The first restore form counted the live copies from the first one's
// identity; it is still read, since a shop may have one waiting.
constexpr char kRestoreHeaderCounted[] = "sales-archiver pending restore 1";
constexpr char kRestoreHeader[] = "sales-archiver pending restore 2";
constexpr char kEnd[] = "end";
constexpr char kArchived[] = "archived ";
constexpr char kLive[] = "live ";
// More records than any table holds: a count beyond it is not read.
constexpr int64_t kMostRecords = int64_t{1} << 31;

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

// "label lo..hi" for each stretch of consecutive identities ("label id" for
// a stretch of one).
std::string Stretches(const char* label, std::span<const int64_t> ids) {
  std::string text;
  const dbengine::IdentityStretches stretches(ids);
  for (const dbengine::IdentityStretches::Stretch& s : stretches.Stretches()) {
    text += label + std::to_string(s.first);
    if (s.count > 1) text += ".." + std::to_string(s.last());
    text += "\n";
  }
  return text;
}

// Reads stretch lines starting with `label` from lines[at] on until `count`
// identities are read; false when the lines do not hold exactly those.
bool ReadStretches(const std::vector<std::string>& lines, size_t& at, size_t end,
                   const std::string& label, size_t count, std::vector<int64_t>& out) {
  out.reserve(count);
  while (out.size() < count) {
    if (at >= end || lines[at].compare(0, label.size(), label) != 0) return false;
    const std::string stretch = lines[at++].substr(label.size());
    const size_t dots = stretch.find("..", 1);
    const auto lo = ToInt(stretch.substr(0, dots));
    const auto hi = dots == std::string::npos ? lo : ToInt(stretch.substr(dots + 2));
    if (!lo || !hi || *hi < *lo) return false;
    if (static_cast<uint64_t>(*hi) - static_cast<uint64_t>(*lo) >= count - out.size()) {
      return false;
    }
    for (int64_t id = *lo;; ++id) {
      out.push_back(id);
      if (id == *hi) break;
    }
  }
  return true;
}

// The tables of a restore journal from lines[at] on.
bool ReadRestoreTables(const std::vector<std::string>& lines, size_t at, size_t end, int64_t tables,
                       PendingMove& move) {
  for (int64_t t = 0; t < tables; ++t) {
    if (end - at < 2) return false;
    TableMove table;
    table.table = lines[at];
    const auto count = ToInt(lines[at + 1]);
    at += 2;
    if (!count || *count < 0 || *count > kMostRecords) return false;
    const auto n = static_cast<size_t>(*count);
    if (!ReadStretches(lines, at, end, kArchived, n, table.keys) ||
        !ReadStretches(lines, at, end, kLive, n, table.copyIds)) {
      return false;
    }
    move.tables.push_back(std::move(table));
  }
  return at == end;
}

}  // namespace

std::string MoveJournalPath(const std::string& dataFolder) {
  return platform::JoinPath(platform::JoinPath(dataFolder, "S"), "move.journal");
}

void WriteMoveJournal(platform::FileSystem& fs, const std::string& path, const PendingMove& move) {
  std::string text = std::string(move.restore ? kRestoreHeader : kHeader) + "\n" +
                     move.archivePath + "\n" + std::to_string(move.tables.size()) + "\n";
  for (const TableMove& t : move.tables) {
    if (move.restore) {
      text += t.table + "\n" + std::to_string(t.keys.size()) + "\n";
      text += Stretches(kArchived, t.keys);
      text += Stretches(kLive, t.copyIds);
      continue;
    }
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
  if (lines.size() < 4 ||
      (lines[0] != kHeader && lines[0] != kRestoreHeader && lines[0] != kRestoreHeaderCounted) ||
      lines.back() != kEnd) {
    return std::nullopt;
  }
  PendingMove move;
  move.restore = lines[0] != kHeader;
  move.archivePath = lines[1];
  const auto tables = ToInt(lines[2]);
  if (!tables || *tables < 0) return std::nullopt;
  size_t at = 3;
  const size_t end = lines.size() - 1;
  if (lines[0] == kRestoreHeader) {
    if (!ReadRestoreTables(lines, at, end, *tables, move)) return std::nullopt;
    return move;
  }
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
      if (move.restore) table.copyIds.push_back(*first + i);
    }
    move.tables.push_back(std::move(table));
  }
  if (at != end) return std::nullopt;
  return move;
}

}  // namespace sa::archive
