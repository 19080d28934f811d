// Writes a sample shop's history into its live tables: the customer list,
// then every open day's tickets, their lines and the day's totals by hour,
// section, vendor, article and (with livestock) beef, one transaction per
// month. The same options and seed always give the same rows.
#pragma once

#include <vector>

#include "dbengine/sqlite/sqlite_handle.h"
#include "sample_shop.h"
#include "shop_tables.h"

namespace sa::demo {

// `tables` are the live tables, already created in `conn`'s database.
void WriteSales(const dbengine::sqlite::Connection& conn, const ShopOptions& o,
                const std::vector<LiveTable>& tables);

}  // namespace sa::demo
