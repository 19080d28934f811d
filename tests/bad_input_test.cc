// Inputs a shop can throw at the program: each gives a clear error and loses
// nothing. (Values that do not fit, missing tables and fields, and an archive
// folder that is a file are covered with the run; fifo and settings contents
// by the fuzzers.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "dbengine/sqlite/sqlite_engine.h"
#include "sample_shop.h"
#include "support/census.h"
#include "support/faulty_engine.h"
#include "support/program_run.h"
#include "support/shop_run.h"
#include "support/small_shop.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = demo::GenerateShop(testing::SmallShop(dir_.path(), run_.clock.today, 2));
    fs::create_directories(dir_.Path("datos/S"));
    census_ = testing::TakeCensus(files_.dbPath, dir_.Path("datos"));
  }
  std::string Diff() {
    return testing::CensusDiff(census_, testing::TakeCensus(files_.dbPath, dir_.Path("datos")));
  }

  testing::TempDir dir_;
  testing::ShopRun run_{{}, testing::FakeClock({2024, 3, 20})};
  demo::ShopFiles files_;
  testing::Census census_;
};

TEST_F(BadInputTest, AFullArchiveDiskKeepsRecordsLiveUntilThereIsRoom) {
  const auto full = dbengine::MakeSqliteEngine(500, 12);  // a dozen pages per archive
  EXPECT_EQ(run_.Run(*full, dir_.path()), 1);
  EXPECT_EQ(Diff(), "");
  const auto roomy = dbengine::MakeSqliteEngine(500);
  EXPECT_EQ(run_.Run(*roomy, dir_.path()), 0);
  EXPECT_EQ(Diff(), "");
}

TEST_F(BadInputTest, ALiveDatabaseLockedPastTheTimeoutIsNotTouched) {
  sqlite3* other = nullptr;
  sqlite3_open(files_.dbPath.c_str(), &other);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  const auto engine = dbengine::MakeSqliteEngine(300);
  EXPECT_EQ(run_.Run(*engine, dir_.path()), -1);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(Diff(), "");
  EXPECT_TRUE(fs::is_empty(dir_.Path("datos/S")));
}

TEST_F(BadInputTest, ADamagedLiveDatabaseStopsWithItsNameAndCause) {
  const auto size = fs::file_size(files_.dbPath);
  fs::resize_file(files_.dbPath, size / 3);
  const std::string program = testing::InstallProgram(dir_.path());
  demo::WriteFifo(dir_.path(), files_.dbPath, files_.settingsPath, "procsiosi");
  const auto result = testing::RunProgram(program);
  EXPECT_NE(result.exitStatus, 0);
  EXPECT_NE(result.standardError.find("damaged"), std::string::npos) << result.standardError;
  EXPECT_NE(result.standardError.find(files_.dbPath), std::string::npos);
}

TEST_F(BadInputTest, AnEmptyFileOrAFolderAtTheLivePathIsRefused) {
  const std::string program = testing::InstallProgram(dir_.path());
  for (const char* name : {"empty.db", "folder.db"}) {
    if (std::string(name) == "empty.db") {
      dir_.Write(std::string("datos/") + name, "");
    } else {
      dir_.MakeFolder(std::string("datos/") + name);
    }
    demo::WriteFifo(dir_.path(), dir_.Path(std::string("datos/") + name), files_.settingsPath,
                    "procsiosi");
    const auto result = testing::RunProgram(program);
    EXPECT_EQ(result.exitStatus, 1) << name;
    EXPECT_NE(result.standardError.find("Este programa sólo puede ser ejecutado desde Brelna+"),
              std::string::npos);
    EXPECT_NE(result.standardError.find(name), std::string::npos) << result.standardError;
  }
  EXPECT_EQ(Diff(), "");
}

// A crash left a move journal whose archive was then damaged: each launch
// deletes nothing, names the journal and the archive on standard error and in
// the log, and ends with status 2, until the archive is repaired or removed.
TEST(DamagedJournalArchiveTest, EveryLaunchExplainsWhatStaysLive) {
  testing::TempDir dir;
  demo::ShopOptions options = testing::SmallShop(dir.path(), {2024, 3, 20}, 2, 4);
  options.livestock = false;
  options.journalMode = "wal";
  const demo::ShopFiles files = demo::GenerateShop(options);
  fs::create_directories(dir.Path("datos/S"));
  const auto census = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  testing::ShopRun run{{}, testing::FakeClock({2024, 3, 20})};
  testing::FaultyEngine faulty(dbengine::MakeSqliteEngine(2000));
  faulty.only = "DeleteLiveCopied";
  faulty.FailAt(1);
  ASSERT_EQ(run.Run(faulty, dir.path()), 1);
  const std::string journal = dir.Path("datos/S/move.journal");
  ASSERT_TRUE(dir.IsFile("datos/S/move.journal"));
  // The first month's archive, which the journal names, is damaged.
  std::string archive;
  for (const auto& entry : fs::directory_iterator(dir.Path("datos/S"))) {
    if (entry.path().extension() == ".mdb" && (archive.empty() || entry.path() < archive)) {
      archive = entry.path().string();
    }
  }
  ASSERT_FALSE(archive.empty());
  fs::resize_file(archive, 0);
  const auto live = testing::TakeCensus(files.dbPath, dir.Path("datos/none"));

  const std::string program = testing::InstallProgram(dir.path());
  for (int launch = 0; launch < 2; ++launch) {
    const auto result = testing::RunProgram(program, 120);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find(journal), std::string::npos) << result.standardError;
    EXPECT_NE(result.standardError.find(archive), std::string::npos) << result.standardError;
    const std::string log = dir.Read("registro.txt");
    EXPECT_NE(log.find(journal), std::string::npos) << log;
    EXPECT_NE(log.find("hasta que se repare o se retire " + archive), std::string::npos) << log;
    EXPECT_EQ(testing::CensusDiff(live, testing::TakeCensus(files.dbPath, dir.Path("datos/none"))),
              "");
  }
  fs::remove(archive);
  EXPECT_EQ(testing::RunProgram(program, 120).exitStatus, 0);
  EXPECT_EQ(testing::CensusDiff(census, testing::TakeCensus(files.dbPath, dir.Path("datos"))), "");
}

}  // namespace
}  // namespace sa
