#include "archive/schema.h"

namespace sa::archive {

namespace {

using dbengine::FieldType;
constexpr FieldType B = FieldType::kBoolean;
constexpr FieldType I = FieldType::kInteger;
constexpr FieldType L = FieldType::kLong;
constexpr FieldType D = FieldType::kDouble;
constexpr FieldType T = FieldType::kDate;
constexpr FieldType X = FieldType::kText;

constexpr FieldSpec kCabeceraFields[] = {
    {"NUME", X, 0},           {"SECCION", X, 0},   {"BALANZA", I, 0},       {"VENDED", X, 0},
    {"NUMLIN", X, 0},         {"LINCAN", X, 0},    {"IMPORTE", D, 15},      {"HORA", X, 0},
    {"ONOFF", X, 0},          {"STPETIC", X, 0},   {"CODCLI", X, 0},        {"FECHA", X, 0},
    {"TYPTIC", X, 0},         {"CODBAR", X, 0},    {"RESERV1", X, 0},       {"RESERV2", X, 0},
    {"RESERV3", X, 0},        {"d_fecha", T, 0},   {"d_hora", T, 0},        {"TIPOPAGO", I, 0},
    {"cantidadEntre", D, 15}, {"cambio", D, 15},   {"importe_bruto", D, 0}, {"Cobrado", B, 1},
    {"numlote", X, 0},        {"abonado", B, 0},   {"ticketabono", L, 0},   {"ticketorigen", L, 0},
    {"abono", B, 0},          {"descuento", D, 0}, {"base0", D, 0},         {"por0", D, 0},
    {"imp0", D, 0},           {"base1", D, 0},     {"por1", D, 0},          {"imp1", D, 0},
    {"base2", D, 0},          {"por2", D, 0},      {"imp2", D, 0},          {"base3", D, 0},
    {"por3", D, 0},           {"imp3", D, 0},      {"base4", D, 0},         {"por4", D, 0},
    {"imp4", D, 0},           {"factura", X, 15},
};

constexpr FieldSpec kTicketsFields[] = {
    {"DATE", X, 0},      {"HOUR", X, 0},          {"NUMBAL", I, 0},   {"VENDOR", X, 0},
    {"NUME", X, 0},      {"NUMLIN", X, 0},        {"SECC", X, 0},     {"PLU", X, 0},
    {"CODE", X, 0},      {"ITEM", X, 0},          {"VAR", X, 0},      {"PRICE", D, 0},
    {"AMOUNT", D, 0},    {"WEIGHT", D, 0},        {"UNITS", D, 0},    {"STPETIC", X, 0},
    {"CODI_PES", X, 0},  {"LINCAN", X, 0},        {"IVA", I, 0},      {"TYPTIC", X, 0},
    {"RESERV1", X, 0},   {"RESERV2", X, 0},       {"RESERV3", X, 0},  {"TIPOPAGO", I, 0},
    {"d_fecha", T, 0},   {"d_hora", T, 0},        {"numlote", X, 0},  {"cliente", D, 15},
    {"DPT", X, 4},       {"importe_bruto", D, 0}, {"factura", X, 15}, {"porcentaje", D, 0},
    {"clienteT", X, 15},
};

constexpr FieldSpec kGtsecsFields[] = {
    {"Modo", I, 0},     {"fecha", T, 0},   {"codi_ident", I, 0}, {"codi_sub", I, 0},
    {"codi_fam", I, 0}, {"tiquets", I, 0}, {"operacion", D, 0},  {"peso", D, 0},
    {"unidades", D, 0}, {"pesetas", D, 0}, {"secc_maqui", I, 0}, {"txt_fam", X, 30},
    {"txt_sub", X, 30},
};

constexpr FieldSpec kGtvendFields[] = {
    {"Modo", I, 0},      {"fecha", T, 0},     {"codi_ident", I, 0}, {"ident_vend", I, 0},
    {"nombre", X, 0},    {"supertot", D, 0},  {"totcance", D, 0},   {"total", D, 0},
    {"tiquets", D, 0},   {"operacion", D, 0}, {"peso", D, 0},       {"cancela", D, 0},
    {"tiempo", D, 0},    {"unidad", D, 0},    {"pesetas", D, 0},    {"desembolso", D, 0},
    {"reembolso", D, 0}, {"impor_neg", D, 0}, {"credito", D, 0},    {"secc_maqui", I, 0},
};

constexpr FieldSpec kGtartiFields[] = {
    {"Modo", I, 0},       {"fecha", T, 0},      {"plu", I, 0},       {"des_plu1", X, 0},
    {"codi_ident", I, 0}, {"codi_sub", I, 0},   {"codi_fam", I, 0},  {"codigo", D, 0},
    {"precio", D, 0},     {"unidades", D, 0},   {"peso", D, 0},      {"pesetas", D, 0},
    {"tara", I, 0},       {"caducidad", I, 0},  {"operacion", D, 0}, {"tipo_iva", D, 0},
    {"modificado", B, 0}, {"secc_maqui", I, 0}, {"txt_fam", X, 30},  {"txt_sub", X, 30},
};

constexpr FieldSpec kGtInfVenFields[] = {
    {"ident_vend", L, 0}, {"codi_ident", L, 0}, {"secc_maqui", L, 0}, {"imporCod", D, 9},
    {"operCod", D, 9},    {"imporDir", D, 9},   {"operDir", D, 9},    {"imporCan", D, 9},
    {"operCan", D, 9},    {"imporNeg", D, 9},   {"operNeg", D, 9},    {"modo", L, 0},
    {"fecha", T, 0},
};

constexpr FieldSpec kGthoraFields[] = {
    {"FECHA", T, 0},
    {"HORA", X, 0},
    {"SECCION", L, 0},
    {"EQUIPO", L, 0},
    {"VENDEDOR", L, 0},
    {"TIQUET", L, 0},
    {"OPERACIONES", L, 0},
    {"OPERACIONES_CAN", L, 0},
    {"OPERACIONES_NEG", L, 0},
    {"IMPORTE", D, 9},
    {"IMPORTE_CAN", D, 9},
    {"IMPORTE_NEG", D, 9},
    {"PESO", D, 0},
    {"PESO_CAN", D, 0},
    {"PESO_NEG", D, 0},
    {"UNIDADES", L, 0},
    {"UNIDADES_CAN", L, 0},
    {"UNIDADES_NEG", L, 0},
};

constexpr FieldSpec kGTVacunoFields[] = {
    {"Ficha", D, 2}, {"LNumOperaciones", D, 2}, {"LNumUnidades", D, 2}, {"LImporte", D, 2},
    {"LPeso", D, 2}, {"VNumOperaciones", D, 2}, {"VNumUnidades", D, 2}, {"VImporte", D, 2},
    {"VPeso", D, 2}, {"Bloqueo", B, 2},         {"Total", B, 2},        {"Fecha", X, 10},
};

constexpr FieldSpec kClienteFields[] = {
    {"cod_cli", D, 0}, {"nom_cli", X, 0}, {"data1", X, 0},
    {"data2", X, 0},   {"data3", X, 0},   {"data4", X, 0},
};

}  // namespace

const TableSpec kCabecera{"cabecera", kCabeceraFields, true};
const TableSpec kTickets{"tickets", kTicketsFields, true};
const TableSpec kGtsecs{"gtsecs", kGtsecsFields, true};
const TableSpec kGtvend{"gtvend", kGtvendFields, true};
const TableSpec kGtarti{"gtarti", kGtartiFields, true};
const TableSpec kGtInfVen{"gtInfVen", kGtInfVenFields, false};
const TableSpec kGthora{"gthora", kGthoraFields, false};
const TableSpec kGTVacuno{"GTVacuno", kGTVacunoFields, true};
const TableSpec kCliente{"Cliente", kClienteFields, true};

std::vector<const TableSpec*> ArchiveTables(bool livestockEnabled) {
  std::vector<const TableSpec*> tables = {&kCabecera, &kTickets,  &kGtsecs, &kGtvend,
                                          &kGtarti,   &kGtInfVen, &kGthora};
  if (livestockEnabled) tables.push_back(&kGTVacuno);
  tables.push_back(&kCliente);
  return tables;
}

}  // namespace sa::archive
