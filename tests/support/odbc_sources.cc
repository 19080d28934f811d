#include "support/odbc_sources.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <random>

#include "dbengine/odbc/odbc_engine.h"
#include "var/error.h"

namespace sa::testing {

std::optional<std::string> PostgresConnect() {
  const char* v = std::getenv("SA_PG_CONNECT");
  if (v == nullptr || *v == '\0') return std::nullopt;
  return std::string(v);
}

bool InCi() {
  const char* v = std::getenv("CI");
  return v != nullptr && std::string(v) == "true";
}

PgSchema::PgSchema(const std::string& serverConnect) : server_(serverConnect) {
  static std::atomic<int> serial{0};
  std::random_device random;
  name_ = "sa_t" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + "_" +
          std::to_string(random() % 100000);
  auto engine = dbengine::MakeOdbcEngine(nullptr);
  auto db = engine->OpenDatabase("ODBC;" + server_);
  db->Execute("CREATE SCHEMA " + name_);
  db->Close();
  connect_ = server_ + ";ConnSettings=SET search_path TO " + name_;
}

PgSchema::~PgSchema() {
  try {
    auto engine = dbengine::MakeOdbcEngine(nullptr);
    auto db = engine->OpenDatabase("ODBC;" + server_);
    db->Execute("DROP SCHEMA " + name_ + " CASCADE");
    db->Close();
  } catch (const Error&) {
    // A schema left behind costs nothing but space; the next test uses its own.
  }
}

std::string SqliteOdbcConnect(const std::string& path) {
  return "Driver={SQLite3};Database=" + path;
}

}  // namespace sa::testing
