#include "dbengine/sqlite/integrity.h"

namespace sa::dbengine::sqlite {

std::vector<std::string> IntegrityProblems(const Connection& conn) {
  std::vector<std::string> problems;
  Statement stmt = conn.Prepare("PRAGMA main.integrity_check(10)");
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    problems.emplace_back(text != nullptr ? text : "");
  }
  if (rc != SQLITE_DONE) return {SqliteError(conn.Handle(), rc, conn.Path()).Cause()};
  if (problems.size() == 1 && problems[0] == "ok") problems.clear();
  return problems;
}

}  // namespace sa::dbengine::sqlite
