#include "archive/table_builders.h"

namespace sa::archive {

void BuildTable(dbengine::Database& db, const TableSpec& layout) {
  dbengine::TableDef def = db.CreateTableDef(layout.name);
  for (const FieldSpec& f : layout.fields) {
    def.Fields().Append(f.size > 0 ? def.CreateField(f.name, f.type, f.size)
                                   : def.CreateField(f.name, f.type));
  }
  if (layout.allowZeroLength) {
    const int last = def.Fields().Count() - 1;
    for (int i = 0; i <= last; ++i) def.Fields().Item(i).allowZeroLength = true;
  }
  db.AppendTableDef(def);
}

void CreateTicketHeaderTable(dbengine::Database& db) { BuildTable(db, kCabecera); }
void CreateTicketLineTable(dbengine::Database& db) { BuildTable(db, kTickets); }

// A failure in gtvend or gtarti fails the build like any other table: an
// archive missing a table would refuse that table's records on every run.
void CreateSectionVendorArticleTables(dbengine::Database& db) {
  BuildTable(db, kGtsecs);
  BuildTable(db, kGtvend);
  BuildTable(db, kGtarti);
}

void CreateVendorSummaryTable(dbengine::Database& db) { BuildTable(db, kGtInfVen); }
void CreateHourlyTotalsTable(dbengine::Database& db) { BuildTable(db, kGthora); }
void CreateLivestockTotalsTable(dbengine::Database& db) { BuildTable(db, kGTVacuno); }
void CreateCustomerTable(dbengine::Database& db) { BuildTable(db, kCliente); }

}  // namespace sa::archive
