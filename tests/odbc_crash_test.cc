// Kills the real executable at random instants of a run whose live database
// is on PostgreSQL (one table keyed, the others moved by tuple identity),
// launches it again until it completes, and checks that every record is in
// exactly one place. SA_PG_CRASH_POINTS sets the kill points (a short run by
// default; tests/crash-census-postgres.sh runs the long one).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "sample_shop.h"
#include "shop_copy.h"
#include "support/census.h"
#include "support/kill_points.h"
#include "support/odbc_sources.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;

int KillPoints() { return testing::KillPoints("SA_PG_CRASH_POINTS", 6); }

const char* const kTables[] = {"cabecera", "gtarti",  "gthora",  "gtInfVen", "gtsecs",
                               "gtvend",   "tickets", "cliente", "GTVacuno"};

// Replaces the tables of schema `to` with copies of those of `from`, keys,
// identities and all, on the server.
void ResetSchema(dbengine::Database& server, const std::string& from, const std::string& to) {
  for (const char* t : kTables) {
    const std::string table = std::string("\"") + t + "\"";
    server.Execute("DROP TABLE IF EXISTS " + to + "." + table);
    server.Execute("CREATE TABLE " + to + "." + table + " (LIKE " + from + "." + table +
                   " INCLUDING ALL)");
    server.Execute("INSERT INTO " + to + "." + table + " OVERRIDING SYSTEM VALUE SELECT * FROM " +
                   from + "." + table);
  }
}

testing::Census CensusOf(const testing::TempDir& dir, const std::string& connect) {
  return testing::TakeCensusThrough(connect, dir.Path("back.db"), dir.Path("shop"));
}

TEST(PostgresCrash, EveryRecordEndsInExactlyOnePlace) {
  SA_REQUIRE_POSTGRES(server);
  testing::TempDir dir;
  demo::ShopOptions options;
  options.folder = dir.Path("template");
  options.today = {2024, 6, 20};
  options.months = 3;
  options.ticketsPerDay = 5;
  options.livestock = true;
  options.processName = "procsiosi";
  const demo::ShopFiles files = demo::GenerateShop(options);
  const auto census = testing::TakeCensus(files.dbPath, dir.Path("template/datos"));
  testing::PgSchema templateSchema(*server);
  testing::PgSchema live(*server);
  {
    auto from = dbengine::MakeSqliteEngine()->OpenDatabase(files.dbPath);
    auto to = dbengine::MakeOdbcEngine(nullptr)->OpenDatabase("ODBC;" + templateSchema.Connect());
    demo::CopyTables(*from, *to, {"cabecera"});
  }
  auto serverDb = dbengine::MakeOdbcEngine(nullptr)->OpenDatabase("ODBC;" + *server);
  const std::string program = testing::InstallProgram(dir.Path("shop"));
  demo::WriteFifo(dir.Path("shop"), "ODBC;" + live.Connect(), files.settingsPath, "procsiosi");
  auto reset = [&] {
    ResetSchema(*serverDb, templateSchema.Name(), live.Name());
    fs::remove_all(dir.Path("shop/S"));
  };

  reset();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(testing::RunProgram(program).exitStatus, 0);
  const auto full = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_EQ(testing::CensusDiff(census, CensusOf(dir, live.Connect())), "");

  const testing::KillTally tally = testing::KillAtRandomInstants(
      KillPoints(), full, 7919u,
      [&] {
        reset();
        return testing::StartProgram(program);
      },
      [&](int kill, double bound) {
        int status = -1;
        for (int attempt = 0; attempt < 3 && status != 0; ++attempt) {
          status = testing::RunProgram(program).exitStatus;
        }
        ASSERT_EQ(status, 0) << "kill point " << kill;
        ASSERT_EQ(testing::CensusDiff(census, CensusOf(dir, live.Connect())), "")
            << "kill point " << kill << " at under " << bound << " us";
        ASSERT_FALSE(fs::exists(dir.Path("shop/S/move.journal")));
      });
  EXPECT_EQ(tally.killedMidRun, KillPoints());
  std::printf(
      "[ census ] PostgreSQL: %d launches killed mid-run (%d kills), 0 records lost or "
      "duplicated\n",
      tally.killedMidRun, tally.kills);
}

}  // namespace
}  // namespace sa
