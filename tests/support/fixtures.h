// What the CTest fixtures started for the run under way
// (tests/fixtures/fixture.sh): the PostgreSQL and MariaDB connection strings
// and the X display, each in a file of the build's fixtures folder while the
// tests that need it run.
#pragma once

#include <optional>
#include <string>

namespace sa::testing {

// The value the fixture of `kind` ("postgres", "mariadb", "display") wrote;
// nullopt when it wrote none: the tests were started without CTest, or with
// the variable that names the server or display already set.
std::optional<std::string> FixtureValue(const std::string& kind);

}  // namespace sa::testing
