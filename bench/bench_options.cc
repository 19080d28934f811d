#include "bench_options.h"

#include <algorithm>

namespace sa::bench {

const char kUsage[] =
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

namespace {

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

}  // namespace

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

}  // namespace sa::bench
