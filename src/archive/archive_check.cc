#include "archive/archive_check.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "archive/schema.h"
#include "core/datetime.h"
#include "core/error.h"

namespace sa::archive {

namespace {

// The date field of each dated archive table, as the archive spells it.
const char* DateFieldOf(const std::string& table) {
  static const std::pair<const char*, const char*> kDates[] = {
      {"cabecera", "d_fecha"}, {"tickets", "d_fecha"}, {"gtsecs", "fecha"}, {"gtvend", "fecha"},
      {"gtarti", "fecha"},     {"gtInfVen", "fecha"},  {"gthora", "FECHA"}, {"GTVacuno", "Fecha"},
  };
  for (const auto& [name, field] : kDates) {
    if (table == name) return field;
  }
  return nullptr;
}

const char* TypeName(dbengine::FieldType type) {
  switch (type) {
    case dbengine::FieldType::kBoolean:
      return "boolean";
    case dbengine::FieldType::kInteger:
      return "16-bit integer";
    case dbengine::FieldType::kLong:
      return "32-bit integer";
    case dbengine::FieldType::kDouble:
      return "double";
    case dbengine::FieldType::kDate:
      return "date";
    case dbengine::FieldType::kText:
      return "text";
  }
  return "unknown";
}

std::string Describe(const dbengine::Field& f) {
  std::string text = std::string(TypeName(f.type));
  if (f.type == dbengine::FieldType::kText) text += "(" + std::to_string(f.size) + ")";
  return text;
}

// The differences between a table as found and as its kind has it.
void CompareTable(const dbengine::TableDef& found, const TableSpec& layout,
                  std::vector<std::string>& problems) {
  const std::string table = layout.name;
  const int expected = static_cast<int>(layout.fields.size());
  for (int i = 0; i < std::max(expected, found.Fields().Count()); ++i) {
    if (i >= found.Fields().Count()) {
      problems.push_back("table " + table + ": field " + layout.fields[i].name + " is missing");
      return;
    }
    const dbengine::Field& f = found.Fields().Item(i);
    if (i >= expected) {
      problems.push_back("table " + table + ": field " + f.name + " does not belong to it");
      return;
    }
    const FieldSpec& want = layout.fields[i];
    dbengine::Field wanted;
    wanted.name = want.name;
    wanted.type = want.type;
    wanted.size = want.type != dbengine::FieldType::kText ? 0
                  : want.size > 0                         ? want.size
                                                          : dbengine::kDefaultTextSize;
    if (f.name != wanted.name) {
      problems.push_back("table " + table + ": field " + std::to_string(i + 1) + " is " + f.name +
                         ", " + wanted.name + " expected");
      return;
    }
    const int size = f.type == dbengine::FieldType::kText ? f.size : 0;
    if (f.type != wanted.type || size != wanted.size) {
      dbengine::Field shown = f;
      shown.size = size;
      problems.push_back("table " + table + ": field " + f.name + " is " + Describe(shown) + ", " +
                         Describe(wanted) + " expected");
    }
  }
}

long Count(dbengine::Database& db, const std::string& sql) {
  const std::unique_ptr<dbengine::Recordset> rs = db.OpenRecordset(sql);
  long n = 0;
  if (!rs->Eof()) {
    rs->MoveLast();
    n = rs->RecordCount();
  }
  rs->Close();
  return n;
}

// Records of `table` whose date does not lie in the month [first, next).
void CheckDates(dbengine::Database& db, const std::string& table, const char* field,
                const std::string& monthKey, ArchiveCheck& out) {
  const CivilDate first{std::stoi(monthKey.substr(0, 4)), std::stoi(monthKey.substr(4, 2)), 1};
  const CivilDate next = first.month == 12 ? CivilDate{first.year + 1, 1, 1}
                                           : CivilDate{first.year, first.month + 1, 1};
  const std::string f = field;
  const std::string from = DateTime::FromDate(first).ToIso().substr(0, 10);
  const std::string to = DateTime::FromDate(next).ToIso().substr(0, 10);
  const std::string all = "SELECT " + f + " FROM " + table;
  const long total = Count(db, all);
  out.records += total;
  const long inMonth =
      Count(db, all + " WHERE " + f + " >= #" + from + "# AND " + f + " < #" + to + "#");
  if (inMonth == total) return;
  std::string example;
  const std::unique_ptr<dbengine::Recordset> rs =
      db.OpenRecordset(all + " WHERE " + f + " < #" + from + "# OR " + f + " >= #" + to + "#");
  if (!rs->Eof()) example = ", e.g. " + dbengine::ValueToText(rs->GetValue(0));
  rs->Close();
  if (example.empty()) example = " (no date)";
  out.problems.push_back("table " + table + ": " + std::to_string(total - inMonth) +
                         " record(s) dated outside " + monthKey + example);
}

// Records holding a value their field cannot hold (a text in a double, a
// text longer than its size, a number outside its type's range): a restore
// or a later run would trip over them.
void CheckValues(dbengine::Database& db, const TableSpec& layout, ArchiveCheck& out) {
  const std::string table = layout.name;
  const std::unique_ptr<dbengine::Recordset> rs = db.OpenRecordset("SELECT * FROM " + table);
  std::vector<std::pair<int, const FieldSpec*>> fields;
  for (const FieldSpec& f : layout.fields) fields.emplace_back(rs->FieldIndex(f.name), &f);
  long refused = 0;
  std::optional<Error> first;
  for (; !rs->Eof(); rs->MoveNext()) {
    for (const auto& [index, f] : fields) {
      try {
        dbengine::ConvertForField(rs->GetValue(index), f->type, f->size, table + "." + f->name);
      } catch (const Error& e) {
        ++refused;
        if (!first) first = e;
        break;
      }
    }
  }
  rs->Close();
  if (refused > 0) {
    out.problems.push_back("table " + table + ": " + std::to_string(refused) +
                           " record(s) hold a value their field cannot, e.g. " +
                           first->Description() + " (" + first->Cause() + ")");
  }
}

}  // namespace

ArchiveCheck CheckArchive(dbengine::Engine& engine, const std::string& path,
                          const std::string& monthKey) {
  ArchiveCheck out;
  std::unique_ptr<dbengine::Database> db;
  std::vector<dbengine::TableDef> defs;
  try {
    db = engine.OpenDatabase(path);
    defs = db->TableDefs();
  } catch (const Error& e) {
    out.problems.push_back("does not open: " + e.Description() +
                           (e.Cause().empty() ? "" : " (" + e.Cause() + ")"));
    return out;
  }
  out.tables = static_cast<int>(defs.size());
  bool livestock = false;
  for (const dbengine::TableDef& def : defs) {
    if (dbengine::SameName(def.Name(), kGTVacuno.name)) livestock = true;
  }
  // Tables are found by name: a driver may list them in its own order (by
  // name, say), while each table's fields keep their creation order.
  const std::vector<const TableSpec*> layouts = ArchiveTables(livestock);
  std::vector<const TableSpec*> sound;  // tables whose layout is right
  for (const TableSpec* layout : layouts) {
    const auto def = std::find_if(defs.begin(), defs.end(), [&](const dbengine::TableDef& d) {
      return dbengine::SameName(d.Name(), layout->name);
    });
    if (def == defs.end()) {
      out.problems.push_back(std::string("table ") + layout->name + " is missing");
      continue;
    }
    const size_t before = out.problems.size();
    CompareTable(*def, *layout, out.problems);
    if (out.problems.size() == before) sound.push_back(layout);
  }
  for (const dbengine::TableDef& def : defs) {
    const bool known = std::any_of(layouts.begin(), layouts.end(), [&](const TableSpec* layout) {
      return dbengine::SameName(def.Name(), layout->name);
    });
    if (!known) out.problems.push_back("table " + def.Name() + " does not belong to an archive");
  }

  try {
    for (const std::string& problem : db->CheckIntegrity()) {
      out.problems.push_back("integrity check: " + problem);
    }
    for (const TableSpec* layout : sound) {
      CheckValues(*db, *layout, out);
      if (const char* field = DateFieldOf(layout->name)) {
        CheckDates(*db, layout->name, field, monthKey, out);
      }
    }
    db->Close();
  } catch (const Error& e) {
    out.problems.push_back("cannot be read: " + e.Description() +
                           (e.Cause().empty() ? "" : " (" + e.Cause() + ")"));
  }
  return out;
}

}  // namespace sa::archive
