#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/integrity.h"

#include "core/error.h"
#include "dbengine/odbc/odbc_values.h"

namespace sa::dbengine::odbc {

namespace {

// The database system's own check, through the driver.
std::vector<std::string> FamilyIntegrityCheck(Source& src) {
  std::vector<std::string> problems;
  try {
    auto stmt = src.NewStatement(src.Shown());
    stmt->ExecDirect(src.Family().IntegrityCheck());
    while (stmt->Fetch()) problems.push_back(CatalogText(stmt->get(), 1));
  } catch (const Error& e) {
    return {e.Description() + (e.Cause().empty() ? "" : " " + e.Cause())};
  }
  if (problems.empty()) return {"the integrity check gave no answer"};
  if (problems.size() == 1 && problems[0] == "ok") problems.clear();
  return problems;
}

// Where the system has no check of its own: every table is opened and
// each of its records read, every value as its field's type.
std::vector<std::string> ReadEveryTable(Source& src) {
  constexpr size_t kMostProblems = 10;
  std::vector<std::string> problems;
  std::vector<std::string> names;
  for (const auto& [key, name] : src.Tables()) names.push_back(name);
  for (const std::string& name : names) {
    try {
      const TableInfo& info = src.Table(name);
      std::string list;
      for (const Field& c : info.columns) {
        list += (list.empty() ? "" : ", ") + src.Family().QuoteName(c.name);
      }
      if (list.empty()) continue;
      auto stmt = src.NewStatement(info.name + " in " + src.Shown());
      stmt->ExecDirect("SELECT " + list + " FROM " + src.Family().QuoteName(info.name));
      while (stmt->Fetch()) {
        for (size_t i = 0; i < info.columns.size(); ++i) {
          ReadValue(*stmt, static_cast<SQLUSMALLINT>(i + 1), info.columns[i].type);
        }
      }
    } catch (const Error& e) {
      problems.push_back("table " + name + ": " + e.Description() +
                         (e.Cause().empty() ? "" : " " + e.Cause()));
      if (problems.size() >= kMostProblems) break;
    }
  }
  return problems;
}

}  // namespace

std::vector<std::string> IntegrityProblems(Source& src) {
  if (!src.Family().IntegrityCheck().empty()) return FamilyIntegrityCheck(src);
  return ReadEveryTable(src);
}

}  // namespace sa::dbengine::odbc
