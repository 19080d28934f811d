// What a database of the SQLite backend shares with its archive links: the
// connection (archives are attached to it, each under a schema name of its
// own), the identities staged for the next set statement, and the live
// tables' layouts as the moves read them. The database and its links hold
// it together, so either may go first.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/sqlite/sqlite_handle.h"
#include "dbengine/sqlite/staged_keys.h"
#include "dbengine/table_def.h"

namespace sa::dbengine::sqlite {

class Session {
 public:
  // `archivePageLimit`: when not 0, attached archives may not grow past that
  // many pages, as on a full disk.
  Session(std::shared_ptr<Connection> conn, int64_t archivePageLimit)
      : conn_(std::move(conn)), archivePageLimit_(archivePageLimit) {}

  Connection& Conn() const { return *conn_; }
  const std::shared_ptr<Connection>& SharedConn() const { return conn_; }
  const std::string& Name() const { return conn_->Path(); }

  // Attaches the archive at `path` under a schema name of its own, with the
  // archives' journal settings, and returns the name. Outside a transaction
  // only.
  std::string Attach(const std::string& path);
  void Detach(const std::string& schema);
  // The file a schema name stands for: this database's, or an archive's.
  std::string SchemaPath(const std::string& schema) const;

  // Undoes the open transaction, and forgets what it staged.
  void Rollback();
  // Ends the read that open record sets share, unless a transaction is open:
  // a write outside a transaction then commits on its own.
  void BeforeWrite();

  // The catalog (catalog.h), errors naming the schema's file.
  std::string RealTableName(const std::string& schema, const std::string& table) const;
  std::vector<Field> Fields(const std::string& schema, const std::string& table) const;

  // A live table's name as stored and its fields, read once per table.
  const std::pair<std::string, std::vector<Field>>& LiveTable(const std::string& table);
  std::string LiveTableName(const std::string& table);
  // True when every value of the live table `source` (read by LiveTable) is
  // in the form its own field declares (storage, range, length).
  bool LiveValuesConform(const std::string& source);

  void StageKeys(std::span<const int64_t> keys) { staged_.Stage(*conn_, keys); }
  void ForgetStagedKeys() { staged_.Forget(); }
  const std::vector<IdentityStretches::Stretch>& Staged() const { return staged_.Stretches(); }

 private:
  // Changes when another connection commits to the live database.
  int64_t DataVersion();

  std::shared_ptr<Connection> conn_;
  int64_t archivePageLimit_;
  int nextSchema_ = 0;
  std::map<std::string, std::string> attached_;  // schema name -> path
  StagedKeys staged_;
  // live table -> (data version when checked, whether its values conform)
  std::map<std::string, std::pair<int64_t, bool>> conforming_;
  // lower-cased table -> its name and fields in the live database
  std::map<std::string, std::pair<std::string, std::vector<Field>>> liveTables_;
};

}  // namespace sa::dbengine::sqlite
