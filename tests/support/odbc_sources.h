// Data sources the ODBC tests run against: a SQLite file through the SQLite3
// ODBC driver, a schema of its own on the PostgreSQL server that
// SA_PG_CONNECT names (.ci/start-postgres prints it), and a database of its
// own on the MariaDB server that SA_MARIADB_CONNECT names
// (.ci/start-mariadb). Where its variable is not set, a server is the one the
// CTest fixture started for the run (support/fixtures.h). Without either a
// server's test fails under CI (CI=true) and is skipped, saying why,
// elsewhere.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/census.h"
#include "support/temp_dir.h"

namespace sa::testing {

// The server's connection string: SA_PG_CONNECT, else the fixture's; nullopt
// when neither names one.
std::optional<std::string> PostgresConnect();
// True when the run is continuous integration, where nothing may be skipped.
bool InCi();

// The MariaDB server's connection string: SA_MARIADB_CONNECT, else the
// fixture's; nullopt when neither names one.
std::optional<std::string> MariaDbConnect();

// A database of a test's own on a server, dropped with everything in it at
// the end: its name, and the connection string that reaches it.
class ScratchDatabase {
 public:
  virtual ~ScratchDatabase() = default;
  const std::string& Connect() const { return connect_; }
  const std::string& Name() const { return name_; }

 protected:
  ScratchDatabase();  // a new unique name
  std::string server_;
  std::string name_;
  std::string connect_;
};

// A fresh schema on the PostgreSQL server; its connection string makes it
// the connection's only schema and names the connection's application
// after it.
class PgSchema : public ScratchDatabase {
 public:
  explicit PgSchema(const std::string& serverConnect);
  ~PgSchema() override;
  PgSchema(const PgSchema&) = delete;
  PgSchema& operator=(const PgSchema&) = delete;
};

// A fresh database on the MariaDB server (named after the server's own, as
// the test user may create those).
class MariaDatabase : public ScratchDatabase {
 public:
  explicit MariaDatabase(const std::string& serverConnect);
  ~MariaDatabase() override;
  MariaDatabase(const MariaDatabase&) = delete;
  MariaDatabase& operator=(const MariaDatabase&) = delete;
};

// The servers the whole-run tests run on, by name ("Postgres", "MariaDb").
enum class Server { kPostgres, kMariaDb };
std::string ServerName(Server server);
// The server's connection string, as PostgresConnect and MariaDbConnect.
std::optional<std::string> ServerConnect(Server server);
// A scratch database of its own on `server`, reached by `serverConnect`.
std::unique_ptr<ScratchDatabase> MakeScratch(Server server, const std::string& serverConnect);

// The census of a shop whose live tables are at `connect`: they are copied
// into the SQLite file `copyPath` first (replacing it), and the archives are
// those of dataFolder/S.
Census TakeCensusThrough(const std::string& connect, const std::string& copyPath,
                         const std::string& dataFolder);

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
#define SA_REQUIRE_MARIADB(connectVar)                                                           \
  const std::optional<std::string> connectVar = ::sa::testing::MariaDbConnect();                 \
  if (!connectVar) {                                                                             \
    if (::sa::testing::InCi()) FAIL() << "SA_MARIADB_CONNECT is not set: run .ci/start-mariadb"; \
    GTEST_SKIP() << "no MariaDB server: SA_MARIADB_CONNECT is not set (see .ci/start-mariadb)";  \
  }
// The same for the server `server` names.
#define SA_REQUIRE_SERVER(server, connectVar)                                         \
  const std::optional<std::string> connectVar = ::sa::testing::ServerConnect(server); \
  if (!connectVar) {                                                                  \
    if (::sa::testing::InCi())                                                        \
      FAIL() << "no " << ::sa::testing::ServerName(server)                            \
             << " server named: run .ci/start-postgres and "                          \
                ".ci/start-mariadb";                                                  \
    GTEST_SKIP() << "no " << ::sa::testing::ServerName(server)                        \
                 << " server named (see .ci/start-postgres, .ci/start-mariadb)";      \
  }
