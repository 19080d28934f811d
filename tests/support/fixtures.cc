#include "support/fixtures.h"

#include <fstream>

namespace sa::testing {

std::optional<std::string> FixtureValue([[maybe_unused]] const std::string& kind) {
#ifdef SA_FIXTURE_DIR
  std::ifstream in(std::string(SA_FIXTURE_DIR) + "/" + kind);
  std::string value;
  if (in && std::getline(in, value) && !value.empty()) return value;
#endif
  return std::nullopt;
}

}  // namespace sa::testing
