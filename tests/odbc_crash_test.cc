// Kills the real executable at random instants of a run whose live database
// is on a server (PostgreSQL: one table keyed, the others moved by tuple
// identity; MariaDB: every table keyed), and of a restore on PostgreSQL,
// launches it again until it completes, and checks that every record is in
// exactly one place. SA_PG_CRASH_POINTS sets the kill
// points (a short run by default; tests/crash-census-postgres.sh runs the
// long one).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "platform/file_system.h"
#include "sample_shop.h"
#include "shop_copy.h"
#include "support/census.h"
#include "support/kill_points.h"
#include "support/odbc_sources.h"
#include "support/program_run.h"
#include "support/small_shop.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;

int KillPoints() { return testing::KillPoints("SA_PG_CRASH_POINTS", 6); }

const char* const kTables[] = {"cabecera", "gtarti",  "gthora",  "gtInfVen", "gtsecs",
                               "gtvend",   "tickets", "cliente", "GTVacuno"};

// Replaces the tables of schema `to` with copies of those of `from`, keys,
// identities and all, on the server; a copied key's numbering goes on after
// the largest key, as the original's does (MariaDB's AUTO_INCREMENT does so
// by itself).
void ResetSchema(dbengine::odbc::Connection& server, testing::Server kind, const std::string& from,
                 const std::string& to, const std::set<std::string>& keyed) {
  for (const char* t : kTables) {
    if (kind == testing::Server::kMariaDb) {
      const std::string source = "`" + from + "`.`" + t + "`";
      const std::string target = "`" + to + "`.`" + t + "`";
      server.ExecDirect("DROP TABLE IF EXISTS " + target);
      server.ExecDirect("CREATE TABLE " + target + " LIKE " + source);
      server.ExecDirect("INSERT INTO " + target + " SELECT * FROM " + source);
      continue;
    }
    const std::string table = std::string("\"") + t + "\"";
    server.ExecDirect("DROP TABLE IF EXISTS " + to + "." + table);
    server.ExecDirect("CREATE TABLE " + to + "." + table + " (LIKE " + from + "." + table +
                      " INCLUDING ALL)");
    server.ExecDirect("INSERT INTO " + to + "." + table +
                      " OVERRIDING SYSTEM VALUE SELECT * FROM " + from + "." + table);
    if (keyed.contains(t)) {
      server.ExecDirect("SELECT setval(pg_get_serial_sequence('" + to + "." + table +
                        "', 'id'), (SELECT coalesce(max(id), 0) + 1 FROM " + from + "." + table +
                        "), false)");
    }
  }
}

testing::Census CensusOf(const testing::TempDir& dir, const std::string& connect) {
  return testing::TakeCensusThrough(connect, dir.Path("back.db"), dir.Path("shop"));
}

class ServerCrash : public ::testing::TestWithParam<testing::Server> {};

TEST_P(ServerCrash, EveryRecordEndsInExactlyOnePlace) {
  SA_REQUIRE_SERVER(GetParam(), server);
  // MariaDB has no row identity: every table keyed there.
  const std::set<std::string> keyed =
      GetParam() == testing::Server::kPostgres
          ? std::set<std::string>{"cabecera"}
          : std::set<std::string>(std::begin(kTables), std::end(kTables));
  testing::TempDir dir;
  const demo::ShopFiles files =
      demo::GenerateShop(testing::SmallShop(dir.Path("template"), {2024, 6, 20}, 3, 5));
  const auto census = testing::TakeCensus(files.dbPath, dir.Path("template/datos"));
  const auto templateSchema = testing::MakeScratch(GetParam(), *server);
  const auto liveSchema = testing::MakeScratch(GetParam(), *server);
  const testing::ScratchDatabase& live = *liveSchema;
  {
    auto from = dbengine::MakeSqliteEngine()->OpenDatabase(files.dbPath);
    auto to = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                  ->OpenDatabase("ODBC;" + templateSchema->Connect());
    demo::CopyTables(*from, *to, keyed);
  }
  dbengine::odbc::Connection serverDb(std::make_shared<dbengine::odbc::Environment>(), *server,
                                      "the server");
  const std::string program = testing::InstallProgram(dir.Path("shop"));
  demo::WriteFifo(dir.Path("shop"), "ODBC;" + live.Connect(), files.settingsPath, "procsiosi");
  auto reset = [&] {
    ResetSchema(serverDb, GetParam(), templateSchema->Name(), live.Name(), keyed);
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
      "[ census ] %s: %d launches killed mid-run (%d kills), 0 records lost or duplicated\n",
      testing::ServerName(GetParam()).c_str(), tally.killedMidRun, tally.kills);
}

INSTANTIATE_TEST_SUITE_P(OdbcCrash, ServerCrash,
                         ::testing::Values(testing::Server::kPostgres, testing::Server::kMariaDb),
                         [](const auto& info) { return testing::ServerName(info.param); });

// The same for a restore: killed at random instants of `--restore` (the live
// side committed first with its copies' identities in the move journal, the
// archive's records deleted next), then relaunched, in turn as a run and as
// the restore again, every record is in exactly one place.
TEST(PostgresRestoreCrash, EveryRecordEndsInExactlyOnePlace) {
  SA_REQUIRE_POSTGRES(server);
  testing::TempDir dir;
  const demo::ShopFiles files =
      demo::GenerateShop(testing::SmallShop(dir.Path("template"), {2024, 6, 20}, 3, 8));
  const std::set<std::string> keyed = {"cabecera", "tickets"};
  const std::string month = "202405";
  testing::PgSchema original(*server);
  testing::PgSchema archived(*server);
  testing::PgSchema live(*server);
  {
    auto from = dbengine::MakeSqliteEngine()->OpenDatabase(files.dbPath);
    auto to = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                  ->OpenDatabase("ODBC;" + original.Connect());
    demo::CopyTables(*from, *to, keyed);
  }
  dbengine::odbc::Connection serverDb(std::make_shared<dbengine::odbc::Environment>(), *server,
                                      "the server");
  const std::string program = testing::InstallProgram(dir.Path("shop"));
  demo::WriteFifo(dir.Path("shop"), "ODBC;" + live.Connect(), files.settingsPath, "procsiosi");
  testing::Launch restore;
  restore.arguments = {"--restore", month};

  // The shop archived once is the state every restore starts from.
  ResetSchema(serverDb, testing::Server::kPostgres, original.Name(), live.Name(), keyed);
  ASSERT_EQ(testing::RunProgram(program).exitStatus, 0);
  const auto expected = CensusOf(dir, live.Connect());
  ResetSchema(serverDb, testing::Server::kPostgres, live.Name(), archived.Name(), keyed);
  fs::remove_all(dir.Path("S.archived"));
  fs::copy(dir.Path("shop/S"), dir.Path("S.archived"), fs::copy_options::recursive);
  auto reset = [&] {
    ResetSchema(serverDb, testing::Server::kPostgres, archived.Name(), live.Name(), keyed);
    fs::remove_all(dir.Path("shop/S"));
    fs::copy(dir.Path("S.archived"), dir.Path("shop/S"), fs::copy_options::recursive);
  };

  reset();
  const auto start = std::chrono::steady_clock::now();
  const auto first = testing::RunProgram(program, restore);
  ASSERT_EQ(first.exitStatus, 0) << first.standardError;
  const auto full = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_EQ(testing::CensusDiff(expected, CensusOf(dir, live.Connect())), "");
  ASSERT_FALSE(fs::exists(dir.Path("shop/S/" + month + ".mdb")));

  int journalsLeft = 0;  // kills between the live commit and the archive's deletion
  const testing::KillTally tally = testing::KillAtRandomInstants(
      KillPoints(), full, 104729u,
      [&] {
        reset();
        return testing::StartProgram(program, restore);
      },
      [&](int kill, double bound) {
        const bool asRun = kill % 2 == 0;
        const bool archiveLeft = fs::exists(dir.Path("shop/S/" + month + ".mdb"));
        if (fs::exists(dir.Path("shop/S/move.journal"))) ++journalsLeft;
        const auto relaunch =
            asRun ? testing::RunProgram(program) : testing::RunProgram(program, restore);
        // A restore finds no archive when the killed one had already removed it.
        ASSERT_EQ(relaunch.exitStatus, asRun || archiveLeft ? 0 : 1)
            << "kill point " << kill << (asRun ? " (run)" : " (restore)") << "\n"
            << relaunch.standardError;
        ASSERT_EQ(testing::CensusDiff(expected, CensusOf(dir, live.Connect())), "")
            << "kill point " << kill << (asRun ? " (run)" : " (restore)") << " at under " << bound
            << " us";
        ASSERT_FALSE(fs::exists(dir.Path("shop/S/move.journal")));
        if (!asRun) {
          EXPECT_FALSE(fs::exists(dir.Path("shop/S/" + month + ".mdb")));
        }
      });
  EXPECT_EQ(tally.killedMidRun, KillPoints());
  std::printf(
      "[ census ] restore, PostgreSQL: %d launches killed mid-restore (%d kills, %d with a "
      "restore journal left), 0 records lost or duplicated\n",
      tally.killedMidRun, tally.kills, journalsLeft);
}

}  // namespace
}  // namespace sa
