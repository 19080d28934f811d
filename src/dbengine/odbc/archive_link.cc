#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/archive_link.h"

#include <algorithm>
#include <bit>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/error.h"
#include "dbengine/odbc/row_reads.h"
#include "dbengine/record_numbering.h"

namespace sa::dbengine::odbc {

namespace {

// A text equal for two records exactly when their values are equal, each
// value with its kind, so that records can be counted by their values.
std::string Fingerprint(const std::vector<Value>& values) {
  std::string out;
  for (const Value& v : values) {
    if (const auto* i = std::get_if<int64_t>(&v)) {
      out += 'i' + std::to_string(*i);
    } else if (const auto* d = std::get_if<double>(&v)) {
      // Zero of either sign is one value; the bits tell the others apart.
      out += 'd' + std::to_string(std::bit_cast<uint64_t>(*d == 0 ? 0.0 : *d));
    } else if (const auto* t = std::get_if<std::string>(&v)) {
      out += 's' + std::to_string(t->size()) + ':' + *t;
    } else if (const auto* dt = std::get_if<DateTime>(&v)) {
      out += 't' + dt->ToIso();
    } else {
      out += 'n';
    }
    out += ';';
  }
  return out;
}

}  // namespace

OdbcArchiveLink::OdbcArchiveLink(std::shared_ptr<Session> session,
                                 std::unique_ptr<Database> archive, std::string path)
    : session_(std::move(session)), archive_(std::move(archive)), path_(std::move(path)) {
  if (session_->InTransaction()) archive_->BeginTrans();
  session_->Register(this);
}

OdbcArchiveLink::~OdbcArchiveLink() {
  try {
    if (session_->InTransaction()) session_->Rollback();
  } catch (const Error&) {
    // The live database's own rollback on close undoes it as well.
  }
  session_->Unregister(this);
  Close();
}

// The live database's transaction, on the archive's side.
void OdbcArchiveLink::Begin() {
  archive_->BeginTrans();
  appended_.clear();
}

// Commits the archive; what it was given is then committed.
void OdbcArchiveLink::Commit() {
  if (archive_->InTransaction()) archive_->CommitTrans();
  committed_ = std::exchange(appended_, {});
}

void OdbcArchiveLink::Rollback() {
  appended_.clear();
  try {
    if (archive_->InTransaction()) archive_->Rollback();
  } catch (const Error&) {
    // The archive's own rollback on close undoes it as well.
  }
}

void OdbcArchiveLink::Savepoint() {
  appendedBeforeStep_ = appended_.size();
  archive_->Savepoint();
}

// False when the archive undid its whole transaction.
bool OdbcArchiveLink::RollbackToSavepoint() {
  appended_.resize(std::min(appended_.size(), appendedBeforeStep_));
  return archive_->RollbackToSavepoint();
}

// Closes the archive, as the live database closes.
void OdbcArchiveLink::Close() {
  try {
    archive_->Close();
  } catch (const Error&) {
    // Closing drops the connection whatever the driver says.
  }
}

IdentityStretches OdbcArchiveLink::CopyOut(const std::string& table,
                                           std::span<const int64_t> liveIds) {
  Source& src = session_->Src();
  const TableInfo& info = src.IdentifiedTable(table);
  const TableDef target = ArchiveTable(table);
  const std::vector<Field> sources = SourceColumns(info, target);
  const auto rows = session_->RowsToCopy(info, sources, liveIds);
  const size_t width = sources.size();
  Copies copies{LowerAscii(info.name), {rows.ids.begin(), rows.ids.end()}, width, {}};
  copies.values.reserve(rows.ids.size() * width);
  try {
    for (size_t r = 0; r < rows.ids.size(); ++r) {
      size_t i = 0;
      for (const Field& f : target.Fields()) {
        copies.values.push_back(
            ConvertForField(rows.values[r * width + i++], f.type, f.size, f.name));
      }
    }
  } catch (const Error& e) {
    // A refused value names its field; the table and the archive go first.
    throw e.WithCause(info.name + " into " + archive_->Name());
  }
  // One bulk append: the run in the archive whole or not at all. The
  // copies take the identities after the archive's last record.
  std::vector<std::string> fields;
  for (const Field& f : target.Fields()) fields.push_back(f.name);
  const int64_t first = NumberingOf(*archive_).LastRecordId(target.Name()) + 1;
  const long appended = archive_->AppendRows(target.Name(), fields, copies.values);
  appended_.push_back(std::move(copies));
  IdentityStretches out;
  out.AddStretch(first, appended);
  return out;
}

long OdbcArchiveLink::ReplaceTable(const std::string& table, std::span<const int64_t> liveIds) {
  archive_->Execute("delete from " + table);
  return static_cast<long>(CopyOut(table, liveIds).size());
}

long OdbcArchiveLink::DeleteLiveCopied(const std::string& table, std::span<const int64_t> liveIds,
                                       std::span<const int64_t> copyIds) {
  Source& src = session_->Src();
  if (copyIds.size() != liveIds.size()) {
    throw Error(EngineError::kInvalidArgument, "Each record needs the identity of its copy.",
                table + " in " + src.Shown());
  }
  const bool inTransaction = session_->InTransaction();
  const TableInfo& info = src.IdentifiedTable(table);
  const TableDef target = ArchiveTable(table);
  const std::vector<Field> sources = SourceColumns(info, target);
  const std::string writeLock = src.Family().WriteLockStatement(src.Family().QuoteName(info.name));
  if (inTransaction && !writeLock.empty()) src.Conn().ExecDirect(writeLock);
  const auto live =
      ReadRows(src, info, sources, liveIds, inTransaction && src.Family().LocksSelectedRows());
  // The live record's values as the copy took them; a value that no
  // longer converts differs from its copy.
  const auto converted = [&](int64_t bookmark) -> std::optional<std::vector<Value>> {
    const auto row = live.find(bookmark);
    if (row == live.end()) return std::nullopt;
    std::vector<Value> values;
    int i = 0;
    try {
      for (const Field& f : target.Fields()) {
        values.push_back(
            ConvertForField(row->second[static_cast<size_t>(i++)], f.type, f.size, f.name));
      }
    } catch (const Error&) {
      return std::nullopt;
    }
    return values;
  };
  // Equal to their copies when read: deleted as read.
  const auto deleteSame = [&](const std::vector<int64_t>& same) -> long {
    if (inTransaction && src.Family().KeepsReadRecordsUntilCommit()) {
      return session_->DeleteByIdentity(info, same);
    }
    return static_cast<long>(session_
                                 ->DeleteUnchanged(info, sources, same,
                                                   [&](int64_t id) {
                                                     const auto row = live.find(id);
                                                     return row == live.end() ? nullptr
                                                                              : row->second.data();
                                                   })
                                 .size());
  };
  std::vector<int64_t> same;
  if (const Copies* known = CommittedCopies(info.name, liveIds)) {
    // Copies this link wrote and saw committed: compared as written.
    for (size_t k = 0; k < known->bookmarks.size(); ++k) {
      const auto values = converted(known->bookmarks[k]);
      const auto copy = std::span(known->values).subspan(k * known->width, known->width);
      if (values && std::equal(values->begin(), values->end(), copy.begin(), copy.end())) {
        same.push_back(known->bookmarks[k]);
      }
    }
    return deleteSame(same);
  }
  // After a crash the copies are read back, once the archive is seen to
  // hold them (its commit is atomic: every copy is there, or none): by
  // identity, the i-th named record against the copy named copyIds[i]; in
  // an archive whose records have no identity (numbered by position), each
  // live record against a copy of equal values that no other live record
  // has taken.
  if (liveIds.empty() || NumberingOf(*archive_).LastRecordId(target.Name()) <
                             *std::min_element(copyIds.begin(), copyIds.end())) {
    return 0;
  }
  const std::unordered_set<int64_t> named(copyIds.begin(), copyIds.end());
  std::unordered_map<int64_t, std::vector<Value>> byId;
  std::unordered_map<std::string, long> byValues;
  bool identified = true;
  {
    auto rs = archive_->OpenRecordset("SELECT * FROM " + target.Name());
    for (; !rs->Eof(); rs->MoveNext()) {
      std::vector<Value> values;
      for (int i = 0; i < rs->FieldCount(); ++i) values.push_back(rs->GetValue(i));
      if (identified) {
        try {
          const int64_t id = rs->Bookmark();
          if (named.count(id) != 0) byId.emplace(id, std::move(values));
          continue;
        } catch (const Error& e) {
          if (e.Number() != EngineError::kNoIdentity) throw;
          identified = false;
        }
      }
      ++byValues[Fingerprint(values)];
    }
    rs->Close();
  }
  for (size_t k = 0; k < liveIds.size(); ++k) {
    const auto values = converted(liveIds[k]);
    if (!values) continue;
    if (identified) {
      const auto copy = byId.find(copyIds[k]);
      if (copy != byId.end() && copy->second == *values) same.push_back(liveIds[k]);
    } else if (long& left = byValues[Fingerprint(*values)]; left > 0) {
      --left;
      same.push_back(liveIds[k]);
    }
  }
  return deleteSame(same);
}

// The copies of `table` this link appended and committed last, when they
// are of the named records.
const OdbcArchiveLink::Copies* OdbcArchiveLink::CommittedCopies(
    const std::string& table, std::span<const int64_t> bookmarks) const {
  for (auto it = committed_.rbegin(); it != committed_.rend(); ++it) {
    if (it->table != LowerAscii(table)) continue;
    const std::unordered_set<int64_t> named(bookmarks.begin(), bookmarks.end());
    const bool all = std::all_of(it->bookmarks.begin(), it->bookmarks.end(),
                                 [&](int64_t id) { return named.count(id) != 0; });
    return all ? &*it : nullptr;
  }
  return nullptr;
}

TableDef OdbcArchiveLink::ArchiveTable(const std::string& table) {
  for (TableDef& def : archive_->TableDefs()) {
    if (SameName(def.Name(), table)) return std::move(def);
  }
  throw Error(EngineError::kTableNotFound, "Cannot find the input table or query.",
              table + " in " + archive_->Name());
}

// The live columns that fill the archive table's fields, in its order.
std::vector<Field> OdbcArchiveLink::SourceColumns(const TableInfo& info,
                                                  const TableDef& target) const {
  std::vector<Field> out;
  for (const Field& f : target.Fields()) {
    const Field* found = nullptr;
    for (const Field& c : info.columns) {
      if (SameName(c.name, f.name)) found = &c;
    }
    if (!found) {
      throw Error(EngineError::kItemNotFound, "Item not found in this collection.",
                  "field " + f.name + " of " + info.name + " in " + session_->Shown());
    }
    out.push_back(*found);
  }
  return out;
}

}  // namespace sa::dbengine::odbc
