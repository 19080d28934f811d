// The SQLite backend of the engine. Files are SQLite 3 databases whatever
// their extension; a Jet/Access file is recognised by its first bytes and
// refused. See the README for the column types and storage forms.
#pragma once

#include <memory>

#include "dbengine/engine.h"

namespace sa::dbengine {

std::unique_ptr<Engine> MakeSqliteEngine(int busyTimeoutMs = 10000);

}  // namespace sa::dbengine
