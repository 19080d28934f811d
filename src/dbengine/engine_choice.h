// Which backend a live database gets: a connection string ("ODBC;...") goes
// to the ODBC backend with archives in the build's default file format; a
// Jet/Access file goes to an installed Access ODBC driver (found by listing
// the drivers) and is refused when there is none; anything else goes to the
// built-in SQLite backend, which reads SQLite files and refuses the rest;
// where there is none (Windows) to the ODBC backend, which serves a SQLite
// file through an installed SQLite ODBC driver and refuses the rest.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "dbengine/engine.h"
#include "platform/file_system.h"

namespace sa::dbengine {

// The engine for the live database `livePath`; `fs` reads its first bytes
// and goes with the engine. Throws sa::Error (EngineError::kNoDriver) for a
// Jet file no installed driver reads.
std::unique_ptr<Engine> EngineFor(platform::FileSystem& fs, const std::string& livePath);

// True when `livePath` names the live database by a connection string.
bool IsConnectionString(const std::string& livePath);

// The live database as messages show it: a connection string with its
// password masked, a path as it is.
std::string ShownName(const std::string& livePath);

// `text` (a message, an error's description or cause) with the value of every
// password a connection string in it gives masked, before it reaches a
// message, standard error or the log.
std::string MaskSecrets(std::string_view text);

}  // namespace sa::dbengine
