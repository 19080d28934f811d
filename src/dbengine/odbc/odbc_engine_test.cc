// What only the ODBC backend has, on the drivers this machine has (SQLite
// files through the SQLite3 driver, and PostgreSQL): archives on connections
// of their own, records without an identity, connections that fail. The
// properties every backend keeps are tested on each of them in
// dbengine/engine_properties_test.cc.
#include "dbengine/odbc/odbc_engine.h"

#include <gtest/gtest.h>

#include "dbengine/sqlite/sqlite_engine.h"
#include "support/engine_backends.h"
#include "support/error_from.h"
#include "support/odbc_sources.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa::dbengine {
namespace {

using ::sa::testing::ErrorFrom;
using ::sa::testing::QueryLong;
using ::sa::testing::TempDir;

DateTime At(int y, int m, int d, int hh = 0) { return DateTime::FromParts({y, m, d}, hh, 0, 0); }

TableDef Sales() {
  TableDef def("Sales");
  def.Fields().Append(def.CreateField("Ok", FieldType::kBoolean));
  def.Fields().Append(def.CreateField("Qty", FieldType::kInteger));
  def.Fields().Append(def.CreateField("Ticket", FieldType::kLong));
  def.Fields().Append(def.CreateField("Price", FieldType::kDouble));
  def.Fields().Append(def.CreateField("D_Fecha", FieldType::kDate));
  def.Fields().Append(def.CreateField("Name", FieldType::kText, 8));
  return def;
}

// The live database through each ODBC driver this machine has (the shared
// backends, minus the built-in one).
class OdbcEngineTest : public testing::BackendTest {
 protected:
  // Adds a record of Sales through a record set: each value as given.
  void Add(Recordset& rs, Value ok, Value qty, Value ticket, Value price, Value date, Value name) {
    rs.AddNew();
    rs.SetValue("ok", ok);
    rs.SetValue("QTY", qty);
    rs.SetValue("ticket", ticket);
    rs.SetValue("price", price);
    rs.SetValue("d_fecha", date);
    rs.SetValue("name", name);
    rs.Update();
  }

  void FillSales() {
    db_->AppendTableDef(Sales());
    auto rs = db_->OpenRecordset("SELECT * FROM sales WHERE 1 = 0");
    Add(*rs, int64_t{1}, int64_t{3}, int64_t{100}, 1.5, At(2024, 3, 2), std::string("c"));
    Add(*rs, int64_t{0}, std::string("4"), int64_t{101}, 2.0, At(2024, 3, 1, 10), "a");
    Add(*rs, int64_t{1}, int64_t{5}, int64_t{102}, 2.5, std::string("2024-04-01"), "d");
    Add(*rs, int64_t{1}, int64_t{6}, int64_t{103}, 3.5, At(2023, 12, 31, 23), "b");
    rs->Close();
  }
};

// The archive is a built-in SQLite file on its own connection: appended
// copies are committed there first, and only copies still equal to their
// live records are deleted live.
TEST_P(OdbcEngineTest, MovesRecordsIntoAnArchiveOnItsOwnConnection) {
  FillSales();
  const std::string archivePath = dir_.Path("a.mdb");
  {
    auto archive = MakeSqliteEngine()->CreateDatabase(archivePath, kLangGeneral, kVersion40);
    archive->AppendTableDef(Sales());
    archive->Close();
  }
  EXPECT_FALSE(db_->AtomicAcrossAttached());
  std::vector<int64_t> keys;
  {
    auto rs = db_->OpenRecordset("SELECT * FROM sales ORDER BY d_fecha");
    for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
  }
  ASSERT_EQ(keys.size(), 4u);
  db_->Attach(archivePath, "arc");
  db_->BeginTrans();
  const std::vector<int64_t> march =
      db_->RecordsWhere("sales", keys, "D_FECHA >= #2024-03-01# AND d_fecha < #2024-04-01#");
  EXPECT_EQ(march, (std::vector<int64_t>{keys[1], keys[2]}));
  EXPECT_EQ(db_->LastRecordId("arc", "sales"), 0);
  // A step undone leaves the archive as it was.
  db_->Savepoint();
  EXPECT_EQ(db_->AppendRecordsTo("arc", "sales", keys), 4);
  EXPECT_TRUE(db_->RollbackToSavepoint());
  db_->Savepoint();
  EXPECT_EQ(db_->AppendRecordsTo("arc", "sales", march), 2);
  db_->ReleaseSavepoint();
  db_->CommitTrans();
  EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales"), 2);
  EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales WHERE Name = 'a'"), 1);
  EXPECT_EQ(db_->LastRecordId("arc", "sales"), 2);
  // Another program changes one of the two before the deletion: it stays.
  db_->Execute("UPDATE sales SET Price = 9 WHERE Ticket = 100");
  db_->BeginTrans();
  EXPECT_EQ(db_->DeleteRecordsMatching("arc", "sales", march, 1), 1);
  db_->CommitTrans();
  db_->Detach("arc");
  auto rs = db_->OpenRecordset("SELECT * FROM sales ORDER BY ticket");
  rs->MoveLast();
  EXPECT_EQ(rs->RecordCount(), 3);
  auto changed = db_->OpenRecordset("SELECT * FROM sales WHERE price = 9");
  EXPECT_FALSE(changed->Eof());
  EXPECT_EQ(changed->GetValue("name"), Value(std::string("c")));
}

TEST_P(OdbcEngineTest, AnArchiveFieldTheLiveTableLacksRefusesTheWholeRun) {
  FillSales();
  const std::string archivePath = dir_.Path("a.mdb");
  {
    auto archive = MakeSqliteEngine()->CreateDatabase(archivePath, kLangGeneral, kVersion40);
    TableDef def = Sales();
    def.Fields().Append(def.CreateField("Extra", FieldType::kText));
    archive->AppendTableDef(def);
    archive->Close();
  }
  std::vector<int64_t> keys;
  auto rs = db_->OpenRecordset("SELECT * FROM sales");
  for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
  db_->Attach(archivePath, "arc");
  db_->BeginTrans();
  EXPECT_EQ(ErrorFrom([&] { db_->AppendRecordsTo("arc", "sales", keys); }).Number(),
            kErrItemNotFound);
  db_->Rollback();
  db_->Detach("arc");
  EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales"), 0);
}

// Between the archive's commit and the live one, the records a move read
// cannot change under it: another program's change waits for the live
// commit and fails past its timeout, in either SQLite journal mode. Never is
// a record deleted that differs from its copy.
TEST_P(OdbcEngineTest, RecordsReadForAMoveStayAsReadUntilTheirDeletion) {
  const bool postgres = GetParam() == testing::BackendKind::kOdbcPostgres;
  for (const bool wal : postgres ? std::vector<bool>{false} : std::vector<bool>{false, true}) {
    SCOPED_TRACE(wal ? "WAL" : "rollback journal");
    const std::string livePath = dir_.Path(wal ? "wal.db" : "live.db");
    if (wal) {
      MakeSqliteEngine()->CreateDatabase(livePath, kLangGeneral, kVersion40)->Close();
      testing::Exec(livePath, "PRAGMA journal_mode=WAL");
      db_ = backend_->Engine().OpenDatabase("ODBC;" + testing::SqliteOdbcConnect(livePath));
    }
    FillSales();
    const std::string archivePath = dir_.Path(wal ? "wal.mdb" : "a.mdb");
    {
      auto archive = MakeSqliteEngine()->CreateDatabase(archivePath, kLangGeneral, kVersion40);
      archive->AppendTableDef(Sales());
      archive->Close();
    }
    std::vector<int64_t> keys;
    {
      auto rs = db_->OpenRecordset("SELECT * FROM sales");
      for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
    }
    db_->Attach(archivePath, "arc");
    db_->BeginTrans();
    const std::vector<int64_t> read = db_->RecordsWhere("sales", keys, "ticket >= 100");
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(db_->AppendRecordsTo("arc", "sales", read), 4);
    ASSERT_TRUE(db_->CommitAttachedFirst());
    EXPECT_TRUE(db_->InTransaction());
    EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales"), 4);

    std::unique_ptr<Database> other =
        postgres ? backend_->Open() : MakeSqliteEngine(100)->OpenDatabase(livePath);
    if (postgres) other->Execute("SET lock_timeout = 300");
    const auto change = [&] { other->Execute("UPDATE sales SET price = 9 WHERE ticket = 100"); };
    EXPECT_NE(ErrorFrom(change).Number(), 0);
    EXPECT_EQ(db_->DeleteRecords("sales", read), 4);
    db_->CommitTrans();
    other->Close();
    db_->Detach("arc");
    auto rs = db_->OpenRecordset("SELECT * FROM sales");
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, OdbcEngineTest,
                         ::testing::Values(testing::BackendKind::kOdbcSqlite,
                                           testing::BackendKind::kOdbcPostgres),
                         testing::BackendName);

TEST(OdbcConnect, FailuresAreClearAndNeverShowThePassword) {
  auto engine = MakeOdbcEngine(MakeSqliteEngine());
  const Error unknown = ErrorFrom(
      [&] { engine->OpenDatabase("ODBC;Driver={No Such Driver};Database=x;PWD=hunter2"); });
  EXPECT_EQ(unknown.Cause().find("hunter2"), std::string::npos) << unknown.Cause();
  EXPECT_NE(unknown.Cause().find("PWD=***"), std::string::npos) << unknown.Cause();

  SA_REQUIRE_POSTGRES(server);
  const Error refused =
      ErrorFrom([&] { engine->OpenDatabase("ODBC;" + *server + ";Pwd={wrong;pass}"); });
  EXPECT_EQ(refused.Number(), kErrConnectFailed) << refused.Cause();
  EXPECT_EQ(refused.Cause().find("wrong"), std::string::npos) << refused.Cause();
  const Error noDatabase =
      ErrorFrom([&] { engine->OpenDatabase("ODBC;" + *server + ";Database=sa_no_such_database"); });
  EXPECT_EQ(noDatabase.Number(), kErrConnectFailed) << noDatabase.Cause();
  const Error down = ErrorFrom([&] { engine->OpenDatabase("ODBC;" + *server + ";Port=1"); });
  EXPECT_EQ(down.Number(), kErrConnectFailed) << down.Cause();
}

TEST(OdbcConnect, AFileIsServedByTheDriverOfItsFormat) {
  TempDir dir;
  auto engine = MakeOdbcEngine(nullptr);
  MakeSqliteEngine()->CreateDatabase(dir.Path("x.db"), kLangGeneral, kVersion40)->Close();
  auto db = engine->OpenDatabase(dir.Path("x.db"));
  db->AppendTableDef(Sales());
  EXPECT_EQ(QueryLong(dir.Path("x.db"), "SELECT count(*) FROM sqlite_schema"), 1);
  std::string jet(4096, '\0');
  jet.replace(4, 15, "Standard Jet DB");
  dir.Write("j.mdb", jet);
  // No Access driver is installed on these machines.
  const Error e = ErrorFrom([&] { engine->OpenDatabase(dir.Path("j.mdb")); });
  EXPECT_EQ(e.Number(), kErrNoDriver);
  EXPECT_NE(e.Cause().find("Jet"), std::string::npos) << e.Cause();
}

}  // namespace
}  // namespace sa::dbengine
