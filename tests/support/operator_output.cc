#include "support/operator_output.h"

#include <filesystem>
#include <sstream>

#include "sample_shop.h"

namespace sa::testing {

DryRunAnnounced ReadDryRun(const std::string& output) {
  DryRunAnnounced out;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Total: ", 0) == 0) out.total = std::stol(line.substr(7));
    // "table month records archive", one line per table and month.
    std::istringstream in(line);
    std::string table, month, target;
    long records = -1;
    if (!(in >> table >> month >> records >> target)) continue;
    if (table == "cliente") {
      out.customersTo = target;
    } else if (month != "-" && target.rfind("S/", 0) == 0) {
      out.records[{table, month}] = records;
      out.lines[{table, month}] = line;
    } else if (month != "-" && target == "stay") {
      out.kept[{table, month}] = records;
    }
  }
  return out;
}

std::map<TableMonth, long> ArchivedRecords(const std::string& folder) {
  std::map<TableMonth, long> out;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".mdb") continue;
    for (const auto& [table, n] : demo::CountRecords(entry.path().string())) {
      if (table != "Cliente" && n > 0) out[{table, entry.path().stem().string()}] = n;
    }
  }
  return out;
}

std::string LineStartingWith(const std::string& text, const std::string& prefix) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return "(no line starting with \"" + prefix + "\")";
}

}  // namespace sa::testing
