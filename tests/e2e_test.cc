// The real executable, launched as the host launches it, on real files.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "sample_shop.h"
#include "support/census.h"
#include "support/desktop.h"
#include "support/program_run.h"
#include "support/small_shop.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

using testing::InstallProgram;
using testing::Launch;
using testing::RunProgram;
using testing::TempDir;

// Returns what the program wrote to standard error.
std::string ExpectRefusalWithoutFifo(const Launch& launch) {
  TempDir dir;
  dir.Write("registro.txt", "old log");
  const auto result = RunProgram(InstallProgram(dir.path()), launch);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError.substr(0, 41), "This program must be executed by Brelna+\n");
  EXPECT_FALSE(dir.Exists("registro.txt"));
  return result.standardError;
}

TEST(EndToEnd, RefusesALaunchWithoutFifo) { ExpectRefusalWithoutFifo({}); }

TEST(EndToEnd, AMissingSettingsFileEndsBeforeAnyRun) {
  TempDir dir;
  dir.MakeFolder("datos");
  demo::WriteFifo(dir.path(), dir.Path("datos/live.db"), dir.Path("datos/none.ini"), "procsiosi");
  const auto result = RunProgram(InstallProgram(dir.path()));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError.substr(0, 35), "Error accediendo a zizezivazer.ini\n");
  EXPECT_FALSE(dir.Exists("registro.txt"));
}

TEST(EndToEnd, AJetFileAtTheLivePathIsRefusedAndLeftAlone) {
  TempDir dir;
  std::string jet(4096, '\0');
  jet.replace(4, 15, "Standard Jet DB");
  dir.Write("datos/live.mdb", jet);
  demo::WriteSettings(dir.Path("datos/settings.ini"), false, 0);
  demo::WriteFifo(dir.path(), dir.Path("datos/live.mdb"), dir.Path("datos/settings.ini"),
                  "procsiosi");
  const auto result = RunProgram(InstallProgram(dir.path()));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.standardError.find("Este programa sólo puede ser ejecutado desde Brelna+"),
            std::string::npos);
  EXPECT_NE(result.standardError.find("Jet/Access"), std::string::npos) << result.standardError;
  EXPECT_EQ(dir.Read("datos/live.mdb"), jet);
}

void ExpectShopArchived(const Launch& launch) {
  for (const bool livestock : {false, true}) {
    TempDir dir;
    demo::ShopOptions options = testing::SmallShop(dir.path(), platform::RealClock().Today(), 3, 8);
    options.livestock = livestock;
    options.processName = "proctotalhistorico";
    options.retentionDays = 20;
    const demo::ShopFiles files = demo::GenerateShop(options);
    const auto before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
    const auto result = RunProgram(InstallProgram(dir.path()), launch);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, dir.Path("datos"))),
              "");
    // What stays live is the retention window; the customers stay too.
    const CivilDate cut = CivilFromDays(DaysFromCivil(options.today) - 20);
    const std::string cutText = DateTime::FromDate(cut).ToIso();
    EXPECT_EQ(testing::QueryLong(files.dbPath,
                                 "SELECT count(*) FROM tickets WHERE D_FECHA <= '" + cutText + "'"),
              0);
    EXPECT_GT(testing::QueryLong(files.dbPath, "SELECT count(*) FROM tickets"), 0);
    EXPECT_GT(testing::QueryLong(files.dbPath, "SELECT count(*) FROM cliente"), 0);
    const std::string log = dir.Read("registro.txt");
    size_t queries = 0;
    for (size_t at = 0; (at = log.find("SELECT * FROM", at)) != std::string::npos; ++at) ++queries;
    EXPECT_EQ(queries, livestock ? 9u : 8u);
    // A second launch finds nothing more to move and replaces the customer list.
    ASSERT_EQ(RunProgram(dir.Path("sales-archiver"), launch).exitStatus, 0);
    EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, dir.Path("datos"))),
              "");
  }
}

TEST(EndToEnd, ArchivesAGeneratedShopWithoutLosingARecord) { ExpectShopArchived({}); }

// Without a desktop the program is what it always was: no DISPLAY, or one that
// names no server, gives the same messages and the same run, and nothing
// waits for a click (a wait would hang these launches).
TEST(EndToEnd, NoDisplayOrADisplayNamingNoServerChangesNothing) {
  Launch dead;
  dead.display = testing::DeadDisplay();
  const std::string headless = ExpectRefusalWithoutFifo({});
  EXPECT_EQ(ExpectRefusalWithoutFifo(dead), headless);
  dead.arguments = {"--unattended"};
  EXPECT_EQ(ExpectRefusalWithoutFifo(dead), headless);
  dead.arguments.clear();
  ExpectShopArchived(dead);
}

}  // namespace
}  // namespace sa
