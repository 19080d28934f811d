// A benchmark shop's live tables copied onto a database server, for the
// runs whose live database is reached through ODBC.
#pragma once

#include <string>

#include "bench_shops.h"

namespace sa::bench {

// Copies the shop's live tables into a fresh schema of the PostgreSQL server
// `server` names (cabecera and tickets keyed, the rest by tuple identity);
// returns the schema's connection string.
std::string PostgresShop(const std::string& server, const Shop& shop, const std::string& schema);
void DropPostgresShop(const std::string& server, const std::string& schema);

// The database a MariaDB connection string names ("Database=...").
std::string MariaDbDatabase(const std::string& connect);
// Copies the shop's live tables into a fresh database `database` of the
// MariaDB server `server` names, every table keyed (MariaDB has no row
// identity); returns its connection string.
std::string MariaDbShop(const std::string& server, const Shop& shop, const std::string& database);
void DropMariaDbShop(const std::string& server, const std::string& database);

}  // namespace sa::bench
