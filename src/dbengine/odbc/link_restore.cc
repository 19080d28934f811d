#ifdef _WIN32
#include <windows.h>  // the ODBC headers take their types from it there
#endif

// Taking records back through an ODBC archive link: the archive's records
// read through its own record sets, inserted into the live table one by one
// with the identity each copy gets, checked to have come back exactly, then
// deleted from the archive.
#include "core/error.h"
#include "dbengine/odbc/archive_link.h"
#include "dbengine/odbc/parameter_arrays.h"
#include "dbengine/odbc/row_reads.h"

namespace sa::dbengine::odbc {

// Taking a month back: the archive is read through its own database's
// record sets (any backend that names its records), the live side through
// the live connection. The live copies' identities are learnt as the
// family allows (see CopyBack).
std::vector<int64_t> OdbcArchiveLink::ArchivedIds(const std::string& table) {
  std::vector<int64_t> ids;
  for (const auto& [id, values] : ArchivedRecords(table).rows) ids.push_back(id);
  return ids;
}

// Inserts the named archived records into the live table one by one,
// converted for the live fields, and learns each new record's identity:
// returned by the INSERT, asked for right after it, or, for a key the
// archive holds, the key's own value.
IdentityStretches OdbcArchiveLink::CopyBack(const std::string& table,
                                            std::span<const int64_t> archivedIds) {
  Source& src = session_->Src();
  const ArchivedTable archived = ArchivedRecords(table);
  const TableInfo& info = src.IdentifiedTable(table);
  const std::vector<Field> columns = SourceColumns(info, archived.def);
  const DriverFamily& family = src.Family();
  const std::string quoted = family.QuoteName(info.name);
  const std::string context = info.name + " from " + archive_->Name() + " into " + src.Shown();
  std::optional<size_t> keyField;
  for (size_t i = 0; i < columns.size() && info.keyed; ++i) {
    if (family.QuoteName(columns[i].name) == info.identity) keyField = i;
  }
  const std::string returning = family.InsertReturning(info.identity);
  const std::string query =
      returning.empty() ? family.InsertedIdentityQuery(info.identity, quoted) : "";
  if (returning.empty() && query.empty() && !keyField) {
    throw Error(EngineError::kNoIdentity,
                "The identity a restored record gets cannot be learnt here.",
                context +
                    ": the driver tells no new record's identity; a whole-number "
                    "primary key that the archive holds would name them");
  }
  std::string names, marks;
  for (const Field& c : columns) {
    names += (names.empty() ? "" : ",") + family.QuoteName(c.name);
    marks += marks.empty() ? "?" : ",?";
  }
  auto insert = src.NewStatement(context);
  insert->Prepare("INSERT INTO " + quoted + " (" + names + ") VALUES (" + marks + ")" + returning);
  std::unique_ptr<Statement> ask;
  if (!query.empty()) {
    ask = src.NewStatement(context);
    ask->Prepare(query);
  }
  ParameterArrays params(*insert, columns, family.StoresDatesAsText());
  std::vector<int64_t> copyIds;
  copyIds.reserve(archivedIds.size());
  for (const int64_t id : archivedIds) {
    const auto row = archived.rows.find(id);
    if (row == archived.rows.end()) continue;
    std::vector<Value> values;
    values.reserve(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
      values.push_back(
          ConvertForField(row->second[i], columns[i].type, columns[i].size, columns[i].name));
    }
    params.Insert(values);
    std::optional<int64_t> copy;
    if (!returning.empty()) {
      copy = AnsweredIdentity(*insert);
    } else if (ask) {
      ask->Execute();
      copy = AnsweredIdentity(*ask);
    } else if (const auto* key = std::get_if<int64_t>(&values[*keyField])) {
      copy = *key;
    }
    if (!copy) {
      throw Error(EngineError::kNoIdentity, "The identity a restored record got cannot be learnt.",
                  context + ": record " + std::to_string(id) + " of the archive");
    }
    copyIds.push_back(*copy);
  }
  CheckCameBackExactly(archived, info, columns, archivedIds, copyIds, context);
  return IdentityStretches(copyIds);
}

long OdbcArchiveLink::DeleteArchived(const std::string& table,
                                     std::span<const int64_t> archivedIds) {
  return archive_->DeleteRecords(table, archivedIds);
}

// Deletes the named archived records whose live copies (copyIds, in the
// same order) hold their values, converted as CopyBack converts.
long OdbcArchiveLink::DeleteArchivedCopied(const std::string& table,
                                           std::span<const int64_t> archivedIds,
                                           std::span<const int64_t> copyIds) {
  if (copyIds.size() != archivedIds.size()) {
    throw Error(EngineError::kInvalidArgument, "Each record needs the identity of its copy.",
                table + " in " + archive_->Name());
  }
  Source& src = session_->Src();
  const ArchivedTable archived = ArchivedRecords(table);
  const TableInfo& info = src.IdentifiedTable(table);
  const std::vector<Field> columns = SourceColumns(info, archived.def);
  const auto live = ReadRows(src, info, columns, copyIds,
                             session_->InTransaction() && src.Family().LocksSelectedRows());
  std::vector<int64_t> same;
  for (size_t k = 0; k < archivedIds.size(); ++k) {
    const auto row = archived.rows.find(archivedIds[k]);
    const auto copy = live.find(copyIds[k]);
    if (row == archived.rows.end() || copy == live.end()) continue;
    bool equal = true;
    for (size_t i = 0; i < columns.size() && equal; ++i) {
      try {
        equal = ConvertForField(row->second[i], columns[i].type, columns[i].size,
                                columns[i].name) == copy->second[i];
      } catch (const Error&) {
        equal = false;
      }
    }
    if (equal) same.push_back(archivedIds[k]);
  }
  return archive_->DeleteRecords(archived.def.Name(), same);
}

OdbcArchiveLink::ArchivedTable OdbcArchiveLink::ArchivedRecords(const std::string& table) {
  ArchivedTable out{ArchiveTable(table), {}};
  auto rs = archive_->OpenRecordset("SELECT * FROM " + out.def.Name());
  std::vector<int> fields;
  for (const Field& f : out.def.Fields()) fields.push_back(rs->FieldIndex(f.name));
  for (; !rs->Eof(); rs->MoveNext()) {
    int64_t id = 0;
    try {
      id = rs->Bookmark();
    } catch (const Error& e) {
      if (e.Number() != EngineError::kNoIdentity) throw;
      throw Error(EngineError::kNoIdentity,
                  "The archive's records have no identity to take them back by.",
                  out.def.Name() + " in " + archive_->Name() +
                      ": its database format offers no row identity; the records stay in "
                      "the archive");
    }
    std::vector<Value> values;
    values.reserve(fields.size());
    for (const int i : fields) values.push_back(rs->GetValue(i));
    out.rows.emplace(id, std::move(values));
  }
  rs->Close();
  return out;
}

// The identity of the record an INSERT ... RETURNING or an identity query
// just answered; nullopt when it answered none. Closes the answer.
std::optional<int64_t> OdbcArchiveLink::AnsweredIdentity(Statement& stmt) {
  std::optional<int64_t> id;
  if (stmt.Fetch()) {
    SQLBIGINT v = 0;
    SQLLEN length = 0;
    stmt.Check(SQLGetData(stmt.get(), 1, SQL_C_SBIGINT, &v, 0, &length));
    if (length != SQL_NULL_DATA) id = v;
  }
  SQLFreeStmt(stmt.get(), SQL_CLOSE);
  return id;
}

// Throws EngineError::kDataConversion when a record just taken back holds
// a value that its live field changed: its live copy (copyIds[i] for
// ids[i]), read back as the archive's field, differs from the archived
// value (a fraction into a whole-number field, a time into a date, a
// number rounded to the column's scale).
void OdbcArchiveLink::CheckCameBackExactly(const ArchivedTable& archived, const TableInfo& info,
                                           const std::vector<Field>& columns,
                                           std::span<const int64_t> ids,
                                           std::span<const int64_t> copyIds,
                                           const std::string& context) {
  Source& src = session_->Src();
  const auto live = ReadRows(src, info, columns, copyIds,
                             session_->InTransaction() && src.Family().LocksSelectedRows());
  size_t k = 0;
  for (const int64_t id : ids) {
    const auto row = archived.rows.find(id);
    if (row == archived.rows.end()) continue;
    const auto copy = live.find(copyIds[k++]);
    for (size_t i = 0; i < columns.size(); ++i) {
      const Field& field = archived.def.Fields().Item(static_cast<int>(i));
      const Value* now = copy == live.end() ? nullptr : &copy->second[i];
      bool same = false;
      try {
        same = now != nullptr &&
               ConvertForField(*now, field.type, field.size, field.name) == row->second[i];
      } catch (const Error&) {
      }
      if (same) continue;
      throw Error(EngineError::kDataConversion, "A value would not come back exactly.",
                  context + ": record " + std::to_string(id) + ", field " + field.name + " " +
                      ValueToText(row->second[i]) + " would come back as " +
                      (now != nullptr ? ValueToText(*now) : std::string("nothing")) +
                      "; the table's records stay in the archive");
    }
  }
}

}  // namespace sa::dbengine::odbc
