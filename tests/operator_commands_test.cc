// The operator commands of the real executable on real shops: what a dry run
// announces is what the run then moves; --verify passes what a run made and
// names each kind of damage; a restore puts every record back exactly once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "archive/schema.h"
#include "platform/file_system.h"
#include "sample_shop.h"
#include "support/census.h"
#include "support/operator_output.h"
#include "support/program_run.h"
#include "support/program_shop.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;
using testing::RunProgram;
using testing::TempDir;

using Shop = testing::ProgramShop;

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

// The runs a log leaves live, per table and month.
std::map<testing::TableMonth, long> KeptInLog(const std::vector<std::string>& lines) {
  std::map<testing::TableMonth, long> kept;
  std::string table;
  for (const std::string& line : lines) {
    if (line.rfind("SELECT * FROM ", 0) == 0) table = line.substr(14, line.find(' ', 14) - 14);
    const std::string prefix = "registros no archivados (";
    if (line.rfind(prefix, 0) == 0) {
      kept[{table, line.substr(prefix.size(), 6)}] = std::stol(line.substr(prefix.size() + 8));
    }
  }
  return kept;
}

// A dry run reads every record of the runs it expects to move: a run the
// archive would refuse (a text too long, a number out of range) is shown as
// staying live with its reason, and the run then leaves exactly those live.
// A file where the archive folder belongs is said too.
TEST(OperatorCommands, ADryRunShowsTheRunsTheArchiveWouldRefuseAsStayingLive) {
  Shop shop;
  testing::Exec(shop.Live(), "UPDATE gtsecs SET txt_fam = '" + std::string(40, 'x') +
                                 "' WHERE rowid = (SELECT min(rowid) FROM gtsecs WHERE FECHA LIKE "
                                 "'2024-04-%'); UPDATE gtarti SET plu = 99999 WHERE rowid = "
                                 "(SELECT min(rowid) FROM gtarti WHERE FECHA LIKE '2024-03-%')");
  const auto dry = shop.Run({"--dry-run"});
  EXPECT_EQ(dry.exitStatus, 2) << dry.standardOutput;
  const testing::DryRunAnnounced announced = testing::ReadDryRun(dry.standardOutput);
  ASSERT_EQ(announced.kept.size(), 2u) << dry.standardOutput;
  EXPECT_NE(testing::LineStartingWith(dry.standardOutput, "gtsecs    202404")
                .find("stay live: The field is too small to accept the amount of data you "
                      "attempted to add. (field gtsecs.txt_fam, value \"xxxx"),
            std::string::npos)
      << dry.standardOutput;
  EXPECT_NE(testing::LineStartingWith(dry.standardOutput, "gtarti    202403")
                .find("stay live: Numeric field overflow. (field gtarti.plu, value \"99999\")"),
            std::string::npos)
      << dry.standardOutput;

  EXPECT_EQ(shop.Run().exitStatus, 2);
  EXPECT_EQ(KeptInLog(shop.LogLines()), announced.kept);
  EXPECT_EQ(testing::ArchivedRecords(shop.dir.Path("datos/S")), announced.records);

  Shop fileS;
  fileS.dir.Write("datos/S", "not a folder");
  const auto stopped = fileS.Run({"--dry-run"});
  EXPECT_EQ(stopped.exitStatus, 2);
  EXPECT_EQ(testing::LineStartingWith(stopped.standardOutput, "The run would stop at "),
            "The run would stop at 202402: The archive folder S is a file, not a folder: no "
            "archive can be made in it. (" +
                fileS.dir.Path("datos/S") + ")");
  EXPECT_TRUE(testing::ReadDryRun(stopped.standardOutput).records.empty());
}

// --verify reads every value against its field, and reports what is named
// like an archive but is none: a folder, a link to nothing, a pipe, another
// spelling of the name.
TEST(OperatorCommands, VerifyNamesValuesTheFieldsCannotHoldAndEntriesThatAreNoArchives) {
  Shop shop;
  ASSERT_EQ(shop.Run().exitStatus, 0);
  testing::Exec(shop.Archive("202403"), "UPDATE gtsecs SET peso = 'abc' WHERE rowid = 1");
  testing::Exec(shop.Archive("202404"),
                "UPDATE gtsecs SET txt_fam = '" + std::string(300, 'y') + "' WHERE rowid = 1");
  testing::Exec(shop.Archive("202405"), "UPDATE cabecera SET ticketabono = 99999999999");
  shop.dir.MakeFolder("datos/S/202301.mdb");
  fs::create_symlink("gone.mdb", shop.dir.Path("datos/S/202302.mdb"));
  ASSERT_EQ(mkfifo(shop.dir.Path("datos/S/202303.mdb").c_str(), 0644), 0);
  fs::copy_file(shop.Archive("202406"), shop.dir.Path("datos/S/202304.MDB"));

  const auto result = shop.Run({"--verify"});
  EXPECT_EQ(result.exitStatus, 2);
  const std::string out = result.standardOutput;
  auto lineOf = [&](const std::string& name) {
    return testing::LineStartingWith(out, "S/" + name + ":");
  };
  EXPECT_EQ(lineOf("202301.mdb"),
            "S/202301.mdb: NOT SOUND: a folder where an archive file belongs; a run that reaches "
            "202301 stops there");
  EXPECT_EQ(lineOf("202302.mdb").rfind("S/202302.mdb: NOT SOUND: a link to nothing where", 0), 0u)
      << out;
  EXPECT_NE(lineOf("202303.mdb").find("a named pipe"), std::string::npos) << out;
  EXPECT_EQ(lineOf("202304.MDB")
                .rfind("S/202304.MDB: NOT SOUND: named like an archive but spelt "
                       "otherwise; a run looks for 202304.mdb",
                       0),
            0u)
      << out;
  EXPECT_EQ(lineOf("202403.mdb"),
            "S/202403.mdb: NOT SOUND: table gtsecs: 1 record(s) hold a value their field cannot, "
            "e.g. Data type conversion error. (field gtsecs.peso, value \"abc\")");
  EXPECT_NE(lineOf("202404.mdb").find("too small"), std::string::npos) << out;
  EXPECT_NE(lineOf("202404.mdb").find("(300 characters)"), std::string::npos) << out;
  EXPECT_EQ(lineOf("202405.mdb").rfind("S/202405.mdb: NOT SOUND: table cabecera: ", 0), 0u) << out;
  EXPECT_NE(
      lineOf("202405.mdb")
          .find("Numeric field overflow. (field cabecera.ticketabono, value \"99999999999\")"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("9 archive(s) checked: 2 sound, 7 not sound."), std::string::npos) << out;
}

TEST(OperatorCommands, ArchiveRestoreArchiveAgainGivesTheSameArchivesAndLiveTables) {
  for (const char* mode : {"delete", "wal"}) {
    Shop shop(mode);
    const auto census = shop.TakeCensus();
    ASSERT_EQ(shop.Run().exitStatus, 0);
    const auto archived = testing::ArchiveRows(shop.dir.Path("datos/S"));
    const auto liveArchived = shop.LiveCensus();
    ASSERT_EQ(testing::CensusDiff(census, shop.TakeCensus()), "");

    const auto restore = shop.Run({"--restore", "202404"});
    ASSERT_EQ(restore.exitStatus, 0) << restore.standardError << restore.standardOutput;
    EXPECT_EQ(testing::CensusDiff(census, shop.TakeCensus()), "") << mode;
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
    EXPECT_EQ(testing::CensusDiff(census, shop.TakeCensus()), "") << mode;
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
  const auto census = shop.TakeCensus();
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
  const auto withBlocker = shop.TakeCensus();

  const auto result = shop.Run({"--restore", "202403"});
  EXPECT_EQ(result.exitStatus, 2) << result.standardError;
  EXPECT_EQ(testing::CensusDiff(withBlocker, shop.TakeCensus()), "");
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
  const auto census = shop.TakeCensus();
  const long tickets = testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM tickets");
  const long gtsecs = testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM gtsecs");
  testing::Exec(shop.Live(),
                "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = replace(sql, "
                "'\"PRICE\" DOUBLE', '\"PRICE\" INTEGER') WHERE name = 'tickets'; "
                "UPDATE sqlite_schema SET sql = replace(sql, '\"tiquets\" SMALLINT', "
                "'\"tiquets\" BOOLEAN') WHERE name = 'gtsecs'");

  const auto result = shop.Run({"--restore", "202403"});
  EXPECT_EQ(result.exitStatus, 2) << result.standardError;
  EXPECT_EQ(testing::CensusDiff(census, shop.TakeCensus()), "");
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
  EXPECT_EQ(testing::CensusDiff(census, shop.TakeCensus()), "");
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
  // No archive of the month: said so, exit 1, and the last log left alone.
  const auto none = shop.Run({"--restore", "201001"});
  EXPECT_EQ(none.exitStatus, 1);
  EXPECT_NE(none.standardError.find("201001"), std::string::npos);
  EXPECT_EQ(shop.dir.Read("registro.txt"), "old log");
}

// A person's command says the cause alone, never the host launch's
// messages; the host's launch keeps them.
TEST(OperatorCommands, ACommandThatCannotStartSaysWhyInItsOwnWords) {
  Shop shop;
  shop.dir.MakeFolder("carpeta");
  const struct {
    std::vector<std::string> args;
    std::string said;
  } cases[] = {
      {{"--fifo", shop.dir.Path("none")}, shop.dir.Path("none") + ": no such file\n"},
      {{"--dry-run", "--fifo", shop.dir.Path("carpeta")},
       shop.dir.Path("carpeta") + ": not an ordinary file (a folder)\n"},
  };
  for (const auto& c : cases) {
    const auto result = shop.Run(c.args);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, c.said);
  }
  demo::WriteFifo(shop.dir.path(), shop.dir.Path("carpeta/live.db"), shop.files.settingsPath,
                  "procsiosi");
  const auto verify = shop.Run({"--dry-run"});
  EXPECT_EQ(verify.exitStatus, 1);
  EXPECT_EQ(verify.standardError.rfind("Could not find file.\n", 0), 0u) << verify.standardError;
  const auto run = shop.Run();
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.standardError.rfind("Este programa s\xC3\xB3lo puede ser ejecutado desde "
                                    "Brelna+\nCould not find file.\n",
                                    0),
            0u)
      << run.standardError;
}

// One run at a time per program folder, and per data folder: while another
// run holds them, a run, a restore, --verify and --dry-run each wait, then
// refuse naming the folder, having changed nothing; so does a launch from
// another program folder whose `fifo` names the same live database.
TEST(OperatorCommands, WhileAnotherRunHoldsTheFoldersEveryLaunchWaitsThenRefuses) {
  Shop shop;
  ASSERT_EQ(shop.Run().exitStatus, 0);
  ASSERT_EQ(shop.Run({"--restore", "202403"}).exitStatus, 0);  // records a run would move
  shop.dir.Write("registro.txt", "old log");
  const std::string other = testing::InstallProgram(shop.dir.Path("otro"));
  demo::WriteFifo(shop.dir.Path("otro"), shop.Live(), shop.files.settingsPath, "procsiosi");
  const auto census = shop.TakeCensus();
  const auto live = shop.LiveCensus();
  const auto archives = testing::ArchiveRows(shop.dir.Path("datos/S"));

  platform::FileSystem& fs = platform::RealFileSystem();
  const auto programHeld = fs.LockFolder(shop.dir.path(), std::chrono::milliseconds(0));
  const auto dataHeld = fs.LockFolder(shop.dir.Path("datos"), std::chrono::milliseconds(0));
  testing::Launch fromOther;
  fromOther.arguments = {"--dry-run"};
  const pid_t otherPid = testing::StartProgram(other, fromOther, shop.dir.Path("otro.err"));
  std::vector<testing::Launch> launches(4);
  launches[1].arguments = {"--restore", "202404"};
  launches[2].arguments = {"--verify"};
  launches[3].arguments = {"--dry-run"};
  const auto started = std::chrono::steady_clock::now();
  const auto results = testing::RunTogether(shop.program, launches);
  EXPECT_EQ(testing::WaitProgram(otherPid), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(9));

  const std::string inUse = "Another run of sales-archiver is using this folder.\n";
  const std::string held = ": another run still held it after 10 s\n";
  EXPECT_EQ(results[0].exitStatus, 1);
  EXPECT_EQ(results[0].standardError,
            "Este programa s\xC3\xB3lo puede ser ejecutado desde Brelna+\n" + inUse +
                shop.dir.path() + held);
  for (size_t i = 1; i < results.size(); ++i) {
    EXPECT_EQ(results[i].exitStatus, 1) << launches[i].arguments[0];
    EXPECT_EQ(results[i].standardError, inUse + shop.dir.path() + held);
    EXPECT_EQ(results[i].standardOutput, "");
  }
  EXPECT_EQ(shop.dir.Read("otro.err"), inUse + shop.dir.Path("datos") + held);
  EXPECT_EQ(shop.dir.Read("registro.txt"), "old log");
  EXPECT_EQ(testing::CensusDiff(census, shop.TakeCensus()), "");
  EXPECT_EQ(testing::CensusDiff(live, shop.LiveCensus()), "");
  EXPECT_EQ(testing::ArchiveRowsDiff(archives, testing::ArchiveRows(shop.dir.Path("datos/S"))), "");
}

// Two restores of one month at once: the second waits for the first and
// then finds nothing left to restore; every record is in one place, once.
TEST(OperatorCommands, TwoRestoresOfOneMonthAtOnceRestoreItOnce) {
  Shop shop;
  ASSERT_EQ(shop.Run().exitStatus, 0);
  const auto census = shop.TakeCensus();
  const long march = testing::QueryLong(shop.Archive("202403"), "SELECT count(*) FROM tickets");
  std::vector<testing::Launch> launches(2);
  launches[0].arguments = launches[1].arguments = {"--restore", "202403"};
  const auto results = testing::RunTogether(shop.program, launches);
  std::multiset<int> statuses;
  for (const auto& r : results) statuses.insert(r.exitStatus);
  EXPECT_EQ(statuses, (std::multiset<int>{0, 1}))
      << results[0].standardError << results[1].standardError;
  EXPECT_EQ(testing::CensusDiff(census, shop.TakeCensus()), "");
  EXPECT_EQ(testing::QueryLong(shop.Live(), "SELECT count(*) FROM tickets"), march);
  EXPECT_NE(shop.dir.Read("registro.txt").find("tickets registros restaurados:"),
            std::string::npos);
}

// A restore of the month a run is appending to, started while it does:
// the restore waits for the run instead of taking the archive away under it
// ("attempt to write a readonly database"), and every record stays in one
// place.
TEST(OperatorCommands, ARestoreStartedDuringARunWaitsForIt) {
  TempDir dir;
  demo::ShopOptions options;
  options.folder = dir.path();
  // Sales up to the 20th of last month; the first run keeps the days after
  // the 10th live, and the next appends them to last month's archive.
  const time_t now = time(nullptr);
  tm cut{};
  localtime_r(&now, &cut);
  cut.tm_mon -= 1;
  cut.tm_mday = 10;
  cut.tm_hour = 12;
  const time_t cutTime = mktime(&cut);
  options.today = {cut.tm_year + 1900, cut.tm_mon + 1, 20};
  options.months = 1;
  options.ticketsPerDay = 1000;
  options.retentionDays = static_cast<int>((now - cutTime) / 86400);
  const demo::ShopFiles files = demo::GenerateShop(options);
  const std::string program = testing::InstallProgram(dir.path());
  ASSERT_EQ(RunProgram(program).exitStatus, 0);
  std::string month;
  for (const auto& entry : fs::directory_iterator(dir.Path("datos/S"))) {
    month = std::max(month, entry.path().stem().string());
  }
  demo::WriteFifo(dir.path(), files.dbPath, files.settingsPath, "procsiosi");
  const auto census = testing::TakeCensus(files.dbPath, dir.Path("datos"));

  dir.Write("registro.txt", "old log");
  const pid_t run = testing::StartProgram(program, {}, dir.Path("run.err"));
  // Started as soon as the run has begun: it has removed the old log.
  int runStatus = -1;
  bool ended = false;
  while (!ended && FileBytes(dir.Path("registro.txt")) == "old log") {
    int status = 0;
    ended = ::waitpid(run, &status, WNOHANG) == run;
    if (ended) runStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  testing::Launch restore;
  restore.arguments = {"--restore", month};
  const auto restored = RunProgram(program, restore);
  if (!ended) runStatus = testing::WaitProgram(run);
  EXPECT_EQ(runStatus, 0) << dir.Read("run.err");
  EXPECT_EQ(restored.exitStatus, 0) << restored.standardError;
  EXPECT_EQ(testing::CensusDiff(census, testing::TakeCensus(files.dbPath, dir.Path("datos"))), "");
  EXPECT_FALSE(dir.Exists("datos/S/" + month + ".mdb"));
}

}  // namespace
}  // namespace sa
