#include "support/sqlite_probe.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace sa::testing {

namespace {

sqlite3* OpenProbe(const std::string& path, int flags = SQLITE_OPEN_READWRITE) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path << ": " << sqlite3_errmsg(db);
  }
  sqlite3_busy_timeout(db, 5000);
  return db;
}

}  // namespace

Rows Query(const std::string& path, const std::string& sql) {
  sqlite3* db = OpenProbe(path);
  Rows rows;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  } else {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        row.push_back(sqlite3_column_type(stmt, i) == SQLITE_NULL ? "NULL" : t);
      }
      rows.push_back(std::move(row));
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

long QueryLong(const std::string& path, const std::string& sql) {
  const Rows rows = Query(path, sql);
  if (rows.empty() || rows[0].empty()) {
    ADD_FAILURE() << "no result: " << sql;
    return -1;
  }
  return std::stol(rows[0][0]);
}

void Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = OpenProbe(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << (err ? err : "?");
  }
  sqlite3_free(err);
  sqlite3_close(db);
}

}  // namespace sa::testing
