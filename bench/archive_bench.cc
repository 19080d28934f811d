// archive-bench: times the real sales-archiver executable on generated shops
// of growing size against the same move done with plain SQL, and prints the
// figures with the targets they are held to. It reports; it does not judge:
// a missed target still exits 0. A program run that fails or leaves records
// in its window exits 1.

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench_files.h"
#include "bench_options.h"
#include "bench_report.h"
#include "bench_runs.h"
#include "bench_shops.h"
#include "child_launcher.h"
#include "core/error.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "server_shops.h"

namespace sa::bench {
namespace {

namespace fs = std::filesystem;

// What every measurement of one benchmark run shares.
struct Bench {
  const Options& options;
  ChildLauncher& launcher;
  const std::string& executable;
  const WorkFolder& work;
  CivilDate windowEnd;
  Planner& planner;
  int exitCode = kExitOk;
};

// The figures held to targets beside those of the sizes themselves; absent
// when this run did not measure them.
struct Figures {
  std::optional<double> perRecordRatio, monthsRatio;
  std::string perRecordLabel = "t/rec largest<=1.3x next";
  std::optional<double> odbcRatio, postgresRate, mariaDbRate;
};

// The sales-archiver built beside this program.
std::string ProgramBesideBench() {
  const std::string executable = platform::JoinPath(platform::ProgramFolder(), "sales-archiver");
  if (::access(executable.c_str(), X_OK) != 0) {
    throw std::runtime_error(executable + " is missing: build the sales-archiver target too");
  }
  return executable;
}

std::string WorkBase(const Options& options) {
  if (!options.dir.empty()) return options.dir;
  return options.memoryFs ? "/dev/shm" : "/tmp";
}

// The procsiosi window's end: today, which must come after the shops' last
// day for the window to take every dated record.
CivilDate WindowEnd() {
  const CivilDate windowEnd = platform::RealClock().Today();
  if (windowEnd < kShopToday) {
    throw std::runtime_error("the system date " + DateText(windowEnd) +
                             " is before the shops' last day " + DateText(kShopToday));
  }
  return windowEnd;
}

// A shop of about each size over kMonths months, the program and plain SQL
// on it.
std::vector<SizeResult> MeasureSizes(Bench& b) {
  std::vector<SizeResult> results;
  for (const long size : b.options.sizes) {
    SizeResult r;
    const fs::path sizeFolder = b.work.Path() / ("size-" + std::to_string(size));
    r.shop = MakeShop(b.planner.Plan(size, kMonths, ScalesFor(size)), sizeFolder / "shop");
    r.repeats = b.options.repeat;
    MeasurePair(b.launcher, b.executable, b.work, r, sizeFolder, b.windowEnd, b.exitCode);
    RemoveUnlessKept(b.work, sizeFolder);
    results.push_back(std::move(r));
  }
  return results;
}

// Time per record at the largest size against the next, and the same number
// of records over 12 and over 120 months.
void MeasureScaling(Bench& b, const std::vector<SizeResult>& results, Figures& f) {
  std::printf("\nscaling\n");
  const SizeResult& largest = results.back();
  if (results.size() >= 2) {
    const SizeResult& mid = results[results.size() - 2];
    f.perRecordRatio = largest.PerRecord() / mid.PerRecord();
    f.perRecordLabel =
        "t/rec@" + Thousands(largest.Records()) + "<=1.3x@" + Thousands(mid.Records());
    const double cpuRatio = largest.CpuPerRecord() / mid.CpuPerRecord();
    std::printf("  time/record at %s: %s us, at %s: %s us: ratio %s (cpu time ratio %s)\n",
                Thousands(largest.Records()).c_str(), Fixed(largest.PerRecord() * 1e6, 2).c_str(),
                Thousands(mid.Records()).c_str(), Fixed(mid.PerRecord() * 1e6, 2).c_str(),
                Fixed(*f.perRecordRatio, 2).c_str(), Fixed(cpuRatio, 2).c_str());
  }
  std::vector<SizeResult> spread;
  for (const int months : {12, 120}) {
    SizeResult r;
    const fs::path folder = b.work.Path() / ("months-" + std::to_string(months));
    r.shop = MakeShop(b.planner.Plan(kMonthsScalingRecords, months, 1), folder / "shop");
    r.repeats = b.options.repeat;
    MeasurePair(b.launcher, b.executable, b.work, r, folder, b.windowEnd, b.exitCode);
    RemoveUnlessKept(b.work, folder);
    spread.push_back(std::move(r));
  }
  for (const SizeResult& r : spread) {
    std::printf(
        "  %3d months, %d tickets/day: %s records; program %s s (cpu %s), %s us/record, RSS "
        "%s MiB; plain SQL %s s (cpu %s), %s us/record\n",
        r.shop.plan.months, r.shop.plan.ticketsPerDay, Thousands(r.Records()).c_str(),
        Fixed(r.program.child.seconds, 2).c_str(), Fixed(r.program.child.cpuSeconds, 2).c_str(),
        Fixed(r.PerRecord() * 1e6, 2).c_str(), Fixed(MiB(r.program.child.maxRssKiB), 1).c_str(),
        Fixed(r.floor.result.seconds, 2).c_str(), Fixed(r.floor.result.cpuSeconds, 2).c_str(),
        Fixed(r.FloorPerRecord() * 1e6, 2).c_str());
  }
  f.monthsRatio = spread[1].PerRecord() / spread[0].PerRecord();
  std::printf(
      "  time/record 120 months over 12 months: program %s (cpu time %s), plain SQL %s (cpu "
      "time %s)\n",
      Fixed(*f.monthsRatio, 2).c_str(),
      Fixed(spread[1].CpuPerRecord() / spread[0].CpuPerRecord(), 2).c_str(),
      Fixed(spread[1].FloorPerRecord() / spread[0].FloorPerRecord(), 2).c_str(),
      Fixed((spread[1].floor.result.cpuSeconds / static_cast<double>(spread[1].Records())) /
                (spread[0].floor.result.cpuSeconds / static_cast<double>(spread[0].Records())),
            2)
          .c_str());
}

// The fastest of `options.repeat` runs of `runOnce(i)`; the first failed
// run, reported and setting the exit code, stops the series.
template <typename RunOnce>
ProgramRun Fastest(Bench& b, RunOnce runOnce) {
  ProgramRun fastest;
  for (int i = 0; i < b.options.repeat; ++i) {
    ProgramRun r = runOnce(i);
    if (!r.Ok()) {
      std::printf("  FAILED: %s\n%s\n", Describe(r.child).c_str(), r.output.c_str());
      b.exitCode = kExitProgramFailed;
      return r;
    }
    if (i == 0 || r.child.seconds < fastest.child.seconds) fastest = r;
  }
  return fastest;
}

// The live database through ODBC, beside the built-in backend on the same
// shop: the SQLite3 driver on the same file, and the servers that
// SA_PG_CONNECT and SA_MARIADB_CONNECT name.
void MeasureOdbc(Bench& b, Figures& f) {
  std::printf("\nlive database through ODBC\n");
  const long size = *b.options.odbcSize;
  const fs::path folder = b.work.Path() / "odbc";
  const Shop shop = MakeShop(b.planner.Plan(size, kMonths, ScalesFor(size)), folder / "shop");
  const double records = static_cast<double>(DatedRecords(shop.counts));
  const ProgramRun builtIn = Fastest(b, [&](int i) {
    return RunProgram(b.launcher, b.executable, shop, folder / ("builtin-" + std::to_string(i)),
                      b.windowEnd);
  });
  const ProgramRun sqliteOdbc = Fastest(b, [&](int i) {
    return RunProgramOn(b.launcher, b.executable, shop,
                        folder / ("sqlite-odbc-" + std::to_string(i)), "");
  });
  auto line = [&](const char* label, const ProgramRun& r) {
    std::printf("  %-22s %s records  %8s s  cpu %6s s  %10s records/s  RSS %s MiB\n", label,
                Thousands(r.moved).c_str(), Fixed(r.child.seconds, 2).c_str(),
                Fixed(r.child.cpuSeconds, 2).c_str(),
                Thousands(std::lround(records / r.child.seconds)).c_str(),
                Fixed(MiB(r.child.maxRssKiB), 1).c_str());
  };
  line("built-in SQLite", builtIn);
  line("SQLite through ODBC", sqliteOdbc);
  f.odbcRatio = sqliteOdbc.child.seconds / builtIn.child.seconds;
  // A copy of the shop on the server that `variable` names, made by `make`
  // (given the server and a place of its own there) and dropped by `drop`.
  auto onServer = [&](const char* variable, const char* label, const std::string& prefix, auto make,
                      auto drop) -> std::optional<double> {
    const char* server = std::getenv(variable);
    if (server == nullptr || *server == '\0') {
      std::printf("  %s: not measured (%s is not set)\n", label, variable);
      return std::nullopt;
    }
    const std::string place = prefix + std::to_string(::getpid());
    const ProgramRun r = Fastest(b, [&](int i) {
      const std::string connect = make(server, shop, place);
      ProgramRun run = RunProgramOn(b.launcher, b.executable, shop,
                                    folder / (place + "-" + std::to_string(i)), "ODBC;" + connect);
      drop(server, place);
      run.moved = static_cast<long>(records);
      return run;
    });
    line(label, r);
    return records / r.child.seconds;
  };
  f.postgresRate =
      onServer("SA_PG_CONNECT", "PostgreSQL live", "sa_bench_", PostgresShop, DropPostgresShop);
  // Named after the server's own database, as the test user may create those.
  const char* maria = std::getenv("SA_MARIADB_CONNECT");
  f.mariaDbRate = onServer("SA_MARIADB_CONNECT", "MariaDB live",
                           maria && *maria ? MariaDbDatabase(maria) + "_bench_" : std::string(),
                           MariaDbShop, DropMariaDbShop);
  RemoveUnlessKept(b.work, folder);
}

// The targets, each at the largest size measured.
std::vector<Target> Targets(const std::vector<SizeResult>& results, const Figures& f) {
  const SizeResult& smallest = results.front();
  const SizeResult& largest = results.back();
  const std::string at = " @" + Thousands(largest.Records());
  const double floorRatio = largest.floor.result.seconds / largest.program.child.seconds;
  const double rss = MiB(largest.program.child.maxRssKiB);
  std::optional<double> growth;
  if (largest.Records() != smallest.Records()) {
    growth =
        static_cast<double>(largest.program.child.maxRssKiB - smallest.program.child.maxRssKiB) *
        1024.0 / static_cast<double>(largest.Records() - smallest.Records());
  }
  const auto shown = [](const std::optional<double>& v, int decimals) {
    return v ? Fixed(*v, decimals) : "";
  };
  const auto rate = [](const std::optional<double>& v) {
    return v ? Thousands(std::lround(*v)) : "";
  };
  return {
      {"floor/prog>=0.8" + at, floorRatio, floorRatio >= 0.8, Fixed(floorRatio, 2)},
      {"RSS<100MiB" + at, rss, rss < 100.0, Fixed(rss, 1)},
      {"growth<=16B/rec", growth, growth && *growth <= 16.0, shown(growth, 1)},
      {f.perRecordLabel, f.perRecordRatio, f.perRecordRatio && *f.perRecordRatio <= 1.3,
       shown(f.perRecordRatio, 2)},
      {"120mo<=1.5x 12mo", f.monthsRatio, f.monthsRatio && *f.monthsRatio <= 1.5,
       shown(f.monthsRatio, 2)},
      {"sqlite-odbc<=3x built-in", f.odbcRatio, f.odbcRatio && *f.odbcRatio <= 3.0,
       shown(f.odbcRatio, 2)},
      {"postgres>=20000rec/s", f.postgresRate, f.postgresRate && *f.postgresRate >= 20000,
       rate(f.postgresRate)},
      {"mariadb>=15500rec/s", f.mariaDbRate, f.mariaDbRate && *f.mariaDbRate >= 15500,
       rate(f.mariaDbRate)},
  };
}

int Main(const Options& options, ChildLauncher& launcher) {
  const std::string executable = ProgramBesideBench();
  WorkFolder work(WorkBase(options), options.keep);
  const CivilDate windowEnd = WindowEnd();
  const ChildResult baseline = launcher.Run("/bin/true", (work.Path() / "true.txt").string());
  std::printf("archive-bench: %s\n", executable.c_str());
  std::printf("work folder %s; shops end %s; procsiosi window up to %s; launcher floor %.1f MiB\n",
              work.Path().c_str(), DateText(kShopToday).c_str(), DateText(windowEnd).c_str(),
              MiB(baseline.maxRssKiB));
  std::fflush(stdout);

  Planner planner(work.Path());
  Bench bench{options, launcher, executable, work, windowEnd, planner};
  const std::vector<SizeResult> results = MeasureSizes(bench);
  PrintSizes(results);
  Figures figures;
  if (options.scaling) MeasureScaling(bench, results, figures);
  if (*options.odbcSize > 0) MeasureOdbc(bench, figures);
  PrintTargets(Targets(results, figures));
  if (options.keep) std::printf("kept: %s\n", work.Path().c_str());
  return bench.exitCode;
}

}  // namespace
}  // namespace sa::bench

int main(int argc, char** argv) {
  sa::bench::Options options;
  try {
    options = sa::bench::ParseOptions(argc, argv);
  } catch (const sa::bench::UsageError& e) {
    std::fprintf(stderr, "archive-bench: %s\n%s", e.message.c_str(), sa::bench::kUsage);
    return sa::bench::kExitUsage;
  }
  if (options.help) {
    std::fputs(sa::bench::kUsage, stdout);
    return sa::bench::kExitOk;
  }
  try {
    // Before anything big is allocated: see child_launcher.h.
    sa::bench::ChildLauncher launcher;
    return sa::bench::Main(options, launcher);
  } catch (const sa::Error& e) {
    std::fprintf(stderr, "archive-bench: %s\n%s\n", e.Description().c_str(), e.Cause().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "archive-bench: %s\n", e.what());
  }
  return sa::bench::kExitProgramFailed;
}
