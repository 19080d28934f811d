// The simulated disk keeps what was synced and only that: the power-loss
// tests prove nothing if it lets too much survive.
#include "support/sim_disk.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "core/error.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa::testing {
namespace {

namespace fs = std::filesystem;

class SimDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.MakeFolder("disk");
    dir_.Write("disk/old.txt", "durable before");
  }

  std::string Disk(const std::string& name) const { return dir_.Path("disk/" + name); }
  std::string After(const std::string& name) const { return dir_.Path("after/" + name); }

  // Runs `work` on a disk whose power fails before event `at`, then builds
  // what survived in "after".
  template <typename Work>
  void CutAfter(Work work, long at, Survival survival, bool torn = false) {
    SimDisk disk(dir_.Path("disk"), {.at = at, .survival = survival, .tornLastWrite = torn});
    try {
      work(disk.Files());
    } catch (const Error&) {
      // The power failed.
    }
    ASSERT_TRUE(disk.PowerFailed());
    disk.Survive(dir_.Path("after"));
  }

  TempDir dir_;
};

TEST_F(SimDiskTest, OnlyWhatWasSyncedSurvivesWhenNothingElseDoes) {
  // Appending creates the file (1), writes (2); the removal (3) and the
  // durable write (4 to 10) are cut at the rename's folder sync (9).
  auto work = [&](platform::FileSystem& files) {
    files.AppendFile(Disk("log.txt"), "not synced");
    files.RemoveFile(Disk("old.txt"));
    files.WriteFileDurably(Disk("state.txt"), "synced");
  };
  CutAfter(work, 9, Survival::kNone);
  EXPECT_FALSE(fs::exists(After("log.txt")));
  EXPECT_EQ(dir_.Read("after/old.txt"), "durable before");
  // The temporary file was synced, but its name never was.
  EXPECT_FALSE(fs::exists(After("state.txt")));
  EXPECT_FALSE(fs::exists(After("state.txt.tmp")));
}

TEST_F(SimDiskTest, ADurableWriteSurvivesOnceItReturns) {
  auto work = [&](platform::FileSystem& files) {
    files.WriteFileDurably(Disk("state.txt"), "synced");
    files.AppendFile(Disk("log.txt"), "x");
  };
  CutAfter(work, 7, Survival::kNone);
  EXPECT_EQ(dir_.Read("after/state.txt"), "synced");
  EXPECT_FALSE(fs::exists(After("state.txt.tmp")));
  EXPECT_FALSE(fs::exists(After("log.txt")));
}

TEST_F(SimDiskTest, AllOrATornLastWriteOfWhatWasNotSynced) {
  const std::string text(3000, 'a');
  auto work = [&](platform::FileSystem& files) {
    files.AppendFile(Disk("log.txt"), text);
    files.RemoveFile(Disk("old.txt"));
    files.MakeFolder(Disk("late"));
  };
  CutAfter(work, 4, Survival::kAll);
  EXPECT_TRUE(dir_.Read("after/log.txt") == text);
  EXPECT_FALSE(fs::exists(After("old.txt")));
  // Again from the start, the power failing during the removal.
  fs::remove_all(dir_.Path("disk"));
  fs::remove_all(dir_.Path("after"));
  SetUp();
  CutAfter(work, 3, Survival::kAll, true);
  EXPECT_LT(dir_.Read("after/log.txt").size(), text.size());
}

TEST_F(SimDiskTest, RandomSurvivalLandsSectorsOnTheirOwn) {
  const std::string text(64 * 512, 'a');
  auto work = [&](platform::FileSystem& files) {
    files.AppendFile(Disk("log.txt"), text);
    files.MakeFolder(Disk("late"));
  };
  CutAfter(work, 3, Survival::kRandom);
  // The name may be lost with the data; when it is kept, some sectors are
  // zeros where the data did not land, and a few did land.
  if (fs::exists(After("log.txt"))) {
    const std::string after = dir_.Read("after/log.txt");
    const auto landed = std::count(after.begin(), after.end(), 'a');
    EXPECT_GT(landed, 0);
    EXPECT_LT(landed, static_cast<long>(text.size()));
    EXPECT_EQ(landed % 512, 0);
  }
}

// SQLite's own syncs decide what survives of a database. A commit in the
// rollback journal's DELETE mode ends with the journal's deletion: with FULL
// synchronisation nothing syncs that deletion, so after a power cut the
// journal is back and rolls the commit back; EXTRA syncs the folder after it.
TEST_F(SimDiskTest, ACommitLastsOnceTheDeletionOfItsJournalIsDurable) {
  for (const std::string sync : {"FULL", "EXTRA"}) {
    fs::remove_all(Disk("t.db"));
    fs::remove_all(Disk("t.db-journal"));
    fs::remove_all(dir_.Path("copy"));
    fs::remove_all(After(""));
    Exec(Disk("t.db"), "CREATE TABLE t(x); INSERT INTO t VALUES (1)");
    fs::copy(dir_.Path("disk"), dir_.Path("copy"), fs::copy_options::recursive);
    // Inserts 2, then 3; the number of events up to the commit of 2.
    auto work = [&](const std::string& folder) {
      sqlite3* conn = nullptr;
      EXPECT_EQ(sqlite3_open((folder + "/t.db").c_str(), &conn), SQLITE_OK);
      const std::string first = "PRAGMA synchronous=" + sync + "; INSERT INTO t VALUES (2)";
      EXPECT_EQ(sqlite3_exec(conn, first.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_exec(conn, "INSERT INTO t VALUES (3)", nullptr, nullptr, nullptr);
      sqlite3_close(conn);
    };
    long committed = 0;
    {
      SimDisk reference(dir_.Path("copy"));
      sqlite3* conn = nullptr;
      ASSERT_EQ(sqlite3_open(dir_.Path("copy/t.db").c_str(), &conn), SQLITE_OK);
      const std::string first = "PRAGMA synchronous=" + sync + "; INSERT INTO t VALUES (2)";
      ASSERT_EQ(sqlite3_exec(conn, first.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      committed = static_cast<long>(reference.Events().size());
      sqlite3_close(conn);
    }
    {
      SimDisk disk(dir_.Path("disk"), {.at = committed + 1, .survival = Survival::kNone});
      work(dir_.Path("disk"));
      ASSERT_TRUE(disk.PowerFailed());
      disk.Survive(dir_.Path("after"));
    }
    EXPECT_EQ(Query(After("t.db"), "SELECT group_concat(x) FROM t"),
              (Rows{{sync == "FULL" ? "1" : "1,2"}}))
        << sync;
  }
}

}  // namespace
}  // namespace sa::testing
