#include "support/small_shop.h"

namespace sa::testing {

demo::ShopOptions SmallShop(const std::string& folder, CivilDate today, int months,
                            int ticketsPerDay) {
  demo::ShopOptions options;
  options.folder = folder;
  options.today = today;
  options.months = months;
  options.ticketsPerDay = ticketsPerDay;
  options.livestock = true;
  options.processName = "procsiosi";
  return options;
}

}  // namespace sa::testing
