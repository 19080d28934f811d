#include "dbengine/builtin_engine.h"

namespace sa::dbengine {

std::unique_ptr<Engine> MakeBuiltInEngine() { return nullptr; }

}  // namespace sa::dbengine
