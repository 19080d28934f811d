#include "shop_writer.h"

#include <array>
#include <cstdio>
#include <optional>
#include <string>

#include "catalogue.h"
#include "core/error.h"
#include "day_of_tickets.h"
#include "dbengine/engine.h"
#include "shop_calendar.h"
#include "shop_random.h"
#include "text_forms.h"

namespace sa::demo {
namespace {

// The texts a ticket's header and lines share, formatted once.
struct TicketTexts {
  std::string day;        // "dd/mm/yyyy"
  std::string stamp;      // the sale's date and time
  std::string timeOfDay;  // the sale's time on day zero
  std::string number, vendor;
  std::optional<std::string> invoice;
};

class ShopWriter {
 public:
  ShopWriter(const dbengine::sqlite::Connection& conn, const ShopOptions& o,
             const std::vector<LiveTable>& tables)
      : conn_(conn),
        o_(o),
        rng_(o.seed),
        cabecera_(conn, Find(tables, "cabecera")),
        tickets_(conn, Find(tables, "tickets")),
        gtsecs_(conn, Find(tables, "gtsecs")),
        gtvend_(conn, Find(tables, "gtvend")),
        gtarti_(conn, Find(tables, "gtarti")),
        gtInfVen_(conn, Find(tables, "gtInfVen")),
        gthora_(conn, Find(tables, "gthora")),
        gtVacuno_(conn, Find(tables, "GTVacuno")),
        cliente_(conn, Find(tables, "cliente")),
        nextNumber_(static_cast<size_t>(o.scales), 1) {
    for (int scale = 1; scale <= o.scales; ++scale) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "BALANZA-%02d", scale % 100);
      terminals_.emplace_back(buf);
    }
  }

  void Write() {
    conn_.Exec("BEGIN");
    Customers();
    const int64_t last = DaysFromCivil(o_.today);
    int currentMonth = 0;
    for (int64_t day = DaysFromCivil(FirstDay()); day <= last; ++day) {
      const CivilDate date = CivilFromDays(day);
      // One transaction per month of data keeps memory flat and commits few.
      const int month = date.year * 12 + date.month;
      if (currentMonth != 0 && month != currentMonth) {
        conn_.Exec("COMMIT");
        conn_.Exec("BEGIN");
      }
      currentMonth = month;
      if (!IsOpenDay(day)) continue;
      Day(date, day);
    }
    conn_.Exec("COMMIT");
  }

 private:
  static const LiveTable& Find(const std::vector<LiveTable>& tables, const char* name) {
    for (const LiveTable& t : tables) {
      if (t.name == name) return t;
    }
    throw Error(dbengine::EngineError::kTableNotFound, "Sample table missing.", name);
  }

  CivilDate FirstDay() const { return demo::FirstDay(o_.today, o_.months); }

  void Customers() {
    for (const Customer& c : kCustomers) {
      cliente_.Real("cod_cli", c.code)
          .Text("nom_cli", c.name)
          .Text("data1", c.address)
          .Text("data2", c.town)
          .Text("data3", c.phone)
          .OptText("data4", c.taxId != nullptr ? std::optional<std::string>(c.taxId) : std::nullopt)
          .Bool("sincronizado", c.code % 4 != 0)
          .Text("terminal", "PC-OFICINA")
          .Insert();
    }
  }

  void Day(const CivilDate& date, int64_t dayNumber) {
    const std::vector<Ticket> tickets = DayTickets(rng_, o_, nextNumber_);
    const size_t scales = static_cast<size_t>(o_.scales);
    std::vector<Totals> byHourScale(24 * scales);
    std::array<Totals, std::size(kSections)> bySection{};
    std::array<Totals, kVendorCount> byVendor{};
    std::array<Totals, kVendorCount> byVendorUnits{};  // lines sold by the unit
    std::array<int, kVendorCount> firstSale{}, lastSale{};
    std::array<Totals, kArticleCount> byArticle{};
    Totals beef, meat;
    const std::string dayText = DayText(date);
    midnight_ = Stamp(date, 0);

    for (const Ticket& t : tickets) {
      const TicketTexts texts{dayText,
                              Stamp(date, t.second),
                              TimeOfDay(t.second),
                              std::to_string(t.number),
                              std::to_string(kVendors[t.vendor].id),
                              Invoice(date, t)};
      Header(t, texts);
      Totals& hs = byHourScale[static_cast<size_t>(t.second / 3600) * scales +
                               static_cast<size_t>(t.scale - 1)];
      ++hs.tickets;
      Totals& v = byVendor[t.vendor];
      if (v.tickets++ == 0) firstSale[t.vendor] = t.second;
      lastSale[t.vendor] = t.second;
      std::array<bool, std::size(kSections)> sectionSeen{};
      for (size_t i = 0; i < t.lines.size(); ++i) {
        const Line& l = t.lines[i];
        const Article& a = kArticles[l.article];
        TicketLine(date, t, texts, i);
        hs.Add(l);
        v.Add(l);
        if (!a.weighed) byVendorUnits[t.vendor].Add(l);
        byArticle[l.article].Add(l);
        Totals& s = bySection[static_cast<size_t>(a.section)];
        s.Add(l);
        if (!sectionSeen[static_cast<size_t>(a.section)]) {
          sectionSeen[static_cast<size_t>(a.section)] = true;
          ++s.tickets;
        }
        if (a.beef) beef.Add(l);
        if (a.section == 0) meat.Add(l);
      }
      if (t.cancelled) {
        hs.Cancel(*t.cancelled);
        v.Cancel(*t.cancelled);
      }
    }

    for (size_t hour = 0; hour < 24; ++hour) {
      for (size_t scale = 0; scale < scales; ++scale) {
        const Totals& hs = byHourScale[hour * scales + scale];
        if (hs.tickets > 0) HourRow(date, static_cast<int>(hour), static_cast<int>(scale) + 1, hs);
      }
    }
    for (size_t s = 0; s < std::size(kSections); ++s) {
      if (bySection[s].ops > 0) SectionRow(s, bySection[s]);
    }
    for (size_t v = 0; v < kVendorCount; ++v) {
      if (byVendor[v].tickets == 0) continue;
      VendorRow(v, byVendor[v], lastSale[v] - firstSale[v]);
      VendorSummaryRow(v, byVendor[v], byVendorUnits[v]);
    }
    for (size_t a = 0; a < kArticleCount; ++a) {
      if (byArticle[a].ops > 0) ArticleRow(a, byArticle[a]);
    }
    if (o_.livestock) LivestockRow(dayNumber, beef, meat);
  }

  void Header(const Ticket& t, const TicketTexts& texts) {
    const Section& section = kSections[ScaleSection(t.scale)];
    int64_t gross = 0;
    std::array<int64_t, 3> byVat{};  // 4 %, 10 %, 21 %
    for (const Line& l : t.lines) {
      gross += l.cents;
      const int vat = kArticles[l.article].vat;
      byVat[vat == 4 ? 0 : vat == 10 ? 1 : 2] += l.cents;
    }
    const int discountPct = t.customer != nullptr ? t.customer->discount : 0;
    const int64_t discount = (gross * discountPct + 50) / 100;
    const int64_t total = gross - discount;
    const int64_t tendered = t.card ? total : Tendered(rng_, total);
    const std::string barcode = [&] {
      char digits[16];
      std::snprintf(digits, sizeof digits, "2%01d%05ld%05lld", t.scale % 10, t.number % 100000,
                    static_cast<long long>(total % 100000));
      return Ean13(digits);
    }();

    cabecera_.Text("NUME", texts.number)
        .Text("SECCION", std::to_string(section.code))
        .Int("BALANZA", t.scale)
        .Text("VENDED", texts.vendor)
        .Text("NUMLIN", std::to_string(t.lines.size()))
        .Text("LINCAN", t.cancelled ? "1" : "0")
        .Real("IMPORTE", Euros(total))
        .Text("HORA", Clock(t.second, false))
        .Text("ONOFF", "1")
        .Text("STPETIC", "0")
        .Text("CODCLI", t.customer != nullptr ? std::to_string(t.customer->code) : "")
        .Text("FECHA", texts.day)
        .Text("TYPTIC", "0")
        .Text("CODBAR", barcode)
        .Text("RESERV1", "")
        .Null("RESERV2")
        .OptText("RESERV3", t.number % 7 == 0 ? std::optional<std::string>("") : std::nullopt)
        .Text("D_FECHA", texts.stamp)
        .Text("d_hora", texts.timeOfDay)
        .Int("TIPOPAGO", t.card ? 1 : 0)
        .Real("cantidadEntre", Euros(tendered))
        // The till works out the change in binary floating point: a value
        // such as 0.30000000000000004 carries all 17 of its digits.
        .Real("cambio", Euros(tendered) - Euros(total))
        .Real("importe_bruto", Euros(gross))
        .Bool("Cobrado", true)
        .Null("numlote")
        .Bool("abonado", false)
        .Int("ticketabono", 0)
        .Int("ticketorigen", 0)
        .Bool("abono", false)
        .Real("descuento", Euros(discount));
    const int rates[] = {4, 10, 21, 0, 0};
    for (size_t k = 0; k < 5; ++k) {
      // Each rate's share of the total, net of the customer's discount.
      const int64_t share = k < 3 ? byVat[k] - (byVat[k] * discountPct + 50) / 100 : 0;
      const int64_t base = (share * 100 * 2 + (100 + rates[k])) / (2 * (100 + rates[k]));
      const std::string n = std::to_string(k);
      cabecera_.Real(("base" + n).c_str(), Euros(base))
          .Real(("por" + n).c_str(), rates[k])
          .Real(("imp" + n).c_str(), Euros(share - base));
    }
    cabecera_.OptText("factura", texts.invoice)
        .Bool("sincronizado", t.number % 10 != 0)
        .Text("terminal", Terminal(t.scale))
        .Insert();
  }

  void TicketLine(const CivilDate& date, const Ticket& t, const TicketTexts& texts, size_t index) {
    const Line& l = t.lines[index];
    const Article& a = kArticles[l.article];
    const Section& s = kSections[static_cast<size_t>(a.section)];
    // Fresh meat and fish carry their lot for traceability.
    std::optional<std::string> lot;
    if (a.section == 0 || a.section == 2) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "L%02d%02d-%02d", date.year % 100, date.month,
                    a.plu % 100 + date.day % 3);
      lot = buf;
    }
    tickets_.Text("DATE", texts.day)
        .Text("HOUR", Clock(t.second, true))
        .Int("NUMBAL", t.scale)
        .Text("VENDOR", texts.vendor)
        .Text("NUME", texts.number)
        .Text("NUMLIN", std::to_string(index + 1))
        .Text("SECC", std::to_string(s.code))
        .Text("PLU", std::to_string(a.plu))
        .Text("CODE", std::to_string(20000 + a.plu))
        .Text("ITEM", a.name)
        .Text("VAR", "")
        .Real("PRICE", Euros(a.price))
        .Real("AMOUNT", Euros(l.cents))
        .Real("WEIGHT", Kilos(l.grams))
        .Real("UNITS", l.units)
        .Text("STPETIC", "0")
        .Text("CODI_PES", a.weighed ? "P" : "U")
        .Text("LINCAN", "0")
        .Int("IVA", a.vat)
        .Text("TYPTIC", "0")
        .Text("RESERV1", "")
        .Null("RESERV2")
        .Null("RESERV3")
        .Int("TIPOPAGO", t.card ? 1 : 0)
        .Text("D_FECHA", texts.stamp)
        .Text("d_hora", texts.timeOfDay)
        .OptText("numlote", lot);
    if (t.customer != nullptr) {
      tickets_.Real("cliente", t.customer->code);
    } else {
      tickets_.Null("cliente");
    }
    tickets_.Text("DPT", s.dpt)
        .Real("importe_bruto", Euros(l.cents))
        .OptText("factura", texts.invoice)
        .Real("porcentaje", t.customer != nullptr ? t.customer->discount : 0)
        .Text("clienteT", t.customer != nullptr ? Truncate(t.customer->name, 15) : "")
        .Bool("sincronizado", t.number % 10 != 0)
        .Text("terminal", Terminal(t.scale))
        .Insert();
  }

  void HourRow(const CivilDate& date, int hour, int scale, const Totals& t) {
    char hourText[8];
    std::snprintf(hourText, sizeof hourText, "%02d:00", hour);
    gthora_.Text("FECHA", Stamp(date, hour * 3600))
        .Text("HORA", hourText)
        .Int("SECCION", kSections[ScaleSection(scale)].code)
        .Int("EQUIPO", scale)
        .Int("VENDEDOR", 0)
        .Int("TIQUET", t.tickets)
        .Int("OPERACIONES", t.ops)
        .Int("OPERACIONES_CAN", t.opsCancelled)
        .Int("OPERACIONES_NEG", 0)
        .Real("IMPORTE", Euros(t.cents))
        .Real("IMPORTE_CAN", Euros(t.centsCancelled))
        .Real("IMPORTE_NEG", 0)
        .Real("PESO", Kilos(t.grams))
        .Real("PESO_CAN", Kilos(t.gramsCancelled))
        .Real("PESO_NEG", 0)
        .Int("UNIDADES", t.units)
        .Int("UNIDADES_CAN", t.unitsCancelled)
        .Int("UNIDADES_NEG", 0)
        .Bool("sincronizado", true)
        .Text("terminal", Terminal(scale))
        .Insert();
  }

  void SectionRow(size_t section, const Totals& t) {
    const Section& s = kSections[section];
    gtsecs_.Int("Modo", 0)
        .Text("FECHA", midnight_)
        .Int("codi_ident", s.code)
        .Int("codi_sub", 0)
        .Int("codi_fam", 0)
        .Int("tiquets", t.tickets)
        .Real("operacion", t.ops)
        .Real("peso", Kilos(t.grams))
        .Real("unidades", t.units)
        .Real("pesetas", Euros(t.cents))
        .Int("secc_maqui", s.code)
        .Text("txt_fam", s.name)
        .Text("txt_sub", "")
        .Bool("sincronizado", true)
        .Text("terminal", "SERVIDOR")
        .Insert();
  }

  void VendorRow(size_t vendor, const Totals& t, int secondsWorked) {
    const Vendor& v = kVendors[vendor];
    gtvend_.Int("Modo", 0)
        .Text("FECHA", midnight_)
        .Int("codi_ident", 1)
        .Int("ident_vend", v.id)
        .Text("nombre", v.name)
        .Real("supertot", Euros(t.cents + t.centsCancelled))
        .Real("totcance", Euros(t.centsCancelled))
        .Real("total", Euros(t.cents))
        .Real("tiquets", t.tickets)
        .Real("operacion", t.ops)
        .Real("peso", Kilos(t.grams))
        .Real("cancela", t.opsCancelled)
        .Real("tiempo", secondsWorked / 60)
        .Real("unidad", t.units)
        .Real("pesetas", Euros(t.cents))
        .Real("desembolso", 0)
        .Real("reembolso", 0)
        .Real("impor_neg", 0)
        .Real("credito", 0)
        .Int("secc_maqui", kSections[static_cast<size_t>(v.section)].code)
        .Bool("sincronizado", true)
        .Text("terminal", "SERVIDOR")
        .Insert();
  }

  // Coded sales are weighed ones (the scale reads the PLU's price per kg);
  // direct ones are sold by the unit.
  void VendorSummaryRow(size_t vendor, const Totals& all, const Totals& units) {
    const Vendor& v = kVendors[vendor];
    gtInfVen_.Int("ident_vend", v.id)
        .Int("codi_ident", 1)
        .Int("secc_maqui", kSections[static_cast<size_t>(v.section)].code)
        .Real("imporCod", Euros(all.cents - units.cents))
        .Real("operCod", all.ops - units.ops)
        .Real("imporDir", Euros(units.cents))
        .Real("operDir", units.ops)
        .Real("imporCan", Euros(all.centsCancelled))
        .Real("operCan", all.opsCancelled)
        .Real("imporNeg", 0)
        .Real("operNeg", 0)
        .Int("modo", 0)
        .Text("FECHA", midnight_)
        .Bool("sincronizado", true)
        .Text("terminal", "SERVIDOR")
        .Insert();
  }

  void ArticleRow(size_t article, const Totals& t) {
    const Article& a = kArticles[article];
    const Section& s = kSections[static_cast<size_t>(a.section)];
    gtarti_.Int("Modo", 0)
        .Text("FECHA", midnight_)
        .Int("plu", a.plu)
        .Text("des_plu1", a.name)
        .Int("codi_ident", s.code)
        .Int("codi_sub", a.sub)
        .Int("codi_fam", a.family)
        .Real("codigo", 20000 + a.plu)
        .Real("precio", Euros(a.price))
        .Real("unidades", t.units)
        .Real("peso", Kilos(t.grams))
        .Real("pesetas", Euros(t.cents))
        .Int("tara", a.weighed ? 5 + a.plu % 4 * 5 : 0)
        .Int("caducidad", a.section == 1   ? 15
                          : a.section == 3 ? 7
                                           : 3)
        .Real("operacion", t.ops)
        .Real("tipo_iva", a.vat)
        .Bool("modificado", article % 9 == 0)
        .Int("secc_maqui", s.code)
        .Text("txt_fam", a.familyName)
        .Text("txt_sub", a.subName)
        .Bool("sincronizado", true)
        .Text("terminal", "SERVIDOR")
        .Insert();
  }

  // A carcass lasts four opening days; its sheet number goes up with each.
  void LivestockRow(int64_t dayNumber, const Totals& beef, const Totals& meat) {
    const int64_t sheet = 1000 + (dayNumber - DaysFromCivil(FirstDay())) / 4;
    gtVacuno_.Real("Ficha", static_cast<double>(sheet))
        .Real("LNumOperaciones", beef.ops)
        .Real("LNumUnidades", beef.units)
        .Real("LImporte", Euros(beef.cents))
        .Real("LPeso", Kilos(beef.grams))
        .Real("VNumOperaciones", meat.ops)
        .Real("VNumUnidades", meat.units)
        .Real("VImporte", Euros(meat.cents))
        .Real("VPeso", Kilos(meat.grams))
        .Bool("Bloqueo", dayNumber % 29 == 0)
        .Bool("Total", (dayNumber - DaysFromCivil(FirstDay())) % 4 == 3)
        .Text("FECHA", midnight_)
        .Bool("sincronizado", true)
        .Text("terminal", "SERVIDOR")
        .Insert();
  }

  // Businesses get an invoice number; everyone else none.
  static std::optional<std::string> Invoice(const CivilDate& date, const Ticket& t) {
    if (t.customer == nullptr || !t.customer->invoiced) return std::nullopt;
    char buf[32];
    std::snprintf(buf, sizeof buf, "F%02d-%02d%06ld", date.year % 100, t.scale % 100,
                  t.number % 1000000);
    return std::string(buf);  // "F24-01000123": 12 characters
  }

  const std::string& Terminal(int scale) const {
    return terminals_[static_cast<size_t>(scale - 1)];
  }

  const dbengine::sqlite::Connection& conn_;
  const ShopOptions& o_;
  Rng rng_;
  Inserter cabecera_, tickets_, gtsecs_, gtvend_, gtarti_, gtInfVen_, gthora_, gtVacuno_, cliente_;
  std::vector<long> nextNumber_;        // per scale
  std::vector<std::string> terminals_;  // per scale
  std::string midnight_;                // the current day at 00:00:00
};

}  // namespace

void WriteSales(const dbengine::sqlite::Connection& conn, const ShopOptions& o,
                const std::vector<LiveTable>& tables) {
  ShopWriter(conn, o, tables).Write();
}

}  // namespace sa::demo
