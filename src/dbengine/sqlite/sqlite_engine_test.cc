// The SQLite backend on real files: what only a SQLite file shows (its
// header and journal, declared types and stored forms, damaged files) and the
// moves between a live file and its archives. The properties every backend
// keeps are tested on each of them in dbengine/engine_properties_test.cc.
#include "dbengine/sqlite/sqlite_engine.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "support/error_from.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa::dbengine {
namespace {

using ::sa::testing::ErrorFrom;
using ::sa::testing::Exec;
using ::sa::testing::Query;
using ::sa::testing::QueryLong;
using ::sa::testing::TempDir;

class EngineTest : public ::testing::Test {
 protected:
  std::unique_ptr<Engine> engine_ = MakeSqliteEngine(200);
  TempDir dir_;
};

TEST_F(EngineTest, CreateRecordsOptionsWithoutAddingObjectsAndRefusesExistingFiles) {
  const std::string path = dir_.Path("a.mdb");
  engine_->CreateDatabase(path, kLangGeneral, kVersion40)->Close();
  EXPECT_EQ(QueryLong(path, "SELECT count(*) FROM sqlite_schema"), 0);
  EXPECT_EQ(QueryLong(path, "PRAGMA user_version"), (0x0409 << 16) | 64);
  EXPECT_EQ(Query(path, "PRAGMA journal_mode")[0][0], "delete");
  EXPECT_EQ(ErrorFrom([&] { engine_->CreateDatabase(path, kLangGeneral, kVersion40); }).Number(),
            EngineError::kDatabaseExists);
  EXPECT_EQ(
      ErrorFrom([&] { engine_->CreateDatabase(dir_.Path("b"), ";LANGID=0x9999", 64); }).Number(),
      EngineError::kInvalidArgument);
  EXPECT_EQ(ErrorFrom([&] { engine_->CreateDatabase(dir_.Path("c"), kLangGeneral, 2); }).Number(),
            EngineError::kInvalidArgument);
  EXPECT_NE(ErrorFrom([&] {
              engine_->CreateDatabase(dir_.Path("no/such/x.mdb"), kLangGeneral, 64);
            }).Number(),
            0);
}

TEST_F(EngineTest, OpenRefusesWhatIsNotASqliteDatabaseAndNamesIt) {
  std::string jet(2048, '\0');
  jet.replace(4, 15, "Standard Jet DB");
  dir_.Write("jet.mdb", jet);
  dir_.Write("empty.mdb", "");
  dir_.Write("text.mdb", "hello, this is no database at all");
  dir_.MakeFolder("folder.mdb");
  // The numbers mean what they mean in the ODBC backend.
  const std::pair<const char*, EngineError> refusals[] = {
      {"jet.mdb", EngineError::kUnrecognizedFormat},
      {"empty.mdb", EngineError::kUnrecognizedFormat},
      {"text.mdb", EngineError::kUnrecognizedFormat},
      {"folder.mdb", EngineError::kInvalidPath},
      {"missing.mdb", EngineError::kFileNotFound},
  };
  for (const auto& [name, number] : refusals) {
    try {
      engine_->OpenDatabase(dir_.Path(name));
      ADD_FAILURE() << name << " was opened";
    } catch (const Error& e) {
      EXPECT_NE(e.Cause().find(dir_.Path(name)), std::string::npos) << e.Cause();
      EXPECT_EQ(e.Number(), number) << name;
    }
  }
  try {
    engine_->OpenDatabase(dir_.Path("jet.mdb"));
  } catch (const Error& e) {
    EXPECT_NE(e.Cause().find("Jet/Access"), std::string::npos);
  }
}

TEST_F(EngineTest, TruncatedDatabaseFailsWithAnEngineError) {
  const std::string path = dir_.Path("live.db");
  Exec(path,
       "CREATE TABLE t(a INTEGER, b TEXT); WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
       "FROM c WHERE x < 5000) INSERT INTO t SELECT x, hex(randomblob(20)) FROM c");
  dir_.Write("cut.db", dir_.Read("live.db").substr(0, 5000));
  EXPECT_NE(ErrorFrom([&] {
              auto db = engine_->OpenDatabase(dir_.Path("cut.db"));
              auto rs = db->OpenRecordset("SELECT * FROM t ORDER BY a");
              rs->MoveLast();
            }).Number(),
            0);
}

class ValuesTest : public EngineTest {
 protected:
  void SetUp() override {
    db_ = engine_->CreateDatabase(path_, kLangGeneral, kVersion40);
    TableDef def = db_->CreateTableDef("v");
    def.Fields().Append(def.CreateField("t", FieldType::kText, 4));
    def.Fields().Append(def.CreateField("i", FieldType::kInteger));
    def.Fields().Append(def.CreateField("l", FieldType::kLong));
    def.Fields().Append(def.CreateField("d", FieldType::kDouble));
    def.Fields().Append(def.CreateField("b", FieldType::kBoolean));
    def.Fields().Append(def.CreateField("f", FieldType::kDate));
    db_->AppendTableDef(def);
    rs_ = db_->OpenRecordset("SELECT * FROM v");
  }
  void Add(const char* field, const Value& v) {
    rs_->AddNew();
    rs_->SetValue(field, v);
    rs_->Update();
  }
  std::string path_ = dir_.Path("v.mdb");
  std::unique_ptr<Database> db_;
  std::unique_ptr<Recordset> rs_;
};

TEST_F(ValuesTest, StoredFormsAreThoseAnyClientReads) {
  Add("t", std::string(""));
  Add("t", std::monostate{});
  Add("t", std::string("Ñoño"));  // four characters, more bytes
  Add("i", std::string("2.5"));
  Add("i", -32768.0);
  Add("l", int64_t{2147483647});
  Add("d", std::string(" 1.25 "));
  Add("b", std::string("TRUE"));
  Add("b", int64_t{-1});
  Add("f", std::string("2024-02-29T23:59:58.25"));
  const auto rows =
      Query(path_, "SELECT quote(t), quote(i), quote(l), quote(d), quote(b), quote(f) FROM v");
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[0][0], "''");
  EXPECT_EQ(rows[1][0], "NULL");
  EXPECT_EQ(rows[2][0], "'Ñoño'");
  EXPECT_EQ(rows[3][1], "2");
  EXPECT_EQ(rows[4][1], "-32768");
  EXPECT_EQ(rows[5][2], "2147483647");
  EXPECT_EQ(rows[6][3], "1.25");
  EXPECT_EQ(rows[7][4], "1");
  EXPECT_EQ(rows[8][4], "1");
  EXPECT_EQ(rows[9][5], "'2024-02-29 23:59:58.250'");  // the fraction is kept
}

class RecordsetTest : public EngineTest {
 protected:
  void SetUp() override {
    Exec(path_,
         "CREATE TABLE ventas(n INTEGER, D_FECHA DATETIME);"
         "INSERT INTO ventas VALUES (3,'2024-03-01 00:00:00'),(1,'2024-02-29 23:59:59'),"
         "(2,'2024-03-01'),(4,'2024-03-01T00:00:01'),(0,'2024-02-29 00:00:00'),"
         "(5,'1999-12-31 23:59:59'),(6,NULL)");
    db_ = engine_->OpenDatabase(path_);
  }
  std::string path_ = dir_.Path("live.db");
  std::unique_ptr<Database> db_;
};

TEST_F(RecordsetTest, MovesRecordsToALinkedArchiveByIdentityInOrder) {
  const std::string arc = dir_.Path("arc.mdb");
  Exec(arc, "CREATE TABLE VENTAS(d_fecha DATETIME, N SMALLINT, nota VARCHAR(3))");
  // The archive's field "nota" is missing from the live table.
  auto link = db_->LinkArchive(arc);
  auto rs = db_->OpenRecordset("SELECT * FROM ventas WHERE n >= 1 AND n <= 3 ORDER BY n DESC");
  std::vector<int64_t> keys;
  for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
  db_->BeginTrans();
  EXPECT_EQ(ErrorFrom([&] { link->CopyOut("ventas", keys); }).Number(), EngineError::kItemNotFound);
  db_->Rollback();
  link.reset();
  Exec(arc, "DROP TABLE VENTAS; CREATE TABLE VENTAS(d_fecha DATETIME, N SMALLINT)");
  link = db_->LinkArchive(arc);
  db_->BeginTrans();
  // The copies follow the archive's records, in the order named.
  EXPECT_EQ(link->CopyOut("ventas", keys).Expand(), (std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(db_->DeleteRecords("ventas", keys), 3);
  db_->CommitTrans();
  link.reset();
  EXPECT_EQ(Query(arc, "SELECT N, d_fecha FROM VENTAS ORDER BY rowid"),
            (testing::Rows{{"3", "2024-03-01 00:00:00"},
                           {"2", "2024-03-01 00:00:00"},
                           {"1", "2024-02-29 23:59:59"}}));
  EXPECT_EQ(QueryLong(path_, "SELECT count(*) FROM ventas"), 4);
}

TEST_F(RecordsetTest, ARunWithOneValueThatDoesNotFitIsRefusedWhole) {
  const std::string arc = dir_.Path("arc.mdb");
  Exec(arc, "CREATE TABLE ventas(n BOOLEAN, d_fecha VARCHAR(10))");
  Exec(path_, "UPDATE ventas SET n = 'x' WHERE n = 4");
  auto link = db_->LinkArchive(arc);
  auto rs = db_->OpenRecordset("SELECT * FROM ventas ORDER BY rowid");
  std::vector<int64_t> keys;
  for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
  db_->BeginTrans();
  try {
    link->CopyOut("ventas", keys);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_TRUE(e.Number() == EngineError::kDataConversion ||
                e.Number() == EngineError::kFieldTooSmall)
        << e.Number();
    EXPECT_NE(e.Cause().find("ventas."), std::string::npos) << e.Cause();
  }
  db_->Rollback();
  link.reset();
  EXPECT_EQ(QueryLong(arc, "SELECT count(*) FROM ventas"), 0);
}

TEST_F(RecordsetTest, AValueChangedByAnotherProgramAfterTheCheckIsStillRefused) {
  const std::string arc = dir_.Path("arc.mdb");
  Exec(path_,
       "CREATE TABLE t(n SMALLINT, nota VARCHAR(3)); INSERT INTO t VALUES (1, 'a'), (2, 'b')");
  Exec(arc, "CREATE TABLE t(n SMALLINT, nota VARCHAR(3))");
  auto db = engine_->OpenDatabase(path_);
  auto link = db->LinkArchive(arc);
  auto rs = db->OpenRecordset("SELECT * FROM t ORDER BY n");
  const int64_t first = rs->Bookmark();
  rs->MoveNext();
  const int64_t second = rs->Bookmark();
  db->BeginTrans();
  EXPECT_EQ(link->CopyOut("t", std::vector<int64_t>{first}).size(), 1u);  // values checked
  db->CommitTrans();
  Exec(path_, "UPDATE t SET nota = 'much too long' WHERE n = 2");  // another program
  db->BeginTrans();
  EXPECT_EQ(ErrorFrom([&] { link->CopyOut("t", std::vector<int64_t>{second}); }).Number(),
            EngineError::kFieldTooSmall);
  db->Rollback();
  rs->Close();
  link.reset();
  EXPECT_EQ(Query(arc, "SELECT n, nota FROM t"), (testing::Rows{{"1", "a"}}));
}

// Taking records back: from a linked archive into a live table that has
// more fields, a key, and an AUTOINCREMENT identity.
TEST_F(RecordsetTest, MovesRecordsBackFromALinkedArchiveWholeOrNotAtAll) {
  const std::string arc = dir_.Path("arc.mdb");
  Exec(path_,
       "CREATE TABLE back(id INTEGER PRIMARY KEY AUTOINCREMENT, code SMALLINT UNIQUE, "
       "nota VARCHAR(4), extra VARCHAR(9));"
       "INSERT INTO back(code, nota) VALUES (1, 'a'), (2, 'b'); DELETE FROM back WHERE code = 2");
  Exec(arc,
       "CREATE TABLE back(code SMALLINT, nota VARCHAR(20));"
       "INSERT INTO back VALUES (7, 'x'), (8, 'yy'), (9, 'zzz')");
  auto db = engine_->OpenDatabase(path_);
  auto link = db->LinkArchive(arc);
  const std::vector<int64_t> ids = link->ArchivedIds("BACK");
  ASSERT_EQ(ids, (std::vector<int64_t>{1, 2, 3}));

  // A value too long for the live field refuses the whole call.
  Exec(arc, "UPDATE back SET nota = 'longer' WHERE code = 9");
  db->BeginTrans();
  EXPECT_EQ(ErrorFrom([&] { link->CopyBack("back", ids); }).Number(), EngineError::kFieldTooSmall);
  db->Rollback();
  // So does a key the live table holds.
  Exec(arc, "UPDATE back SET nota = 'zzz', code = 1 WHERE code = 9");
  db->BeginTrans();
  EXPECT_EQ(ErrorFrom([&] { link->CopyBack("back", ids); }).Number(), EngineError::kDuplicateKey);
  db->Rollback();
  EXPECT_EQ(QueryLong(path_, "SELECT count(*) FROM back"), 1);

  // The copies take the identities after the largest ever used (3 onwards).
  Exec(arc, "UPDATE back SET code = 9 WHERE code = 1");
  db->BeginTrans();
  const std::vector<int64_t> copies = link->CopyBack("back", ids).Expand();
  db->CommitTrans();
  EXPECT_EQ(copies, (std::vector<int64_t>{3, 4, 5}));
  EXPECT_EQ(Query(path_, "SELECT id, code, nota, extra FROM back ORDER BY id"),
            (testing::Rows{{"1", "1", "a", "NULL"},
                           {"3", "7", "x", "NULL"},
                           {"4", "8", "yy", "NULL"},
                           {"5", "9", "zzz", "NULL"}}));

  // Only archived records still equal to their live copies are deleted.
  Exec(path_, "UPDATE back SET nota = 'new' WHERE code = 8");
  db->BeginTrans();
  // Each record is compared with the copy named beside it, in any order.
  EXPECT_EQ(
      link->DeleteArchivedCopied("back", std::vector<int64_t>{3, 1}, std::vector<int64_t>{5, 3}),
      2);
  EXPECT_EQ(link->DeleteArchivedCopied("back", ids, copies), 0);
  db->CommitTrans();
  EXPECT_EQ(Query(arc, "SELECT code FROM back"), (testing::Rows{{"8"}}));
  db->BeginTrans();
  EXPECT_EQ(link->DeleteArchived("back", std::vector<int64_t>{2}), 1);
  db->CommitTrans();
  EXPECT_TRUE(link->ArchivedIds("back").empty());
  EXPECT_EQ(ErrorFrom([&] { link->ArchivedIds("none"); }).Number(), EngineError::kTableNotFound);
}

TEST_F(EngineTest, TheIntegrityCheckFindsADamagedPage) {
  const std::string path = dir_.Path("a.mdb");
  Exec(path, "CREATE TABLE t(a VARCHAR(200)); CREATE INDEX ta ON t(a)");
  for (int i = 0; i < 20; ++i) {
    Exec(path,
         "INSERT INTO t SELECT hex(randomblob(90)) FROM (SELECT 1 UNION SELECT 2 UNION "
         "SELECT 3 UNION SELECT 4 UNION SELECT 5)");
  }
  EXPECT_TRUE(engine_->OpenDatabase(path)->CheckIntegrity().empty());
  // The last page (a leaf of the index) overwritten.
  std::string bytes = dir_.Read("a.mdb");
  const size_t page = 4096;
  ASSERT_GT(bytes.size(), 4 * page);
  bytes.replace(bytes.size() - page + 8, 64, std::string(64, '\x11'));
  dir_.Write("a.mdb", bytes);
  const std::vector<std::string> problems = engine_->OpenDatabase(path)->CheckIntegrity();
  EXPECT_FALSE(problems.empty());
}

}  // namespace
}  // namespace sa::dbengine

namespace sa::dbengine {
namespace {

// A value is converted and checked as what it reads as, whatever the live
// column is declared as and however SQLite stored it there: a declared type
// must never let a value reach an archive field that cannot hold it.
class LiveColumnTypeTest : public EngineTest {
 protected:
  // "refused", or the archived value as "storage class|text".
  std::string Archive(const std::string& liveType, const std::string& archiveType,
                      const std::string& valueSql) {
    const std::string live = dir_.Path("live.db"), arc = dir_.Path("arc.mdb");
    Exec(live, "DROP TABLE IF EXISTS t; CREATE TABLE t(v " + liveType + ", w INTEGER);" +
                   "INSERT INTO t VALUES (" + valueSql + ", 1), (NULL, 2)");
    Exec(arc, "DROP TABLE IF EXISTS t; CREATE TABLE t(v " + archiveType + ", w INTEGER)");
    auto db = engine_->OpenDatabase(live);
    auto link = db->LinkArchive(arc);
    std::vector<int64_t> keys;
    {
      auto rs = db->OpenRecordset("SELECT * FROM t ORDER BY w");
      for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
    }
    db->BeginTrans();
    std::string out;
    try {
      link->CopyOut("t", keys);
      db->CommitTrans();
    } catch (const Error& e) {
      db->Rollback();
      EXPECT_NE(e.Cause().find("t.v"), std::string::npos) << e.Cause();
      out = "refused";
    }
    link.reset();
    db->Close();
    const auto rows = Query(arc, "SELECT typeof(v), v FROM t ORDER BY w");
    if (out == "refused") {
      EXPECT_TRUE(rows.empty()) << "a refused run leaves nothing in the archive";
      return out;
    }
    EXPECT_EQ(rows.size(), 2u);
    return rows.empty() ? "" : rows[0][0] + "|" + rows[0][1];
  }
};

struct Case {
  const char* archiveType;
  const char* value;
  const char* expected;
};

TEST_F(LiveColumnTypeTest, EveryValueIsCheckedAsWhatItReadsWhateverTheLiveDeclaration) {
  const Case cases[] = {
      {"SMALLINT", "32767", "integer|32767"},
      {"SMALLINT", "-32768", "integer|-32768"},
      {"SMALLINT", "32768", "refused"},
      {"SMALLINT", "'100000'", "refused"},
      {"SMALLINT", "'12'", "integer|12"},
      {"SMALLINT", "2.5", "integer|2"},
      {"SMALLINT", "9e999", "refused"},
      {"SMALLINT", "x'00ff'", "refused"},
      {"SMALLINT", "NULL", "null|NULL"},
      {"INTEGER", "2147483647", "integer|2147483647"},
      {"INTEGER", "'10000000000'", "refused"},
      {"INTEGER", "-2147483649", "refused"},
      {"DOUBLE", "'1,5'", "refused"},
      {"DOUBLE", "'1.5'", "real|1.5"},
      {"DOUBLE", "3", "real|3.0"},
      {"DOUBLE", "1e308", "real|1.0e+308"},
      {"DOUBLE", "9e999", "refused"},
      {"DOUBLE", "-9e999", "refused"},
      {"DOUBLE", "'abc'", "refused"},
      {"BOOLEAN", "'true'", "integer|1"},
      {"BOOLEAN", "5", "integer|1"},
      {"BOOLEAN", "0", "integer|0"},
      {"BOOLEAN", "'x'", "refused"},
      {"BOOLEAN", "9e999", "refused"},
      {"VARCHAR(3)", "'abc'", "text|abc"},
      {"VARCHAR(3)", "'abcd'", "refused"},
      {"VARCHAR(3)", "123", "text|123"},
      {"VARCHAR(3)", "1234", "refused"},
      {"VARCHAR(3)", "1.5", "text|1.5"},
      {"DATETIME", "'2024-01-31 00:00:00.5'", "text|2024-01-31 00:00:00.500"},
      {"DATETIME", "'2024-01-31'", "text|2024-01-31 00:00:00"},
      {"DATETIME", "'x'", "refused"},
      {"DATETIME", "5", "refused"},
  };
  for (const Case& c : cases) {
    // Declared as text, as a number, with no type at all, and as the archive.
    for (const std::string liveType : {"VARCHAR(20)", "NUMERIC", "", c.archiveType}) {
      EXPECT_EQ(Archive(liveType, c.archiveType, c.value), c.expected)
          << c.value << " from a column declared '" << liveType << "' into " << c.archiveType;
    }
  }
}

}  // namespace
}  // namespace sa::dbengine
