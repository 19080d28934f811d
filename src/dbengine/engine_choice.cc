#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/engine_choice.h"

#include <cstdio>
#include <cstring>

#include "dbengine/builtin_engine.h"
#include "dbengine/odbc/connection_string.h"
#include "dbengine/odbc/driver_family.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/odbc/odbc_handle.h"

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

std::string ShownName(const std::string& livePath) {
  return IsConnectionString(livePath) ? odbc::MaskSecrets(livePath) : livePath;
}

std::unique_ptr<Engine> EngineFor(const std::string& livePath) {
  if (IsConnectionString(livePath)) return MakeOdbcEngine(MakeBuiltInEngine());
  if (IsJetFile(livePath)) {
    const auto drivers = odbc::Environment().Drivers();
    if (!odbc::JetFamily()->FileDriver(drivers)) {
      throw Error(EngineError::kNoDriver, "No installed ODBC driver reads this database format.",
                  livePath + ": a Jet/Access database, and no Access driver is installed");
    }
    // Jet live databases get Jet archives, made through the same driver.
    return MakeOdbcEngine(nullptr);
  }
  // Without a built-in engine a SQLite file goes through an installed SQLite
  // ODBC driver, and its archives are SQLite files made through it.
  if (std::unique_ptr<Engine> builtIn = MakeBuiltInEngine()) return builtIn;
  return MakeOdbcEngine(nullptr);
}

}  // namespace sa::dbengine
