#include "dbengine/builtin_engine.h"
#include "dbengine/sqlite/sqlite_engine.h"

namespace sa::dbengine {

std::unique_ptr<Engine> MakeBuiltInEngine() { return MakeSqliteEngine(); }

}  // namespace sa::dbengine
