// Record sets, transactions and their steps, archive links and records
// named by their bookmarks, as every backend of the engine keeps them
// (engine.h, archive_link.h), on each backend this machine reaches (see
// engine_properties_test.cc).
#include <gtest/gtest.h>

#include "core/error.h"
#include "dbengine/engine.h"
#include "support/engine_backends.h"
#include "support/error_from.h"
#include "support/sqlite_probe.h"

namespace sa::dbengine {
namespace {

using ::sa::testing::BackendTest;
using ::sa::testing::ErrorFrom;

// Sales of a till, written by another program with dates in the forms it
// chose: on a SQLite file they stay as written; a server keeps its own form.
class EngineRecordsets : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    TableDef def = db_->CreateTableDef("ventas");
    def.Fields().Append(def.CreateField("n", FieldType::kLong));
    def.Fields().Append(def.CreateField("D_FECHA", FieldType::kDate));
    db_->AppendTableDef(def);
    backend_->GiveKey(*db_, "ventas");
    backend_->Exec(
        "INSERT INTO ventas (n, \"D_FECHA\") VALUES (3,'2024-03-01 00:00:00'),(1,'2024-02-29 "
        "23:59:59'),"
        "(2,'2024-03-01'),(4,'2024-03-01T00:00:01'),(0,'2024-02-29 00:00:00'),"
        "(5,'1999-12-31 23:59:59'),(6,NULL)");
  }
  std::vector<int64_t> Numbers(const std::string& sql) {
    std::vector<int64_t> out;
    auto rs = db_->OpenRecordset(sql);
    while (!rs->Eof()) {
      out.push_back(std::get<int64_t>(rs->GetValue("N")));
      rs->MoveNext();
    }
    return out;
  }
};

TEST_P(EngineRecordsets, DateLiteralsBoundWholeDaysWhateverTheStoredForm) {
  // Midnight of the upper bound is in; one second later is out, in any form.
  EXPECT_EQ(
      Numbers("SELECT * FROM ventas WHERE d_fecha >= #2000-01-01# AND d_fecha <= #2024-03-01# "
              "ORDER BY n"),
      (std::vector<int64_t>{0, 1, 2, 3}));
  EXPECT_EQ(Numbers("SELECT * FROM ventas WHERE D_FECHA>= #03/01/2024# ORDER BY n"),
            (std::vector<int64_t>{2, 3, 4}));
  EXPECT_EQ(Numbers("SELECT * FROM ventas WHERE D_FECHA < #2000-01-01# ORDER BY n"),
            (std::vector<int64_t>{5}));
  EXPECT_NE(ErrorFrom([&] {
              db_->OpenRecordset("SELECT * FROM ventas WHERE d_fecha >= #2024-13-01#");
            }).Number(),
            0);
}

// The same sales on a SQLite file, the backends where another program can
// store fractions finer than a millisecond: a server's timestamp to the
// millisecond holds milliseconds only, and the server rounds finer fractions
// when they are stored.
class FileRecordsets : public EngineRecordsets {};

// Fractions finer than a millisecond, as another program may write them
// into a SQLite file, round up within their second: never into the next day
// or month, never down onto the second itself.
TEST_P(FileRecordsets, FractionsFinerThanAMillisecondStayInTheirSecond) {
  backend_->Exec(
      "INSERT INTO ventas (n, \"D_FECHA\") VALUES (7,'2024-03-31 23:59:59.9996'),(8,'2024-04-01 "
      "00:00:00.0004'),"
      "(9,'2024-04-01T00:00:00.0000'),(10,'2024-03-31 23:59:59.999')");
  EXPECT_EQ(Numbers("SELECT * FROM ventas WHERE d_fecha >= #2024-03-01# AND d_fecha < "
                    "#2024-04-01# ORDER BY n"),
            (std::vector<int64_t>{2, 3, 4, 7, 10}));
  EXPECT_EQ(Numbers("SELECT * FROM ventas WHERE d_fecha > #2024-04-01# ORDER BY n"),
            (std::vector<int64_t>{8}));
  EXPECT_EQ(Numbers("SELECT * FROM ventas WHERE d_fecha <= #2024-04-01# AND d_fecha >= "
                    "#2024-03-31# ORDER BY n"),
            (std::vector<int64_t>{7, 9, 10}));
}

TEST_P(EngineRecordsets, MovesCountsAndDeletesAsTheCallersExpect) {
  auto rs = db_->OpenRecordset("SELECT * FROM ventas WHERE n <= 4 ORDER BY n");
  EXPECT_EQ(rs->RecordCount(), 1);  // records visited so far
  rs->Move(2);
  EXPECT_EQ(std::get<int64_t>(rs->GetValue(0)), 2);
  EXPECT_EQ(rs->RecordCount(), 3);
  rs->MoveLast();
  EXPECT_EQ(rs->RecordCount(), 5);
  rs->MoveFirst();
  rs->MoveNext();
  rs->Delete();
  EXPECT_EQ(ErrorFrom([&] { rs->GetValue(0); }).Number(), EngineError::kRecordDeleted);
  rs->MoveNext();
  EXPECT_EQ(std::get<int64_t>(rs->GetValue("n")), 2);
  rs->Move(10);
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(ErrorFrom([&] { rs->MoveNext(); }).Number(), EngineError::kNoCurrentRecord);
  rs->Close();
  EXPECT_EQ(backend_->QueryLong("SELECT count(*) FROM ventas"), 6);
  EXPECT_EQ(backend_->QueryLong("SELECT count(*) FROM ventas WHERE n = 1"), 0);
}

TEST_P(EngineRecordsets, KeysetIsFixedWhenTheSetOpens) {
  auto rs = db_->OpenRecordset("SELECT * FROM ventas ORDER BY n");
  db_->Execute("INSERT INTO ventas (n, d_fecha) VALUES (9, '2024-01-01')");
  backend_->Exec(
      "INSERT INTO ventas (n, \"D_FECHA\") VALUES (10, '2024-01-01')");  // another program
  rs->MoveLast();
  EXPECT_EQ(rs->RecordCount(), 7);
  EXPECT_EQ(std::get<int64_t>(rs->GetValue("n")), 6);
}

TEST_P(EngineRecordsets, LeavesNoLockBehindOnceNoSetIsOpen) {
  db_->TableDefs();
  EXPECT_EQ(ErrorFrom([&] { db_->OpenRecordset("SELECT * FROM nosuch"); }).Number(),
            EngineError::kTableNotFound);
  auto rs = db_->OpenRecordset("SELECT * FROM ventas");
  rs->GetValue(0);
  rs->Close();
  backend_->Exec(
      "INSERT INTO ventas (n, \"D_FECHA\") VALUES (9, '2024-01-01')");  // another program
  EXPECT_EQ(backend_->QueryLong("SELECT count(*) FROM ventas"), 8);
}

TEST_P(EngineRecordsets, ClosingTheDatabaseDiscardsAnUnfinishedRecordAndClosesItsSets) {
  auto rs = db_->OpenRecordset("SELECT * FROM ventas ORDER BY n");
  rs->AddNew();
  rs->SetValue("n", int64_t{41});
  rs->Update();  // a record written before, through the same set
  rs->AddNew();
  rs->SetValue("n", int64_t{42});
  db_->Close();
  EXPECT_NE(ErrorFrom([&] { rs->Update(); }).Number(), 0);
  EXPECT_NE(ErrorFrom([&] { rs->MoveFirst(); }).Number(), 0);
  EXPECT_NE(ErrorFrom([&] { rs->GetValue(0); }).Number(), 0);
  EXPECT_EQ(backend_->QueryLong("SELECT count(*) FROM ventas WHERE n = 41"), 1);
  EXPECT_EQ(backend_->QueryLong("SELECT count(*) FROM ventas WHERE n = 42"), 0);
}

TEST_P(EngineRecordsets, AnUndoneStepKeepsTheTransactionsOtherWorkUnlessAllOfItWasLost) {
  db_->BeginTrans();
  EXPECT_TRUE(db_->InTransaction());
  db_->Execute("DELETE FROM ventas WHERE n = 0");
  db_->Savepoint();
  db_->Execute("DELETE FROM ventas WHERE n = 1");
  EXPECT_TRUE(db_->RollbackToSavepoint());
  db_->Savepoint();
  db_->Execute("DELETE FROM ventas WHERE n = 2");
  db_->ReleaseSavepoint();
  db_->CommitTrans();
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Numbers("SELECT * FROM ventas ORDER BY n"), (std::vector<int64_t>{1, 3, 4, 5, 6}));

  // Whatever undoes the whole transaction underneath (here a plain
  // ROLLBACK) is reported, and the transaction is over.
  db_->BeginTrans();
  db_->Execute("DELETE FROM ventas WHERE n = 1");
  db_->Savepoint();
  db_->Execute("DELETE FROM ventas WHERE n = 3");
  db_->Execute("ROLLBACK");
  EXPECT_FALSE(db_->RollbackToSavepoint());
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Numbers("SELECT * FROM ventas ORDER BY n"), (std::vector<int64_t>{1, 3, 4, 5, 6}));
}

// A linked archive's copies are written in the database's transaction and
// its steps; commits are atomic over both files only where the backend
// says so (the crash tests hold it to that).
TEST_P(EngineRecordsets, ALinkedArchiveTakesPartInTheTransactionAndItsSteps) {
  const std::string arc = dir_.Path("arc.mdb");
  TableDef def("ventas");
  def.Fields().Append(def.CreateField("n", FieldType::kInteger));
  testing::MakeArchive(arc, def);
  const auto record = [&](int n) {
    auto rs = db_->OpenRecordset("SELECT * FROM ventas WHERE n = " + std::to_string(n));
    return std::vector<int64_t>{rs->Bookmark()};
  };
  auto link = db_->LinkArchive(arc);
  EXPECT_EQ(db_->ArchiveCommitOrder(), backend_->Can().archiveCommitOrder);
  db_->BeginTrans();
  EXPECT_EQ(link->CopyOut("ventas", record(1)).size(), 1u);
  EXPECT_EQ(db_->Execute("DELETE FROM ventas WHERE n = 0"), 1);
  db_->Rollback();
  db_->BeginTrans();
  link->CopyOut("ventas", record(2));
  db_->Execute("DELETE FROM ventas WHERE n = 0");
  db_->Savepoint();
  link->CopyOut("ventas", record(3));
  db_->Execute("DELETE FROM ventas WHERE n = 1");
  EXPECT_TRUE(db_->RollbackToSavepoint());
  db_->CommitTrans();
  link.reset();
  EXPECT_EQ(testing::Query(arc, "SELECT n FROM ventas"), (testing::Rows{{"2"}}));
  EXPECT_EQ(Numbers("SELECT * FROM ventas ORDER BY n"), (std::vector<int64_t>{1, 2, 3, 4, 5, 6}));
}

// Bookmarks name records beyond the set that gave them: the named ones that
// still exist and meet a condition, in the order named, and deletion by name.
TEST_P(EngineRecordsets, BookmarksNameRecordsForSelectionAndDeletion) {
  std::vector<int64_t> keys;  // n = 4, 3, 2, 1, 0
  {
    auto rs = db_->OpenRecordset("SELECT * FROM ventas WHERE n <= 4 ORDER BY n DESC");
    for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
  }
  ASSERT_EQ(keys.size(), 5u);
  db_->BeginTrans();
  EXPECT_EQ(db_->RecordsWhere("VENTAS", keys, "d_fecha >= #2024-03-01# AND D_FECHA < #2024-03-02#"),
            (std::vector<int64_t>{keys[0], keys[1], keys[2]}));
  EXPECT_EQ(db_->RecordsWhere("ventas", std::vector<int64_t>{keys[4], keys[0]}, "N <> 2"),
            (std::vector<int64_t>{keys[4], keys[0]}));
  EXPECT_EQ(db_->DeleteRecords("ventas", std::vector<int64_t>{keys[1]}), 1);
  EXPECT_EQ(db_->RecordsWhere("ventas", keys, "n >= 0"),
            (std::vector<int64_t>{keys[0], keys[2], keys[3], keys[4]}));
  EXPECT_EQ(db_->DeleteRecords("ventas", keys), 4);  // those that still existed
  db_->CommitTrans();
  EXPECT_EQ(Numbers("SELECT * FROM ventas ORDER BY n"), (std::vector<int64_t>{5, 6}));
  EXPECT_EQ(ErrorFrom([&] { db_->RecordsWhere("nosuch", keys, "n > 0"); }).Number(),
            EngineError::kTableNotFound);
}

INSTANTIATE_TEST_SUITE_P(Backends, EngineRecordsets, ::testing::ValuesIn(testing::kAllBackends),
                         testing::BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, FileRecordsets,
                         ::testing::Values(testing::BackendKind::kBuiltIn,
                                           testing::BackendKind::kOdbcSqlite),
                         testing::BackendName);

}  // namespace
}  // namespace sa::dbengine
