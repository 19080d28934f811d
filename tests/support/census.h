// Where every record of a shop is: a count of each record's values (the
// archive table's fields) in the live database and across all month
// archives, table by table. Two censuses are equal when no record was lost,
// duplicated or changed.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace sa::testing {

// table -> (record values -> how many times the record appears)
using Census = std::map<std::string, std::map<std::string, int>>;

// The records of the live database and of every archive in dataFolder/S.
Census TakeCensus(const std::string& liveDb, const std::string& dataFolder);

// Takes out of `census` the records of `table` whose values hold `marker`
// (those another program wrote, say) and returns them with their counts.
std::map<std::string, int> TakeOut(Census& census, const std::string& table,
                                   const std::string& marker);

// The differences between two censuses, a few lines at most; empty when
// they are equal.
std::string CensusDiff(const Census& expected, const Census& actual);

// Every archive's tables in `folder` as sorted rows, by file name and table.
using ArchiveContents = std::map<std::string, std::map<std::string, std::vector<std::string>>>;
ArchiveContents ArchiveRows(const std::string& folder);
// Which archive tables differ (the customer lists aside: each run copies the
// list into the newest month it reaches), and a row of each; empty when none.
std::string ArchiveRowsDiff(const ArchiveContents& a, const ArchiveContents& b);

}  // namespace sa::testing
