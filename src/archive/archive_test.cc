#include "archive/archive.h"

#include <gtest/gtest.h>

#include "archive/schema.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "support/fake_platform.h"
#include "support/faulty_engine.h"
#include "support/live_tables.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa::archive {
namespace {

using ::sa::testing::Exec;
using ::sa::testing::FakeMessageSink;
using ::sa::testing::FaultyEngine;
using ::sa::testing::Query;
using ::sa::testing::QueryLong;
using ::sa::testing::Rows;
using ::sa::testing::TempDir;

Rows TablesOf(const std::string& path) {
  return Query(path,
               "SELECT s.name, (SELECT count(*) FROM pragma_table_info(s.name)) FROM sqlite_schema "
               "AS s WHERE s.type = 'table' ORDER BY s.rowid");
}

class ArchiveTest : public ::testing::Test {
 protected:
  TempDir dir_;
  FakeMessageSink messages_;
  std::unique_ptr<dbengine::Engine> engine_ = dbengine::MakeSqliteEngine(200);
  std::string path_ = dir_.Path("S/202403.mdb");
  void SetUp() override { dir_.MakeFolder("S"); }
};

TEST_F(ArchiveTest, NewArchiveHoldsEveryTableInCreationOrder) {
  CreateMonthArchive(*engine_, platform::RealFileSystem(), messages_, path_, false);
  EXPECT_EQ(TablesOf(path_), (Rows{{"cabecera", "46"},
                                   {"tickets", "33"},
                                   {"gtsecs", "13"},
                                   {"gtvend", "20"},
                                   {"gtarti", "20"},
                                   {"gtInfVen", "13"},
                                   {"gthora", "18"},
                                   {"Cliente", "6"}}));
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_FALSE(platform::RealFileSystem().Exists(PartialArchivePath(path_)));
  EXPECT_EQ(QueryLong(path_, "SELECT count(*) FROM sqlite_schema WHERE type <> 'table'"), 0);

  const std::string withLivestock = dir_.Path("S/202404.mdb");
  CreateMonthArchive(*engine_, platform::RealFileSystem(), messages_, withLivestock, true);
  const Rows tables = TablesOf(withLivestock);
  ASSERT_EQ(tables.size(), 9u);
  EXPECT_EQ(tables[7], (std::vector<std::string>{"GTVacuno", "12"}));
  EXPECT_EQ(tables[8][0], "Cliente");
}

TEST_F(ArchiveTest, EveryFieldHasItsNamePositionAndDeclaredType) {
  CreateMonthArchive(*engine_, platform::RealFileSystem(), messages_, path_, true);
  for (const TableSpec* layout : ArchiveTables(true)) {
    const Rows cols = Query(path_, std::string("SELECT name, type FROM pragma_table_info('") +
                                       layout->name + "') ORDER BY cid");
    ASSERT_EQ(cols.size(), layout->fields.size()) << layout->name;
    for (size_t i = 0; i < cols.size(); ++i) EXPECT_EQ(cols[i][0], layout->fields[i].name);
  }
  // A few that a slip in the lists or the engine would change.
  EXPECT_EQ(Query(path_, "SELECT type FROM pragma_table_info('cabecera') WHERE name = 'factura'"),
            (Rows{{"VARCHAR(15)"}}));
  EXPECT_EQ(Query(path_, "SELECT name, type FROM pragma_table_info('gtInfVen') WHERE cid = 12"),
            (Rows{{"fecha", "DATETIME"}}));
  EXPECT_EQ(Query(path_, "SELECT name, type FROM pragma_table_info('GTVacuno') WHERE cid = 11"),
            (Rows{{"Fecha", "VARCHAR(10)"}}));
  EXPECT_EQ(Query(path_, "SELECT type FROM pragma_table_info('tickets') WHERE name = 'DPT'"),
            (Rows{{"VARCHAR(4)"}}));
  EXPECT_EQ(Query(path_, "SELECT type FROM pragma_table_info('gtsecs') WHERE name = 'tiquets'"),
            (Rows{{"SMALLINT"}}));
  EXPECT_EQ(Query(path_, "SELECT type FROM pragma_table_info('gtvend') WHERE name = 'tiquets'"),
            (Rows{{"DOUBLE"}}));
  EXPECT_EQ(Query(path_, "SELECT type FROM pragma_table_info('cabecera') WHERE name = 'Cobrado'"),
            (Rows{{"BOOLEAN"}}));
  EXPECT_EQ(Query(path_, "SELECT type FROM pragma_table_info('gthora') WHERE name = 'TIQUET'"),
            (Rows{{"INTEGER"}}));
}

TEST_F(ArchiveTest, AFailedTableBuildLeavesNoArchiveAndShowsOneMessage) {
  for (long n = 1; n <= 9; ++n) {
    FaultyEngine engine(dbengine::MakeSqliteEngine(200));
    engine.only = "AppendTableDef";
    engine.FailAt(n);
    FakeMessageSink messages;
    EXPECT_THROW(CreateMonthArchive(engine, platform::RealFileSystem(), messages, path_, true),
                 Error)
        << "table " << n;
    EXPECT_FALSE(platform::RealFileSystem().Exists(path_)) << "table " << n;
    EXPECT_FALSE(platform::RealFileSystem().Exists(PartialArchivePath(path_)));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].message, "Injected failure in AppendTableDef.");
  }
}

TEST_F(ArchiveTest, ACreationThatCannotStartPassesOnWithoutAMessage) {
  dir_.Write("T", "a file where the archive folder should be");
  EXPECT_THROW(CreateMonthArchive(*engine_, platform::RealFileSystem(), messages_,
                                  dir_.Path("T/202401.mdb"), false),
               Error);
  EXPECT_TRUE(messages_.shown.empty());
}

class TransferTest : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    testing::CreateLiveTables(live_);
    Exec(live_,
         "INSERT INTO cliente(cod_cli, nom_cli, data1, data2, data3, data4) VALUES "
         "(1,'Ana','','',NULL,'x'),(2,'Íñigo','a','b','c','d')");
    db_ = engine_->OpenDatabase(live_);
  }
  std::vector<TransferResult> Transfer(const std::string& key, const std::vector<MonthRun>& runs) {
    TransferContext ctx{*engine_, *db_, platform::RealFileSystem(), messages_, dir_.path(), false};
    ctx.recordsPerCommit = recordsPerCommit_;
    return TransferMonth(ctx, key, runs);
  }
  size_t recordsPerCommit_ = 20000;
  TransferResult Customers(const std::string& key, const std::string& name,
                           std::vector<int64_t> keys) {
    return Transfer(key, {{name, std::move(keys), ""}}).at(0);
  }
  std::string live_ = dir_.Path("live.db");
  std::unique_ptr<dbengine::Database> db_;
};

TEST_F(TransferTest, CustomerListReplacesTheArchivedOneAndStaysLive) {
  EXPECT_EQ(Customers("202403", "cliente", {1, 2}).status, 0);
  EXPECT_EQ(Customers("202403", "cliente", {1, 2}).status, 0);
  EXPECT_EQ(QueryLong(path_, "SELECT count(*) FROM Cliente"), 2);
  EXPECT_EQ(Query(path_, "SELECT quote(data1), quote(data3) FROM Cliente ORDER BY cod_cli"),
            (Rows{{"''", "NULL"}, {"'a'", "'c'"}}));
  EXPECT_EQ(QueryLong(live_, "SELECT count(*) FROM cliente"), 2);
  // Only the exact name empties the archived list first.
  EXPECT_EQ(Customers("202403", "Cliente", {1}).status, 0);
  EXPECT_EQ(QueryLong(path_, "SELECT count(*) FROM Cliente"), 3);
}

TEST_F(TransferTest, AnEmptyRunStillCreatesTheArchive) {
  const TransferResult r = Customers("202405", "cliente", {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.moved, 0);
  EXPECT_EQ(QueryLong(dir_.Path("S/202405.mdb"), "SELECT count(*) FROM Cliente"), 0);
}

class BatchTest : public TransferTest, public ::testing::WithParamInterface<size_t> {};

// Whether the month's runs share one commit or take several, the outcome of
// each run is the same.
TEST_P(BatchTest, ARefusedRunStaysLiveWholeWhileTheMonthsOtherRunsMove) {
  recordsPerCommit_ = GetParam();
  Exec(live_,
       "INSERT INTO gthora(FECHA, HORA) VALUES ('2024-03-01 10:00:00', '10'), "
       "('2024-03-02 10:00:00', '11');"
       "INSERT INTO gtsecs(FECHA, Modo, txt_fam) VALUES ('2024-03-01 00:00:00', 1, 'ok'), "
       "('2024-03-02 00:00:00', 2, '" +
           std::string(31, 'x') +
           "');"
           "INSERT INTO gtvend(FECHA) VALUES ('2024-03-03 00:00:00')");
  const auto results =
      Transfer("202403", {{"gthora", {1, 2}, ""}, {"gtsecs", {1, 2}, ""}, {"gtvend", {1}, ""}});
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].status, 0);
  EXPECT_EQ(results[0].moved, 2);
  EXPECT_EQ(results[1].status, 1);
  ASSERT_TRUE(results[1].failure.has_value());
  EXPECT_EQ(results[1].failure->Number(), dbengine::EngineError::kFieldTooSmall);
  EXPECT_EQ(results[2].status, 0);
  EXPECT_EQ(QueryLong(path_, "SELECT count(*) FROM gthora"), 2);
  EXPECT_EQ(QueryLong(path_, "SELECT count(*) FROM gtsecs"), 0);
  EXPECT_EQ(QueryLong(path_, "SELECT count(*) FROM gtvend"), 1);
  EXPECT_EQ(QueryLong(live_, "SELECT count(*) FROM gthora"), 0);
  EXPECT_EQ(QueryLong(live_, "SELECT count(*) FROM gtsecs"), 2);
  EXPECT_EQ(QueryLong(live_, "SELECT count(*) FROM gtvend"), 0);
}

INSTANTIATE_TEST_SUITE_P(RecordsPerCommit, BatchTest, ::testing::Values(20000, 3, 1));

// Small months share a commit up to its record limit; in WAL, where the move
// journal names one archive, each month goes alone.
TEST_F(TransferTest, LeadingMonthsShareACommitUpToItsRecordLimit) {
  for (const char* mode : {"delete", "wal"}) {
    db_.reset();
    Exec(live_, std::string("DELETE FROM gthora; PRAGMA journal_mode=") + mode);
    Exec(live_,
         "INSERT INTO gthora(rowid, FECHA, HORA) VALUES (1, '2024-01-01 10:00:00', '1'), "
         "(2, '2024-01-02 10:00:00', '2'), (3, '2024-02-01 10:00:00', '3'), "
         "(4, '2024-03-01 10:00:00', '4'), (5, '2024-03-02 10:00:00', '5')");
    db_ = engine_->OpenDatabase(live_);
    const std::vector<MonthWork> months{{"202401", {{"gthora", {1, 2}, ""}}},
                                        {"202402", {{"gthora", {3}, ""}}},
                                        {"202403", {{"gthora", {4, 5}, ""}}}};
    TransferContext ctx{*engine_, *db_, platform::RealFileSystem(), messages_, dir_.path(), false};
    ctx.recordsPerCommit = 4;
    const MonthsTransfer out = TransferMonths(ctx, months);
    EXPECT_FALSE(out.stop.has_value());
    ASSERT_EQ(out.months.size(), mode == std::string("wal") ? 1u : 2u) << mode;
    for (const auto& month : out.months) EXPECT_EQ(month.at(0).status, 0) << mode;
    EXPECT_EQ(QueryLong(live_, "SELECT min(rowid) FROM gthora"), out.months.size() == 1 ? 3 : 4);
    EXPECT_FALSE(dir_.Exists("S/202403.mdb")) << mode;
  }
}

class RedatedTest : public TransferTest, public ::testing::WithParamInterface<const char*> {};

// Between reading a run and moving it, another program re-dates one record
// and deletes another, whose identity a new record then takes: neither the
// re-dated record nor the newcomer is filed under the run's month.
TEST_P(RedatedTest, ARecordNoLongerInItsMonthWhenItMovesStaysLive) {
  db_.reset();
  Exec(live_, std::string("PRAGMA journal_mode=") + GetParam());
  Exec(live_,
       "INSERT INTO gthora(FECHA, HORA) VALUES ('2024-03-01 10:00:00', '1'), "
       "('2024-03-02 10:00:00', '2'), ('2024-03-03 10:00:00', '3')");
  db_ = engine_->OpenDatabase(live_);
  const MonthRun run{"gthora", {1, 2, 3}, "FECHA >= #2024-03-01# AND FECHA < #2024-04-01#"};
  Exec(live_,
       "UPDATE gthora SET FECHA = '2024-04-01 09:00:00' WHERE rowid = 2;"
       "DELETE FROM gthora WHERE rowid = 3;"
       "INSERT INTO gthora(FECHA, HORA) VALUES ('2024-04-02 08:00:00', 'new')");
  ASSERT_EQ(QueryLong(live_, "SELECT rowid FROM gthora WHERE HORA = 'new'"), 3);
  const auto results = Transfer("202403", {run});
  EXPECT_EQ(results.at(0).status, 0);
  EXPECT_EQ(results.at(0).moved, 1);
  EXPECT_EQ(Query(path_, "SELECT HORA FROM gthora"), (Rows{{"1"}}));
  EXPECT_EQ(Query(live_, "SELECT HORA FROM gthora ORDER BY rowid"), (Rows{{"2"}, {"new"}}));
  EXPECT_FALSE(dir_.Exists("S/move.journal"));
}

INSTANTIATE_TEST_SUITE_P(JournalModes, RedatedTest, ::testing::Values("delete", "wal"));

TEST_F(TransferTest, AnArchiveThatCannotBeOpenedPassesTheFailureOn) {
  dir_.Write("S/202406.mdb", "garbage, not a database");
  EXPECT_THROW(Customers("202406", "cliente", {1, 2}), Error);
  EXPECT_EQ(dir_.Read("S/202406.mdb"), "garbage, not a database");
}

}  // namespace
}  // namespace sa::archive
