#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

#include "dbengine/odbc/session.h"

#include <algorithm>
#include <map>

#include "core/error.h"
#include "dbengine/engine.h"
#include "dbengine/odbc/archive_link.h"
#include "dbengine/odbc/parameter_arrays.h"
#include "dbengine/odbc/row_reads.h"

namespace sa::dbengine::odbc {

void Session::Rollback() {
  ForgetRead();
  for (OdbcArchiveLink* link : links_) link->Rollback();
  if (src_->Open()) src_->Conn().EndTrans(false);
}

void Session::CommitArchives() {
  for (OdbcArchiveLink* link : links_) link->Commit();
}

void Session::ForgetRead() {
  read_.table.clear();
  read_.rows.Clear(0);
}

// Reads the named records of `info` that meet `where` (the driver's SQL;
// empty: all), every field, for a move. Inside a transaction they stay as
// read until it ends where the family can see to it: locked as they are
// selected (so that a row identity that depends on the row's place cannot
// change either), or kept from other writers by the write lock taken
// first. The copy that follows takes their values from here rather than
// reading the same records again.
void Session::ReadForMove(const TableInfo& info, std::span<const int64_t> ids,
                          const std::string& where) {
  const std::string writeLock =
      src_->Family().WriteLockStatement(src_->Family().QuoteName(info.name));
  if (InTransaction() && !writeLock.empty()) src_->Conn().ExecDirect(writeLock);
  ReadBlock(*src_, info, info.columns, ids, read_.rows,
            src_->Family().LocksSelectedRows() && InTransaction(), where);
  read_.table = InTransaction() ? LowerAscii(info.name) : "";
}

// Whether ReadForMove read every one of the named records of `info`.
bool Session::ReadAll(const TableInfo& info, std::span<const int64_t> ids) const {
  return read_.table == LowerAscii(info.name) &&
         std::all_of(ids.begin(), ids.end(),
                     [&](int64_t id) { return read_.rows.Find(id) != nullptr; });
}

Session::RowsRead Session::RowsToCopy(const TableInfo& info, const std::vector<Field>& columns,
                                      std::span<const int64_t> ids) {
  const bool readBefore = InTransaction() && ReadAll(info, ids);
  read_.table.clear();
  std::vector<size_t> at;
  if (readBefore) {
    for (const Field& c : columns) {
      for (size_t i = 0; i < info.columns.size(); ++i) {
        if (info.columns[i].name == c.name) {
          at.push_back(i);
          break;
        }
      }
    }
  } else {
    ReadBlock(*src_, info, columns, ids, read_.rows);
    for (size_t i = 0; i < columns.size(); ++i) at.push_back(i);
  }
  RowBlock& read = read_.rows;
  // Read in the order named, every field in its place: taken as they are.
  bool asRead = read.Whole() && read.Size() == ids.size() && at.size() == read.Width();
  for (size_t i = 0; asRead && i < at.size(); ++i) asRead = at[i] == i;
  for (size_t r = 0; asRead && r < ids.size(); ++r) asRead = read.Id(r) == ids[r];
  if (asRead) return {read.Ids(), read.Values()};
  // As many rows read as named, each found: no record is named twice, and
  // the values read can move.
  const bool once = read.Whole() && read.Distinct() && read.Size() == ids.size();
  copy_.Clear(columns.size());
  copy_.Values().reserve(ids.size() * columns.size());
  for (int64_t id : ids) {
    Value* all = read.Find(id);
    if (all == nullptr) continue;
    Value* values = copy_.Add(id);
    for (size_t i = 0; i < at.size(); ++i) {
      values[i] = once ? std::move(all[at[i]]) : all[at[i]];
    }
  }
  return {copy_.Ids(), copy_.Values()};
}

// Deletes the named records of `info` by identity; returns how many existed.
long Session::DeleteByIdentity(const TableInfo& info, std::span<const int64_t> ids) {
  long deleted = 0;
  for (size_t first = 0; first < ids.size(); first += kIdsPerStatement) {
    const auto chunk = ids.subspan(first, std::min(kIdsPerStatement, ids.size() - first));
    auto stmt = src_->NewStatement(info.name + " in " + Shown());
    stmt->ExecDirect("DELETE FROM " + src_->Family().QuoteName(info.name) + " WHERE " +
                     src_->IdentityIn(info, chunk));
    deleted += static_cast<long>(stmt->RowCount());
  }
  return deleted;
}

// Deletes each of the named records of `info` whose `columns` still hold
// the values `read` gives for it, one statement per record, its identity
// and every field compared in the statement itself: a record another
// program changes after it was read is not deleted, and one it changes
// later waits for this transaction. Returns those deleted, in the order
// named. A record left although the database, reading it as this
// transaction does (the same snapshot, where it keeps one), still finds
// it as read, yet cannot find its values equal to those read, refuses
// the call: the comparison cannot be made exactly there, and the record
// would never move.
std::vector<int64_t> Session::DeleteUnchanged(const TableInfo& info,
                                              const std::vector<Field>& columns,
                                              std::span<const int64_t> ids,
                                              const std::function<const Value*(int64_t)>& read) {
  const std::string context = info.name + " in " + Shown();
  // One prepared statement per pattern of null fields.
  struct Prepared {
    std::unique_ptr<Statement> stmt;
    std::unique_ptr<ParameterArrays> params;
  };
  std::map<std::vector<bool>, Prepared> prepared;
  std::vector<int64_t> deleted, left;
  for (const int64_t id : ids) {
    const Value* values = read(id);
    if (values == nullptr) continue;
    std::vector<bool> nulls(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) nulls[i] = IsNull(values[i]);
    SameAsRead same = SameAsReadCondition(info, columns, id, values);
    Prepared& p = prepared[nulls];
    if (!p.stmt) {
      p.stmt = src_->NewStatement(context);
      p.stmt->Prepare("DELETE FROM " + src_->Family().QuoteName(info.name) + " WHERE " +
                      same.where);
      p.params = std::make_unique<ParameterArrays>(*p.stmt, same.params,
                                                   src_->Family().StoresDatesAsText());
    }
    p.params->Insert(same.args);
    (p.stmt->RowCount() > 0 ? deleted : left).push_back(id);
  }
  if (!left.empty()) {
    const auto now = ReadRows(*src_, info, columns, left);
    for (const int64_t id : left) {
      const auto row = now.find(id);
      if (row == now.end() || !std::equal(row->second.begin(), row->second.end(), read(id)) ||
          FindsSameAsRead(info, columns, id, read(id))) {
        continue;  // changed or deleted since it was read: it stays
      }
      std::string field = "(together)";
      for (size_t i = 0; i < columns.size(); ++i) {
        const std::vector<Field> one{columns[i]};
        if (!FindsSameAsRead(info, one, id, read(id) + i)) {
          field = columns[i].name + " " + ValueToText(read(id)[i]);
          break;
        }
      }
      throw Error(EngineError::kCallFailed, "A record cannot be compared with what was read of it.",
                  context + ": record " + std::to_string(id) + ", field " + field +
                      ": the database does not find the value read equal to itself; the "
                      "record stays live");
    }
  }
  return deleted;
}

Session::SameAsRead Session::SameAsReadCondition(const TableInfo& info,
                                                 const std::vector<Field>& columns, int64_t id,
                                                 const Value* values) const {
  SameAsRead out{info.identity + " = ?", {Field{"", FieldType::kLong, 0}}, {id}};
  for (size_t i = 0; i < columns.size(); ++i) {
    const bool null = IsNull(values[i]);
    out.where += " AND " + src_->Family().QuoteName(columns[i].name) + (null ? " IS NULL" : " = ?");
    if (!null) {
      out.params.push_back(columns[i]);
      out.args.push_back(values[i]);
    }
  }
  return out;
}

// Whether the database finds record `id` of `info` equal to `values` in
// `columns` (as SameAsReadCondition compares them) when it reads it as
// this transaction reads.
bool Session::FindsSameAsRead(const TableInfo& info, const std::vector<Field>& columns, int64_t id,
                              const Value* values) {
  const SameAsRead same = SameAsReadCondition(info, columns, id, values);
  auto stmt = src_->NewStatement(info.name + " in " + Shown());
  stmt->Prepare("SELECT " + info.identity + " FROM " + src_->Family().QuoteName(info.name) +
                " WHERE " + same.where);
  ParameterArrays(*stmt, same.params, src_->Family().StoresDatesAsText()).Insert(same.args);
  return stmt->Fetch();
}

}  // namespace sa::dbengine::odbc
