// Live tables for tests, as the host keeps them: the archive's fields (date
// fields named D_FECHA / FECHA, the customer table "cliente") plus a field
// the archive does not keep.
#pragma once

#include <string>

namespace sa::testing {

// The CREATE TABLE text of the live table behind an archive table.
std::string LiveTableSql(const std::string& archiveTable);
// Creates every live table (GTVacuno included) in the file.
void CreateLiveTables(const std::string& path);

}  // namespace sa::testing
