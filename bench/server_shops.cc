#include "server_shops.h"

#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "dbengine/table_def.h"
#include "platform/file_system.h"
#include "shop_copy.h"

namespace sa::bench {

std::string PostgresShop(const std::string& server, const Shop& shop, const std::string& schema) {
  auto odbc = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  {
    auto db = odbc->OpenDatabase("ODBC;" + server);
    db->Execute("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
    db->Execute("CREATE SCHEMA " + schema);
  }
  const std::string connect = server + ";ConnSettings=SET search_path TO " + schema;
  auto from = dbengine::MakeSqliteEngine()->OpenDatabase((shop.folder / "datos/live.db").string());
  auto to = odbc->OpenDatabase("ODBC;" + connect);
  demo::CopyTables(*from, *to, {"cabecera", "tickets"});
  return connect;
}

void DropPostgresShop(const std::string& server, const std::string& schema) {
  auto db =
      dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)->OpenDatabase("ODBC;" + server);
  db->Execute("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
}

std::string MariaDbDatabase(const std::string& connect) {
  const std::string lower = dbengine::LowerAscii(connect);
  const size_t at = lower.find("database=");
  if (at == std::string::npos) return "";
  const size_t end = connect.find(';', at);
  return connect.substr(at + 9, end == std::string::npos ? std::string::npos : end - at - 9);
}

namespace {

// The MariaDB connection string with `database` in place of the one it names.
std::string WithMariaDbDatabase(const std::string& connect, const std::string& database) {
  const std::string old = MariaDbDatabase(connect);
  const size_t at = dbengine::LowerAscii(connect).find("database=");
  if (at == std::string::npos) return connect + ";Database=" + database;
  return connect.substr(0, at + 9) + database + connect.substr(at + 9 + old.size());
}

}  // namespace

std::string MariaDbShop(const std::string& server, const Shop& shop, const std::string& database) {
  auto odbc = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  {
    auto db = odbc->OpenDatabase("ODBC;" + server);
    db->Execute("DROP DATABASE IF EXISTS " + database);
    db->Execute("CREATE DATABASE " + database);
  }
  const std::string connect = WithMariaDbDatabase(server, database);
  auto from = dbengine::MakeSqliteEngine()->OpenDatabase((shop.folder / "datos/live.db").string());
  auto to = odbc->OpenDatabase("ODBC;" + connect);
  demo::CopyTables(*from, *to,
                   {"cabecera", "gtarti", "gthora", "gtInfVen", "gtsecs", "gtvend", "tickets",
                    "cliente", "GTVacuno"});
  return connect;
}

void DropMariaDbShop(const std::string& server, const std::string& database) {
  auto db =
      dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)->OpenDatabase("ODBC;" + server);
  db->Execute("DROP DATABASE IF EXISTS " + database);
}

}  // namespace sa::bench
