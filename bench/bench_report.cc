#include "bench_report.h"

#include <cmath>
#include <cstdio>

#include "dbengine/table_def.h"

namespace sa::bench {

std::string Thousands(long n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return n < 0 ? "-" + out : out;
}

std::string Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string DateText(const CivilDate& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

double MiB(int64_t kib) { return static_cast<double>(kib) / 1024.0; }

void PrintShops(const std::vector<const Shop*>& shops) {
  const char* tables[] = {"cabecera", "tickets", "gtarti", "gthora",
                          "gtInfVen", "gtsecs",  "gtvend", "cliente"};
  std::printf("%-9s %6s %6s %8s %10s", "shop", "months", "scales", "tick/day", "records");
  for (const char* t : tables) std::printf(" %9s", t);
  std::printf(" %7s\n", "gen s");
  for (const Shop* s : shops) {
    std::printf("%-9s %6d %6d %8d %10s", Thousands(s->plan.target).c_str(), s->plan.months,
                s->plan.scales, s->plan.ticketsPerDay, Thousands(AllRecords(s->counts)).c_str());
    for (const char* t : tables) {
      long n = 0;
      for (const auto& [name, count] : s->counts) {
        if (dbengine::SameName(name, t)) n = count;
      }
      std::printf(" %9s", Thousands(n).c_str());
    }
    std::printf(" %7s\n", Fixed(s->seconds, 1).c_str());
  }
}

void PrintSizes(const std::vector<SizeResult>& results) {
  std::printf("\n");
  std::vector<const Shop*> shops;
  for (const SizeResult& r : results) shops.push_back(&r.shop);
  PrintShops(shops);

  std::printf("\n%10s  %8s %9s %11s  %8s %9s %11s  %10s %9s  %8s %10s %5s\n", "records", "prog s",
              "prog cpu", "prog rec/s", "floor s", "floor cpu", "floor rec/s", "floor/prog",
              "cpu f/p", "RSS MiB", "growth B/r", "runs");
  const SizeResult& smallest = results.front();
  for (const SizeResult& r : results) {
    const double n = static_cast<double>(r.Records());
    const double ps = r.program.child.seconds, fsec = r.floor.result.seconds;
    const double pcpu = r.program.child.cpuSeconds, fcpu = r.floor.result.cpuSeconds;
    std::string growth = "-";
    if (r.Records() != smallest.Records()) {
      growth =
          Fixed(static_cast<double>(r.program.child.maxRssKiB - smallest.program.child.maxRssKiB) *
                    1024.0 / static_cast<double>(r.Records() - smallest.Records()),
                1);
    }
    std::printf("%10s  %8s %9s %11s  %8s %9s %11s  %10s %9s  %8s %10s %5d\n",
                Thousands(r.Records()).c_str(), Fixed(ps, 2).c_str(), Fixed(pcpu, 2).c_str(),
                Thousands(std::lround(n / ps)).c_str(), Fixed(fsec, 2).c_str(),
                Fixed(fcpu, 2).c_str(), Thousands(std::lround(n / fsec)).c_str(),
                Fixed(fsec / ps, 2).c_str(), Fixed(fcpu / pcpu, 2).c_str(),
                Fixed(MiB(r.program.child.maxRssKiB), 1).c_str(), growth.c_str(), r.repeats);
  }
  std::printf(
      "(s: wall seconds; cpu: user+system seconds; floor: the same move in plain SQL, %d "
      "table-month runs in %d transactions, one per month and one for the customers; "
      "floor/prog: floor time over program time, 1.00 = as fast as plain SQL; growth: peak RSS "
      "bytes per record beyond the %s-record run; runs: each time and cpu is the least of that "
      "many runs, RSS the most)\n",
      smallest.floor.result.months, smallest.floor.result.transactions,
      Thousands(smallest.Records()).c_str());
}

void PrintTargets(const std::vector<Target>& targets) {
  std::printf("\ntargets:");
  for (const Target& t : targets) {
    if (!t.value) {
      std::printf("  %s n/a", t.label.c_str());
    } else {
      std::printf("  %s %s %s", t.label.c_str(), t.shown.c_str(), t.pass ? "PASS" : "FAIL");
    }
  }
  std::printf("\n");
}

}  // namespace sa::bench
