// Data sources the ODBC tests run against: a SQLite file through the SQLite3
// ODBC driver, and a schema of its own on the PostgreSQL server that
// SA_PG_CONNECT names (.ci/start-postgres prints it). Without the variable a
// PostgreSQL test fails under CI (CI=true) and is skipped, saying why,
// elsewhere.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace sa::testing {

// The server's connection string; nullopt when SA_PG_CONNECT is unset.
std::optional<std::string> PostgresConnect();
// True when the run is continuous integration, where nothing may be skipped.
bool InCi();

// A fresh schema on the server, dropped with everything in it at the end;
// its connection string makes it the connection's only schema.
class PgSchema {
 public:
  explicit PgSchema(const std::string& serverConnect);
  ~PgSchema();
  PgSchema(const PgSchema&) = delete;
  PgSchema& operator=(const PgSchema&) = delete;
  const std::string& Connect() const { return connect_; }
  const std::string& Name() const { return name_; }

 private:
  std::string server_;
  std::string name_;
  std::string connect_;
};

// "Driver={SQLite3};Database=<path>".
std::string SqliteOdbcConnect(const std::string& path);

}  // namespace sa::testing

// Fails (CI) or skips (elsewhere) the current test when no server is named.
#define SA_REQUIRE_POSTGRES(connectVar)                                                        \
  const std::optional<std::string> connectVar = ::sa::testing::PostgresConnect();              \
  if (!connectVar) {                                                                           \
    if (::sa::testing::InCi()) FAIL() << "SA_PG_CONNECT is not set: run .ci/start-postgres";   \
    GTEST_SKIP() << "no PostgreSQL server: SA_PG_CONNECT is not set (see .ci/start-postgres)"; \
  }
