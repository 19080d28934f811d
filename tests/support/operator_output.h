// Reading what the operator commands print, and what a run left in the
// archive folder, for the tests that compare the two.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sa::testing {

// (table, yyyymm)
using TableMonth = std::pair<std::string, std::string>;

// What a dry run announced on standard output: per table and month the
// records a run would move and the line saying so, those it would leave live
// ("stay live: why"), the customer list's target, and the total ("Total: N";
// -1 when missing).
struct DryRunAnnounced {
  std::map<TableMonth, long> records;
  std::map<TableMonth, std::string> lines;
  std::map<TableMonth, long> kept;
  std::string customersTo;
  long total = -1;
};
DryRunAnnounced ReadDryRun(const std::string& output);

// The records of every archive in `folder` (S), per table and month, the
// customer list and empty tables left out.
std::map<TableMonth, long> ArchivedRecords(const std::string& folder);

// The first line of `text` that starts with `prefix`, or a text saying there
// is none (so that a comparison with the expected line shows why it failed).
std::string LineStartingWith(const std::string& text, const std::string& prefix);

}  // namespace sa::testing
