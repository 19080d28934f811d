// archive-bench: times the real sales-archiver executable on generated shops
// of growing size against the same move done with plain SQL, and prints the
// figures with the targets they are held to. It reports; it does not judge:
// a missed target still exits 0. A program run that fails or leaves records
// in its window exits 1.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "child_launcher.h"
#include "core/error.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "dbengine/table_def.h"
#include "plain_sql_move.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "sample_shop.h"
#include "shop_copy.h"

namespace sa::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitProgramFailed = 1;
constexpr int kExitUsage = 2;

// Every shop ends on the same day, well before the machine's today, so that
// "archive everything up to today" takes every dated record.
constexpr CivilDate kShopToday{2024, 12, 31};
constexpr int kMonths = 24;
constexpr long kMonthsScalingRecords = 200000;
// Runs of each measurement, the fastest kept: the disk is shared, and one
// stalled sync can add seconds to any single run.
constexpr int kDefaultRepeats = 3;

constexpr char kUsage[] =
    "usage: archive-bench [--smoke] [--sizes N,N,...] [--repeat N] [--dir DIR] [--memory-fs]\n"
    "                     [--keep] [--odbc N]\n"
    "  Generates shops of about N records each (default 10000,100000,1000000) over 24\n"
    "  months, runs the sales-archiver built beside this program on a copy of each\n"
    "  (process procsiosi) and the same move in plain SQL on another copy, then\n"
    "  compares ~200000 records over 12 and over 120 months. Exits 1 when a program run\n"
    "  fails or leaves records in its window, whatever the figures.\n"
    "  --smoke      about 10000 records only, no scaling section\n"
    "  --sizes      record counts to aim at, comma separated (a 24-month shop holds at\n"
    "               least about 6500: one ticket a day)\n"
    "  --repeat N   run each measurement N times and keep the fastest (default 3)\n"
    "  --dir DIR    work in a fresh folder inside DIR (default: inside /tmp)\n"
    "  --memory-fs  default to /dev/shm instead of /tmp\n"
    "  --keep       leave the shops, archives and logs behind\n"
    "  --odbc N     also time a shop of about N records (default 100000, 10000 with --smoke,\n"
    "               0: none) with the live database read through ODBC: the SQLite3 driver on\n"
    "               the same file, PostgreSQL when SA_PG_CONNECT names a server and\n"
    "               MariaDB when SA_MARIADB_CONNECT names one\n";

struct Options {
  std::vector<long> sizes{10000, 100000, 1000000};
  bool scaling = true;
  std::string dir;
  bool memoryFs = false;
  bool keep = false;
  bool help = false;
  int repeat = kDefaultRepeats;
  std::optional<long> odbcSize;
};

struct UsageError {
  std::string message;
};

long ParseCount(const std::string& text) {
  long value = 0;
  if (text.empty()) throw UsageError{"--sizes needs record counts, not an empty item"};
  for (const char c : text) {
    if (c < '0' || c > '9' || value > 100'000'000) {
      throw UsageError{"--sizes needs whole numbers up to 100000000, not \"" + text + "\""};
    }
    value = value * 10 + (c - '0');
  }
  if (value < 1000) throw UsageError{"--sizes needs counts of at least 1000"};
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  bool sizesGiven = false, smoke = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> value;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    const auto takeValue = [&]() -> std::string {
      if (value) return *value;
      if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
      return argv[++i];
    };
    const auto noValue = [&] {
      if (value) throw UsageError{arg + " takes no value"};
    };
    if (arg == "-h" || arg == "--help") {
      o.help = true;
    } else if (arg == "--smoke") {
      noValue();
      smoke = true;
    } else if (arg == "--sizes") {
      o.sizes.clear();
      std::string list = takeValue();
      size_t start = 0;
      while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        o.sizes.push_back(ParseCount(list.substr(start, comma - start)));
        start = comma + 1;
      }
      sizesGiven = true;
    } else if (arg == "--dir") {
      o.dir = takeValue();
      if (o.dir.empty()) throw UsageError{"--dir needs a folder"};
    } else if (arg == "--repeat") {
      const std::string text = takeValue();
      if (text.empty() || text.size() > 2 ||
          text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) < 1) {
        throw UsageError{"--repeat needs a whole number from 1 to 99, not \"" + text + "\""};
      }
      o.repeat = std::stoi(text);
    } else if (arg == "--memory-fs") {
      noValue();
      o.memoryFs = true;
    } else if (arg == "--keep") {
      noValue();
      o.keep = true;
    } else if (arg == "--odbc") {
      const std::string text = takeValue();
      o.odbcSize = text == "0" ? 0 : ParseCount(text);
    } else {
      throw UsageError{"unknown argument " + arg};
    }
  }
  if (smoke) {
    if (sizesGiven) throw UsageError{"--smoke and --sizes do not go together"};
    o.sizes = {10000};
    o.scaling = false;
    if (!o.odbcSize) o.odbcSize = 10000;
  }
  if (!o.odbcSize) o.odbcSize = 100000;
  std::sort(o.sizes.begin(), o.sizes.end());
  o.sizes.erase(std::unique(o.sizes.begin(), o.sizes.end()), o.sizes.end());
  return o;
}

// ---------------------------------------------------------------------------
// Files

// A fresh folder for one benchmark run, removed with everything in it unless
// it is to be kept.
class WorkFolder {
 public:
  WorkFolder(const std::string& base, bool keep) : keep_(keep) {
    fs::create_directories(base);
    std::string pattern = (fs::path(base) / "archive-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a folder in " + base);
    }
    path_ = fs::absolute(pattern).lexically_normal();
  }
  ~WorkFolder() {
    if (keep_) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  const fs::path& Path() const { return path_; }
  bool Keep() const { return keep_; }

 private:
  fs::path path_;
  bool keep_;
};

void RemoveUnlessKept(const WorkFolder& work, const fs::path& path) {
  if (work.Keep()) return;
  std::error_code ec;
  fs::remove_all(path, ec);
}

// Copies a shop's live database and settings into `folder`/datos.
fs::path CopyShop(const fs::path& shop, const fs::path& folder) {
  const fs::path data = folder / "datos";
  fs::create_directories(data);
  fs::copy_file(shop / "datos" / "live.db", data / "live.db");
  fs::copy_file(shop / "datos" / "settings.ini", data / "settings.ini");
  // What the copy left dirty is written now, not during a timed run.
  ::sync();
  return data;
}

std::string ReadText(const fs::path& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

// ---------------------------------------------------------------------------
// Shops

bool IsCustomers(const std::string& table) { return dbengine::SameName(table, "cliente"); }

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

// Records of the month archives in `dataFolder`/S, the customer lists aside.
long ArchivedRecords(const fs::path& dataFolder) {
  long n = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(dataFolder / "S")) {
    if (e.path().extension() == ".mdb") n += DatedRecords(demo::CountRecords(e.path().string()));
  }
  return n;
}

// Open days of a shop of `months` months ending `today`, as the generator
// lays them out: from the same day `months` months back, Sundays shut.
long OpenDays(const CivilDate& today, int months) {
  int month = today.month - months % 12;
  int year = today.year - months / 12;
  if (month < 1) {
    month += 12;
    --year;
  }
  CivilDate first{year, month, today.day};
  while (!IsValidDate(first)) --first.day;
  long open = 0;
  for (int64_t day = DaysFromCivil(first); day <= DaysFromCivil(today); ++day) {
    if ((day % 7 + 7 + 4) % 7 != 0) ++open;
  }
  return open;
}

struct ShopPlan {
  long target = 0;
  int months = kMonths;
  int scales = 1;
  int ticketsPerDay = 1;
};

struct Shop {
  ShopPlan plan;
  fs::path folder;
  std::map<std::string, long> counts;
  double seconds = 0;
};

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

// Picks the tickets a day that bring a shop near `target` records. Each
// ticket makes a header and 2.7 lines on average; the daily totals add rows
// that depend on the tickets too, so the rate per open day is measured on
// small two-month shops rather than guessed.
class Planner {
 public:
  explicit Planner(fs::path scratch) : scratch_(std::move(scratch)) {}

  ShopPlan Plan(long target, int months, int scales) {
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

 private:
  double RatePerDay(int scales, int tickets) {
    const auto key = std::make_pair(scales, tickets);
    if (const auto it = rates_.find(key); it != rates_.end()) return it->second;
    const fs::path folder =
        scratch_ / ("rate-" + std::to_string(scales) + "-" + std::to_string(tickets));
    const demo::ShopFiles files =
        demo::GenerateShop(ShopOptionsFor(folder, kCalibrationMonths, scales, tickets));
    const long records = DatedRecords(demo::CountRecords(files.dbPath));
    std::error_code ec;
    fs::remove_all(folder, ec);
    const double rate = static_cast<double>(records) /
                        static_cast<double>(OpenDays(kShopToday, kCalibrationMonths));
    rates_[key] = rate;
    return rate;
  }

  static constexpr int kCalibrationMonths = 2;
  fs::path scratch_;
  std::map<std::pair<int, int>, double> rates_;
};

// Bigger shops have more scales, as real ones do.
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

// ---------------------------------------------------------------------------
// Runs

struct ProgramRun {
  ChildResult child;
  long moved = 0;     // dated records that left the live database
  long archived = 0;  // dated records in the month archives
  long left = 0;      // dated records still inside the window
  std::string output;
  bool Ok() const {
    return child.started && child.exited && child.exitStatus == 0 && left == 0 && archived == moved;
  }
};

ProgramRun RunProgram(ChildLauncher& launcher, const std::string& executable, const Shop& shop,
                      const fs::path& folder, const CivilDate& windowEnd) {
  const fs::path data = CopyShop(shop.folder, folder);
  const fs::path bin = folder / "programa";
  fs::create_directories(bin);
  const fs::path installed = bin / "sales-archiver";
  fs::copy_file(executable, installed);
  demo::WriteFifo(bin.string(), (data / "live.db").string(), (data / "settings.ini").string(),
                  "procsiosi");
  ::sync();
  ProgramRun run;
  run.child = launcher.Run(installed.string(), (bin / "output.txt").string());
  run.output = ReadText(bin / "output.txt");
  const std::string db = (data / "live.db").string();
  run.moved = DatedRecords(shop.counts) - DatedRecords(demo::CountRecords(db));
  run.left = RecordsLeftInWindow(db, windowEnd);
  run.archived = ArchivedRecords(data);
  return run;
}

struct FloorRun {
  PlainMoveResult result;
  long left = 0;
  long archived = 0;
};

FloorRun RunFloor(const Shop& shop, const fs::path& folder, const CivilDate& windowEnd) {
  const fs::path data = CopyShop(shop.folder, folder);
  FloorRun run;
  run.result = MoveWithPlainSql(data.string(), windowEnd);
  run.left = RecordsLeftInWindow((data / "live.db").string(), windowEnd);
  run.archived = ArchivedRecords(data);
  return run;
}

// A run of the program on a copy of the shop whose live database is named
// in `fifo` by `liveName(copied live.db path)`: a connection string. The
// archives go into the program's folder.
ProgramRun RunProgramOn(ChildLauncher& launcher, const std::string& executable, const Shop& shop,
                        const fs::path& folder, const std::string& live) {
  const fs::path data = CopyShop(shop.folder, folder);
  const fs::path bin = folder / "programa";
  fs::create_directories(bin);
  const fs::path installed = bin / "sales-archiver";
  fs::copy_file(executable, installed);
  demo::WriteFifo(
      bin.string(),
      live.empty() ? "ODBC;Driver={SQLite3};Database=" + (data / "live.db").string() : live,
      (data / "settings.ini").string(), "procsiosi");
  ::sync();
  ProgramRun run;
  run.child = launcher.Run(installed.string(), (bin / "output.txt").string());
  run.output = ReadText(bin / "output.txt");
  run.archived = ArchivedRecords(bin);
  run.moved = run.archived;
  if (live.empty()) {
    const std::string db = (data / "live.db").string();
    run.moved = DatedRecords(shop.counts) - DatedRecords(demo::CountRecords(db));
  }
  return run;
}

// Copies the shop's live tables into a fresh schema of the PostgreSQL server
// `server` names; returns the schema's connection string.
std::string PostgresShop(const std::string& server, const Shop& shop, const std::string& schema) {
  auto odbc = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  {
    auto db = odbc->OpenDatabase("ODBC;" + server);
    db->Execute("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
    db->Execute("CREATE SCHEMA " + schema);
  }
  const std::string connect = server + ";ConnSettings=SET search_path TO " + schema;
  auto from = dbengine::MakeSqliteEngine()->OpenDatabase((shop.folder / "datos/live.db").string());
  auto to = odbc->OpenDatabase("ODBC;" + connect);
  demo::CopyTables(*from, *to, {"cabecera", "tickets"});
  return connect;
}

void DropPostgresShop(const std::string& server, const std::string& schema) {
  auto db =
      dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)->OpenDatabase("ODBC;" + server);
  db->Execute("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
}

// The database a MariaDB connection string names ("Database=..."), and the
// string with another in its place.
std::string MariaDbDatabase(const std::string& connect) {
  const std::string lower = dbengine::LowerAscii(connect);
  const size_t at = lower.find("database=");
  if (at == std::string::npos) return "";
  const size_t end = connect.find(';', at);
  return connect.substr(at + 9, end == std::string::npos ? std::string::npos : end - at - 9);
}
std::string WithMariaDbDatabase(const std::string& connect, const std::string& database) {
  const std::string old = MariaDbDatabase(connect);
  const size_t at = dbengine::LowerAscii(connect).find("database=");
  if (at == std::string::npos) return connect + ";Database=" + database;
  return connect.substr(0, at + 9) + database + connect.substr(at + 9 + old.size());
}

// Copies the shop's live tables into a fresh database `database` of the
// MariaDB server `server` names, every table keyed (MariaDB has no row
// identity); returns its connection string.
std::string MariaDbShop(const std::string& server, const Shop& shop, const std::string& database) {
  auto odbc = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  {
    auto db = odbc->OpenDatabase("ODBC;" + server);
    db->Execute("DROP DATABASE IF EXISTS " + database);
    db->Execute("CREATE DATABASE " + database);
  }
  const std::string connect = WithMariaDbDatabase(server, database);
  auto from = dbengine::MakeSqliteEngine()->OpenDatabase((shop.folder / "datos/live.db").string());
  auto to = odbc->OpenDatabase("ODBC;" + connect);
  demo::CopyTables(*from, *to,
                   {"cabecera", "gtarti", "gthora", "gtInfVen", "gtsecs", "gtvend", "tickets",
                    "cliente", "GTVacuno"});
  return connect;
}

void DropMariaDbShop(const std::string& server, const std::string& database) {
  auto db =
      dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)->OpenDatabase("ODBC;" + server);
  db->Execute("DROP DATABASE IF EXISTS " + database);
}

std::string Describe(const ChildResult& c) {
  if (!c.started) return std::string("could not start: ") + std::strerror(c.execErrno);
  if (!c.exited) return "killed by signal " + std::to_string(c.signal);
  return "exit status " + std::to_string(c.exitStatus);
}

// ---------------------------------------------------------------------------
// Output

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

struct SizeResult {
  Shop shop;
  int repeats = 1;
  ProgramRun program;  // the fastest of the repeats, with the highest peak RSS
  FloorRun floor;      // the fastest of the repeats
  long Records() const { return program.moved; }
  double PerRecord() const { return program.child.seconds / static_cast<double>(Records()); }
  double CpuPerRecord() const { return program.child.cpuSeconds / static_cast<double>(Records()); }
  double FloorPerRecord() const {
    return floor.result.seconds / static_cast<double>(floor.result.moved);
  }
};

// Runs the program and then plain SQL on fresh copies of the shop, in turn,
// `r.repeats` times, keeping the fastest of each: the disk is shared and a
// stalled sync can add seconds to any one run. A failed program run is
// reported and sets `exitCode`.
void MeasurePair(ChildLauncher& launcher, const std::string& executable, const WorkFolder& work,
                 SizeResult& r, const fs::path& folder, const CivilDate& windowEnd, int& exitCode) {
  const long records = DatedRecords(r.shop.counts);
  for (int i = 0; i < r.repeats; ++i) {
    const std::string run = std::to_string(i + 1);
    std::fprintf(stderr, "  %s records over %d months: program run %d of %d...\n",
                 Thousands(records).c_str(), r.shop.plan.months, i + 1, r.repeats);
    ProgramRun program =
        RunProgram(launcher, executable, r.shop, folder / ("program-" + run), windowEnd);
    RemoveUnlessKept(work, folder / ("program-" + run));
    if (!program.Ok()) {
      std::printf(
          "PROGRAM RUN FAILED on %s records over %d months: %s, %s dated records moved, %s "
          "archived, %s left in the window\n%s\n",
          Thousands(records).c_str(), r.shop.plan.months, Describe(program.child).c_str(),
          Thousands(program.moved).c_str(), Thousands(program.archived).c_str(),
          Thousands(program.left).c_str(), program.output.c_str());
      exitCode = kExitProgramFailed;
    }
    std::fprintf(stderr, "  %s records over %d months: plain SQL run %d of %d...\n",
                 Thousands(records).c_str(), r.shop.plan.months, i + 1, r.repeats);
    FloorRun floor = RunFloor(r.shop, folder / ("floor-" + run), windowEnd);
    RemoveUnlessKept(work, folder / ("floor-" + run));
    if (floor.left != 0 || floor.archived != floor.result.moved ||
        floor.result.moved != program.moved) {
      std::printf("note: plain SQL moved %s, archived %s, left %s (program moved %s)\n",
                  Thousands(floor.result.moved).c_str(), Thousands(floor.archived).c_str(),
                  Thousands(floor.left).c_str(), Thousands(program.moved).c_str());
    }
    if (i == 0) {
      r.program = std::move(program);
      r.floor = floor;
      continue;
    }
    const int64_t rss = std::max(r.program.child.maxRssKiB, program.child.maxRssKiB);
    const double cpu = std::min(r.program.child.cpuSeconds, program.child.cpuSeconds);
    if (!program.Ok() || program.child.seconds < r.program.child.seconds) {
      if (r.program.Ok()) r.program = std::move(program);
    }
    r.program.child.maxRssKiB = rss;
    r.program.child.cpuSeconds = cpu;
    const double floorCpu = std::min(r.floor.result.cpuSeconds, floor.result.cpuSeconds);
    if (floor.result.seconds < r.floor.result.seconds) r.floor = floor;
    r.floor.result.cpuSeconds = floorCpu;
  }
}

struct Target {
  std::string label;
  std::optional<double> value;  // absent: not measured in this run
  bool pass = false;
  std::string shown;
};

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

int Main(const Options& options, ChildLauncher& launcher) {
  const std::string executable = platform::JoinPath(platform::ProgramFolder(), "sales-archiver");
  if (::access(executable.c_str(), X_OK) != 0) {
    throw std::runtime_error(executable + " is missing: build the sales-archiver target too");
  }
  const std::string base = !options.dir.empty() ? options.dir
                           : options.memoryFs   ? "/dev/shm"
                                                : "/tmp";
  WorkFolder work(base, options.keep);
  const CivilDate windowEnd = platform::RealClock().Today();
  if (windowEnd < kShopToday) {
    throw std::runtime_error("the system date " + DateText(windowEnd) +
                             " is before the shops' last day " + DateText(kShopToday));
  }

  const ChildResult baseline = launcher.Run("/bin/true", (work.Path() / "true.txt").string());
  std::printf("archive-bench: %s\n", executable.c_str());
  std::printf("work folder %s; shops end %s; procsiosi window up to %s; launcher floor %.1f MiB\n",
              work.Path().c_str(), DateText(kShopToday).c_str(), DateText(windowEnd).c_str(),
              MiB(baseline.maxRssKiB));
  std::fflush(stdout);

  int exitCode = kExitOk;
  Planner planner(work.Path());
  std::vector<SizeResult> results;
  for (const long size : options.sizes) {
    SizeResult r;
    const fs::path sizeFolder = work.Path() / ("size-" + std::to_string(size));
    r.shop = MakeShop(planner.Plan(size, kMonths, ScalesFor(size)), sizeFolder / "shop");
    r.repeats = options.repeat;
    MeasurePair(launcher, executable, work, r, sizeFolder, windowEnd, exitCode);
    RemoveUnlessKept(work, sizeFolder);
    results.push_back(std::move(r));
  }

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

  const SizeResult& largest = results.back();
  std::optional<double> perRecordRatio, monthsRatio;
  std::string perRecordLabel = "t/rec largest<=1.3x next";
  if (options.scaling) {
    std::printf("\nscaling\n");
    if (results.size() >= 2) {
      const SizeResult& mid = results[results.size() - 2];
      perRecordRatio = largest.PerRecord() / mid.PerRecord();
      perRecordLabel =
          "t/rec@" + Thousands(largest.Records()) + "<=1.3x@" + Thousands(mid.Records());
      const double cpuRatio = largest.CpuPerRecord() / mid.CpuPerRecord();
      std::printf("  time/record at %s: %s us, at %s: %s us: ratio %s (cpu time ratio %s)\n",
                  Thousands(largest.Records()).c_str(), Fixed(largest.PerRecord() * 1e6, 2).c_str(),
                  Thousands(mid.Records()).c_str(), Fixed(mid.PerRecord() * 1e6, 2).c_str(),
                  Fixed(*perRecordRatio, 2).c_str(), Fixed(cpuRatio, 2).c_str());
    }
    std::vector<SizeResult> spread;
    for (const int months : {12, 120}) {
      SizeResult r;
      const fs::path folder = work.Path() / ("months-" + std::to_string(months));
      r.shop = MakeShop(planner.Plan(kMonthsScalingRecords, months, 1), folder / "shop");
      r.repeats = options.repeat;
      MeasurePair(launcher, executable, work, r, folder, windowEnd, exitCode);
      RemoveUnlessKept(work, folder);
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
    monthsRatio = spread[1].PerRecord() / spread[0].PerRecord();
    std::printf(
        "  time/record 120 months over 12 months: program %s (cpu time %s), plain SQL %s (cpu "
        "time %s)\n",
        Fixed(*monthsRatio, 2).c_str(),
        Fixed(spread[1].CpuPerRecord() / spread[0].CpuPerRecord(), 2).c_str(),
        Fixed(spread[1].FloorPerRecord() / spread[0].FloorPerRecord(), 2).c_str(),
        Fixed((spread[1].floor.result.cpuSeconds / static_cast<double>(spread[1].Records())) /
                  (spread[0].floor.result.cpuSeconds / static_cast<double>(spread[0].Records())),
              2)
            .c_str());
  }

  // The live database through ODBC, beside the built-in backend on the same shop.
  std::optional<double> odbcRatio, postgresRate, mariaDbRate;
  if (*options.odbcSize > 0) {
    std::printf("\nlive database through ODBC\n");
    const fs::path folder = work.Path() / "odbc";
    const Shop shop = MakeShop(
        planner.Plan(*options.odbcSize, kMonths, ScalesFor(*options.odbcSize)), folder / "shop");
    const double records = static_cast<double>(DatedRecords(shop.counts));
    auto best = [&](auto run) {
      ProgramRun fastest;
      for (int i = 0; i < options.repeat; ++i) {
        ProgramRun r = run(i);
        if (!r.Ok()) {
          std::printf("  FAILED: %s\n%s\n", Describe(r.child).c_str(), r.output.c_str());
          exitCode = kExitProgramFailed;
          return r;
        }
        if (i == 0 || r.child.seconds < fastest.child.seconds) fastest = r;
      }
      return fastest;
    };
    const ProgramRun builtIn = best([&](int i) {
      return RunProgram(launcher, executable, shop, folder / ("builtin-" + std::to_string(i)),
                        windowEnd);
    });
    const ProgramRun sqliteOdbc = best([&](int i) {
      return RunProgramOn(launcher, executable, shop, folder / ("sqlite-odbc-" + std::to_string(i)),
                          "");
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
    odbcRatio = sqliteOdbc.child.seconds / builtIn.child.seconds;
    if (const char* server = std::getenv("SA_PG_CONNECT"); server && *server) {
      const std::string schema = "sa_bench_" + std::to_string(::getpid());
      const ProgramRun pg = best([&](int i) {
        const std::string connect = PostgresShop(server, shop, schema);
        ProgramRun r = RunProgramOn(launcher, executable, shop,
                                    folder / ("postgres-" + std::to_string(i)), "ODBC;" + connect);
        DropPostgresShop(server, schema);
        r.moved = static_cast<long>(records);
        return r;
      });
      line("PostgreSQL live", pg);
      postgresRate = records / pg.child.seconds;
    } else {
      std::printf("  PostgreSQL live: not measured (SA_PG_CONNECT is not set)\n");
    }
    if (const char* server = std::getenv("SA_MARIADB_CONNECT"); server && *server) {
      // Named after the server's own database, as the test user may create those.
      const std::string database = MariaDbDatabase(server) + "_bench_" + std::to_string(::getpid());
      const ProgramRun maria = best([&](int i) {
        const std::string connect = MariaDbShop(server, shop, database);
        ProgramRun r = RunProgramOn(launcher, executable, shop,
                                    folder / ("mariadb-" + std::to_string(i)), "ODBC;" + connect);
        DropMariaDbShop(server, database);
        r.moved = static_cast<long>(records);
        return r;
      });
      line("MariaDB live", maria);
      mariaDbRate = records / maria.child.seconds;
    } else {
      std::printf("  MariaDB live: not measured (SA_MARIADB_CONNECT is not set)\n");
    }
    RemoveUnlessKept(work, folder);
  }

  // Targets, each at the largest size measured.
  const std::string at = " @" + Thousands(largest.Records());
  const double floorRatio = largest.floor.result.seconds / largest.program.child.seconds;
  const double rss = MiB(largest.program.child.maxRssKiB);
  std::optional<double> growth;
  if (largest.Records() != smallest.Records()) {
    growth =
        static_cast<double>(largest.program.child.maxRssKiB - smallest.program.child.maxRssKiB) *
        1024.0 / static_cast<double>(largest.Records() - smallest.Records());
  }
  const std::vector<Target> targets = {
      {"floor/prog>=0.8" + at, floorRatio, floorRatio >= 0.8, Fixed(floorRatio, 2)},
      {"RSS<100MiB" + at, rss, rss < 100.0, Fixed(rss, 1)},
      {"growth<=16B/rec", growth, growth && *growth <= 16.0, growth ? Fixed(*growth, 1) : ""},
      {perRecordLabel, perRecordRatio, perRecordRatio && *perRecordRatio <= 1.3,
       perRecordRatio ? Fixed(*perRecordRatio, 2) : ""},
      {"120mo<=1.5x 12mo", monthsRatio, monthsRatio && *monthsRatio <= 1.5,
       monthsRatio ? Fixed(*monthsRatio, 2) : ""},
      {"sqlite-odbc<=3x built-in", odbcRatio, odbcRatio && *odbcRatio <= 3.0,
       odbcRatio ? Fixed(*odbcRatio, 2) : ""},
      {"postgres>=20000rec/s", postgresRate, postgresRate && *postgresRate >= 20000,
       postgresRate ? Thousands(std::lround(*postgresRate)) : ""},
      {"mariadb>=15500rec/s", mariaDbRate, mariaDbRate && *mariaDbRate >= 15500,
       mariaDbRate ? Thousands(std::lround(*mariaDbRate)) : ""},
  };
  std::printf("\ntargets:");
  for (const Target& t : targets) {
    if (!t.value) {
      std::printf("  %s n/a", t.label.c_str());
    } else {
      std::printf("  %s %s %s", t.label.c_str(), t.shown.c_str(), t.pass ? "PASS" : "FAIL");
    }
  }
  std::printf("\n");
  if (options.keep) std::printf("kept: %s\n", work.Path().c_str());
  return exitCode;
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
