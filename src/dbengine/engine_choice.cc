#include "dbengine/engine_choice.h"

#include <cstdio>
#include <cstring>

#include "dbengine/odbc/connection_string.h"
#include "dbengine/odbc/driver_family.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/sqlite/sqlite_engine.h"

namespace sa::dbengine {

namespace {

bool IsJetFile(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned char head[19] = {};
  const size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  return got == sizeof head && (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 ||
                                std::memcmp(head + 4, "Standard ACE DB", 15) == 0);
}

}  // namespace

bool IsConnectionString(const std::string& livePath) {
  return odbc::ConnectionStringOf(livePath).has_value();
}

std::unique_ptr<Engine> EngineFor(const std::string& livePath) {
  if (IsConnectionString(livePath)) return MakeOdbcEngine(MakeSqliteEngine());
  if (IsJetFile(livePath)) {
    const auto drivers = odbc::Environment().Drivers();
    if (!odbc::JetFamily()->FileDriver(drivers)) {
      throw Error(kErrNoDriver, "No installed ODBC driver reads this database format.",
                  livePath + ": a Jet/Access database, and no Access driver is installed");
    }
    // Jet live databases get Jet archives, made through the same driver.
    return MakeOdbcEngine(nullptr);
  }
  return MakeSqliteEngine();
}

}  // namespace sa::dbengine
