// The benchmark's shops: sample shops sized to a number of records, their
// records counted.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "core/datetime.h"

namespace sa::bench {

// Every shop ends on the same day, well before the machine's today, so that
// "archive everything up to today" takes every dated record.
inline constexpr CivilDate kShopToday{2024, 12, 31};
inline constexpr int kMonths = 24;
inline constexpr long kMonthsScalingRecords = 200000;

// Records of every table but the customer list (by table name, as
// demo::CountRecords gives them).
long DatedRecords(const std::map<std::string, long>& counts);
long AllRecords(const std::map<std::string, long>& counts);
// Records of the month archives in `dataFolder`/S, the customer lists aside.
long ArchivedRecords(const std::filesystem::path& dataFolder);

struct ShopPlan {
  long target = 0;
  int months = kMonths;
  int scales = 1;
  int ticketsPerDay = 1;
};

struct Shop {
  ShopPlan plan;
  std::filesystem::path folder;
  std::map<std::string, long> counts;
  double seconds = 0;
};

// Picks the tickets a day that bring a shop near `target` records. Each
// ticket makes a header and 2.7 lines on average; the daily totals add rows
// that depend on the tickets too, so the rate per open day is measured on
// small two-month shops (made in `scratch`) rather than guessed.
class Planner {
 public:
  explicit Planner(std::filesystem::path scratch) : scratch_(std::move(scratch)) {}

  ShopPlan Plan(long target, int months, int scales);

 private:
  double RatePerDay(int scales, int tickets);

  static constexpr int kCalibrationMonths = 2;
  std::filesystem::path scratch_;
  std::map<std::pair<int, int>, double> rates_;
};

// Bigger shops have more scales, as real ones do.
int ScalesFor(long target);

// Generates the planned shop in `folder` (process procsiosi, no livestock,
// rollback journal) and counts its records.
Shop MakeShop(const ShopPlan& plan, const std::filesystem::path& folder);

}  // namespace sa::bench
