// What registro.txt says about a run of the real executable that did not
// move everything: why each run stayed live, where and why the run stopped,
// every table it did not reach still counted month by month, and records no
// date window places. Attended or unattended, the log is the same.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/program_shop.h"
#include "support/sqlite_probe.h"

namespace sa {
namespace {

namespace fs = std::filesystem;
using testing::ProgramShop;

const std::vector<std::string> kDatedTables = {"cabecera", "gtarti",  "gthora",  "gtInfVen",
                                               "gtsecs",   "tickets", "GTVacuno"};

// The lines of the log that follow `first` (a line starting so) up to the
// next query.
std::vector<std::string> BlockOf(const std::vector<std::string>& lines, const std::string& first) {
  std::vector<std::string> block;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(first, 0) != 0) continue;
    for (++i; i < lines.size() && lines[i].rfind("SELECT ", 0) != 0; ++i) block.push_back(lines[i]);
  }
  return block;
}

TEST(RunLog, AStoppedRunSaysWhereAndWhyAndCountsEveryRecordItLeftLive) {
  std::string attended;
  for (const bool unattended : {false, true}) {
    ProgramShop shop;
    // A text too long for its archive field in April, then a missing table.
    testing::Exec(shop.Live(), "UPDATE gtsecs SET txt_fam = '" + std::string(40, 'x') +
                                   "' WHERE rowid = (SELECT min(rowid) FROM gtsecs WHERE FECHA "
                                   "LIKE '2024-04-%'); DROP TABLE gtvend");
    const auto result = shop.Run(unattended ? std::vector<std::string>{"--unattended"}
                                            : std::vector<std::string>{});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("gtvend"), std::string::npos) << result.standardError;
    const auto lines = shop.LogLines();

    const auto gtsecs = BlockOf(lines, "SELECT * FROM gtsecs ");
    ASSERT_GE(gtsecs.size(), 3u);
    EXPECT_EQ(gtsecs[1].rfind("registros no archivados (202404):", 0), 0u) << gtsecs[1];
    EXPECT_EQ(gtsecs[2],
              "motivo: The field is too small to accept the amount of data you attempted to add. "
              "(gtsecs into " +
                  shop.Archive("202404") + "; field gtsecs.txt_fam, value \"" +
                  std::string(40, 'x') + "\")");
    EXPECT_EQ(BlockOf(lines, "SELECT * FROM gtvend "),
              std::vector<std::string>{
                  "ejecución detenida (gtvend): Cannot find the input table or query. (table "
                  "gtvend in " +
                  shop.Live() + ")"});
    // The tables after the stop are read and counted, month by month.
    const auto tickets = BlockOf(lines, "SELECT * FROM tickets ");
    ASSERT_EQ(tickets.size(), 11u);
    EXPECT_EQ(tickets[0].rfind("número de registros:", 0), 0u);
    EXPECT_EQ(tickets[1].rfind("registros no archivados (202402):", 0), 0u);
    EXPECT_EQ(tickets[2], "motivo: ejecución detenida (gtvend)");
    EXPECT_EQ(
        BlockOf(lines, "SELECT * FROM cliente"),
        (std::vector<std::string>{"número de registros:000025",
                                  "lista de clientes no copiada: ejecución detenida (gtvend)"}));
    EXPECT_EQ(BlockOf(lines, "SELECT * FROM GTVacuno").size(), 11u);

    // Each run left live has its reason, and together they are every record
    // left live in the window.
    long kept = 0;
    const std::regex keptLine("registros no archivados \\(\\d{6}\\):(\\d{6,})");
    for (size_t i = 0; i < lines.size(); ++i) {
      std::smatch m;
      if (!std::regex_match(lines[i], m, keptLine)) continue;
      kept += std::stol(m[1]);
      ASSERT_LT(i + 1, lines.size());
      EXPECT_EQ(lines[i + 1].rfind("motivo: ", 0), 0u) << lines[i + 1];
    }
    long live = 0;
    for (const std::string& table : kDatedTables) {
      live += testing::QueryLong(shop.Live(), "SELECT count(*) FROM " + table);
    }
    EXPECT_GT(live, 0);
    EXPECT_EQ(kept, live);

    // The same log, whether someone watches the run or not.
    std::string log = shop.dir.Read("registro.txt");
    for (size_t at; (at = log.find(shop.dir.path())) != std::string::npos;) {
      log.replace(at, shop.dir.path().size(), "<shop>");
    }
    if (!unattended) attended = log;
    EXPECT_EQ(log, attended);
  }
}

TEST(RunLog, RecordsNoDateWindowPlacesAreCountedAndChangeNoExitStatus) {
  ProgramShop shop;
  testing::Exec(shop.Live(),
                "UPDATE gtarti SET FECHA = CASE rowid % 5 WHEN 0 THEN NULL WHEN 1 THEN '' "
                "WHEN 2 THEN 'no es fecha' WHEN 3 THEN '01/08/2023' ELSE 45000 END "
                "WHERE rowid <= 5");
  const auto dry = shop.Run({"--dry-run"});
  EXPECT_EQ(dry.exitStatus, 0) << dry.standardOutput;
  EXPECT_NE(dry.standardOutput.find("gtarti    -             5  stay live: no date a window can "
                                    "place"),
            std::string::npos)
      << dry.standardOutput;

  const auto result = shop.Run();
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  const auto gtarti = BlockOf(shop.LogLines(), "SELECT * FROM gtarti ");
  ASSERT_EQ(gtarti.size(), 2u);
  EXPECT_EQ(gtarti[1], "registros con fecha ilegible:000005");
  EXPECT_EQ(testing::QueryLong(shop.Live(), "SELECT count(*) FROM gtarti"), 5);
}

// The run checks a month's archive name before it builds anything there:
// a folder in its place, or a file named S, stops the run at that month with
// a message naming it, and no temporary archive is left.
TEST(RunLog, AnArchivePlaceThatIsNoFileStopsTheRunAtItsMonthAndSaysWhy) {
  ProgramShop shop;
  shop.dir.MakeFolder("datos/S/202404.mdb");
  const auto result = shop.Run();
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_NE(result.standardError.find(shop.Archive("202404") + ": a folder"), std::string::npos)
      << result.standardError;
  for (const auto& entry : fs::directory_iterator(shop.dir.Path("datos/S"))) {
    EXPECT_NE(entry.path().extension(), ".partial") << entry.path();
  }
  EXPECT_TRUE(shop.dir.IsFile("datos/S/202403.mdb"));
  EXPECT_FALSE(shop.dir.Exists("datos/S/202405.mdb"));
  const auto cabecera = BlockOf(shop.LogLines(), "SELECT * FROM cabecera ");
  ASSERT_GE(cabecera.size(), 4u);
  EXPECT_EQ(cabecera[3],
            "ejecución detenida (cabecera, 202404): The month's archive cannot be made: its name "
            "is taken by something that is not a file. (" +
                shop.Archive("202404") + ": a folder)");
  // The customer list's month was never reached: it is not said to have failed there.
  EXPECT_EQ(BlockOf(shop.LogLines(), "SELECT * FROM cliente").back(),
            "lista de clientes no copiada: ejecución detenida (cabecera, 202404)");

  ProgramShop fileS;
  fileS.dir.Write("datos/S", "not a folder");
  const auto stopped = fileS.Run();
  EXPECT_EQ(stopped.exitStatus, 2);
  EXPECT_EQ(stopped.standardError.find(".partial"), std::string::npos) << stopped.standardError;
  EXPECT_NE(stopped.standardError.find("The archive folder S is a file, not a folder"),
            std::string::npos)
      << stopped.standardError;
  EXPECT_EQ(fileS.dir.Read("datos/S"), "not a folder");
}

}  // namespace
}  // namespace sa
