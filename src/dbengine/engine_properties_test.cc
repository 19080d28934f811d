// The properties every backend of the engine keeps (engine.h), on each backend
// this machine reaches: the built-in SQLite engine, SQLite files through the
// SQLite3 ODBC driver, and PostgreSQL and MariaDB through their ODBC drivers:
// tables, values and record sets over them; record sets, transactions and
// archive links are in engine_recordsets_test.cc. What only a SQLite file
// shows (its header, journal, stored forms, damaged pages) is tested beside
// the SQLite backend, what only ODBC has (connections, driver families,
// identities) beside the ODBC backend, and the moves between a database and
// its archives have tests of their own.
#include <gtest/gtest.h>

#include "core/error.h"
#include "support/engine_backends.h"
#include "support/error_from.h"
#include "support/sqlite_probe.h"

namespace sa::dbengine {
namespace {

using ::sa::testing::BackendTest;
using ::sa::testing::ErrorFrom;

DateTime At(int y, int m, int d, int hh = 0) { return DateTime::FromParts({y, m, d}, hh, 0, 0); }

// "name type size" per field, the size for text fields only: the sizes a
// backend reports for fixed-width types are its own.
std::vector<std::string> Describe(const TableDef& def) {
  std::vector<std::string> out;
  for (const Field& f : def.Fields()) {
    out.push_back(f.name + " " + std::to_string(static_cast<int>(f.type)) +
                  (f.type == FieldType::kText ? " " + std::to_string(f.size) : ""));
  }
  return out;
}

class EngineTables : public BackendTest {};

TEST_P(EngineTables, KeepTheirFieldsInOrderWithTypesAndSizesAndAreFoundInAnyCase) {
  TableDef def = db_->CreateTableDef("Cliente");
  // A size given for a fixed-width type, and AllowZeroLength on every field.
  def.Fields().Append(def.CreateField("cod_cli", FieldType::kDouble, 8));
  def.Fields().Append(def.CreateField("nom_cli", FieldType::kText));
  def.Fields().Append(def.CreateField("dpt", FieldType::kText, 4));
  def.Fields().Append(def.CreateField("alta", FieldType::kDate));
  def.Fields().Append(def.CreateField("activo", FieldType::kBoolean, 1));
  def.Fields().Append(def.CreateField("nivel", FieldType::kInteger));
  def.Fields().Append(def.CreateField("puntos", FieldType::kLong));
  for (int i = 0; i < def.Fields().Count(); ++i) def.Fields().Item(i).allowZeroLength = true;
  EXPECT_EQ(ErrorFrom([&] {
              def.Fields().Append(def.CreateField("NOM_CLI", FieldType::kText));
            }).Number(),
            EngineError::kInvalidArgument);
  db_->AppendTableDef(def);
  EXPECT_EQ(ErrorFrom([&] { db_->AppendTableDef(def); }).Number(), EngineError::kTableExists);
  TableDef upper = db_->CreateTableDef("CLIENTE");
  upper.Fields().Append(upper.CreateField("x", FieldType::kLong));
  EXPECT_EQ(ErrorFrom([&] { db_->AppendTableDef(upper); }).Number(), EngineError::kTableExists);
  EXPECT_EQ(db_->Execute("delete from cliente"), 0);

  const std::vector<TableDef> defs = db_->TableDefs();
  ASSERT_EQ(defs.size(), 1u);
  EXPECT_EQ(defs[0].Name(), "Cliente");
  EXPECT_EQ(Describe(defs[0]),
            (std::vector<std::string>{"cod_cli 7", "nom_cli 10 255", "dpt 10 4", "alta 8",
                                      "activo 1", "nivel 3", "puntos 4"}));
  auto rs = db_->OpenRecordset("SELECT DPT, Nom_Cli FROM CLIENTE");
  EXPECT_EQ(rs->FieldCount(), 2);
  EXPECT_EQ(rs->FieldIndex("nom_cli"), 1);
  EXPECT_EQ(ErrorFrom([&] { rs->FieldIndex("nosuch"); }).Number(), EngineError::kItemNotFound);
}

INSTANTIATE_TEST_SUITE_P(Backends, EngineTables, ::testing::ValuesIn(testing::kAllBackends),
                         testing::BackendName);

// A table with one field of each type (t is text of 4 characters), ordered
// by n, and a record set open on it for adding.
class EngineValues : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    TableDef def = db_->CreateTableDef("v");
    def.Fields().Append(def.CreateField("n", FieldType::kLong));
    def.Fields().Append(def.CreateField("t", FieldType::kText, 4));
    def.Fields().Append(def.CreateField("i", FieldType::kInteger));
    def.Fields().Append(def.CreateField("l", FieldType::kLong));
    def.Fields().Append(def.CreateField("d", FieldType::kDouble));
    def.Fields().Append(def.CreateField("b", FieldType::kBoolean));
    def.Fields().Append(def.CreateField("f", FieldType::kDate));
    db_->AppendTableDef(def);
    backend_->GiveKey(*db_, "v");
    rs_ = db_->OpenRecordset("SELECT * FROM v");
  }
  void Add(const char* field, const Value& v) {
    rs_->AddNew();
    rs_->SetValue("n", int64_t{++added_});
    rs_->SetValue(field, v);
    rs_->Update();
  }
  // The value of `field` in each record, in the order they were added.
  std::vector<Value> Column(const char* field) {
    std::vector<Value> out;
    auto rs = db_->OpenRecordset("SELECT * FROM V ORDER BY N");
    for (; !rs->Eof(); rs->MoveNext()) out.push_back(rs->GetValue(field));
    return out;
  }
  std::unique_ptr<Recordset> rs_;
  int64_t added_ = 0;
};

TEST_P(EngineValues, AreConvertedToTheFieldTypeOnWriteAndReadBackTyped) {
  Add("t", std::string(""));
  Add("t", std::monostate{});
  Add("t", std::string("Ñoño"));  // four characters, more bytes
  Add("i", std::string("2.5"));   // halves to even
  Add("i", -32768.0);
  Add("l", int64_t{2147483647});
  Add("d", std::string(" 1.25 "));
  Add("b", std::string("TRUE"));
  Add("b", int64_t{-1});
  Add("f", std::string("2024-02-29T23:59:58.25"));  // the fraction is kept
  Add("f", std::string("2024-01-31"));
  Add("t", int64_t{123});  // a number into a text field
  rs_->Close();
  const Value null = std::monostate{};
  EXPECT_EQ(Column("T"),
            (std::vector<Value>{std::string(""), null, std::string("Ñoño"), null, null, null, null,
                                null, null, null, null, std::string("123")}));
  const std::vector<Value> i = Column("i"), l = Column("L"), d = Column("d"), b = Column("b"),
                           f = Column("F");
  ASSERT_EQ(i.size(), 12u);
  EXPECT_EQ(i[3], Value(int64_t{2}));
  EXPECT_EQ(i[4], Value(int64_t{-32768}));
  EXPECT_EQ(l[5], Value(int64_t{2147483647}));
  EXPECT_EQ(d[6], Value(1.25));
  EXPECT_EQ(b[7], Value(int64_t{1}));
  EXPECT_EQ(b[8], Value(int64_t{1}));
  EXPECT_EQ(b[0], null);
  EXPECT_EQ(f[9], Value(DateTime::FromParts({2024, 2, 29}, 23, 59, 58, 250)));
  EXPECT_EQ(f[10], Value(DateTime::FromDate({2024, 1, 31})));
}

TEST_P(EngineValues, ThatDoNotFitAreRefusedWithTheEngineNumberAndNothingIsWritten) {
  // Refused by SetValue or at the latest by Update: either way the record is
  // not written.
  auto refused = [&](const char* field, const Value& v) {
    return ErrorFrom([&] {
             rs_->AddNew();
             rs_->SetValue(field, v);
             rs_->Update();
           })
        .Number();
  };
  EXPECT_EQ(refused("t", std::string("abcde")), EngineError::kFieldTooSmall);
  EXPECT_EQ(refused("t", DateTime::FromDate({2024, 3, 1})), EngineError::kFieldTooSmall);
  EXPECT_EQ(refused("i", int64_t{32768}), EngineError::kNumericOverflow);
  EXPECT_EQ(refused("i", -32768.5 - 1), EngineError::kNumericOverflow);
  EXPECT_EQ(refused("l", int64_t{2147483648}), EngineError::kNumericOverflow);
  EXPECT_EQ(refused("d", std::string("12,5x")), EngineError::kDataConversion);
  EXPECT_EQ(refused("b", std::string("si")), EngineError::kDataConversion);
  EXPECT_EQ(refused("f", std::string("2023-02-29")), EngineError::kDataConversion);
  EXPECT_EQ(refused("nope", int64_t{1}), EngineError::kItemNotFound);
  rs_->Close();
  EXPECT_EQ(backend_->QueryLong("SELECT count(*) FROM v"), 0);
}

// Many rows in one call: more than one array of parameters through ODBC.
constexpr int64_t kBulkRows = 600;

TEST_P(EngineValues, AppendRowsConvertsEveryValueAsUpdateDoes) {
  rs_->Close();
  const std::vector<std::string> fields{"N", "t", "i", "d", "b", "f"};
  std::vector<Value> rows;
  for (int64_t n = 1; n <= kBulkRows; ++n) {
    rows.insert(rows.end(), {n, int64_t{n % 1000}, std::string("2.5"), std::string(" 1.25 "),
                             std::string("TRUE"), std::string("2024-02-29T23:59:58.25")});
  }
  rows[rows.size() - 6 + 1] = std::monostate{};  // the last row's text stays null
  EXPECT_EQ(db_->AppendRows("v", fields, rows), kBulkRows);
  EXPECT_EQ(db_->AppendRows("v", fields, {}), 0);
  const std::vector<Value> t = Column("t"), i = Column("i"), d = Column("d"), b = Column("b"),
                           f = Column("f");
  ASSERT_EQ(t.size(), static_cast<size_t>(kBulkRows));
  EXPECT_EQ(t[0], Value(std::string("1")));
  EXPECT_EQ(t[299], Value(std::string("300")));
  EXPECT_TRUE(IsNull(t.back()));
  EXPECT_EQ(i[0], Value(int64_t{2}));
  EXPECT_EQ(d[300], Value(1.25));
  EXPECT_EQ(b[599], Value(int64_t{1}));
  EXPECT_EQ(f[420], Value(DateTime::FromParts({2024, 2, 29}, 23, 59, 58, 250)));
}

// The value that does not fit is in the last row, after whole arrays of
// parameters have gone to the driver; in a transaction, the call's rows go
// and the transaction's earlier work stays.
TEST_P(EngineValues, AppendRowsRefusingOneValueWritesNoneOfTheRows) {
  rs_->Close();
  backend_->Exec("CREATE UNIQUE INDEX v_n ON v (n)");
  const std::vector<std::string> fields{"n", "t", "i", "l", "d", "f"};
  auto rowsWithLast = [&](size_t field, const Value& bad) {
    std::vector<Value> rows;
    for (int64_t n = 1; n <= kBulkRows; ++n) {
      rows.insert(rows.end(),
                  {n, std::string("ab"), int64_t{7}, int64_t{8}, 0.5, std::string("2024-03-01")});
    }
    rows[rows.size() - fields.size() + field] = bad;
    return rows;
  };
  auto refused = [&](size_t field, const Value& bad) {
    return ErrorFrom([&] { db_->AppendRows("v", fields, rowsWithLast(field, bad)); }).Number();
  };
  EXPECT_EQ(refused(1, std::string("abcde")), EngineError::kFieldTooSmall);
  EXPECT_EQ(refused(2, int64_t{32768}), EngineError::kNumericOverflow);
  EXPECT_EQ(refused(3, 2147483648.0), EngineError::kNumericOverflow);
  EXPECT_EQ(refused(4, std::string("12,5x")), EngineError::kDataConversion);
  EXPECT_EQ(refused(5, std::string("2023-02-29")), EngineError::kDataConversion);
  // Refused by the database itself, not by the conversion.
  EXPECT_EQ(refused(0, int64_t{1}), EngineError::kDuplicateKey);
  EXPECT_EQ(ErrorFrom([&] {
              db_->AppendRows("v", {{"n", "nope"}}, {});
            }).Number(),
            EngineError::kItemNotFound);
  EXPECT_EQ(backend_->QueryLong("SELECT count(*) FROM v"), 0);

  db_->BeginTrans();
  EXPECT_EQ(db_->AppendRows("v", {{"n"}}, {{Value(int64_t{9000})}}), 1);
  db_->Savepoint();
  EXPECT_EQ(
      ErrorFrom([&] { db_->AppendRows("v", fields, rowsWithLast(0, int64_t{9000})); }).Number(),
      EngineError::kDuplicateKey);
  EXPECT_EQ(ErrorFrom([&] {
              db_->AppendRows("v", fields, rowsWithLast(1, std::string("xxxxx")));
            }).Number(),
            EngineError::kFieldTooSmall);
  EXPECT_EQ(db_->AppendRows("v", fields, rowsWithLast(0, int64_t{9001})), kBulkRows);
  EXPECT_TRUE(db_->RollbackToSavepoint());
  db_->CommitTrans();
  EXPECT_EQ(backend_->QueryLong("SELECT count(*) FROM v"), 1);
  EXPECT_EQ(backend_->QueryLong("SELECT max(n) FROM v"), 9000);
}

TEST_P(EngineValues, BooleansReadAsZeroOrOneAndNamesMatchInAnyCase) {
  Add("b", int64_t{1});
  Add("b", int64_t{0});
  rs_->Close();
  if (backend_->Can().booleanColumnsHoldAnyNumber) {
    backend_->Exec("INSERT INTO v(n, b) VALUES (3, 7)");  // any non-zero number is true
  } else {
    backend_->Exec("INSERT INTO v(n, b) VALUES (3, true)");  // the column holds nothing else
  }
  auto rs = db_->OpenRecordset("SELECT * FROM V ORDER BY n");
  EXPECT_TRUE(IsNull(rs->GetValue("t")));
  EXPECT_EQ(std::get<int64_t>(rs->GetValue("B")), 1);
  rs->MoveNext();
  EXPECT_EQ(std::get<int64_t>(rs->GetValue("b")), 0);
  rs->MoveNext();
  EXPECT_EQ(std::get<int64_t>(rs->GetValue("b")), 1);
}

// AllowZeroLength set or not, the empty text is kept, and kept apart from
// NULL, where the backend takes it regardless of the flag.
TEST_P(EngineValues, AnEmptyTextIsKeptApartFromNullAsAllowZeroLengthSays) {
  TableDef def = db_->CreateTableDef("z");
  def.Fields().Append(def.CreateField("n", FieldType::kLong));
  Field allowed = def.CreateField("allowed", FieldType::kText, 5);
  allowed.allowZeroLength = true;
  def.Fields().Append(allowed);
  def.Fields().Append(def.CreateField("plain", FieldType::kText, 5));
  db_->AppendTableDef(def);
  auto rs = db_->OpenRecordset("SELECT * FROM z");
  rs->AddNew();
  rs->SetValue("n", int64_t{1});
  rs->SetValue("allowed", std::string(""));
  rs->Update();
  rs->AddNew();
  rs->SetValue("n", int64_t{2});
  rs->SetValue("allowed", std::monostate{});
  rs->Update();
  auto addPlain = [&] {
    rs->AddNew();
    rs->SetValue("n", int64_t{3});
    rs->SetValue("plain", std::string(""));
    rs->Update();
  };
  if (backend_->Can().emptyTextWithoutAllowZeroLength) {
    addPlain();
  } else {
    EXPECT_NE(ErrorFrom(addPlain).Number(), 0);
  }
  rs->Close();
  auto read = db_->OpenRecordset("SELECT * FROM z ORDER BY n");
  EXPECT_EQ(read->GetValue("allowed"), Value(std::string("")));
  read->MoveNext();
  EXPECT_TRUE(IsNull(read->GetValue("allowed")));
  read->MoveNext();
  if (backend_->Can().emptyTextWithoutAllowZeroLength) {
    EXPECT_EQ(read->GetValue("plain"), Value(std::string("")));
  } else {
    EXPECT_TRUE(read->Eof());
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, EngineValues, ::testing::ValuesIn(testing::kAllBackends),
                         testing::BackendName);

// Sales: four records of every field type, added through a record set with
// each value in the form given (numbers and dates among them as texts).
class EngineSales : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    testing::FillSales(*db_, backend_.get());
  }
};

TEST_P(EngineSales, RecordSetsAreKeysetsInQueryOrderWithNamesInAnyCase) {
  auto rs = db_->OpenRecordset(
      "SELECT * FROM SALES WHERE d_fecha >= #2024-01-01# AND D_FECHA < #2024-04-01# ORDER BY "
      "d_fecha");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->GetValue("NAME"), Value(std::string("a")));
  EXPECT_EQ(rs->GetValue("qty"), Value(int64_t{4}));  // converted from its text on the write
  EXPECT_EQ(rs->GetValue("d_fecha"), Value(At(2024, 3, 1, 10)));
  EXPECT_EQ(rs->GetValue("ok"), Value(int64_t{0}));
  rs->MoveLast();
  EXPECT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(rs->GetValue("name"), Value(std::string("c")));
  EXPECT_EQ(rs->GetValue("price"), Value(1.5));
  // Deleting keeps the position on the deleted record until MoveNext.
  rs->MoveFirst();
  rs->Delete();
  EXPECT_EQ(ErrorFrom([&] { rs->GetValue("name"); }).Number(), EngineError::kRecordDeleted);
  rs->MoveNext();
  EXPECT_EQ(rs->GetValue("ticket"), Value(int64_t{100}));
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(ErrorFrom([&] { rs->MoveNext(); }).Number(), EngineError::kNoCurrentRecord);
  EXPECT_EQ(ErrorFrom([&] { rs->GetValue("nosuch"); }).Number(), EngineError::kItemNotFound);
  // A date written as a text is read back as the date.
  auto april = db_->OpenRecordset("SELECT * FROM sales WHERE ticket = 102");
  EXPECT_EQ(april->GetValue("d_fecha"), Value(DateTime::FromDate({2024, 4, 1})));
  // The set was fixed when it opened: a record added since is not in it.
  auto again = db_->OpenRecordset("SELECT * FROM sales ORDER BY ticket");
  again->MoveLast();
  EXPECT_EQ(again->RecordCount(), 3);
  EXPECT_EQ(ErrorFrom([&] { db_->OpenRecordset("SELECT * FROM nosuch"); }).Number(),
            EngineError::kTableNotFound);
}

TEST_P(EngineSales, ValuesAreConvertedOrRefusedAsTheFieldTypeSays) {
  auto rs = db_->OpenRecordset("SELECT * FROM sales WHERE 1 = 0");
  auto refused = [&](Value qty, Value ticket, Value name) {
    return ErrorFrom(
               [&] { testing::AddSale(*rs, int64_t{1}, qty, ticket, 1.0, At(2024, 1, 1), name); })
        .Number();
  };
  EXPECT_EQ(refused(int64_t{40000}, int64_t{1}, "x"), EngineError::kNumericOverflow);
  EXPECT_EQ(refused(std::string("many"), int64_t{1}, "x"), EngineError::kDataConversion);
  EXPECT_EQ(refused(int64_t{1}, int64_t{1}, "nine chars"), EngineError::kFieldTooSmall);
  EXPECT_EQ(refused(int64_t{1}, 1e12, "x"), EngineError::kNumericOverflow);
  rs->Close();
  auto all = db_->OpenRecordset("SELECT * FROM sales");
  all->MoveLast();
  EXPECT_EQ(all->RecordCount(), 4);  // nothing of a refused record was written
  std::vector<TableDef> defs = db_->TableDefs();
  ASSERT_EQ(defs.size(), 1u);
  const Field* name = defs[0].Fields().Find("NAME");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->type, FieldType::kText);
  EXPECT_EQ(name->size, 8);
  EXPECT_EQ(defs[0].Fields().Find("d_fecha")->type, FieldType::kDate);
  EXPECT_EQ(defs[0].Fields().Find("ok")->type, FieldType::kBoolean);
  EXPECT_EQ(defs[0].Fields().Find("qty")->type, FieldType::kInteger);
}

INSTANTIATE_TEST_SUITE_P(Backends, EngineSales, ::testing::ValuesIn(testing::kAllBackends),
                         testing::BackendName);

}  // namespace
}  // namespace sa::dbengine
