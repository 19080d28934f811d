// The table builders of a new month archive. Each defines its table(s) field
// by field on the open archive and appends them; none closes the database.
// An engine error ends the builder at once and leaves its table out.
#pragma once

#include "archive/schema.h"
#include "dbengine/engine.h"

namespace sa::archive {

// Creates `layout`'s table: the definition, each field created and appended in
// order, AllowZeroLength set on every field when the table asks for it, then
// the definition appended to the database.
void BuildTable(dbengine::Database& db, const TableSpec& layout);

void CreateTicketHeaderTable(dbengine::Database& db);           // cabecera
void CreateTicketLineTable(dbengine::Database& db);             // tickets
void CreateSectionVendorArticleTables(dbengine::Database& db);  // gtsecs, gtvend, gtarti
void CreateVendorSummaryTable(dbengine::Database& db);          // gtInfVen
void CreateHourlyTotalsTable(dbengine::Database& db);           // gthora
void CreateLivestockTotalsTable(dbengine::Database& db);        // GTVacuno
void CreateCustomerTable(dbengine::Database& db);               // Cliente

}  // namespace sa::archive
