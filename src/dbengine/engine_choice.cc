#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/engine_choice.h"

#include "dbengine/builtin_engine.h"
#include "dbengine/file_kind.h"
#include "dbengine/odbc/connection_string.h"
#include "dbengine/odbc/driver_family.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/odbc/odbc_handle.h"

namespace sa::dbengine {

bool IsConnectionString(const std::string& livePath) {
  return odbc::ConnectionStringOf(livePath).has_value();
}

std::string ShownName(const std::string& livePath) {
  return IsConnectionString(livePath) ? MaskSecrets(livePath) : livePath;
}

std::string MaskSecrets(std::string_view text) { return odbc::MaskSecrets(text); }

std::unique_ptr<Engine> EngineFor(platform::FileSystem& fs, const std::string& livePath) {
  if (IsConnectionString(livePath)) return MakeOdbcEngine(fs, MakeBuiltInEngine());
  if (KindOfFile(fs, livePath) == FileKind::kJet) {
    const auto drivers = odbc::Environment().Drivers();
    if (!odbc::JetFamily()->FileDriver(drivers)) {
      throw Error(EngineError::kNoDriver, "No installed ODBC driver reads this database format.",
                  livePath + ": a Jet/Access database, and no Access driver is installed");
    }
    // Jet live databases get Jet archives, made through the same driver.
    return MakeOdbcEngine(fs, nullptr);
  }
  // Without a built-in engine a SQLite file goes through an installed SQLite
  // ODBC driver, and its archives are SQLite files made through it.
  if (std::unique_ptr<Engine> builtIn = MakeBuiltInEngine()) return builtIn;
  return MakeOdbcEngine(fs, nullptr);
}

}  // namespace sa::dbengine
