// The month archive's tables, field by field, in creation order. The table
// builders create them from these lists; the sample shop and the tests use
// the same lists to make live tables the run can archive.
#pragma once

#include <span>
#include <vector>

#include "dbengine/value.h"

namespace sa::archive {

struct FieldSpec {
  const char* name;
  dbengine::FieldType type;
  int size;  // 0: created without a size
};

struct TableSpec {
  const char* name;
  std::span<const FieldSpec> fields;
  // Whether the builder sets AllowZeroLength on every field after creating them.
  bool allowZeroLength;
};

extern const TableSpec kCabecera;
extern const TableSpec kTickets;
extern const TableSpec kGtsecs;
extern const TableSpec kGtvend;
extern const TableSpec kGtarti;
extern const TableSpec kGtInfVen;
extern const TableSpec kGthora;
extern const TableSpec kGTVacuno;
extern const TableSpec kCliente;

// The tables of a new archive in creation order: 8, or 9 with livestock.
std::vector<const TableSpec*> ArchiveTables(bool livestockEnabled);

}  // namespace sa::archive
