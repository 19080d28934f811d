#include "bench_shops.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <vector>

#include "dbengine/table_def.h"
#include "sample_shop.h"
#include "shop_calendar.h"

namespace sa::bench {
namespace {

namespace fs = std::filesystem;

bool IsCustomers(const std::string& table) { return dbengine::SameName(table, "cliente"); }

// Open days of a shop of `months` months ending `today`, as the generator
// lays them out.
long OpenDays(const CivilDate& today, int months) {
  long open = 0;
  for (int64_t day = DaysFromCivil(demo::FirstDay(today, months)); day <= DaysFromCivil(today);
       ++day) {
    if (demo::IsOpenDay(day)) ++open;
  }
  return open;
}

demo::ShopOptions ShopOptionsFor(const fs::path& folder, int months, int scales, int tickets) {
  demo::ShopOptions o;
  o.folder = folder.string();
  o.today = kShopToday;
  o.months = months;
  o.scales = scales;
  o.ticketsPerDay = tickets;
  o.livestock = false;
  o.journalMode = "delete";
  o.processName = "procsiosi";
  return o;
}

}  // namespace

long DatedRecords(const std::map<std::string, long>& counts) {
  long n = 0;
  for (const auto& [table, count] : counts) {
    if (!IsCustomers(table)) n += count;
  }
  return n;
}

long AllRecords(const std::map<std::string, long>& counts) {
  long n = 0;
  for (const auto& entry : counts) n += entry.second;
  return n;
}

long ArchivedRecords(const fs::path& dataFolder) {
  long n = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(dataFolder / "S")) {
    if (e.path().extension() == ".mdb") n += DatedRecords(demo::CountRecords(e.path().string()));
  }
  return n;
}

ShopPlan Planner::Plan(long target, int months, int scales) {
  const double days = static_cast<double>(OpenDays(kShopToday, months));
  const double perDay = static_cast<double>(target) / days;
  int tickets =
      std::clamp(static_cast<int>(std::lround((perDay - 20) / 3.7)), 1, demo::kMaxTicketsPerDay);
  int best = tickets;
  double bestError = 1e300;
  std::vector<int> tried;
  for (int round = 0; round < 6; ++round) {
    if (std::find(tried.begin(), tried.end(), tickets) != tried.end()) break;
    tried.push_back(tickets);
    const double rate = RatePerDay(scales, tickets);
    const double error = std::fabs(rate * days - static_cast<double>(target));
    if (error < bestError) {
      bestError = error;
      best = tickets;
    }
    if (error < 0.02 * static_cast<double>(target)) break;
    // Most of the rate is proportional to the tickets.
    const int next = std::clamp(static_cast<int>(std::lround(tickets * perDay / rate)), 1,
                                demo::kMaxTicketsPerDay);
    tickets = next == tickets ? tickets + (rate < perDay ? 1 : -1) : next;
    tickets = std::clamp(tickets, 1, demo::kMaxTicketsPerDay);
  }
  return ShopPlan{target, months, scales, best};
}

double Planner::RatePerDay(int scales, int tickets) {
  const auto key = std::make_pair(scales, tickets);
  if (const auto it = rates_.find(key); it != rates_.end()) return it->second;
  const fs::path folder =
      scratch_ / ("rate-" + std::to_string(scales) + "-" + std::to_string(tickets));
  const demo::ShopFiles files =
      demo::GenerateShop(ShopOptionsFor(folder, kCalibrationMonths, scales, tickets));
  const long records = DatedRecords(demo::CountRecords(files.dbPath));
  std::error_code ec;
  fs::remove_all(folder, ec);
  const double rate =
      static_cast<double>(records) / static_cast<double>(OpenDays(kShopToday, kCalibrationMonths));
  rates_[key] = rate;
  return rate;
}

int ScalesFor(long target) {
  if (target <= 30000) return 1;
  if (target <= 300000) return 3;
  return 6;
}

Shop MakeShop(const ShopPlan& plan, const fs::path& folder) {
  Shop shop;
  shop.plan = plan;
  shop.folder = folder;
  const auto start = std::chrono::steady_clock::now();
  const demo::ShopFiles files =
      demo::GenerateShop(ShopOptionsFor(folder, plan.months, plan.scales, plan.ticketsPerDay));
  shop.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  shop.counts = demo::CountRecords(files.dbPath);
  return shop;
}

}  // namespace sa::bench
