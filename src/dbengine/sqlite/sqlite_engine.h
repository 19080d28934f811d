// The SQLite backend of the engine. Files are SQLite 3 databases whatever
// their extension; a Jet/Access file is recognised by its first bytes and
// refused. See the README for the column types and storage forms.
#pragma once

#include <memory>

#include "dbengine/engine.h"

namespace sa::dbengine {

// `busyTimeoutMs`: how long an operation waits for a lock another program
// holds. `archivePageLimit`: when not 0, databases this engine creates or
// attaches may not grow past that many pages, as on a full disk.
std::unique_ptr<Engine> MakeSqliteEngine(int busyTimeoutMs = 10000, int64_t archivePageLimit = 0);

}  // namespace sa::dbengine
