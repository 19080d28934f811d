#include "support/census.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <vector>

#include "archive/schema.h"
#include "support/sqlite_probe.h"

namespace sa::testing {

namespace {

// The records of `table` in `db`, by the archive table's fields. The
// livestock date is compared as the day the archive keeps.
void Count(const std::string& db, const archive::TableSpec& layout, const std::string& table,
           std::map<std::string, int>& into) {
  std::string exprs;
  for (const archive::FieldSpec& f : layout.fields) {
    if (!exprs.empty()) exprs += " || '|' || ";
    const std::string name = f.name;
    exprs += layout.name == std::string("GTVacuno") && name == "Fecha"
                 ? "quote(substr(Fecha, 1, 10))"
                 : "quote(" + name + ")";
  }
  for (const auto& row : Query(db, "SELECT " + exprs + " FROM " + table)) ++into[row[0]];
}

}  // namespace

Census TakeCensus(const std::string& liveDb, const std::string& dataFolder) {
  Census census;
  std::vector<std::string> archives;
  const std::filesystem::path folder = std::filesystem::path(dataFolder) / "S";
  if (std::filesystem::is_directory(folder)) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().extension() == ".mdb") archives.push_back(entry.path().string());
    }
  }
  for (const archive::TableSpec* layout : archive::ArchiveTables(true)) {
    const std::string name = layout->name;
    if (name == "Cliente") continue;  // copied, never moved
    auto& records = census[name];
    Count(liveDb, *layout, name, records);
    for (const std::string& archive : archives) {
      if (QueryLong(archive, "SELECT count(*) FROM sqlite_schema WHERE name = '" + name + "'") >
          0) {
        Count(archive, *layout, name, records);
      }
    }
  }
  return census;
}

std::map<std::string, int> TakeOut(Census& census, const std::string& table,
                                   const std::string& marker) {
  std::map<std::string, int> taken;
  auto& records = census[table];
  for (auto it = records.begin(); it != records.end();) {
    if (it->first.find(marker) != std::string::npos) {
      taken.insert(*it);
      it = records.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

std::string CensusDiff(const Census& expected, const Census& actual) {
  std::string diff;
  int shown = 0;
  auto note = [&](const std::string& table, const std::string& record, int want, int got) {
    if (shown++ < 5) {
      diff += table + ": " + std::to_string(want) + " expected, " + std::to_string(got) +
              " found: " + record.substr(0, 120) + "\n";
    }
  };
  for (const auto& [table, records] : expected) {
    const auto other = actual.find(table);
    for (const auto& [record, n] : records) {
      const int got =
          other == actual.end() || !other->second.contains(record) ? 0 : other->second.at(record);
      if (got != n) note(table, record, n, got);
    }
  }
  for (const auto& [table, records] : actual) {
    const auto other = expected.find(table);
    for (const auto& [record, n] : records) {
      if (other == expected.end() || !other->second.contains(record)) note(table, record, 0, n);
    }
  }
  if (shown > 5) diff += std::to_string(shown - 5) + " more differences\n";
  return diff;
}

ArchiveContents ArchiveRows(const std::string& folder) {
  ArchiveContents out;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string path = entry.path().string();
    for (const auto& t : testing::Query(path, "SELECT name FROM sqlite_schema ORDER BY rowid")) {
      std::vector<std::string>& rows = out[entry.path().filename().string()][t[0]];
      for (const auto& row : testing::Query(path, "SELECT * FROM \"" + t[0] + "\"")) {
        std::string line;
        for (const std::string& v : row) line += v + "|";
        rows.push_back(line);
      }
      std::sort(rows.begin(), rows.end());
    }
  }
  return out;
}

std::string ArchiveRowsDiff(const ArchiveContents& a, const ArchiveContents& b) {
  std::string diff;
  std::set<std::string> files;
  for (const auto& [f, t] : a) files.insert(f);
  for (const auto& [f, t] : b) files.insert(f);
  for (const std::string& f : files) {
    if (!a.contains(f) || !b.contains(f)) {
      diff += f + ": only in " + (a.contains(f) ? "the first" : "the second") + "\n";
      continue;
    }
    for (const auto& [table, rows] : a.at(f)) {
      // Each run copies the customer list into the newest month it reaches.
      if (table == "Cliente") continue;
      const auto other = b.at(f).find(table);
      if (other == b.at(f).end()) {
        diff += f + " " + table + ": missing\n";
      } else if (other->second != rows) {
        diff += f + " " + table + ": " + std::to_string(rows.size()) + " rows, then " +
                std::to_string(other->second.size()) + "\n";
        for (size_t i = 0; i < std::min(rows.size(), other->second.size()); ++i) {
          if (rows[i] != other->second[i]) {
            diff += "  " + rows[i] + "\n  " + other->second[i] + "\n";
            break;
          }
        }
      }
    }
  }
  return diff;
}

}  // namespace sa::testing
