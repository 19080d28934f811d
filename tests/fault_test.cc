// Fails the engine at chosen operations of a whole archive run (every one,
// or an even spread of them), then runs again with a sound engine: every
// record must end in exactly one place, whatever failed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "core/error.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "platform/file_system.h"
#include "progress/progress_window.h"
#include "run/commands.h"
#include "sample_shop.h"
#include "support/census.h"
#include "support/faulty_engine.h"
#include "support/shop_run.h"
#include "support/small_shop.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;

class FaultTest : public ::testing::TestWithParam<const char*> {
 protected:
  // Failures here are engine errors, not crashes: memory-backed files test
  // the same paths as disk files, many times faster.
  static void SetUpTestSuite() {
    if (fs::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
  }
  int Run(dbengine::Engine& engine, const std::string& shop) {
    return run_.Run(engine, dir_.Path(shop));
  }
  // A shop of two months in "template", its archive folder made as start-up
  // makes it.
  void MakeTemplate() {
    demo::ShopOptions options = testing::SmallShop(dir_.Path("template"), run_.clock.today, 2, 2);
    options.journalMode = GetParam();
    demo::GenerateShop(options);
    fs::create_directories(dir_.Path("template/datos/S"));
  }
  // "shop": a fresh copy of the template.
  void FreshShop() {
    fs::remove_all(dir_.Path("shop"));
    fs::copy(dir_.Path("template"), dir_.Path("shop"), fs::copy_options::recursive);
  }

  testing::TempDir dir_;
  testing::ShopRun run_{{}, testing::FakeClock({2024, 3, 20})};
};

TEST_P(FaultTest, AFailureAtAnyEngineOperationLosesNothing) {
  MakeTemplate();
  const auto census =
      testing::TakeCensus(dir_.Path("template/datos/live.db"), dir_.Path("template/datos"));

  FreshShop();
  testing::FaultyEngine counting(dbengine::MakeSqliteEngine(2000));
  ASSERT_EQ(Run(counting, "shop"), 0);
  const long operations = counting.Count();
  // SA_FAULT_EVERY=1 fails each operation in turn (a long run).
  const char* every = std::getenv("SA_FAULT_EVERY");
  const long step =
      every != nullptr ? std::max(1L, std::atol(every)) : std::max(1L, operations / 100);
  int failedRuns = 0;
  for (long n = 1; n <= operations; n += step) {
    FreshShop();
    testing::FaultyEngine faulty(dbengine::MakeSqliteEngine(2000));
    faulty.FailAt(n);
    if (Run(faulty, "shop") != 0) ++failedRuns;
    const auto sound = dbengine::MakeSqliteEngine(2000);
    ASSERT_EQ(Run(*sound, "shop"), 0) << "after a failure at operation " << n;
    ASSERT_EQ(testing::CensusDiff(census, testing::TakeCensus(dir_.Path("shop/datos/live.db"),
                                                              dir_.Path("shop/datos"))),
              "")
        << "after a failure at operation " << n;
  }
  EXPECT_GT(failedRuns, 0);
  std::printf(
      "[ faults ] %s: %ld operations, failures injected every %ld, 0 records lost or doubled\n",
      GetParam(), operations, step);
}

// A restore failed at each engine operation in turn, then done again with a
// sound engine: every record is back live exactly once.
TEST_P(FaultTest, ARestoreFailingAtAnyEngineOperationLosesNothing) {
  MakeTemplate();
  const auto sound = dbengine::MakeSqliteEngine(2000);
  ASSERT_EQ(Run(*sound, "template"), 0);
  const auto census =
      testing::TakeCensus(dir_.Path("template/datos/live.db"), dir_.Path("template/datos"));
  auto restore = [&](dbengine::Engine& engine) {
    LaunchParams params;
    params.dataFolder = dir_.Path("shop/datos");
    params.dbPath = dir_.Path("shop/datos/live.db");
    Settings settings;
    settings.livestockEnabled = true;
    testing::FakeProgressDisplay display;
    progress::ProgressWindow form(display);
    const run::RunContext ctx{engine,           platform::RealFileSystem(),
                              run_.messages,    platform::RealStandardError(),
                              run_.clock,       form,
                              params,           settings,
                              dir_.Path("shop")};
    std::ostringstream out;
    try {
      return run::RestoreMonth(ctx, "202402", out);
    } catch (const Error&) {
      return -1;  // the live database did not open
    }
  };

  FreshShop();
  testing::FaultyEngine counting(dbengine::MakeSqliteEngine(2000));
  ASSERT_EQ(restore(counting), 0);
  const long operations = counting.Count();
  ASSERT_GT(operations, 10);
  int failed = 0;
  for (long n = 1; n <= operations; ++n) {
    FreshShop();
    testing::FaultyEngine faulty(dbengine::MakeSqliteEngine(2000));
    faulty.FailAt(n);
    if (restore(faulty) != 0) ++failed;
    const bool left = fs::exists(dir_.Path("shop/datos/S/202402.mdb"));
    ASSERT_EQ(restore(*sound), left ? 0 : 1) << "after a failure at operation " << n;
    ASSERT_FALSE(fs::exists(dir_.Path("shop/datos/S/202402.mdb")));
    ASSERT_EQ(testing::CensusDiff(census, testing::TakeCensus(dir_.Path("shop/datos/live.db"),
                                                              dir_.Path("shop/datos"))),
              "")
        << "after a failure at operation " << n;
  }
  EXPECT_GT(failed, 0);
  std::printf(
      "[ faults ] restore, %s: each of %ld operations failed in turn, 0 records lost or "
      "doubled\n",
      GetParam(), operations);
}

INSTANTIATE_TEST_SUITE_P(JournalModes, FaultTest, ::testing::Values("delete", "wal"));

}  // namespace
}  // namespace sa
