// An independent look into SQLite files for tests: plain sqlite3 C API calls,
// none of the program's engine, so what it reads is what any client sees.
#pragma once

#include <string>
#include <vector>

namespace sa::testing {

using Rows = std::vector<std::vector<std::string>>;

// Runs `sql` on the file and returns every row as texts ("NULL" for NULL).
// Fails the current test on any error.
Rows Query(const std::string& path, const std::string& sql);
// The first column of the first row, as a number.
long QueryLong(const std::string& path, const std::string& sql);
// Runs statements that return nothing (several, separated by ';'); creates
// the file when missing.
void Exec(const std::string& path, const std::string& sql);

}  // namespace sa::testing
