// The operator commands of the real executable on real shops: what a dry run
// announces is what the run then moves; --verify passes what a run made and
// names each kind of damage; a restore puts every record back exactly once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "odb/schema.h"
#include "sample_shop.h"
#include "support/census.h"
#include "support/operator_output.h"
#include "support/program_run.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;
using testing::RunProgram;
using testing::TempDir;

// A shop of four months with livestock, its program installed beside `fifo`.
struct Shop {
  explicit Shop(const std::string& journalMode = "delete", const std::string& process = "procsiosi",
                CivilDate today = {2024, 6, 20}) {
    demo::ShopOptions options;
    options.folder = dir.path();
    options.today = today;
    options.months = 4;
    options.ticketsPerDay = 6;
    options.livestock = true;
    options.journalMode = journalMode;
    options.processName = process;
    files = demo::GenerateShop(options);
    program = testing::InstallProgram(dir.path());
  }
  std::string Live() const { return dir.Path("datos/live.db"); }
  std::string Archive(const std::string& month) const {
    return dir.Path("datos/S/" + month + ".mdb");
  }
  testing::Census Census() const { return testing::TakeCensus(Live(), dir.Path("datos")); }
  // The live records only.
  testing::Census LiveCensus() const { return testing::TakeCensus(Live(), dir.Path("none")); }
  testing::ProgramResult Run(const std::vector<std::string>& args = {}) const {
    testing::Launch launch;
    launch.arguments = args;
    return RunProgram(program, launch);
  }

  TempDir dir;
  demo::ShopFiles files;
  std::string program;
};

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(OperatorCommands, ADryRunAnnouncesWhatTheRunThenMovesAndChangesNothing) {
  // Today's date, so that the retention days keep the last weeks live.
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  Shop shop("delete", "proctotalhistorico",
            {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
  shop.dir.Write("registro.txt", "old log");
  const std::string liveBefore = FileBytes(shop.Live());

  const auto dry = shop.Run({"--dry-run"});
  ASSERT_EQ(dry.exitStatus, 0) << dry.standardError;
  EXPECT_EQ(dry.standardError, "");
  EXPECT_FALSE(shop.dir.Exists("datos/S"));
  EXPECT_EQ(shop.dir.Read("registro.txt"), "old log");
  EXPECT_EQ(FileBytes(shop.Live()), liveBefore);

  const testing::DryRunAnnounced announced = testing::ReadDryRun(dry.standardOutput);
  ASSERT_GT(announced.records.size(), 20u) << dry.standardOutput;
  for (const auto& [key, line] : announced.lines) {
    EXPECT_NE(line.find("(to be created)"), std::string::npos) << line;
  }

  const auto live = demo::CountRecords(shop.Live());
  ASSERT_EQ(shop.Run().exitStatus, 0);
  const auto moved = testing::ArchivedRecords(shop.dir.Path("datos/S"));
  std::string newest;
  for (const auto& [key, n] : moved) newest = std::max(newest, key.second);
  EXPECT_EQ(announced.records, moved);
  EXPECT_EQ(announced.customersTo, "S/" + newest + ".mdb");
  long total = 0;
  for (const auto& [key, n] : moved) total += n;
  long gone = 0;
  for (const auto& [table, n] : demo::CountRecords(shop.Live())) gone += live.at(table) - n;
  EXPECT_EQ(gone, total);

  // With the archives there, the next dry run of everything up to today
  // says which exist.
  demo::WriteFifo(shop.dir.path(), shop.Live(), shop.files.settingsPath, "procsiosi");
  const auto again = shop.Run({"--dry-run"});
  ASSERT_EQ(again.exitStatus, 0);
  EXPECT_NE(again.standardOutput.find("S/" + newest + ".mdb (exists)"), std::string::npos)
      << again.standardOutput;
}

TEST(OperatorCommands, VerifyPassesARunsArchivesAndNamesEachFault) {
  Shop shop;
  ASSERT_EQ(shop.Run().exitStatus, 0);
  const auto sound = shop.Run({"--verify"});
  EXPECT_EQ(sound.exitStatus, 0) << sound.standardOutput;
  EXPECT_EQ(sound.standardOutput.find("NOT SOUND"), std::string::npos);
  EXPECT_NE(sound.standardOutput.find("S/202403.mdb: sound (9 tables, "), std::string::npos)
      << sound.standardOutput;
  EXPECT_NE(sound.standardOutput.find("5 archive(s) checked: 5 sound, 0 not sound."),
            std::string::npos)
      << sound.standardOutput;

  // One fault per archive.
  testing::Exec(shop.Archive("202402"), "ALTER TABLE gtarti DROP COLUMN txt_sub");
  testing::Exec(shop.Archive("202403"),
                "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = replace(sql, "
                "'\"peso\" DOUBLE', '\"peso\" VARCHAR(20)') WHERE name = 'gtsecs'");
  testing::Exec(shop.Archive("202404"),
                "INSERT INTO cabecera SELECT * FROM cabecera LIMIT 1; UPDATE cabecera SET "
                "d_fecha = '2024-05-02 00:00:00' WHERE rowid = (SELECT max(rowid) FROM cabecera)");
  {
    // A page in the middle of the file overwritten.
    const std::string path = shop.Archive("202405");
    const auto size = fs::file_size(path);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(size / 2 / 4096 * 4096));
    const std::string junk(4096, '\x5a');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  shop.dir.Write("datos/S/202407.mdb.partial", "half an archive");
  const std::string before = FileBytes(shop.Archive("202404"));

  const auto result = shop.Run({"--verify"});
  EXPECT_EQ(result.exitStatus, 2);
  const std::string out = result.standardOutput;
  auto lineOf = [&](const std::string& name) {
    return testing::LineStartingWith(out, "S/" + name + ":");
  };
  EXPECT_EQ(lineOf("202402.mdb"),
            "S/202402.mdb: NOT SOUND: table gtarti: field txt_sub is missing");
  EXPECT_EQ(lineOf("202403.mdb"),
            "S/202403.mdb: NOT SOUND: table gtsecs: field peso is text(20), double expected");
  EXPECT_EQ(lineOf("202404.mdb")
                .rfind("S/202404.mdb: NOT SOUND: table cabecera: 1 record(s) "
                       "dated outside 202404, e.g. 2024-05-02",
                       0),
            0u)
      << out;
  EXPECT_NE(lineOf("202405.mdb").find("NOT SOUND"), std::string::npos) << out;
  EXPECT_NE(lineOf("202407.mdb.partial").find("NOT SOUND: a temporary archive"), std::string::npos)
      << out;
  EXPECT_NE(lineOf("202406.mdb").find(": sound"), std::string::npos) << out;
  EXPECT_NE(out.find("5 archive(s) checked: 1 sound, 4 not sound; 1 file(s) left"),
            std::string::npos)
      << out;
  EXPECT_EQ(FileBytes(shop.Archive("202404")), before);
}

TEST(OperatorCommands, ArchiveRestoreArchiveAgainGivesTheSameArchivesAndLiveTables) {
  for (const char* mode : {"delete", "wal"}) {
    Shop shop(mode);
    const auto census = shop.Census();
    ASSERT_EQ(shop.Run().exitStatus, 0);
    const auto archived = testing::ArchiveRows(shop.dir.Path("datos/S"));
    const auto liveArchived = shop.LiveCensus();
    ASSERT_EQ(testing::CensusDiff(census, shop.Census()), "");

    const auto restore = shop.Run({"--restore", "202404"});
    ASSERT_EQ(restore.exitStatus, 0) << restore.standardError << restore.standardOutput;
    EXPECT_EQ(testing::CensusDiff(census, shop.Census()), "") << mode;
    EXPECT_FALSE(shop.dir.Exists("datos/S/202404.mdb"));
    EXPECT_FALSE(shop.dir.Exists("datos/S/move.journal"));
    EXPECT_NE(restore.standardOutput.find("Restored "), std::string::npos);
    const std::string log = shop.dir.Read("registro.txt");
    EXPECT_NE(log.find("tickets registros restaurados:"), std::string::npos) << log;
    EXPECT_NE(log.find("archivo eliminado: " + shop.Archive("202404") + "\r\n"), std::string::npos)
        << log;
    // The month is live again, and only it.
    const long april = testing::QueryLong(
        shop.Live(), "SELECT count(*) FROM tickets WHERE D_FECHA LIKE '2024-04-%'");
    EXPECT_GT(april, 0);
    EXPECT_EQ(testing::QueryLong(shop.Live(), "SELECT count(*) FROM tickets"), april);

    ASSERT_EQ(shop.Run().exitStatus, 0);
    EXPECT_EQ(testing::CensusDiff(census, shop.Census()), "") << mode;
    EXPECT_EQ(testing::CensusDiff(liveArchived, shop.LiveCensus()), "") << mode;
    const auto again = testing::ArchiveRows(shop.dir.Path("datos/S"));
    EXPECT_EQ(testing::ArchiveRowsDiff(archived, again), "") << mode;
    EXPECT_EQ(again.at("202404.mdb").at("Cliente").size(),
              static_cast<size_t>(testing::QueryLong(shop.Live(), "SELECT count(*) FROM cliente")));
  }
}

TEST(OperatorCommands, ARestoreKeepsWhatTheLiveDatabaseRefusesWholeAndLosesNothing) {
  Shop shop;
  ASSERT_EQ(shop.Run().exitStatus, 0);
  const auto census = shop.Census();
  const long gthora = testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM gthora");
  const long gtvend = testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM gtvend");
  // The live hour field has become too short for the archived hours, and a
  // live vendor total holds the key of an archived one.
  testing::Exec(shop.Live(),
                "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = replace(sql, "
                "'\"HORA\" VARCHAR(255)', '\"HORA\" VARCHAR(2)') WHERE name = 'gthora'");
  testing::Exec(shop.Live(),
                "CREATE UNIQUE INDEX vend_key ON gtvend(fecha, ident_vend, codi_ident, Modo, "
                "secc_maqui)");
  const auto first = testing::Query(shop.Archive("202403"),
                                    "SELECT fecha, ident_vend, codi_ident, Modo, secc_maqui FROM "
                                    "gtvend ORDER BY rowid LIMIT 1")[0];
  testing::Exec(shop.Live(),
                "INSERT INTO gtvend(fecha, ident_vend, codi_ident, Modo, secc_maqui) "
                "VALUES ('" +
                    first[0] + "'," + first[1] + "," + first[2] + "," + first[3] + "," + first[4] +
                    ")");
  const auto withBlocker = shop.Census();

  const auto result = shop.Run({"--restore", "202403"});
  EXPECT_EQ(result.exitStatus, 2) << result.standardError;
  EXPECT_EQ(testing::CensusDiff(withBlocker, shop.Census()), "");
  EXPECT_EQ(testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM gthora"), gthora);
  EXPECT_EQ(testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM gtvend"), gtvend);
  EXPECT_EQ(testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM tickets"), 0);
  EXPECT_NE(result.standardOutput.find("gthora"), std::string::npos);
  EXPECT_NE(result.standardOutput.find("gtvend"), std::string::npos);
  EXPECT_NE(result.standardOutput.find("duplicate values"), std::string::npos)
      << result.standardOutput;
  const std::string log = shop.dir.Read("registro.txt");
  EXPECT_NE(log.find("gthora registros no restaurados:" +
                     std::string(6 - std::to_string(gthora).size(), '0') + std::to_string(gthora)),
            std::string::npos)
      << log;
  (void)census;
}

// A live column narrower than the archive's: a price (DOUBLE) become a whole
// number, a count of tickets (SMALLINT) become a boolean. Those tables stay
// whole in their archive, saying why, instead of coming back rounded; the
// others come back; the archive stays, saying what it still holds. An
// archive left holding a table no archive is made with stays too.
TEST(OperatorCommands, ARestoreBringsEveryValueBackExactlyOrKeepsItsTableAndTheArchive) {
  Shop shop;
  ASSERT_EQ(shop.Run().exitStatus, 0);
  const auto census = shop.Census();
  const long tickets = testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM tickets");
  const long gtsecs = testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM gtsecs");
  testing::Exec(shop.Live(),
                "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = replace(sql, "
                "'\"PRICE\" DOUBLE', '\"PRICE\" INTEGER') WHERE name = 'tickets'; "
                "UPDATE sqlite_schema SET sql = replace(sql, '\"tiquets\" SMALLINT', "
                "'\"tiquets\" BOOLEAN') WHERE name = 'gtsecs'");

  const auto result = shop.Run({"--restore", "202403"});
  EXPECT_EQ(result.exitStatus, 2) << result.standardError;
  EXPECT_EQ(testing::CensusDiff(census, shop.Census()), "");
  EXPECT_EQ(testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM tickets"), tickets);
  EXPECT_EQ(testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM gtsecs"), gtsecs);
  EXPECT_EQ(testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM cabecera"), 0);
  const std::string out = result.standardOutput;
  EXPECT_NE(testing::LineStartingWith(out, "tickets ")
                .find("stay in the archive: A value would not come back exactly. (tickets"),
            std::string::npos)
      << out;
  EXPECT_NE(testing::LineStartingWith(out, "gtsecs ").find("would not come back exactly"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("S/202403.mdb kept: it still holds records (tickets " +
                     std::to_string(tickets) + ", gtsecs " + std::to_string(gtsecs) + ")"),
            std::string::npos)
      << out;
  EXPECT_NE(shop.dir.Read("registro.txt").find("archivo conservado: " + shop.Archive("202403")),
            std::string::npos);

  testing::Exec(shop.Archive("202404"),
                "CREATE TABLE notas (texto VARCHAR(50)); INSERT INTO notas VALUES ('inventario')");
  const auto other = shop.Run({"--restore", "202404"});
  EXPECT_EQ(other.exitStatus, 2) << other.standardOutput;  // tickets and gtsecs again
  EXPECT_NE(other.standardOutput.find("notas 1)"), std::string::npos) << other.standardOutput;
  EXPECT_TRUE(shop.dir.IsFile("datos/S/202404.mdb"));
  EXPECT_EQ(testing::CensusDiff(census, shop.Census()), "");
}

TEST(OperatorCommands, UsageErrorsTouchNothing) {
  Shop shop;
  shop.dir.Write("registro.txt", "old log");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--restore"},
                                             {"--restore", "2024-04"},
                                             {"--frobnicate"},
                                             {"--dry-run", "--restore", "202404"}}) {
    const auto result = shop.Run(args);
    EXPECT_EQ(result.exitStatus, 1) << args[0];
    EXPECT_EQ(result.standardError.rfind("sales-archiver: ", 0), 0u) << result.standardError;
    EXPECT_EQ(result.standardOutput, "");
  }
  EXPECT_EQ(shop.dir.Read("registro.txt"), "old log");
  EXPECT_FALSE(shop.dir.Exists("datos/S"));

  const auto help = shop.Run({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.standardOutput.find("--verify"), std::string::npos);
  EXPECT_EQ(shop.Run({"--version"}).standardOutput.rfind("sales-archiver ", 0), 0u);
  // No archive of the month: said so, exit 1.
  const auto none = shop.Run({"--restore", "201001"});
  EXPECT_EQ(none.exitStatus, 1);
  EXPECT_NE(none.standardError.find("201001"), std::string::npos);
}

}  // namespace
}  // namespace sa
