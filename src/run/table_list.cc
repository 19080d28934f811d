#include "run/table_list.h"

#include <algorithm>

namespace sa::run {

namespace {

std::string IsoDate(const CivilDate& d) { return DateTime::FromDate(d).ToIso().substr(0, 10); }

}  // namespace

std::vector<TableEntry> TableList(bool livestockEnabled) {
  std::vector<TableEntry> list = {
      {0, "cabecera", "D_FECHA"}, {3, "gtarti", "FECHA"}, {4, "gthora", "FECHA"},
      {5, "gtInfVen", "FECHA"},   {6, "gtsecs", "FECHA"}, {7, "gtvend", "FECHA"},
      {8, "tickets", "D_FECHA"},  {10, kCustomers, ""},
  };
  if (livestockEnabled) list.push_back({11, "GTVacuno", "FECHA"});
  return list;
}

std::string RunQuery(const TableEntry& entry, const CivilDate& from, const CivilDate& to) {
  std::string sql = std::string("SELECT *") + " FROM " + entry.table;
  if (entry.Customers()) return sql;
  const std::string f = entry.dateField;
  const bool tight = std::string(entry.table) == "GTVacuno";
  sql += " WHERE " + f + (tight ? ">= #" : " >= #") + IsoDate(from) + "# AND " + f +
         (tight ? "<= #" : " <= #") + IsoDate(to) + "# ORDER BY " + f;
  return sql;
}

std::string RunCondition(const TableEntry& entry, const std::string& month, const CivilDate& from,
                         const CivilDate& to) {
  const CivilDate first{std::stoi(month.substr(0, 4)), std::stoi(month.substr(4, 2)), 1};
  const CivilDate next = first.month == 12 ? CivilDate{first.year + 1, 1, 1}
                                           : CivilDate{first.year, first.month + 1, 1};
  const std::string f = entry.dateField;
  const std::string lower = f + " >= #" + IsoDate(std::max(from, first)) + "#";
  if (to < next) return lower + " AND " + f + " <= #" + IsoDate(to) + "#";
  return lower + " AND " + f + " < #" + IsoDate(next) + "#";
}

CivilDate WindowEnd(const CivilDate& today, bool upToToday, int retentionDays) {
  if (upToToday) return today;
  return CivilFromDays(DaysFromCivil(today) - retentionDays);
}

}  // namespace sa::run
