// make-sample-shop: writes a sample shop for the archiver to work on, and
// reports what a shop holds (archives, live tables, the last run's log).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/schema.h"
#include "core/error.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "dbengine/table_def.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "sample_shop.h"
#include "shop_copy.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage:\n"
    "  make-sample-shop FOLDER [--months N] [--scales N] [--tickets-per-day N] [--livestock]\n"
    "                   [--retention DAYS] [--journal delete|wal] [--seed N]\n"
    "                   [--today YYYY-MM-DD] [--process NAME] [--program-folder DIR]\n"
    "                   [--odbc CONNECTION-STRING [--keyed TABLE,TABLE...]]\n"
    "      writes FOLDER/datos/live.db, FOLDER/datos/settings.ini and DIR/fifo\n"
    "      (DIR defaults to FOLDER, today to the local date)\n"
    "  make-sample-shop report FOLDER [--program-folder DIR]\n"
    "      lists the archives in FOLDER/datos/S, the live tables and DIR/registro.txt\n"
    "(to make a shop in a folder named \"report\", write it as ./report)\n";

struct UsageError {
  std::string message;
};

std::optional<long long> ParseWhole(std::string_view text) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9' || value > 1'000'000'000'000LL) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

int ParseInt(const std::string& option, const std::string& text, int max) {
  const std::optional<long long> v = ParseWhole(text);
  if (!v || *v > max) {
    throw UsageError{option + " needs a whole number from 0 to " + std::to_string(max) +
                     ", not \"" + text + "\""};
  }
  return static_cast<int>(*v);
}

sa::CivilDate ParseDate(const std::string& text) {
  const auto part = [&](size_t pos, size_t len) { return ParseWhole(text.substr(pos, len)); };
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    const auto y = part(0, 4), m = part(5, 2), d = part(8, 2);
    if (y && m && d) {
      const sa::CivilDate date{static_cast<int>(*y), static_cast<int>(*m), static_cast<int>(*d)};
      if (sa::IsValidDate(date)) return date;
    }
  }
  throw UsageError{"--today needs a date as YYYY-MM-DD, not \"" + text + "\""};
}

// Splits "--name=value" and "--name value" alike.
class Args {
 public:
  Args(int argc, char** argv) : args_(argv + 1, argv + argc) {}

  bool Done() const { return next_ >= args_.size(); }
  std::string Take() { return args_[next_++]; }
  std::string Value(const std::string& option, std::optional<std::string>& inlineValue) {
    if (inlineValue) return *std::exchange(inlineValue, std::nullopt);
    if (Done()) throw UsageError{option + " needs a value"};
    return Take();
  }

 private:
  std::vector<std::string> args_;
  size_t next_ = 0;
};

struct Command {
  bool report = false;
  bool help = false;
  sa::demo::ShopOptions shop;
  std::string odbc;             // copy the live tables there and name it in fifo
  std::set<std::string> keyed;  // tables given a primary key there
};

Command ParseCommand(int argc, char** argv) {
  Args args(argc, argv);
  Command cmd;
  std::vector<std::string> positional;
  std::vector<std::string> shopOptions;  // options that only making a shop takes
  bool todayGiven = false;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (arg == "-h" || arg == "--help") {
      cmd.help = true;
      return cmd;
    }
    if (arg.rfind("--", 0) != 0 || arg == "--") {
      positional.push_back(arg);
      continue;
    }
    std::optional<std::string> inlineValue;
    if (const size_t eq = arg.find('='); eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    sa::demo::ShopOptions& o = cmd.shop;
    if (arg != "--program-folder") shopOptions.push_back(arg);
    if (arg == "--odbc") {
      cmd.odbc = args.Value(arg, inlineValue);
    } else if (arg == "--keyed") {
      std::stringstream list(args.Value(arg, inlineValue));
      for (std::string t; std::getline(list, t, ',');) cmd.keyed.insert(t);
    } else if (arg == "--livestock") {
      if (inlineValue) throw UsageError{"--livestock takes no value"};
      o.livestock = true;
    } else if (arg == "--months") {
      o.months = ParseInt(arg, args.Value(arg, inlineValue), sa::demo::kMaxMonths);
    } else if (arg == "--scales") {
      o.scales = ParseInt(arg, args.Value(arg, inlineValue), sa::demo::kMaxScales);
      if (o.scales == 0) throw UsageError{"--scales needs at least 1"};
    } else if (arg == "--tickets-per-day") {
      o.ticketsPerDay = ParseInt(arg, args.Value(arg, inlineValue), sa::demo::kMaxTicketsPerDay);
    } else if (arg == "--retention") {
      o.retentionDays = ParseInt(arg, args.Value(arg, inlineValue), sa::demo::kMaxRetentionDays);
    } else if (arg == "--journal") {
      o.journalMode = args.Value(arg, inlineValue);
      if (o.journalMode != "delete" && o.journalMode != "wal") {
        throw UsageError{"--journal needs delete or wal, not \"" + o.journalMode + "\""};
      }
    } else if (arg == "--seed") {
      const std::string text = args.Value(arg, inlineValue);
      const std::optional<long long> seed = ParseWhole(text);
      if (!seed || *seed > 0xFFFFFFFFLL) {
        throw UsageError{"--seed needs a whole number from 0 to 4294967295, not \"" + text + "\""};
      }
      o.seed = static_cast<uint32_t>(*seed);
    } else if (arg == "--today") {
      o.today = ParseDate(args.Value(arg, inlineValue));
      todayGiven = true;
    } else if (arg == "--process") {
      o.processName = args.Value(arg, inlineValue);
      if (o.processName.empty()) throw UsageError{"--process needs a name"};
    } else if (arg == "--program-folder") {
      o.programFolder = args.Value(arg, inlineValue);
      if (o.programFolder.empty()) throw UsageError{"--program-folder needs a folder"};
    } else {
      throw UsageError{"unknown option " + arg};
    }
  }
  if (!positional.empty() && positional[0] == "report") {
    cmd.report = true;
    positional.erase(positional.begin());
    if (!shopOptions.empty()) throw UsageError{shopOptions[0] + " does not apply to report"};
  }
  if (positional.size() != 1) {
    throw UsageError{positional.empty() ? "no FOLDER given" : "one FOLDER expected"};
  }
  if (positional[0].empty()) throw UsageError{"FOLDER is empty"};
  cmd.shop.folder = positional[0];
  if (!todayGiven) cmd.shop.today = sa::platform::RealClock().Today();
  return cmd;
}

std::string DateText(const sa::CivilDate& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

// ---------------------------------------------------------------------------
// Record counts laid out as a table: a row per database, a column per table.

struct CountRow {
  std::string label;
  std::map<std::string, long> counts;  // by table name as the file spells it
  std::string note;                    // shown instead of counts when set
};

// Live and archive spell some tables differently (`cliente`, `Cliente`);
// columns match names in any letter case, in the archive's table order.
class CountTable {
 public:
  CountTable() {
    for (const sa::archive::TableSpec* t : sa::archive::ArchiveTables(true))
      columns_.push_back(t->name);
  }

  void Add(CountRow row) {
    for (const auto& entry : row.counts) {
      if (FindColumn(entry.first) == columns_.size()) columns_.push_back(entry.first);
    }
    rows_.push_back(std::move(row));
  }

  // A row of the sums of the rows so far; the customer list is copied, not
  // moved, so it has no meaningful sum.
  CountRow Sum(const std::string& label) const {
    CountRow sum{label, {}, {}};
    for (const CountRow& row : rows_) {
      for (const auto& [table, n] : row.counts) {
        if (!sa::dbengine::SameName(table, "cliente")) sum.counts[columns_[FindColumn(table)]] += n;
      }
    }
    return sum;
  }

  void Print(std::ostream& out) const {
    size_t labelWidth = 0;
    for (const CountRow& row : rows_) labelWidth = std::max(labelWidth, row.label.size());
    std::vector<size_t> widths;
    for (size_t c = 0; c < columns_.size(); ++c) {
      size_t w = columns_[c].size();
      for (const CountRow& row : rows_) {
        if (const auto n = Cell(row, c)) w = std::max(w, std::to_string(*n).size());
      }
      widths.push_back(w);
    }
    out << "  " << Pad("", labelWidth, false);
    for (size_t c = 0; c < columns_.size(); ++c) out << "  " << Pad(columns_[c], widths[c], true);
    out << '\n';
    for (const CountRow& row : rows_) {
      out << "  " << Pad(row.label, labelWidth, false);
      if (!row.note.empty()) {
        out << "  " << row.note << '\n';
        continue;
      }
      for (size_t c = 0; c < columns_.size(); ++c) {
        const auto n = Cell(row, c);
        out << "  " << Pad(n ? std::to_string(*n) : "-", widths[c], true);
      }
      out << '\n';
    }
  }

  bool Empty() const { return rows_.empty(); }

 private:
  // The column of `table`; columns_.size() when it has none.
  size_t FindColumn(const std::string& table) const {
    for (size_t c = 0; c < columns_.size(); ++c) {
      if (sa::dbengine::SameName(columns_[c], table)) return c;
    }
    return columns_.size();
  }

  std::optional<long> Cell(const CountRow& row, size_t column) const {
    for (const auto& [table, n] : row.counts) {
      if (sa::dbengine::SameName(table, columns_[column])) return n;
    }
    return std::nullopt;
  }

  static std::string Pad(const std::string& text, size_t width, bool right) {
    const size_t len = sa::dbengine::Utf8Length(text);
    if (len >= width) return text;
    const std::string fill(width - len, ' ');
    return right ? fill + text : text + fill;
  }

  std::vector<std::string> columns_;
  std::vector<CountRow> rows_;
};

CountRow CountsOf(const std::string& label, const std::string& path) {
  try {
    return CountRow{label, sa::demo::CountRecords(path), {}};
  } catch (const sa::Error& e) {
    return CountRow{label, {}, "unreadable: " + e.Description()};
  }
}

long Total(const std::map<std::string, long>& counts) {
  long total = 0;
  for (const auto& entry : counts) total += entry.second;
  return total;
}

// ---------------------------------------------------------------------------
// The two commands

// Copies the generated live tables into the ODBC data source and points
// `fifo` at it; the SQLite live file is removed so that only one live copy
// exists.
void MoveLiveToOdbc(const sa::demo::ShopFiles& files, const sa::demo::ShopOptions& o,
                    const std::string& connect, const std::set<std::string>& keyed) {
  {
    auto sqlite = sa::dbengine::MakeSqliteEngine();
    auto odbc = sa::dbengine::MakeOdbcEngine(sa::platform::RealFileSystem(), nullptr);
    auto from = sqlite->OpenDatabase(files.dbPath);
    auto to = odbc->OpenDatabase("ODBC;" + connect);
    sa::demo::CopyTables(*from, *to, keyed);
    from->Close();
    to->Close();
  }
  fs::remove(files.dbPath);
  sa::demo::WriteFifo(o.programFolder.empty() ? o.folder : o.programFolder, "ODBC;" + connect,
                      files.settingsPath, o.processName);
}

int Generate(const Command& cmd) {
  const sa::demo::ShopOptions& o = cmd.shop;
  const auto start = std::chrono::steady_clock::now();
  const sa::demo::ShopFiles files = sa::demo::GenerateShop(o);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::map<std::string, long> counts = sa::demo::CountRecords(files.dbPath);
  if (!cmd.odbc.empty()) {
    MoveLiveToOdbc(files, o, cmd.odbc, cmd.keyed);
    std::cout << "Live tables copied through ODBC; fifo names the connection string\n";
  }

  std::cout << "Sample shop, " << o.months << " month(s) of sales up to " << DateText(o.today)
            << ", " << o.scales << " scale(s), " << o.ticketsPerDay << " tickets a day, seed "
            << o.seed << '\n'
            << "  live database  " << files.dbPath << " (journal " << o.journalMode << ")\n"
            << "  settings       " << files.settingsPath << " (livestock "
            << (o.livestock ? "on" : "off") << ", retention " << o.retentionDays << " days)\n"
            << "  fifo           " << files.fifoPath << " (process " << o.processName << ")\n";
  CountTable table;
  table.Add(CountRow{"live.db", counts, {}});
  table.Print(std::cout);
  char timing[64];
  std::snprintf(timing, sizeof timing, "%.2f s", seconds);
  std::cout << Total(counts) << " records written in " << timing << '\n';
  return kExitOk;
}

void PrintLog(const fs::path& log) {
  std::error_code ec;
  if (!fs::is_regular_file(log, ec)) {
    std::cout << "No log " << log.string() << '\n';
    return;
  }
  std::ifstream in(log, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in && !in.eof()) {
    std::cout << "Log " << log.string() << " cannot be read\n";
    return;
  }
  const std::vector<std::string> lines =
      sa::platform::SplitLines(sa::platform::DecodeText(bytes.str()));
  std::cout << "Log " << log.string() << " (" << lines.size() << " lines)\n";
  for (const std::string& line : lines) std::cout << "  " << line << '\n';
}

int Report(const sa::demo::ShopOptions& o) {
  std::error_code ec;
  const fs::path folder = fs::absolute(o.folder, ec).lexically_normal();
  if (!fs::is_directory(folder, ec)) {
    throw sa::Error(sa::ErrorCode::kPathNotFound, "Path not found",
                    folder.string() + " is no folder");
  }
  const fs::path data = folder / "datos";
  const fs::path archives = data / "S";
  const fs::path live = data / "live.db";
  const fs::path program = o.programFolder.empty() ? folder : fs::path(o.programFolder);

  std::cout << "Shop in " << folder.string() << '\n';
  std::vector<fs::path> mdbs;
  std::vector<std::string> others;
  if (fs::is_directory(archives, ec)) {
    for (const fs::directory_entry& e : fs::directory_iterator(archives, ec)) {
      if (e.path().extension() == ".mdb" && e.is_regular_file(ec)) {
        mdbs.push_back(e.path());
      } else {
        others.push_back(e.path().filename().string());
      }
    }
  }
  std::sort(mdbs.begin(), mdbs.end());
  std::sort(others.begin(), others.end());

  CountTable table;
  if (mdbs.empty()) {
    std::cout << "No archives in " << archives.string() << '\n';
  } else {
    std::cout << mdbs.size() << " archive(s) in " << archives.string() << '\n';
    for (const fs::path& p : mdbs) table.Add(CountsOf(p.filename().string(), p.string()));
    CountRow sum = table.Sum("archived");
    table.Add(std::move(sum));
  }
  if (fs::is_regular_file(live, ec)) {
    table.Add(CountsOf("live.db", live.string()));
  } else {
    std::cout << "No live database " << live.string() << '\n';
  }
  if (!table.Empty()) table.Print(std::cout);
  if (!others.empty()) {
    std::cout << "Other files in " << archives.string() << ":";
    for (const std::string& name : others) std::cout << ' ' << name;
    std::cout << '\n';
  }
  PrintLog(program / "registro.txt");
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Command cmd;
  try {
    cmd = ParseCommand(argc, argv);
  } catch (const UsageError& e) {
    std::cerr << "make-sample-shop: " << e.message << '\n' << kUsage;
    return kExitUsage;
  }
  if (cmd.help) {
    std::cout << kUsage;
    return kExitOk;
  }
  try {
    return cmd.report ? Report(cmd.shop) : Generate(cmd);
  } catch (const sa::Error& e) {
    std::cerr << "make-sample-shop: " << e.Description() << '\n';
    if (!e.Cause().empty()) std::cerr << "  " << e.Cause() << '\n';
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "make-sample-shop: " << e.what() << '\n';
    return kExitFailed;
  }
}
