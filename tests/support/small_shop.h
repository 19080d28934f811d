// The small sample shop most tests run on, so that a test states only what
// sets its shop apart: with livestock, in the rollback journal mode, its
// `fifo` (beside the shop) naming procsiosi, three scales.
#pragma once

#include <string>

#include "core/datetime.h"
#include "sample_shop.h"

namespace sa::testing {

// A shop in `folder` with `months` months of sales up to `today`,
// `ticketsPerDay` tickets a day.
demo::ShopOptions SmallShop(const std::string& folder, CivilDate today, int months = 4,
                            int ticketsPerDay = 6);

}  // namespace sa::testing
