// The operator commands of the real executable with the live database on a
// server through ODBC: PostgreSQL (some tables keyed, the others moved by
// tuple identity) and MariaDB (every table keyed): a dry run announces what
// the run then moves; --verify passes the archives a run made and names a
// damaged one; a restore puts every record back exactly once, and keeps a
// table whose records the live database refuses, or would not hold exactly,
// whole in the archive.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "platform/file_system.h"
#include "sample_shop.h"
#include "shop_copy.h"
#include "support/census.h"
#include "support/odbc_sources.h"
#include "support/operator_output.h"
#include "support/program_run.h"
#include "support/small_shop.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;

CivilDate Today() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

using testing::Server;

// The tables each server's shop numbers by a primary key: on PostgreSQL
// those asked for, the others moving by tuple identity; MariaDB has no row
// identity, so all.
std::set<std::string> KeyedOn(Server server, const std::set<std::string>& keyed) {
  if (server == Server::kPostgres) return keyed;
  return {"cabecera", "gtarti",  "gthora",  "gtInfVen", "gtsecs",
          "gtvend",   "tickets", "cliente", "GTVacuno"};
}

// A shop of four months with livestock whose live tables are in a database
// of their own on the server (`keyed` ones numbered by a primary key), its
// program installed beside `fifo`, its archives in S beside the program.
struct ServerShop {
  ServerShop(Server kind, const std::string& server, const std::set<std::string>& keyed,
             const std::string& process = "procsiosi", CivilDate today = {2024, 6, 20})
      : scratch(testing::MakeScratch(kind, server)) {
    demo::ShopOptions options = testing::SmallShop(dir.path(), today);
    options.processName = process;
    const demo::ShopFiles files = demo::GenerateShop(options);
    {
      auto from = dbengine::MakeSqliteEngine()->OpenDatabase(files.dbPath);
      auto to = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                    ->OpenDatabase("ODBC;" + scratch->Connect());
      demo::CopyTables(*from, *to, KeyedOn(kind, keyed));
    }
    fs::remove(files.dbPath);
    demo::WriteFifo(dir.path(), "ODBC;" + scratch->Connect(), files.settingsPath, process);
    program = testing::InstallProgram(dir.path());
  }
  std::string Archive(const std::string& month) const { return dir.Path("S/" + month + ".mdb"); }
  testing::Census Census() const {
    return testing::TakeCensusThrough(scratch->Connect(), dir.Path("back.db"), dir.path());
  }
  // The live records only.
  testing::Census LiveCensus() const {
    return testing::TakeCensusThrough(scratch->Connect(), dir.Path("back.db"), dir.Path("none"));
  }
  testing::ProgramResult Run(const std::vector<std::string>& args = {}) const {
    testing::Launch launch;
    launch.arguments = args;
    return testing::RunProgram(program, launch);
  }
  // Runs `sql` on the live database (names as the engine's SQL writes them).
  void Live(const std::string& sql) const {
    dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
        ->OpenDatabase("ODBC;" + scratch->Connect())
        ->Execute(sql);
  }
  long LiveCount(const std::string& sql) const {
    auto db = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                  ->OpenDatabase("ODBC;" + scratch->Connect());
    auto rs = db->OpenRecordset(sql);
    if (rs->Eof()) return 0;
    rs->MoveLast();
    return rs->RecordCount();
  }

  testing::TempDir dir;
  std::unique_ptr<testing::ScratchDatabase> scratch;
  std::string program;
};

// The statement that gives a live column another type, in the server's
// dialect.
std::string RetypeSql(Server server, const std::string& table, const std::string& column,
                      const std::string& type) {
  return server == Server::kPostgres
             ? "ALTER TABLE " + table + " ALTER COLUMN " + column + " TYPE " + type
             : "ALTER TABLE " + table + " MODIFY " + column + " " + type;
}

class ServerCommands : public ::testing::TestWithParam<Server> {};

TEST_P(ServerCommands, ADryRunAnnouncesWhatTheRunThenMoves) {
  SA_REQUIRE_SERVER(GetParam(), server);
  // Today's date, so that the retention days keep the last weeks live.
  ServerShop shop(GetParam(), *server, {"cabecera"}, "proctotalhistorico", Today());
  shop.dir.Write("registro.txt", "old log");
  const auto before = shop.Census();

  const auto dry = shop.Run({"--dry-run"});
  ASSERT_EQ(dry.exitStatus, 0) << dry.standardError;
  EXPECT_EQ(dry.standardError, "");
  EXPECT_FALSE(shop.dir.Exists("S"));
  EXPECT_EQ(shop.dir.Read("registro.txt"), "old log");
  EXPECT_EQ(testing::CensusDiff(before, shop.Census()), "");
  // The live database is named with its password masked.
  EXPECT_NE(dry.standardOutput.find("Dry run: records dated 2000-01-01 to "), std::string::npos);
  const size_t pwd = dbengine::LowerAscii(*server).find("pwd=");
  if (pwd != std::string::npos) {
    const std::string secret = server->substr(pwd + 4, server->find(';', pwd) - pwd - 4);
    EXPECT_EQ(dry.standardOutput.find(secret), std::string::npos) << dry.standardOutput;
    EXPECT_NE(dry.standardOutput.find("=***"), std::string::npos) << dry.standardOutput;
  }

  const testing::DryRunAnnounced announced = testing::ReadDryRun(dry.standardOutput);
  ASSERT_GT(announced.records.size(), 20u) << dry.standardOutput;

  const auto run = shop.Run();
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;
  const auto moved = testing::ArchivedRecords(shop.dir.Path("S"));
  long total = 0;
  for (const auto& [key, n] : moved) total += n;
  EXPECT_EQ(announced.records, moved);
  EXPECT_EQ(announced.total, total);
  EXPECT_EQ(testing::CensusDiff(before, shop.Census()), "");
  // Some records stay live: the dry run's window was the run's.
  EXPECT_GT(shop.LiveCount("SELECT * FROM tickets"), 0);
}

TEST(OdbcOperatorCommands, VerifyPassesTheArchivesOfAPostgresRunAndNamesADamagedOne) {
  SA_REQUIRE_POSTGRES(server);
  ServerShop shop(Server::kPostgres, *server, {"tickets"});
  ASSERT_EQ(shop.Run().exitStatus, 0);
  const auto sound = shop.Run({"--verify"});
  EXPECT_EQ(sound.exitStatus, 0) << sound.standardOutput;
  EXPECT_NE(sound.standardOutput.find("S/202403.mdb: sound (9 tables, "), std::string::npos)
      << sound.standardOutput;
  EXPECT_NE(sound.standardOutput.find("5 archive(s) checked: 5 sound, 0 not sound."),
            std::string::npos)
      << sound.standardOutput;

  testing::Exec(shop.Archive("202402"), "ALTER TABLE gtarti DROP COLUMN txt_sub");
  const auto damaged = shop.Run({"--verify"});
  EXPECT_EQ(damaged.exitStatus, 2);
  EXPECT_NE(damaged.standardOutput.find(
                "S/202402.mdb: NOT SOUND: table gtarti: field txt_sub is missing\n"),
            std::string::npos)
      << damaged.standardOutput;
  EXPECT_NE(damaged.standardOutput.find("5 archive(s) checked: 4 sound, 1 not sound."),
            std::string::npos)
      << damaged.standardOutput;
}

// Archived, taken back, archived again: the same archives and live tables as
// after the first run, every record in exactly one place at each step, for
// keyed tables (cabecera, tickets) and those moved by tuple identity.
TEST_P(ServerCommands, ArchiveRestoreArchiveAgainGivesTheSameArchives) {
  SA_REQUIRE_SERVER(GetParam(), server);
  ServerShop shop(GetParam(), *server, {"cabecera", "tickets"});
  const auto census = shop.Census();
  ASSERT_EQ(shop.Run().exitStatus, 0);
  ASSERT_EQ(testing::CensusDiff(census, shop.Census()), "");
  const auto archived = testing::ArchiveRows(shop.dir.Path("S"));
  const auto liveArchived = shop.LiveCensus();

  const auto restore = shop.Run({"--restore", "202404"});
  ASSERT_EQ(restore.exitStatus, 0) << restore.standardError << restore.standardOutput;
  EXPECT_EQ(testing::CensusDiff(census, shop.Census()), "");
  EXPECT_FALSE(shop.dir.Exists("S/202404.mdb"));
  EXPECT_FALSE(shop.dir.Exists("S/move.journal"));
  EXPECT_NE(restore.standardOutput.find("S/202404.mdb removed"), std::string::npos)
      << restore.standardOutput;
  const long april = shop.LiveCount(
      "SELECT * FROM tickets WHERE D_FECHA >= #2024-04-01# AND D_FECHA < #2024-05-01#");
  EXPECT_GT(april, 0);
  EXPECT_EQ(shop.LiveCount("SELECT * FROM tickets"), april);
  EXPECT_GT(
      shop.LiveCount("SELECT * FROM gtarti WHERE fecha >= #2024-04-01# AND fecha < #2024-05-01#"),
      0);

  ASSERT_EQ(shop.Run().exitStatus, 0);
  EXPECT_EQ(testing::CensusDiff(census, shop.Census()), "");
  EXPECT_EQ(testing::CensusDiff(liveArchived, shop.LiveCensus()), "");
  EXPECT_EQ(testing::ArchiveRowsDiff(archived, testing::ArchiveRows(shop.dir.Path("S"))), "");
}

TEST_P(ServerCommands, ARestoreKeepsWhatTheLiveDatabaseRefusesWhole) {
  SA_REQUIRE_SERVER(GetParam(), server);
  ServerShop shop(GetParam(), *server, {"gtvend"});
  ASSERT_EQ(shop.Run().exitStatus, 0);
  const std::string arc = shop.Archive("202403");
  const long gthora = testing::QueryLong(arc, "SELECT count(*) FROM gthora");
  const long gtvend = testing::QueryLong(arc, "SELECT count(*) FROM gtvend");
  // The live hour field has become too short for the archived hours, and a
  // live vendor total holds the key of an archived one.
  shop.Live(RetypeSql(GetParam(), "gthora", "HORA", "varchar(2)"));
  shop.Live(
      "CREATE UNIQUE INDEX vend_key ON gtvend (fecha, ident_vend, codi_ident, Modo, "
      "secc_maqui)");
  const auto first = testing::Query(arc,
                                    "SELECT fecha, ident_vend, codi_ident, Modo, secc_maqui FROM "
                                    "gtvend ORDER BY rowid LIMIT 1")[0];
  shop.Live("INSERT INTO gtvend (fecha, ident_vend, codi_ident, Modo, secc_maqui) VALUES ('" +
            first[0] + "'," + first[1] + "," + first[2] + "," + first[3] + "," + first[4] + ")");
  const auto withBlocker = shop.Census();

  const auto result = shop.Run({"--restore", "202403"});
  EXPECT_EQ(result.exitStatus, 2) << result.standardError;
  EXPECT_EQ(testing::CensusDiff(withBlocker, shop.Census()), "");
  EXPECT_EQ(testing::QueryLong(arc, "SELECT count(*) FROM gthora"), gthora);
  EXPECT_EQ(testing::QueryLong(arc, "SELECT count(*) FROM gtvend"), gtvend);
  EXPECT_EQ(testing::QueryLong(arc, "SELECT count(*) FROM tickets"), 0);
  EXPECT_FALSE(shop.dir.Exists("S/move.journal"));
  const std::string out = result.standardOutput;
  auto lineOf = [&](const std::string& table) {
    return testing::LineStartingWith(out, table + " ");
  };
  EXPECT_NE(lineOf("gthora").find(std::to_string(gthora) +
                                  " records stay in the archive: The field is too small"),
            std::string::npos)
      << out;
  EXPECT_NE(lineOf("gtvend").find("stay in the archive: The changes were not made because they "
                                  "would create duplicate values"),
            std::string::npos)
      << out;
  const std::string log = shop.dir.Read("registro.txt");
  EXPECT_NE(log.find("gtvend registros no restaurados:" +
                     std::string(6 - std::to_string(gtvend).size(), '0') + std::to_string(gtvend)),
            std::string::npos)
      << log;
}

// Live columns narrower than the archive's: weights (three decimals) into
// two, times of day into dates. Those tables stay whole in their archive,
// saying why, instead of coming back rounded (before, on PostgreSQL, the
// archive even kept its originals while the changed copies went live, to
// be archived again); the others come back, and the archive stays, saying
// what it still holds.
TEST_P(ServerCommands, ARestoreBringsEveryValueBackExactlyOrKeepsItsTable) {
  SA_REQUIRE_SERVER(GetParam(), server);
  ServerShop shop(GetParam(), *server, {"cabecera", "tickets"});
  ASSERT_EQ(shop.Run().exitStatus, 0);
  const auto census = shop.Census();
  const std::string arc = shop.Archive("202403");
  const long tickets = testing::QueryLong(arc, "SELECT count(*) FROM tickets");
  const long cabecera = testing::QueryLong(arc, "SELECT count(*) FROM cabecera");
  shop.Live(RetypeSql(GetParam(), "tickets", "WEIGHT",
                      GetParam() == Server::kPostgres ? "numeric(10,2)" : "DECIMAL(10,2)"));
  shop.Live(RetypeSql(GetParam(), "cabecera", "d_hora", "date"));

  const auto result = shop.Run({"--restore", "202403"});
  EXPECT_EQ(result.exitStatus, 2) << result.standardError;
  EXPECT_EQ(testing::CensusDiff(census, shop.Census()), "");
  EXPECT_EQ(testing::QueryLong(arc, "SELECT count(*) FROM tickets"), tickets);
  EXPECT_EQ(testing::QueryLong(arc, "SELECT count(*) FROM cabecera"), cabecera);
  EXPECT_EQ(testing::QueryLong(arc, "SELECT count(*) FROM gtarti"), 0);
  const std::string out = result.standardOutput;
  for (const char* table : {"tickets ", "cabecera "}) {
    EXPECT_NE(testing::LineStartingWith(out, table).find("would not come back exactly"),
              std::string::npos)
        << out;
  }
  EXPECT_NE(out.find("S/202403.mdb kept: it still holds records"), std::string::npos) << out;
  // Nothing of those tables went live, rounded or not.
  EXPECT_EQ(shop.LiveCount("SELECT * FROM tickets"), 0);
  EXPECT_EQ(shop.LiveCount("SELECT * FROM cabecera"), 0);
}

// A person's command against a server says what went wrong there, the
// password masked; a restore that cannot start leaves the last log alone.
TEST(OdbcOperatorCommands, ACommandThatCannotReachTheServerSaysWhyAndLeavesTheLog) {
  SA_REQUIRE_POSTGRES(server);
  ServerShop shop(Server::kPostgres, *server, {"cabecera", "tickets"});
  ASSERT_EQ(shop.Run().exitStatus, 0);
  shop.dir.Write("registro.txt", "old log");
  const std::pair<std::string, std::string> cases[] = {
      {";Port=1", "Connection refused"},
      {";Pwd={wrong;pass}", "password authentication failed"},
  };
  for (const auto& [change, said] : cases) {
    demo::WriteFifo(shop.dir.path(), "ODBC;" + shop.scratch->Connect() + change,
                    shop.dir.Path("datos/settings.ini"), "procsiosi");
    const auto result = shop.Run({"--restore", "202403"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError.rfind("ODBC--connection failed.\n", 0), 0u)
        << result.standardError;
    EXPECT_NE(result.standardError.find(said), std::string::npos) << result.standardError;
    EXPECT_EQ(result.standardError.find("wrong"), std::string::npos) << result.standardError;
    EXPECT_EQ(shop.dir.Read("registro.txt"), "old log");
  }
}

// Two restores of one month at once on a server: the second waits for the
// first, then finds no archive; the month is live once, never twice.
TEST_P(ServerCommands, TwoRestoresOfOneMonthAtOnceRestoreItOnce) {
  SA_REQUIRE_SERVER(GetParam(), server);
  ServerShop shop(GetParam(), *server, {"cabecera", "tickets"});
  ASSERT_EQ(shop.Run().exitStatus, 0);
  const auto census = shop.Census();
  const long march = testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM tickets");
  for (int pair = 0; pair < 3; ++pair) {
    std::vector<testing::Launch> launches(2);
    launches[0].arguments = launches[1].arguments = {"--restore", "202403"};
    const auto results = testing::RunTogether(shop.program, launches);
    std::multiset<int> statuses;
    for (const auto& r : results) statuses.insert(r.exitStatus);
    EXPECT_EQ(statuses, (std::multiset<int>{0, 1}))
        << results[0].standardError << results[1].standardError;
    EXPECT_EQ(testing::CensusDiff(census, shop.Census()), "");
    EXPECT_EQ(shop.LiveCount("SELECT * FROM tickets"), march);
    ASSERT_EQ(shop.Run().exitStatus, 0);  // archived again for the next pair
  }
}

INSTANTIATE_TEST_SUITE_P(OdbcOperatorCommands, ServerCommands,
                         ::testing::Values(Server::kPostgres, Server::kMariaDb),
                         [](const auto& info) { return testing::ServerName(info.param); });

}  // namespace
}  // namespace sa
