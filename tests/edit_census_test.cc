// Other programs edit the live ticket lines while a run moves them and while
// a restore brings a month back, on every backend: each original record must
// end in exactly one place, an edited one with the last value committed to
// it. Every ticket line carries a tag of its own (in RESERV3) to be counted
// by; the writers are threads with connections of their own, each adding one
// to the units of a random line (by its tag) again and again, so a record's
// last value is its first plus the edits committed to it. The generic driver
// family, which locks nothing and compares each record in its deletion, is
// put to the same test on MariaDB. SA_EDIT_CENSUS_EDITS sets how many edits
// must land while runs move records (a short count by default; the census
// of 50,000 and more is run by hand).
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "core/error.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "platform/file_system.h"
#include "sample_shop.h"
#include "shop_copy.h"
#include "support/census.h"
#include "support/engine_backends.h"
#include "support/odbc_sources.h"
#include "support/shop_run.h"
#include "support/small_shop.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;
using testing::BackendKind;

constexpr int kWriters = 4;

long EditsWanted() {
  const char* v = std::getenv("SA_EDIT_CENSUS_EDITS");
  return v != nullptr && *v != '\0' ? std::atol(v) : 200;
}

struct Variant {
  BackendKind kind;
  const char* family;  // forced on the driver; "" for the one it reports
  const char* name;
};

const Variant kVariants[] = {
    {BackendKind::kBuiltIn, "", "BuiltIn"},
    {BackendKind::kOdbcSqlite, "", "OdbcSqlite"},
    {BackendKind::kOdbcPostgres, "", "OdbcPostgres"},
    {BackendKind::kOdbcMariaDb, "", "OdbcMariaDb"},
    {BackendKind::kOdbcMariaDb, "generic", "OdbcMariaDbGenericFamily"},
};

// A record's tag -> its units.
using Units = std::map<std::string, double>;
// A record's tag -> where it was found, with its units.
using Places = std::map<std::string, std::vector<std::pair<std::string, double>>>;

// A generated shop on the variant's backend, its ticket lines tagged.
class EditShop {
 public:
  // The run waits for locks as `odbc` says (the built-in engine too).
  EditShop(const Variant& v, const std::string& server, int ticketsPerDay,
           dbengine::OdbcOptions odbc = {})
      : variant_(v) {
    const demo::ShopOptions options =
        testing::SmallShop(dir_.path(), {2024, 6, 20}, 3, ticketsPerDay);
    const demo::ShopFiles files = demo::GenerateShop(options);
    file_ = files.dbPath;
    odbc.family = v.family;
    switch (v.kind) {
      case BackendKind::kBuiltIn:
        engine_ = dbengine::MakeSqliteEngine(odbc.lockSeconds * 1000);
        fs::create_directories(dir_.Path("datos/S"));
        break;
      case BackendKind::kOdbcSqlite:
        engine_ = dbengine::MakeOdbcEngine(platform::RealFileSystem(), dbengine::MakeSqliteEngine(),
                                           odbc);
        // The driver waits for a lock as its connection string says.
        run_.live = "ODBC;" + testing::SqliteOdbcConnect(file_) +
                    ";Timeout=" + std::to_string(odbc.lockSeconds * 1000);
        break;
      case BackendKind::kOdbcPostgres:
      case BackendKind::kOdbcMariaDb: {
        const bool postgres = v.kind == BackendKind::kOdbcPostgres;
        scratch_ = testing::MakeScratch(
            postgres ? testing::Server::kPostgres : testing::Server::kMariaDb, server);
        // PostgreSQL moves the tables without a key by tuple identity;
        // MariaDB has none.
        std::set<std::string> keyed = {"cabecera", "tickets"};
        if (!postgres) {
          keyed.insert({"gtarti", "gthora", "gtInfVen", "gtsecs", "gtvend", "cliente", "GTVacuno"});
        }
        {
          auto from = dbengine::MakeSqliteEngine()->OpenDatabase(file_);
          auto to = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                        ->OpenDatabase("ODBC;" + Connect());
          demo::CopyTables(*from, *to, keyed);
        }
        fs::remove(file_);
        engine_ = dbengine::MakeOdbcEngine(platform::RealFileSystem(), dbengine::MakeSqliteEngine(),
                                           odbc);
        run_.live = "ODBC;" + Connect();
        break;
      }
    }
    run_.clock.today = options.today;
    // Each line tagged with its identity; the writers find lines by tag.
    if (v.kind == BackendKind::kOdbcPostgres) {
      Sql("UPDATE tickets SET \"RESERV3\" = 'r' || id");
      Sql("CREATE INDEX tickets_tag ON tickets (\"RESERV3\")");
    } else if (v.kind == BackendKind::kOdbcMariaDb) {
      Sql("UPDATE tickets SET RESERV3 = CONCAT('r', id)");
      Sql("CREATE INDEX tickets_tag ON tickets (RESERV3)");
    } else {
      Sql("UPDATE tickets SET RESERV3 = 'r' || rowid");
      Sql("CREATE INDEX tickets_tag ON tickets (RESERV3)");
    }
    first_ = LiveUnits();
  }

  const Units& First() const { return first_; }
  // Archives are in S beside the program for a connection string.
  std::string Archives() const { return run_.live.empty() ? dir_.Path("datos/S") : dir_.Path("S"); }

  // Every ticket line, live or archived, by tag.
  Places Find() {
    Places places;
    for (const auto& [tag, units] : LiveUnits()) places[tag].emplace_back("live", units);
    if (fs::is_directory(Archives())) {
      for (const auto& entry : fs::directory_iterator(Archives())) {
        if (entry.path().extension() != ".mdb") continue;
        auto archive = dbengine::MakeSqliteEngine()->OpenDatabase(entry.path().string());
        for (const auto& [tag, units] : TicketUnits(*archive)) {
          places[tag].emplace_back(entry.path().filename().string(), units);
        }
      }
    }
    return places;
  }

  // The census of every table but the ticket lines.
  testing::Census OtherTables() {
    testing::Census census =
        run_.live.empty() || variant_.kind == BackendKind::kOdbcSqlite
            ? testing::TakeCensus(file_, run_.live.empty() ? dir_.Path("datos") : dir_.path())
            : testing::TakeCensusThrough(Connect(), dir_.Path("back.db"), dir_.path());
    census.erase("tickets");
    return census;
  }

  int Run() { return run_.Run(*engine_, dir_.path()); }
  // The scratch database's name, which its connections give as their
  // application's.
  const std::string& Name() const { return scratch_->Name(); }
  // The ticket lines still live.
  long LiveCount() { return static_cast<long>(LiveUnits().size()); }
  std::string Log() const {
    return dir_.IsFile("registro.txt") ? dir_.Read("registro.txt") : std::string();
  }
  int Restore(const std::string& month) { return run_.Restore(*engine_, dir_.path(), month); }

  // Another program holding a lock until it goes: on a server the line
  // tagged `tag` (FOR UPDATE), on a SQLite file the whole file (its write
  // lock). With `table`, PostgreSQL's ACCESS EXCLUSIVE lock on the ticket
  // lines instead.
  class Holder {
   public:
    Holder(EditShop& shop, const std::string& tag, bool table = false) {
      if (shop.scratch_) {
        conn_ = std::make_unique<dbengine::odbc::Connection>(
            std::make_shared<dbengine::odbc::Environment>(), shop.Connect(), shop.scratch_->Name());
        conn_->BeginTrans();
        const bool postgres = shop.variant_.kind == BackendKind::kOdbcPostgres;
        if (table) {
          conn_->ExecDirect("LOCK TABLE tickets IN ACCESS EXCLUSIVE MODE");
        } else {
          dbengine::odbc::Statement stmt(*conn_, tag);
          stmt.ExecDirect(std::string("SELECT id FROM tickets WHERE ") +
                          (postgres ? "\"RESERV3\"" : "RESERV3") + " = '" + tag + "' FOR UPDATE");
          EXPECT_TRUE(stmt.Fetch()) << tag;
        }
      } else {
        sqlite3_open(shop.file_.c_str(), &db_);
        EXPECT_EQ(sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
      }
    }
    ~Holder() {
      if (conn_) conn_->EndTrans(false);
      if (db_ != nullptr) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
      }
    }

   private:
    std::unique_ptr<dbengine::odbc::Connection> conn_;
    sqlite3* db_ = nullptr;
  };

  // One edit by another program: one more unit on the line tagged `tag`;
  // true when it was committed to a live record.
  class Writer {
   public:
    explicit Writer(EditShop& shop) : shop_(shop) {
      if (shop.scratch_) {
        conn_ = std::make_unique<dbengine::odbc::Connection>(
            std::make_shared<dbengine::odbc::Environment>(), shop.Connect(), shop.scratch_->Name());
        // Another program's own waits: as long as the run's at most.
        conn_->ExecDirect(shop.variant_.kind == BackendKind::kOdbcPostgres
                              ? "SET lock_timeout = 10000"
                              : "SET SESSION innodb_lock_wait_timeout = 10");
      } else {
        sqlite3_open(shop.file_.c_str(), &db_);
        // Tries again every fifth of a millisecond, up to about 10 s: an
        // edit lands as soon as the run lets go of the file between commits.
        sqlite3_busy_handler(
            db_,
            [](void*, int tries) {
              std::this_thread::sleep_for(std::chrono::microseconds(200));
              return tries < 50000 ? 1 : 0;
            },
            nullptr);
      }
    }
    ~Writer() {
      if (db_ != nullptr) sqlite3_close(db_);
    }
    bool Edit(const std::string& tag) {
      if (conn_) {
        const std::string sql =
            shop_.variant_.kind == BackendKind::kOdbcPostgres
                ? "UPDATE tickets SET \"UNITS\" = \"UNITS\" + 1 WHERE \"RESERV3\" = '" + tag + "'"
                : "UPDATE tickets SET UNITS = UNITS + 1 WHERE RESERV3 = '" + tag + "'";
        try {
          dbengine::odbc::Statement stmt(*conn_, sql);
          stmt.ExecDirect(sql);
          return stmt.RowCount() == 1;
        } catch (const Error&) {
          return false;  // not committed: waited too long for the run
        }
      }
      const std::string sql = "UPDATE tickets SET UNITS = UNITS + 1 WHERE RESERV3 = '" + tag + "'";
      const bool done = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
                        sqlite3_changes(db_) == 1;
      // A SQLite file has one write lock, and its waiters are not served in
      // turn: writers that never pause would keep the run from it.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return done;
    }

   private:
    EditShop& shop_;
    std::unique_ptr<dbengine::odbc::Connection> conn_;
    sqlite3* db_ = nullptr;
  };

 private:
  std::string Connect() const { return scratch_->Connect(); }
  std::string Live() const { return run_.live.empty() ? file_ : run_.live; }

  void Sql(const std::string& sql) {
    if (scratch_) {
      dbengine::odbc::Connection(std::make_shared<dbengine::odbc::Environment>(), Connect(),
                                 scratch_->Name())
          .ExecDirect(sql);
    } else {
      testing::Exec(file_, sql);
    }
  }

  static Units TicketUnits(dbengine::Database& db) {
    Units out;
    auto rs = db.OpenRecordset("SELECT * FROM tickets");
    for (; !rs->Eof(); rs->MoveNext()) {
      const dbengine::Value tag = rs->GetValue("RESERV3");
      const dbengine::Value units = rs->GetValue("UNITS");
      out[dbengine::ValueToText(tag)] = std::get<double>(units);
    }
    rs->Close();
    return out;
  }

  Units LiveUnits() {
    auto db = (run_.live.empty() ? dbengine::MakeSqliteEngine()
                                 : dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr))
                  ->OpenDatabase(Live());
    return TicketUnits(*db);
  }

  Variant variant_;
  testing::TempDir dir_;
  std::string file_;
  std::unique_ptr<testing::ScratchDatabase> scratch_;
  std::unique_ptr<dbengine::Engine> engine_;
  testing::ShopRun run_{{}, testing::FakeClock()};
  Units first_;
};

// Writer threads editing random lines of `tags` from construction until
// destruction; counts what each line got, and what landed while `busy`.
class Edits {
 public:
  Edits(EditShop& shop, const Units& tags) {
    for (const auto& [tag, units] : tags) tags_.push_back(tag);
    for (int w = 0; w < kWriters; ++w) {
      threads_.emplace_back([this, &shop, w] {
        EditShop::Writer writer(shop);
        std::mt19937 random(static_cast<unsigned>(w + 1));
        while (!stop_) {
          const std::string& tag = tags_[random() % tags_.size()];
          const bool counted = busy_;
          if (!writer.Edit(tag)) continue;
          const std::lock_guard lock(mutex_);
          ++committed_[tag];
          if (counted && busy_) ++during_;
        }
      });
    }
  }
  ~Edits() { Stop(); }
  void Busy(bool busy) { busy_ = busy; }
  void Stop() {
    stop_ = true;
    for (std::thread& t : threads_) {
      if (t.joinable()) t.join();
    }
  }
  const std::map<std::string, long>& Committed() const { return committed_; }
  long During() const { return during_; }

 private:
  std::vector<std::string> tags_;
  std::vector<std::thread> threads_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> busy_{false};
  std::mutex mutex_;
  std::map<std::string, long> committed_;
  long during_ = 0;
};

// Each line of `first` found exactly once, with its first units plus the
// edits committed to it; a few lines of what is wrong, "" when nothing is.
std::string EditCensus(const Units& first, const std::map<std::string, long>& edits,
                       const Places& found, long& lost, long& doubled) {
  std::string wrong;
  int shown = 0;
  auto note = [&](const std::string& line) {
    if (shown++ < 5) wrong += line + "\n";
  };
  for (const auto& [tag, units] : first) {
    const auto at = found.find(tag);
    const size_t n = at == found.end() ? 0 : at->second.size();
    if (n != 1) {
      (n == 0 ? lost : doubled) += 1;
      note(tag + ": found " + std::to_string(n) + " times");
      continue;
    }
    const auto e = edits.find(tag);
    const double expected = units + static_cast<double>(e == edits.end() ? 0 : e->second);
    if (at->second[0].second != expected) {
      ++lost;
      char line[160];
      std::snprintf(line, sizeof line, "%s in %s: units %.17g, %.17g expected (an edit lost)",
                    tag.c_str(), at->second[0].first.c_str(), at->second[0].second, expected);
      note(line);
    }
  }
  for (const auto& [tag, places] : found) {
    if (!first.count(tag)) note(tag + ": a line nobody wrote");
  }
  return wrong;
}

class EditCensusTest : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    if (GetParam().kind == BackendKind::kOdbcPostgres) {
      SA_REQUIRE_POSTGRES(server);
      server_ = *server;
    } else if (GetParam().kind == BackendKind::kOdbcMariaDb) {
      SA_REQUIRE_MARIADB(server);
      server_ = *server;
    }
  }
  std::string server_;
};

// Runs on fresh shops until enough edits landed while records moved; then a
// month is taken back while the writers go on. Nothing is lost or doubled,
// and no edit is lost, at any step.
TEST_P(EditCensusTest, EditsDuringRunsAndRestoresAreNeitherLostNorDoubled) {
  const long wanted = EditsWanted();
  long during = 0, lost = 0, doubled = 0, rounds = 0, restored = 0;
  const auto start = std::chrono::steady_clock::now();
  while (during < wanted) {
    ++rounds;
    EditShop shop(GetParam(), server_, wanted > 1000 ? 200 : 12);
    const testing::Census others = shop.OtherTables();
    {
      Edits edits(shop, shop.First());
      edits.Busy(true);
      EXPECT_EQ(shop.Run(), 0) << shop.Log();
      edits.Busy(false);
      edits.Stop();
      during += edits.During();
      if (wanted > 1000) {
        std::printf("[ round %ld ] %ld edits during the run\n", rounds, edits.During());
        std::fflush(stdout);
      }
      const std::string wrong =
          EditCensus(shop.First(), edits.Committed(), shop.Find(), lost, doubled);
      ASSERT_EQ(wrong, "") << "after run " << rounds;
      EXPECT_EQ(testing::CensusDiff(others, shop.OtherTables()), "");

      // A month back while the writers go on editing the lines as they come.
      Edits more(shop, shop.First());
      more.Busy(true);
      // A family that cannot tell a new record's identity (the generic one)
      // keeps the month in its archive.
      EXPECT_EQ(shop.Restore("202405"), *GetParam().family == '\0' ? 0 : 2) << shop.Log();
      more.Busy(false);
      more.Stop();
      restored += more.During();
      std::map<std::string, long> all = edits.Committed();
      for (const auto& [tag, n] : more.Committed()) all[tag] += n;
      ASSERT_EQ(EditCensus(shop.First(), all, shop.Find(), lost, doubled), "")
          << "after the restore of round " << rounds;
      EXPECT_EQ(testing::CensusDiff(others, shop.OtherTables()), "");
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "[ census ] %s: %ld edits during %ld runs, %ld during restores, %ld lost, %ld doubled "
      "(%.0f s)\n",
      GetParam().name, during, rounds, restored, lost, doubled, seconds);
}

// Another program holds a lock on a ticket line of May (on a SQLite file,
// the file's write lock) past the run's wait: the months it blocks stay
// live, each with its line in the log, nothing is lost or doubled, and the
// next run, the lock gone, moves them.
TEST_P(EditCensusTest, ALockHeldPastTheWaitKeepsItsMonthsLiveForTheNextRun) {
  // A family that cannot bound its own lock waits (the generic one) gives
  // up on the server instead.
  dbengine::OdbcOptions waits;
  waits.lockSeconds = 1;
  waits.answerSeconds = 4;
  EditShop shop(GetParam(), server_, 4, waits);
  const testing::Census others = shop.OtherTables();
  std::string may;
  for (const auto& [tag, units] : shop.First()) {
    if (may.empty() || tag > may) may = tag;  // some line near the end: May or June
  }
  const auto start = std::chrono::steady_clock::now();
  {
    const EditShop::Holder holder(shop, may);
    EXPECT_EQ(shop.Run(), 1);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_NE(shop.Log().find("registros no archivados (2024"), std::string::npos) << shop.Log();
  long lost = 0, doubled = 0;
  EXPECT_EQ(EditCensus(shop.First(), {}, shop.Find(), lost, doubled), "");
  EXPECT_EQ(testing::CensusDiff(others, shop.OtherTables()), "");
  const long held = shop.LiveCount();

  EXPECT_EQ(shop.Run(), 0) << shop.Log();
  EXPECT_EQ(EditCensus(shop.First(), {}, shop.Find(), lost, doubled), "");
  EXPECT_EQ(testing::CensusDiff(others, shop.OtherTables()), "");
  EXPECT_LT(shop.LiveCount(), held);
}

// PostgreSQL: another program holds the ticket lines' ACCESS EXCLUSIVE lock
// (no one may even read them): the run gives up on the table after its wait,
// and nothing is lost; the next run moves everything.
TEST(PostgresWaits, ATableLockedWholeIsGivenUpOnAfterTheWait) {
  SA_REQUIRE_POSTGRES(server);
  dbengine::OdbcOptions waits;
  waits.lockSeconds = 1;
  EditShop shop(kVariants[2], *server, 4, waits);
  const testing::Census others = shop.OtherTables();
  const auto start = std::chrono::steady_clock::now();
  {
    const EditShop::Holder holder(shop, "", true);
    EXPECT_EQ(shop.Run(), 1);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  long lost = 0, doubled = 0;
  EXPECT_EQ(EditCensus(shop.First(), {}, shop.Find(), lost, doubled), "");
  EXPECT_EQ(shop.Run(), 0) << shop.Log();
  EXPECT_EQ(EditCensus(shop.First(), {}, shop.Find(), lost, doubled), "");
  EXPECT_EQ(testing::CensusDiff(others, shop.OtherTables()), "");
}

// PostgreSQL: the server process serving the run stops (SIGSTOP) while the
// run holds records: the run gives up on it once it has not answered for the
// answer limit, the month stays live, and once the process goes on (and,
// finding its client gone, ends) nothing is lost; the next run moves it all.
TEST(PostgresWaits, AServerThatStopsAnsweringIsGivenUpOn) {
  SA_REQUIRE_POSTGRES(server);
  dbengine::OdbcOptions waits;
  waits.answerSeconds = 2;
  EditShop shop(kVariants[2], *server, 4, waits);
  const testing::Census others = shop.OtherTables();
  dbengine::odbc::Connection admin(std::make_shared<dbengine::odbc::Environment>(), *server,
                                   "the server");
  // The first server process serving `sql`'s condition, 0 when none does.
  const auto process = [&](const std::string& condition) {
    dbengine::odbc::Statement stmt(admin, condition);
    stmt.ExecDirect("SELECT pid FROM pg_stat_activity WHERE " + condition);
    SQLINTEGER pid = 0;
    SQLLEN length = 0;
    if (stmt.Fetch()) stmt.Check(SQLGetData(stmt.get(), 1, SQL_C_SLONG, &pid, 0, &length));
    return static_cast<int>(pid);
  };
  // The run's server process, caught inside a move: holding rows locked.
  std::atomic<bool> done{false};
  std::atomic<int> stopped{0};
  std::thread watcher([&] {
    while (!done && stopped == 0) {
      const int pid = process("application_name = '" + shop.Name() +
                              "' AND (state = 'idle in transaction' OR query LIKE '%FOR UPDATE%')");
      if (pid != 0 && kill(pid, SIGSTOP) == 0) stopped = pid;
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const int status = shop.Run();
  done = true;
  watcher.join();
  ASSERT_NE(stopped, 0) << "the run was never caught in a move";
  kill(stopped, SIGCONT);
  EXPECT_EQ(status, 1) << shop.Log();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_NE(shop.Log().find("registros no archivados (2024"), std::string::npos) << shop.Log();
  // The stopped process ends its transaction once it finds its client gone.
  for (int i = 0; i < 200 && process("pid = " + std::to_string(stopped)) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  long lost = 0, doubled = 0;
  EXPECT_EQ(shop.Run(), 0) << shop.Log();
  EXPECT_EQ(EditCensus(shop.First(), {}, shop.Find(), lost, doubled), "");
  EXPECT_EQ(testing::CensusDiff(others, shop.OtherTables()), "");
}

INSTANTIATE_TEST_SUITE_P(Backends, EditCensusTest, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sa
