// Cuts the power at chosen instants of an archive run on a simulated disk
// (support/sim_disk.h): at sync points and at writes between them, keeping
// none, all, a prefix or a random part of what was not yet synced. The
// machine then reboots into what survived and the program runs again until
// it completes. Every record must then be in exactly one place, every
// database intact, and every archive under a month's name complete.
//
// The shop was archived once before with an earlier "today", so the run
// both appends to an existing archive and creates new ones. Both journal
// modes of the live database. SA_POWER_CUTS sets the cuts per mode (a short
// run by default; tests/power-loss.sh runs the long one).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "archive/schema.h"
#include "boot/startup.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "progress/progress_window.h"
#include "run/run_archive.h"
#include "sample_shop.h"
#include "support/census.h"
#include "support/shop_run.h"
#include "support/sim_disk.h"
#include "support/small_shop.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;
using testing::PowerCut;
using testing::SimDisk;
using testing::Survival;
using EventKind = SimDisk::EventKind;

int PowerCuts() {
  const char* env = std::getenv("SA_POWER_CUTS");
  return env != nullptr ? std::max(1, std::atoi(env)) : 30;
}

const char* SurvivalName(Survival s) {
  switch (s) {
    case Survival::kNone:
      return "none";
    case Survival::kAll:
      return "all";
    case Survival::kPrefix:
      return "prefix";
    case Survival::kRandom:
      return "random";
  }
  return "?";
}

// Keeps the program's complaints about the failing disk off the test's
// output while it lives.
class QuietStandardError {
 public:
  QuietStandardError() : saved_(::dup(2)) {
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, 2);
    ::close(null);
  }
  ~QuietStandardError() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
  }
  QuietStandardError(const QuietStandardError&) = delete;
  QuietStandardError& operator=(const QuietStandardError&) = delete;

 private:
  int saved_;
};

class PowerLossTest : public ::testing::TestWithParam<const char*> {
 protected:
  // The disk is simulated: memory-backed files lose nothing the test needs
  // and spare the real disk thousands of syncs.
  static void SetUpTestSuite() {
    if (fs::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
  }

  // A shop of four months, archived once up to 10 April; the run under test
  // goes up to 20 June: it appends to April's archive and creates May's and
  // June's.
  void SetUp() override {
    root_ = fs::canonical(dir_.path()).string();
    demo::ShopOptions options = testing::SmallShop(Path("template"), {2024, 6, 20});
    options.journalMode = GetParam();
    demo::GenerateShop(options);
    fs::create_directories(Path("template/datos/S"));  // start-up's part
    run_.clock.today = {2024, 4, 10};
    const auto engine = dbengine::MakeSqliteEngine(2000);
    ASSERT_EQ(run_.Run(*engine, Path("template")), 0);
    run_.clock.today = options.today;
    census_ = testing::TakeCensus(Path("template/datos/live.db"), Path("template/datos"));
  }

  std::string Path(const std::string& name) const { return root_ + "/" + name; }

  void FreshShop(const std::string& from = "template") {
    fs::remove_all(Path("shop"));
    fs::copy(Path(from), Path("shop"), fs::copy_options::recursive);
  }

  // Runs on the shop (a fresh copy of it unless `relaunch`) on a simulated
  // disk; when the power fails, the shop's folder becomes what survived.
  // Returns the events.
  std::vector<SimDisk::Event> RunOnSimulatedDisk(const PowerCut& cut, bool* failed = nullptr,
                                                 bool relaunch = false) {
    if (!relaunch) FreshShop();
    std::vector<SimDisk::Event> events;
    {
      SimDisk disk(Path("shop"), cut);
      {
        const QuietStandardError quiet;
        const auto engine = dbengine::MakeSqliteEngine(2000);
        testing::ShopRun run{{}, run_.clock};
        run.files = &disk.Files();
        const int status = run.Run(*engine, Path("shop"));
        if (!disk.PowerFailed() && !relaunch) {
          EXPECT_EQ(status, 0);
        }
      }
      events = disk.Events();
      if (failed != nullptr) *failed = disk.PowerFailed();
      KeepWhatSurvives(disk);
    }
    RebootIntoWhatSurvived();
    return events;
  }

  // After a power cut, builds what survived in "rebooted" (the disk still
  // holds what was synced and what was not).
  void KeepWhatSurvives(SimDisk& disk) {
    if (!disk.PowerFailed()) return;
    fs::remove_all(Path("rebooted"));
    disk.Survive(Path("rebooted"));
  }
  // The machine reboots into what survived, at the same place.
  void RebootIntoWhatSurvived() {
    if (!fs::exists(Path("rebooted"))) return;
    fs::remove_all(Path("shop"));
    fs::rename(Path("rebooted"), Path("shop"));
  }

  // Relaunches until a run completes, then checks where every record is.
  // Empty when all is well, else what is wrong.
  std::string RelaunchAndCheck() {
    int status = -1;
    for (int attempt = 0; attempt < 3 && status != 0; ++attempt) {
      const auto engine = dbengine::MakeSqliteEngine(2000);
      testing::ShopRun run{{}, run_.clock};
      status = run.Run(*engine, Path("shop"));
    }
    if (status != 0) return "the relaunched run ended with " + std::to_string(status);
    std::string wrong = testing::CensusDiff(
        census_, testing::TakeCensus(Path("shop/datos/live.db"), Path("shop/datos")));
    std::vector<std::string> databases{Path("shop/datos/live.db")};
    for (const auto& entry : fs::directory_iterator(Path("shop/datos/S"))) {
      if (entry.path().extension() == ".mdb") databases.push_back(entry.path().string());
    }
    for (const std::string& db : databases) {
      const testing::Rows rows = testing::Query(db, "PRAGMA integrity_check");
      if (rows.size() != 1 || rows[0][0] != "ok") wrong += db + ": damaged\n";
    }
    for (size_t i = 1; i < databases.size(); ++i) {
      for (const archive::TableSpec* table : archive::ArchiveTables(true)) {
        if (testing::QueryLong(databases[i],
                               std::string("SELECT count(*) FROM sqlite_schema WHERE name = '") +
                                   table->name + "'") != 1) {
          wrong += databases[i] + ": no table " + table->name + "\n";
        }
      }
    }
    if (fs::exists(Path("shop/datos/S/move.journal"))) wrong += "a move journal is left\n";
    return wrong;
  }

  testing::TempDir dir_;
  std::string root_;
  testing::ShopRun run_{{}, testing::FakeClock()};
  testing::Census census_;
};

// The archive's commit deletes its rollback journal; until its folder is
// synced, a power cut brings the journal back and the next open rolls the
// archive's insert back. The live deletion must not be durable before that.
TEST_P(PowerLossTest, AnArchiveCommitIsDurableBeforeTheLiveDeletionIs) {
  const std::vector<SimDisk::Event> reference = RunOnSimulatedDisk({});
  const std::string archives = Path("shop/datos/S/");
  size_t at = 0;
  while (at < reference.size() && !(reference[at].kind == EventKind::kRemove &&
                                    reference[at].path.ends_with(".mdb-journal"))) {
    ++at;
  }
  // Cut just before the archive folder is touched again, with nothing
  // unsynced surviving: with a WAL live database, the live deletion that
  // follows the archive's commit is durable by then.
  do {
    ++at;
  } while (at < reference.size() && !reference[at].path.starts_with(archives));
  ASSERT_LT(at, reference.size());
  bool powerFailed = false;
  RunOnSimulatedDisk({.at = static_cast<long>(at) + 1, .survival = Survival::kNone}, &powerFailed);
  ASSERT_TRUE(powerFailed);
  EXPECT_EQ(RelaunchAndCheck(), "");
}

TEST_P(PowerLossTest, EveryRecordSurvivesInExactlyOnePlace) {
  const std::vector<SimDisk::Event> reference = RunOnSimulatedDisk({});
  ASSERT_EQ(RelaunchAndCheck(), "");
  std::vector<long> syncs, writes;
  for (size_t i = 0; i < reference.size(); ++i) {
    const bool sync =
        reference[i].kind == EventKind::kFileSync || reference[i].kind == EventKind::kFolderSync;
    (sync ? syncs : writes).push_back(static_cast<long>(i) + 1);
  }
  ASSERT_FALSE(syncs.empty());
  ASSERT_FALSE(writes.empty());

  // Half the cuts fall on sync points (just before the sync, when the most
  // is pending), every one of them in turn when there are cuts enough, else
  // an even spread; the other half on random writes between them.
  const int cuts = PowerCuts();
  const size_t atSyncs = static_cast<size_t>(cuts + 1) / 2;
  std::mt19937 random(static_cast<unsigned>(cuts) * 7919u + (GetParam()[0] == 'w' ? 1u : 0u));
  int failed = 0;
  int failedTwice = 0;
  for (int n = 0; n < cuts; ++n) {
    PowerCut cut;
    const size_t k = static_cast<size_t>(n / 2);
    if (n % 2 == 0) {
      cut.at =
          atSyncs >= syncs.size() ? syncs[k % syncs.size()] : syncs[k * syncs.size() / atSyncs];
    } else {
      cut.at = writes[std::uniform_int_distribution<size_t>(0, writes.size() - 1)(random)];
    }
    cut.survival = static_cast<Survival>((n / 2 + k / syncs.size()) % 4);
    cut.tornLastWrite = random() % 2 == 0;
    cut.seed = static_cast<uint32_t>(random());
    bool powerFailed = false;
    RunOnSimulatedDisk(cut, &powerFailed);
    if (powerFailed) ++failed;
    // Every third time the power fails again while the relaunched run
    // recovers and goes on.
    PowerCut again;
    if (n % 3 == 2) {
      again.at =
          std::uniform_int_distribution<long>(1, static_cast<long>(reference.size()))(random);
      again.survival = static_cast<Survival>(random() % 4);
      again.tornLastWrite = random() % 2 == 0;
      again.seed = static_cast<uint32_t>(random());
      bool failedAgain = false;
      RunOnSimulatedDisk(again, &failedAgain, true);
      if (failedAgain) ++failedTwice;
    }
    const SimDisk::Event& at = reference[static_cast<size_t>(cut.at) - 1];
    ASSERT_EQ(RelaunchAndCheck(), "")
        << "power cut " << n << " before event " << cut.at << " of " << reference.size() << " ("
        << (at.kind == EventKind::kFileSync     ? "file sync"
            : at.kind == EventKind::kFolderSync ? "folder sync"
            : at.kind == EventKind::kWrite      ? "write"
                                                : "name change")
        << " " << at.path.substr(root_.size()) << "), survival " << SurvivalName(cut.survival)
        << (cut.tornLastWrite ? ", last write torn" : "")
        << (again.at > 0 ? ", again before event " + std::to_string(again.at) +
                               " of the relaunch, survival " + SurvivalName(again.survival)
                         : "");
  }
  // A run takes the same course up to the cut, so every cut lands.
  EXPECT_EQ(failed, cuts);
  long records = 0;
  for (const auto& [table, counts] : census_) {
    for (const auto& [record, n] : counts) records += n;
  }
  std::printf(
      "[ power  ] %s: %ld records; %d power cuts (%zu sync points, %zu writes in a run), %d more "
      "while the relaunch recovered: 0 records lost or duplicated, 0 damaged or incomplete "
      "files\n",
      GetParam(), records, failed, syncs.size(), writes.size(), failedTwice);
}

// Start-up as the host launches it, on its file system: the archive run of
// the parameters it read.
class StartupRun : public boot::ArchiveRunner {
 public:
  StartupRun(platform::FileSystem& files, const std::string& programFolder, CivilDate today)
      : files_(files), programFolder_(programFolder), clock_(today) {}

  int Launch() {
    const boot::StartupPlatform platform{files_, messages_, programFolder_};
    return boot::RunStartup(platform, launch_, settings_, *this);
  }

  int RunArchive(bool upToToday) override {
    const auto engine = dbengine::MakeSqliteEngine(2000);
    testing::FakeProgressDisplay display;
    progress::ProgressWindow form(display);
    const run::RunContext ctx{*engine,       files_, messages_, platform::RealStandardError(),
                              clock_,        form,   launch_,   settings_,
                              programFolder_};
    return run::RunArchive(ctx, upToToday);
  }
  // The host never asks for the operator commands.
  int DryRun(bool) override { return Unexpected(); }
  int VerifyArchives() override { return Unexpected(); }
  int RestoreMonth(const std::string&) override { return Unexpected(); }

 private:
  static int Unexpected() {
    ADD_FAILURE() << "start-up ran an operator command";
    return 1;
  }

  platform::FileSystem& files_;
  std::string programFolder_;
  testing::FakeMessageSink messages_;
  testing::FakeClock clock_;
  LaunchParams launch_;
  Settings settings_;
};

// A shop's first run, from start-up: the archive folder is made during the
// run, so its name must be durable before any live deletion is.
TEST_P(PowerLossTest, AFirstRunFromStartUpLosesNothingAtAnySyncPoint) {
  const CivilDate today{2024, 6, 20};
  demo::ShopOptions options = testing::SmallShop(Path("first"), today, 2, 4);
  options.journalMode = GetParam();
  demo::GenerateShop(options);
  const auto census = testing::TakeCensus(Path("first/datos/live.db"), Path("first/datos"));
  auto fresh = [&] {
    FreshShop("first");
    demo::WriteFifo(Path("shop"), Path("shop/datos/live.db"), Path("shop/datos/settings.ini"),
                    "procsiosi");
  };
  // One launch on the simulated disk; the shop becomes what survived.
  auto launch = [&](const PowerCut& cut) {
    std::vector<SimDisk::Event> events;
    {
      SimDisk disk(Path("shop"), cut);
      {
        const QuietStandardError quiet;
        StartupRun run(disk.Files(), Path("shop"), today);
        const int status = run.Launch();
        if (!disk.PowerFailed()) {
          EXPECT_EQ(status, 0);
        }
      }
      events = disk.Events();
      KeepWhatSurvives(disk);
    }
    RebootIntoWhatSurvived();
    return events;
  };
  fresh();
  const std::vector<SimDisk::Event> reference = launch({});
  std::vector<long> syncs;
  for (size_t i = 0; i < reference.size(); ++i) {
    if (reference[i].kind == EventKind::kFileSync || reference[i].kind == EventKind::kFolderSync) {
      syncs.push_back(static_cast<long>(i) + 1);
    }
  }
  ASSERT_FALSE(syncs.empty());
  for (size_t n = 0; n < syncs.size(); ++n) {
    fresh();
    launch({.at = syncs[n],
            .survival = static_cast<Survival>(n % 4),
            .seed = static_cast<uint32_t>(n)});
    int status = -1;
    for (int attempt = 0; attempt < 3 && status != 0; ++attempt) {
      StartupRun run(platform::RealFileSystem(), Path("shop"), today);
      const QuietStandardError quiet;
      status = run.Launch();
    }
    ASSERT_EQ(status, 0) << "sync point " << syncs[n];
    ASSERT_EQ(testing::CensusDiff(
                  census, testing::TakeCensus(Path("shop/datos/live.db"), Path("shop/datos"))),
              "")
        << "power cut before event " << syncs[n] << " ("
        << reference[static_cast<size_t>(syncs[n]) - 1].path.substr(root_.size()) << "), survival "
        << SurvivalName(static_cast<Survival>(n % 4));
  }
}

INSTANTIATE_TEST_SUITE_P(JournalModes, PowerLossTest, ::testing::Values("delete", "wal"));

}  // namespace
}  // namespace sa
