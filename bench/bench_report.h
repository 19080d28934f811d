// What archive-bench prints: numbers in its forms, the shops, the table of
// sizes and the targets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench_runs.h"
#include "bench_shops.h"
#include "core/datetime.h"

namespace sa::bench {

// "1,234,567".
std::string Thousands(long n);
std::string Fixed(double v, int decimals);
// "YYYY-MM-DD".
std::string DateText(const CivilDate& d);
double MiB(int64_t kib);

// The shops measured: their plan and records per table.
void PrintShops(const std::vector<const Shop*>& shops);
// The shops, then per size the program's and plain SQL's times, rates,
// their ratio and the program's memory.
void PrintSizes(const std::vector<SizeResult>& results);

// A figure held to a target; absent when this run did not measure it.
struct Target {
  std::string label;
  std::optional<double> value;
  bool pass = false;
  std::string shown;
};
void PrintTargets(const std::vector<Target>& targets);

}  // namespace sa::bench
