// The engine built into the program, if the build has one: the SQLite
// backend everywhere but Windows, where the engine is ODBC only.
#pragma once

#include <memory>

#include "dbengine/engine.h"

namespace sa::dbengine {

// The built-in engine, or null when the build has none.
std::unique_ptr<Engine> MakeBuiltInEngine();

}  // namespace sa::dbengine
