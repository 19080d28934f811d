// Kills the real executable at random instants of an archive run, launches it
// again until it completes, and checks that every record of the shop is in
// exactly one place: still live or in its month's archive. Both journal modes
// of the live database. SA_CRASH_POINTS sets the kill points per mode (a
// short run by default; tests/crash-census.sh runs the long one).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sample_shop.h"
#include "support/census.h"
#include "support/kill_points.h"
#include "support/program_run.h"
#include "support/small_shop.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;

int KillPoints() { return testing::KillPoints("SA_CRASH_POINTS", 12); }

// A shop of four months in "template", whose `fifo` is beside it too.
void MakeTemplate(const testing::TempDir& dir, const char* journalMode, int ticketsPerDay) {
  demo::ShopOptions options =
      testing::SmallShop(dir.Path("template"), {2024, 6, 20}, 4, ticketsPerDay);
  options.journalMode = journalMode;
  demo::GenerateShop(options);
}

// A fresh copy of the shop in `template`, its program installed beside it.
std::string CopyShop(const testing::TempDir& dir, const std::string& name) {
  fs::remove_all(dir.Path(name));
  fs::copy(dir.Path("template"), dir.Path(name), fs::copy_options::recursive);
  const std::string program = testing::InstallProgram(dir.Path(name));
  demo::WriteFifo(dir.Path(name), dir.Path(name + "/datos/live.db"),
                  dir.Path(name + "/datos/settings.ini"), "procsiosi");
  return program;
}

class CrashTest : public ::testing::TestWithParam<const char*> {};

TEST_P(CrashTest, EveryRecordEndsInExactlyOnePlace) {
  // A killed process loses nothing the kernel holds, so memory-backed files
  // test the same instants as disk files, many times faster.
  if (fs::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
  testing::TempDir dir;
  MakeTemplate(dir, GetParam(), 10);
  const auto census =
      testing::TakeCensus(dir.Path("template/datos/live.db"), dir.Path("template/datos"));

  // How long an uninterrupted run takes, to spread the kill points over it.
  const std::string timed = CopyShop(dir, "timed");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(testing::RunProgram(timed).exitStatus, 0);
  const auto full = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_EQ(testing::CensusDiff(census, testing::TakeCensus(dir.Path("timed/datos/live.db"),
                                                            dir.Path("timed/datos"))),
            "");

  const std::string program = dir.Path("shop/sales-archiver");
  const testing::KillTally tally = testing::KillAtRandomInstants(
      KillPoints(), full, 7919u, [&] { return testing::StartProgram(CopyShop(dir, "shop")); },
      [&](int kill, double bound) {
        int status = -1;
        for (int attempt = 0; attempt < 3 && status != 0; ++attempt) {
          status = testing::RunProgram(program).exitStatus;
        }
        ASSERT_EQ(status, 0) << "kill point " << kill;
        ASSERT_EQ(testing::CensusDiff(census, testing::TakeCensus(dir.Path("shop/datos/live.db"),
                                                                  dir.Path("shop/datos"))),
                  "")
            << "kill point " << kill << " at under " << bound << " us";
        ASSERT_FALSE(fs::exists(dir.Path("shop/datos/S/move.journal")));
      });
  EXPECT_EQ(tally.killedMidRun, KillPoints());
  std::printf(
      "[ census ] %s: %d launches killed mid-run (%d kills), 0 records lost or duplicated\n",
      GetParam(), tally.killedMidRun, tally.kills);
}

INSTANTIATE_TEST_SUITE_P(JournalModes, CrashTest, ::testing::Values("delete", "wal"));

// The same for a restore: killed at random instants of `--restore`, then
// relaunched, in turn as a run and as the restore again, every record is in
// exactly one place.
class RestoreCrashTest : public ::testing::TestWithParam<const char*> {};

TEST_P(RestoreCrashTest, EveryRecordEndsInExactlyOnePlace) {
  if (fs::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
  testing::TempDir dir;
  MakeTemplate(dir, GetParam(), 30);
  const std::string month = "202405";
  testing::Launch restore;
  restore.arguments = {"--restore", month};

  auto census = [&](const std::string& name) {
    return testing::TakeCensus(dir.Path(name + "/datos/live.db"), dir.Path(name + "/datos"));
  };
  // The template holds the shop archived.
  ASSERT_EQ(testing::RunProgram(testing::InstallProgram(dir.Path("template"))).exitStatus, 0);
  const auto expected = census("template");

  const std::string timed = CopyShop(dir, "timed");
  const auto start = std::chrono::steady_clock::now();
  const auto first = testing::RunProgram(timed, restore);
  ASSERT_EQ(first.exitStatus, 0) << first.standardError;
  const auto full = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_EQ(testing::CensusDiff(expected, census("timed")), "");
  ASSERT_FALSE(fs::exists(dir.Path("timed/datos/S/" + month + ".mdb")));

  const std::string program = dir.Path("shop/sales-archiver");
  const testing::KillTally tally = testing::KillAtRandomInstants(
      KillPoints(), full, 104729u,
      [&] { return testing::StartProgram(CopyShop(dir, "shop"), restore); },
      [&](int kill, double bound) {
        const bool asRun = kill % 2 == 0;
        const bool archiveLeft = fs::exists(dir.Path("shop/datos/S/" + month + ".mdb"));
        const auto relaunch =
            asRun ? testing::RunProgram(program) : testing::RunProgram(program, restore);
        // A restore finds no archive when the killed one had already removed it.
        ASSERT_EQ(relaunch.exitStatus, asRun || archiveLeft ? 0 : 1)
            << "kill point " << kill << (asRun ? " (run)" : " (restore)") << "\n"
            << relaunch.standardError;
        ASSERT_EQ(testing::CensusDiff(expected, census("shop")), "")
            << "kill point " << kill << (asRun ? " (run)" : " (restore)") << " at under " << bound
            << " us";
        ASSERT_FALSE(fs::exists(dir.Path("shop/datos/S/move.journal")));
        if (!asRun) {
          EXPECT_FALSE(fs::exists(dir.Path("shop/datos/S/" + month + ".mdb")));
        }
      });
  EXPECT_EQ(tally.killedMidRun, KillPoints());
  std::printf(
      "[ census ] restore, %s: %d launches killed mid-restore (%d kills), 0 records lost or "
      "duplicated\n",
      GetParam(), tally.killedMidRun, tally.kills);
}

INSTANTIATE_TEST_SUITE_P(JournalModes, RestoreCrashTest, ::testing::Values("delete", "wal"));

}  // namespace
}  // namespace sa
