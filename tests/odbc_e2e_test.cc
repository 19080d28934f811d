// The real executable on live databases reached through ODBC: PostgreSQL
// (tables with and without a primary key) and a SQLite file through the
// SQLite3 driver. Each run is checked against the built-in backend's run on
// the same generated shop: the same archives, log and census.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>

#include <chrono>
#include <filesystem>
#include <set>

#include "archive/archive_check.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "platform/file_system.h"
#include "sample_shop.h"
#include "shop_copy.h"
#include "support/census.h"
#include "support/odbc_sources.h"
#include "support/program_run.h"
#include "support/small_shop.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

using testing::InstallProgram;
using testing::RunProgram;
using testing::TempDir;

demo::ShopOptions Options(const TempDir& dir) {
  demo::ShopOptions options = testing::SmallShop(dir.path(), {2026, 3, 15});
  options.processName = "proctotalhistorico";
  options.retentionDays = 20;
  return options;
}

// The archives of a folder, by file name.
std::vector<std::string> Archives(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The built-in backend's run on the shop the options make, for reference.
struct Reference {
  TempDir dir;
  testing::Census census;
  std::string log;
  explicit Reference(bool livestock = true) {
    demo::ShopOptions options = Options(dir);
    options.livestock = livestock;
    const demo::ShopFiles files = demo::GenerateShop(options);
    const auto result = RunProgram(InstallProgram(dir.path()));
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    census = testing::TakeCensus(files.dbPath, dir.Path("datos"));
    log = dir.Read("registro.txt");
  }
  std::string Archive(const std::string& name) const { return dir.Path("datos/S/" + name); }
};

// Expects the archives in `folder` to hold what the reference's hold.
void ExpectSameArchives(const Reference& ref, const std::string& folder) {
  const auto names = Archives(ref.dir.Path("datos/S"));
  ASSERT_EQ(Archives(folder), names);
  for (const std::string& name : names) {
    if (name.size() < 4 || name.substr(name.size() - 4) != ".mdb") continue;
    for (const char* table : {"cabecera", "tickets", "gtarti", "GTVacuno", "Cliente"}) {
      const std::string count = std::string("SELECT count(*) FROM ") + table;
      EXPECT_EQ(testing::QueryLong(folder + "/" + name, count),
                testing::QueryLong(ref.Archive(name), count))
          << name << " " << table;
    }
  }
}

// Copies the shop's live tables into `connect` and names it in `fifo`.
void MoveLiveTo(const TempDir& dir, const std::string& connect,
                const std::set<std::string>& keyed) {
  {
    auto from = dbengine::MakeSqliteEngine()->OpenDatabase(dir.Path("datos/live.db"));
    auto to = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                  ->OpenDatabase("ODBC;" + connect);
    demo::CopyTables(*from, *to, keyed);
  }
  std::filesystem::remove(dir.Path("datos/live.db"));
  demo::WriteFifo(dir.path(), "ODBC;" + connect, dir.Path("datos/settings.ini"),
                  "proctotalhistorico");
}

// The census of a run whose live tables are at `connect`.
testing::Census CensusThrough(const TempDir& dir, const std::string& connect) {
  return testing::TakeCensusThrough(connect, dir.Path("back.db"), dir.path());
}

// The tables each server's shop numbers by a primary key: on PostgreSQL two,
// the others moving by tuple identity; MariaDB has no row identity, so all.
std::set<std::string> KeyedOn(testing::Server server) {
  if (server == testing::Server::kPostgres) return {"cabecera", "gtarti"};
  return {"cabecera", "gtarti",  "gthora",  "gtInfVen", "gtsecs",
          "gtvend",   "tickets", "cliente", "GTVacuno"};
}

class ServerEndToEnd : public ::testing::TestWithParam<testing::Server> {};

TEST_P(ServerEndToEnd, ALiveDatabaseOnTheServerGivesTheArchivesOfTheBuiltInBackend) {
  SA_REQUIRE_SERVER(GetParam(), server);
  const Reference ref;
  TempDir dir;
  demo::GenerateShop(Options(dir));
  const auto scratch = testing::MakeScratch(GetParam(), *server);
  MoveLiveTo(dir, scratch->Connect(), KeyedOn(GetParam()));
  const auto result = RunProgram(InstallProgram(dir.path()));
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(dir.Read("registro.txt"), ref.log);
  ExpectSameArchives(ref, dir.Path("S"));
  EXPECT_EQ(testing::CensusDiff(ref.census, CensusThrough(dir, scratch->Connect())), "");
  // A second launch finds nothing more to move.
  ASSERT_EQ(RunProgram(dir.Path("sales-archiver")).exitStatus, 0);
  EXPECT_EQ(testing::CensusDiff(ref.census, CensusThrough(dir, scratch->Connect())), "");
}

INSTANTIATE_TEST_SUITE_P(OdbcEndToEnd, ServerEndToEnd,
                         ::testing::Values(testing::Server::kPostgres, testing::Server::kMariaDb),
                         [](const auto& info) { return testing::ServerName(info.param); });

TEST(OdbcEndToEnd, ASqliteFileThroughItsDriverGivesTheArchivesOfTheBuiltInBackend) {
  const Reference ref;
  TempDir dir;
  const demo::ShopFiles files = demo::GenerateShop(Options(dir));
  demo::WriteFifo(dir.path(), "ODBC;" + testing::SqliteOdbcConnect(files.dbPath),
                  files.settingsPath, "proctotalhistorico");
  const auto result = RunProgram(InstallProgram(dir.path()));
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(dir.Read("registro.txt"), ref.log);
  ExpectSameArchives(ref, dir.Path("S"));
  // The census compares every value exactly: the change given, worked out
  // in floating point, keeps all 17 digits through the driver both ways.
  EXPECT_EQ(testing::CensusDiff(ref.census, testing::TakeCensus(files.dbPath, dir.path())), "");
  testing::Launch restore;
  restore.arguments = {"--restore", "202601"};
  ASSERT_EQ(RunProgram(dir.Path("sales-archiver"), restore).exitStatus, 0);
  EXPECT_FALSE(dir.Exists("S/202601.mdb"));
  EXPECT_GT(testing::QueryLong(files.dbPath, "SELECT count(*) FROM cabecera"), 0);
  EXPECT_EQ(testing::CensusDiff(ref.census, testing::TakeCensus(files.dbPath, dir.path())), "");
}

// A table with nothing to move its records by (no whole-number key, and no
// row identity: a SQLite table WITHOUT ROWID) is refused alone, before any
// month moves: each of its months is logged with its true count and why,
// every other table moves, and no archive is made for a month only it holds.
TEST(OdbcEndToEnd, ATableWithNothingToMoveItsRecordsByIsRefusedAloneAndTheOthersMove) {
  TempDir dir;
  demo::ShopOptions options = Options(dir);
  options.processName = "procsiosi";
  const demo::ShopFiles files = demo::GenerateShop(options);
  std::string create =
      testing::Query(files.dbPath, "SELECT sql FROM sqlite_schema WHERE name = 'gtarti'")[0][0];
  create.replace(create.find("\"gtarti\""), 8, "\"gtarti_k\"");
  create.replace(create.rfind(')'), 1, ", n INTEGER, PRIMARY KEY (FECHA, n)) WITHOUT ROWID");
  testing::Exec(files.dbPath, create +
                                  "; INSERT INTO gtarti_k SELECT *, rowid FROM gtarti; DROP TABLE "
                                  "gtarti; ALTER TABLE gtarti_k RENAME TO gtarti; INSERT INTO "
                                  "gtarti(Modo, FECHA, plu, n) VALUES (1, '2025-06-10 00:00:00', "
                                  "1, 0)");
  // The driver ignores a password; the log masks it all the same.
  const std::string connect = testing::SqliteOdbcConnect(files.dbPath) + ";PWD=hunter2";
  demo::WriteFifo(dir.path(), "ODBC;" + connect, files.settingsPath, "procsiosi");
  const auto before = testing::TakeCensus(files.dbPath, dir.path());

  const auto result = RunProgram(InstallProgram(dir.path()));
  EXPECT_EQ(result.exitStatus, 2) << result.standardError;
  EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, dir.path())), "");
  EXPECT_FALSE(dir.Exists("S/202506.mdb"));
  for (const char* other : {"cabecera WHERE D_FECHA", "tickets WHERE D_FECHA", "gthora WHERE FECHA",
                            "gtInfVen WHERE FECHA", "gtsecs WHERE FECHA", "gtvend WHERE FECHA",
                            "GTVacuno WHERE FECHA"}) {
    EXPECT_EQ(testing::QueryLong(files.dbPath,
                                 std::string("SELECT count(*) FROM ") + other + " < '2026-03-15'"),
              0)
        << other;
  }
  const std::string log = dir.Read("registro.txt");
  const std::string why =
      "motivo: The table has no primary key or row identity to move by. (gtarti in " +
      testing::SqliteOdbcConnect(files.dbPath) +
      ";PWD=***: give it a whole-number primary key; its records stay live)\r\n";
  EXPECT_EQ(log.find("hunter2"), std::string::npos);
  for (const auto& row : testing::Query(files.dbPath,
                                        "SELECT substr(FECHA, 1, 4) || substr(FECHA, 6, 2), "
                                        "count(*) FROM gtarti GROUP BY 1")) {
    const std::string count = std::string(6 - row[1].size(), '0') + row[1];
    EXPECT_NE(log.find("registros no archivados (" + row[0] + "):" + count + "\r\n" + why),
              std::string::npos)
        << row[0] << "\n"
        << log;
  }
}

// The archive check through the SQLite3 driver, as --verify makes it where
// archives are reached through ODBC: the driver lists the tables by name, not
// in their creation order, and a sound archive is sound all the same.
TEST(OdbcEndToEnd, AnArchiveCheckedThroughTheSqliteDriverComparesTablesByName) {
  TempDir dir;
  const demo::ShopFiles files = demo::GenerateShop(Options(dir));
  ASSERT_EQ(RunProgram(InstallProgram(dir.path())).exitStatus, 0);
  const auto driver = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  int archives = 0;
  for (const std::string& name : Archives(dir.Path("datos/S"))) {
    const archive::ArchiveCheck check =
        archive::CheckArchive(*driver, dir.Path("datos/S/" + name), name.substr(0, 6));
    EXPECT_EQ(check.problems, std::vector<std::string>{}) << name;
    EXPECT_EQ(check.tables, 9) << name;
    ++archives;
  }
  EXPECT_GE(archives, 3);
  const std::string first = Archives(dir.Path("datos/S")).front();
  testing::Exec(dir.Path("datos/S/" + first),
                "ALTER TABLE gtarti DROP COLUMN txt_sub; DROP TABLE gthora");
  const archive::ArchiveCheck damaged =
      archive::CheckArchive(*driver, dir.Path("datos/S/" + first), first.substr(0, 6));
  EXPECT_EQ(std::vector<std::string>(damaged.problems.begin(), damaged.problems.begin() + 2),
            (std::vector<std::string>{"table gtarti: field txt_sub is missing",
                                      "table gthora is missing"}));
}

TEST(OdbcEndToEnd, BadConnectionsAreRefusedWithoutShowingThePassword) {
  TempDir dir;
  const demo::ShopFiles files = demo::GenerateShop(Options(dir));
  demo::WriteFifo(dir.path(), "odbc;Driver={No Such Driver};Database=x;Pwd=hunter2",
                  files.settingsPath, "procsiosi");
  const auto unknown = RunProgram(InstallProgram(dir.path()));
  EXPECT_EQ(unknown.exitStatus, 1);
  EXPECT_NE(unknown.standardError.find("Pwd=***"), std::string::npos) << unknown.standardError;
  EXPECT_EQ(unknown.standardError.find("hunter2"), std::string::npos) << unknown.standardError;
  EXPECT_FALSE(dir.Exists("S/move.journal"));

  SA_REQUIRE_POSTGRES(server);
  demo::WriteFifo(dir.path(), "ODBC;" + *server + ";Pwd=not-the-password", files.settingsPath,
                  "procsiosi");
  const auto refused = RunProgram(dir.Path("sales-archiver"));
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_NE(refused.standardError.find("ODBC--connection failed."), std::string::npos)
      << refused.standardError;
  EXPECT_EQ(refused.standardError.find("not-the-password"), std::string::npos);
  const auto log = dir.IsFile("registro.txt") ? dir.Read("registro.txt") : "";
  EXPECT_EQ(log.find("not-the-password"), std::string::npos);
}

// A missing table stops the run there, and a value the archive refuses
// keeps its run live: nothing is lost either way.
TEST(OdbcEndToEnd, AMissingTableAndARefusedValueLeaveTheirRecordsLive) {
  SA_REQUIRE_POSTGRES(server);
  TempDir dir;
  const demo::ShopFiles files = demo::GenerateShop(Options(dir));
  const auto before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  testing::PgSchema schema(*server);
  MoveLiveTo(dir, schema.Connect(), {"cabecera"});
  {
    auto db = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                  ->OpenDatabase("ODBC;" + schema.Connect());
    db->Execute("ALTER TABLE gtarti ALTER COLUMN txt_fam TYPE varchar(300)");
    db->Execute(
        "UPDATE gtarti SET txt_fam = repeat('x', 60) WHERE FECHA = (SELECT min(FECHA) "
        "FROM gtarti)");
    db->Execute("ALTER TABLE tickets RENAME TO tickets_away");
  }
  const auto result = RunProgram(InstallProgram(dir.path()));
  EXPECT_EQ(result.exitStatus, 2) << result.standardError;
  const std::string log = dir.Read("registro.txt");
  EXPECT_NE(log.find("registros no archivados"), std::string::npos) << log;
  // The run stops at the missing table and says so; the tables after it are
  // counted.
  EXPECT_NE(log.find("ejecución detenida (tickets): "), std::string::npos) << log;
  EXPECT_NE(log.find("SELECT * FROM GTVacuno"), std::string::npos) << log;
  EXPECT_NE(result.standardError.find("tickets"), std::string::npos) << result.standardError;
  {
    auto db = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                  ->OpenDatabase("ODBC;" + schema.Connect());
    db->Execute("ALTER TABLE tickets_away RENAME TO tickets");
  }
  auto census = CensusThrough(dir, schema.Connect());
  // The records given long article names were changed by the test itself.
  auto expected = before;
  expected.erase("gtarti");
  census.erase("gtarti");
  EXPECT_EQ(testing::CensusDiff(expected, census), "");
}

// The server drops the run's connections while it runs, as a network or a
// restarted server would: the run fails with an engine error, nothing is
// lost, and the next launch completes the work.
TEST(OdbcEndToEnd, AConnectionLostMidRunLosesNothing) {
  SA_REQUIRE_POSTGRES(server);
  TempDir dir;
  const demo::ShopFiles files = demo::GenerateShop(Options(dir));
  const auto before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  testing::PgSchema schema(*server);
  MoveLiveTo(dir, schema.Connect(), {"tickets"});
  const std::string program = InstallProgram(dir.path());
  auto admin = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                   ->OpenDatabase("ODBC;" + *server);
  int lost = 0;
  for (int attempt = 0; attempt < 20 && lost == 0; ++attempt) {
    const pid_t pid = testing::StartProgram(program);
    usleep(static_cast<useconds_t>(100000 + 50000 * attempt));
    admin->Execute(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" +
        schema.Name() + "'");
    if (testing::WaitProgram(pid) != 0) ++lost;
  }
  EXPECT_EQ(lost, 1) << "no run was cut short";
  int status = -1;
  for (int attempt = 0; attempt < 3 && status != 0; ++attempt) {
    status = RunProgram(program).exitStatus;
  }
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(dir.Exists("S/move.journal"));
  EXPECT_EQ(testing::CensusDiff(before, CensusThrough(dir, schema.Connect())), "");
}

// Another session holds a row lock on a ticket line past the run's wait for
// it (10 s): the run does not wait for ever; that line's month stays live,
// the others move, and nothing is lost.
TEST(OdbcEndToEnd, ARowLockHeldByAnotherSessionIsWaitedForTenSecondsAtMost) {
  SA_REQUIRE_POSTGRES(server);
  TempDir dir;
  const demo::ShopFiles files = demo::GenerateShop(Options(dir));
  const auto before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  testing::PgSchema schema(*server);
  MoveLiveTo(dir, schema.Connect(), {"tickets"});
  dbengine::odbc::Connection holder(std::make_shared<dbengine::odbc::Environment>(),
                                    schema.Connect(), schema.Name());
  holder.BeginTrans();
  holder.ExecDirect("SELECT * FROM tickets WHERE id = (SELECT max(id) FROM tickets) FOR UPDATE");
  const auto start = std::chrono::steady_clock::now();
  const auto result = RunProgram(InstallProgram(dir.path()), 60);
  const auto waited = std::chrono::steady_clock::now() - start;
  holder.EndTrans(false);
  EXPECT_EQ(result.exitStatus, 2) << result.standardError;
  EXPECT_GE(waited, std::chrono::seconds(10));
  EXPECT_LT(waited, std::chrono::seconds(40));
  EXPECT_NE(result.standardError.find("locked by another program"), std::string::npos)
      << result.standardError;
  EXPECT_NE(dir.Read("registro.txt").find("registros no archivados ("), std::string::npos)
      << dir.Read("registro.txt");
  EXPECT_EQ(testing::CensusDiff(before, CensusThrough(dir, schema.Connect())), "");
  ASSERT_EQ(RunProgram(dir.Path("sales-archiver")).exitStatus, 0);
  EXPECT_EQ(testing::CensusDiff(before, CensusThrough(dir, schema.Connect())), "");
}

}  // namespace
}  // namespace sa
