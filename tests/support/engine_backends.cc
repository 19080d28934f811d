#include "support/engine_backends.h"

#include "core/error.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/odbc/odbc_handle.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "platform/file_system.h"
#include "support/odbc_sources.h"
#include "support/sqlite_probe.h"

namespace sa::testing {

using dbengine::kLangGeneral;
using dbengine::kVersion40;

namespace {

// How long an engine waits for a lock another connection of the test holds.
constexpr int kBusyTimeoutMs = 200;

class FileBackend : public Backend {
 public:
  FileBackend(BackendKind kind, const TempDir& dir) : path_(dir.Path("live.db")) {
    // The SQLite3 driver opens an existing file; the built-in engine makes it.
    dbengine::MakeSqliteEngine()->CreateDatabase(path_, kLangGeneral, kVersion40)->Close();
    can_.booleanColumnsHoldAnyNumber = true;
    can_.emptyTextWithoutAllowZeroLength = true;
    if (kind == BackendKind::kBuiltIn) {
      engine_ = dbengine::MakeSqliteEngine(kBusyTimeoutMs);
      target_ = path_;
      can_.archiveCommitOrder = dbengine::CommitOrder::kTogether;
    } else {
      engine_ = dbengine::MakeOdbcEngine(platform::RealFileSystem(),
                                         dbengine::MakeSqliteEngine(kBusyTimeoutMs));
      target_ = "ODBC;" + SqliteOdbcConnect(path_);
    }
  }

  void Exec(const std::string& sql) override { testing::Exec(path_, sql); }
  long QueryLong(const std::string& sql) override { return testing::QueryLong(path_, sql); }

 private:
  std::string path_;
};

// A database of its own on a server, and a plain ODBC connection to it for
// "another program".
class ServerBackend : public Backend {
 public:
  ServerBackend(Server server, const std::string& connect)
      : scratch_(MakeScratch(server, connect)),
        env_(std::make_shared<dbengine::odbc::Environment>()) {
    engine_ = dbengine::MakeOdbcEngine(platform::RealFileSystem(),
                                       dbengine::MakeSqliteEngine(kBusyTimeoutMs));
    target_ = "ODBC;" + scratch_->Connect();
    can_.emptyTextWithoutAllowZeroLength = true;
    if (server == Server::kMariaDb) {
      can_.booleanColumnsHoldAnyNumber = true;  // a TINYINT(1)
      can_.rowIdentity = false;
    }
  }

  void Exec(const std::string& sql) override {
    try {
      dbengine::odbc::Connection conn(env_, scratch_->Connect(), scratch_->Name());
      AnsiQuotes(conn);
      conn.ExecDirect(sql);
    } catch (const Error& e) {
      ADD_FAILURE() << sql << ": " << e.Description() << "\n" << e.Cause();
    }
  }

  long QueryLong(const std::string& sql) override {
    try {
      dbengine::odbc::Connection conn(env_, scratch_->Connect(), scratch_->Name());
      AnsiQuotes(conn);
      dbengine::odbc::Statement stmt(conn.get(), sql);
      stmt.ExecDirect(sql);
      if (stmt.Fetch()) {
        SQLBIGINT v = 0;
        SQLLEN length = 0;
        stmt.Check(SQLGetData(stmt.get(), 1, SQL_C_SBIGINT, &v, 0, &length));
        if (length != SQL_NULL_DATA) return static_cast<long>(v);
      }
      ADD_FAILURE() << "no result: " << sql;
    } catch (const Error& e) {
      ADD_FAILURE() << sql << ": " << e.Description() << "\n" << e.Cause();
    }
    return -1;
  }

 private:
  // The tests' own SQL quotes names with double quotes, as standard SQL does;
  // MariaDB takes them so when told.
  void AnsiQuotes(dbengine::odbc::Connection& conn) const {
    if (!can_.rowIdentity)
      conn.ExecDirect("SET SESSION sql_mode = CONCAT(@@sql_mode, ',ANSI_QUOTES')");
  }

  std::unique_ptr<ScratchDatabase> scratch_;
  std::shared_ptr<dbengine::odbc::Environment> env_;
};

}  // namespace

std::string BackendName(const ::testing::TestParamInfo<BackendKind>& info) {
  switch (info.param) {
    case BackendKind::kBuiltIn:
      return "BuiltIn";
    case BackendKind::kOdbcSqlite:
      return "OdbcSqlite";
    case BackendKind::kOdbcPostgres:
      return "OdbcPostgres";
    case BackendKind::kOdbcMariaDb:
      return "OdbcMariaDb";
  }
  return "Unknown";
}

void PrintTo(BackendKind kind, std::ostream* os) {
  *os << BackendName(::testing::TestParamInfo<BackendKind>(kind, 0));
}

std::unique_ptr<Backend> MakeFileBackend(BackendKind kind, const TempDir& dir) {
  return std::make_unique<FileBackend>(kind, dir);
}

std::unique_ptr<Backend> MakePostgresBackend(const std::string& server) {
  return std::make_unique<ServerBackend>(Server::kPostgres, server);
}

std::unique_ptr<Backend> MakeMariaDbBackend(const std::string& server) {
  return std::make_unique<ServerBackend>(Server::kMariaDb, server);
}

void Backend::GiveKey(dbengine::Database& db, const std::string& table) const {
  if (can_.rowIdentity) return;
  db.Execute("ALTER TABLE " + table +
             " ADD COLUMN sa_key INTEGER NOT NULL AUTO_INCREMENT PRIMARY KEY");
}

void MakeArchive(const std::string& path, const dbengine::TableDef& def) {
  auto db = dbengine::MakeSqliteEngine()->CreateDatabase(path, kLangGeneral, kVersion40);
  db->AppendTableDef(def);
  db->Close();
}

std::string MakeSalesArchive(const std::string& path, const std::vector<std::string>& names,
                             int nameSize) {
  auto archive = dbengine::MakeSqliteEngine()->CreateDatabase(path, kLangGeneral, kVersion40);
  archive->AppendTableDef(SalesDef(nameSize));
  auto rs = archive->OpenRecordset("SELECT * FROM Sales WHERE 1 = 0");
  int n = 0;
  for (const std::string& name : names) {
    rs->AddNew();
    rs->SetValue("Ok", int64_t{1});
    rs->SetValue("Qty", int64_t{n});
    rs->SetValue("Ticket", int64_t{200 + n});
    rs->SetValue("Price", 4.25);
    rs->SetValue("D_Fecha", DateTime::FromParts({2024, 5, n + 1}, 9, 30, 15, 125));
    rs->SetValue("Name", name);
    rs->Update();
    ++n;
  }
  rs->Close();
  archive->Close();
  return path;
}

void BackendTest::SetUp() {
  if (GetParam() == BackendKind::kOdbcPostgres) {
    SA_REQUIRE_POSTGRES(server);
    backend_ = MakePostgresBackend(*server);
  } else if (GetParam() == BackendKind::kOdbcMariaDb) {
    SA_REQUIRE_MARIADB(server);
    backend_ = MakeMariaDbBackend(*server);
  } else {
    backend_ = MakeFileBackend(GetParam(), dir_);
  }
  db_ = backend_->Open();
}

dbengine::TableDef SalesDef(int nameSize) {
  using dbengine::FieldType;
  dbengine::TableDef def("Sales");
  def.Fields().Append(def.CreateField("Ok", FieldType::kBoolean));
  def.Fields().Append(def.CreateField("Qty", FieldType::kInteger));
  def.Fields().Append(def.CreateField("Ticket", FieldType::kLong));
  def.Fields().Append(def.CreateField("Price", FieldType::kDouble));
  def.Fields().Append(def.CreateField("D_Fecha", FieldType::kDate));
  def.Fields().Append(def.CreateField("Name", FieldType::kText, nameSize));
  return def;
}

void AddSale(dbengine::Recordset& rs, dbengine::Value ok, dbengine::Value qty,
             dbengine::Value ticket, dbengine::Value price, dbengine::Value date,
             dbengine::Value name) {
  rs.AddNew();
  rs.SetValue("ok", ok);
  rs.SetValue("QTY", qty);
  rs.SetValue("ticket", ticket);
  rs.SetValue("price", price);
  rs.SetValue("d_fecha", date);
  rs.SetValue("name", name);
  rs.Update();
}

void FillSales(dbengine::Database& db, const Backend* backend) {
  const auto at = [](int y, int m, int d, int hh) {
    return DateTime::FromParts({y, m, d}, hh, 0, 0);
  };
  db.AppendTableDef(SalesDef());
  if (backend != nullptr) backend->GiveKey(db, "sales");
  auto rs = db.OpenRecordset("SELECT * FROM sales WHERE 1 = 0");
  AddSale(*rs, int64_t{1}, int64_t{3}, int64_t{100}, 1.5, at(2024, 3, 2, 0), std::string("c"));
  AddSale(*rs, int64_t{0}, std::string("4"), int64_t{101}, 2.0, at(2024, 3, 1, 10), "a");
  AddSale(*rs, int64_t{1}, int64_t{5}, int64_t{102}, 2.5, std::string("2024-04-01"), "d");
  AddSale(*rs, int64_t{1}, int64_t{6}, int64_t{103}, 3.5, at(2023, 12, 31, 23), "b");
  rs->Close();
}

}  // namespace sa::testing
