#include "support/odbc_sources.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <vector>

#include "core/error.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "platform/file_system.h"
#include "shop_copy.h"
#include "support/fixtures.h"

namespace sa::testing {

namespace {

// The variable's value, else what the fixture of `kind` wrote.
std::optional<std::string> VariableOrFixture(const char* variable, const std::string& kind) {
  const char* v = std::getenv(variable);
  if (v != nullptr && *v != '\0') return std::string(v);
  return FixtureValue(kind);
}

}  // namespace

std::optional<std::string> PostgresConnect() {
  return VariableOrFixture("SA_PG_CONNECT", "postgres");
}

bool InCi() {
  const char* v = std::getenv("CI");
  return v != nullptr && std::string(v) == "true";
}

std::optional<std::string> MariaDbConnect() {
  return VariableOrFixture("SA_MARIADB_CONNECT", "mariadb");
}

namespace {

// The `key=value` parts of `connect`, in order, empty parts left out.
std::vector<std::string> Parts(const std::string& connect) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < connect.size()) {
    size_t end = connect.find(';', start);
    if (end == std::string::npos) end = connect.size();
    if (end > start) parts.push_back(connect.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Where the part names `key` (any letter case), the position of its '='.
std::optional<size_t> KeyAt(const std::string& part, const std::string& key) {
  const size_t eq = part.find('=');
  if (eq == std::string::npos || !dbengine::SameName(part.substr(0, eq), key)) return std::nullopt;
  return eq;
}

// `connect` with its key `key` set to `value`.
std::string WithKey(const std::string& connect, const std::string& key, const std::string& value) {
  std::string out;
  bool set = false;
  for (const std::string& part : Parts(connect)) {
    set = set || KeyAt(part, key).has_value();
    out += (KeyAt(part, key) ? key + "=" + value : part) + ";";
  }
  if (!set) out += key + "=" + value + ";";
  return out;
}

// The value of `key` in `connect`; "" when absent.
std::string KeyValue(const std::string& connect, const std::string& key) {
  for (const std::string& part : Parts(connect)) {
    if (const auto eq = KeyAt(part, key)) return part.substr(*eq + 1);
  }
  return "";
}

void RunOn(const std::string& connect, const std::string& sql) {
  auto db = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                ->OpenDatabase("ODBC;" + connect);
  db->Execute(sql);
  db->Close();
}

}  // namespace

ScratchDatabase::ScratchDatabase() {
  static std::atomic<int> serial{0};
  std::random_device random;
  name_ = "sa_t" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + "_" +
          std::to_string(random() % 100000);
}

PgSchema::PgSchema(const std::string& serverConnect) {
  server_ = serverConnect;
  auto engine = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  auto db = engine->OpenDatabase("ODBC;" + server_);
  db->Execute("CREATE SCHEMA " + name_);
  db->Close();
  connect_ = server_ + ";ConnSettings={SET search_path TO " + name_ + "; SET application_name TO " +
             name_ + "}";
}

PgSchema::~PgSchema() {
  try {
    RunOn(server_, "DROP SCHEMA " + name_ + " CASCADE");
  } catch (const Error&) {
    // A schema left behind costs nothing but space; the next test uses its own.
  }
}

MariaDatabase::MariaDatabase(const std::string& serverConnect) {
  server_ = serverConnect;
  name_ = KeyValue(serverConnect, "Database") + "_" + name_;
  RunOn(server_, "CREATE DATABASE " + name_);
  connect_ = WithKey(server_, "Database", name_);
}

MariaDatabase::~MariaDatabase() {
  try {
    RunOn(server_, "DROP DATABASE " + name_);
  } catch (const Error&) {
    // Left behind, it costs nothing but space; the next test uses its own.
  }
}

std::string ServerName(Server server) {
  return server == Server::kPostgres ? "Postgres" : "MariaDb";
}

std::optional<std::string> ServerConnect(Server server) {
  return server == Server::kPostgres ? PostgresConnect() : MariaDbConnect();
}

std::unique_ptr<ScratchDatabase> MakeScratch(Server server, const std::string& serverConnect) {
  if (server == Server::kPostgres) return std::make_unique<PgSchema>(serverConnect);
  return std::make_unique<MariaDatabase>(serverConnect);
}

Census TakeCensusThrough(const std::string& connect, const std::string& copyPath,
                         const std::string& dataFolder) {
  std::filesystem::remove(copyPath);
  {
    auto from = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                    ->OpenDatabase("ODBC;" + connect);
    auto to = dbengine::MakeSqliteEngine()->CreateDatabase(copyPath, dbengine::kLangGeneral,
                                                           dbengine::kVersion40);
    demo::CopyTables(*from, *to);
    to->Close();
  }
  return TakeCensus(copyPath, dataFolder);
}

std::string SqliteOdbcConnect(const std::string& path) {
  return "Driver={SQLite3};Database=" + path;
}

}  // namespace sa::testing
