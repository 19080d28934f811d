#include "sample_shop.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "archive/schema.h"
#include "core/error.h"
#include "dbengine/engine.h"
#include "dbengine/sqlite/sqlite_handle.h"
#include "dbengine/sqlite_format.h"
#include "dbengine/table_def.h"
#include "platform/text.h"

namespace sa::demo {
namespace {

namespace fs = std::filesystem;
using dbengine::FieldType;

// ---------------------------------------------------------------------------
// Files

Error FileError(const std::string& what, const std::string& path, const std::string& reason) {
  return Error(ErrorCode::kPathAccess, what, path + ": " + reason);
}

void MakeFolders(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) throw FileError("Cannot create the folder.", folder.string(), ec.message());
  if (!fs::is_directory(folder, ec)) {
    throw FileError("Cannot create the folder.", folder.string(), "a file of that name exists");
  }
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw FileError("Cannot write the file.", path.string(), std::strerror(errno));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw FileError("Cannot write the file.", path.string(), std::strerror(errno));
}

// Absolute, with "." and ".." resolved, so `fifo` works whatever the
// archiver's working folder is.
fs::path AbsolutePath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(path), ec);
  if (ec) throw FileError("Cannot resolve the path.", path, ec.message());
  return p.lexically_normal();
}

void RemoveIfPresent(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
  if (ec) throw FileError("Cannot remove the file.", path.string(), ec.message());
}

// ---------------------------------------------------------------------------
// SQLite

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using StmtHandle = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

std::string QuoteName(std::string_view name) {
  std::string q = "\"";
  for (const char c : name) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + '"';
}

DbHandle OpenDb(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  DbHandle db(raw);
  if (rc != SQLITE_OK) throw dbengine::sqlite::SqliteError(db.get(), rc, path);
  sqlite3_extended_result_codes(db.get(), 1);
  return db;
}

StmtHandle Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
  StmtHandle stmt(raw);
  if (rc != SQLITE_OK) throw dbengine::sqlite::SqliteError(db, rc, sql);
  return stmt;
}

void Exec(sqlite3* db, const std::string& sql) {
  StmtHandle stmt = Prepare(db, sql);
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) throw dbengine::sqlite::SqliteError(db, rc, sql);
}

std::string QueryText(sqlite3* db, const std::string& sql) {
  StmtHandle stmt = Prepare(db, sql);
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) throw dbengine::sqlite::SqliteError(db, rc, sql);
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  return p != nullptr ? p : "";
}

// ---------------------------------------------------------------------------
// The live tables

struct LiveColumn {
  std::string name;
  std::string declared;
};

struct LiveTable {
  std::string name;
  std::vector<LiveColumn> columns;
};

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The live twin of an archive table. The host names its date fields in
// upper case, keeps the livestock date as a real date, calls the customer
// table `cliente` and adds bookkeeping fields of its own at the end.
LiveTable LiveTwin(const archive::TableSpec& layout) {
  LiveTable t;
  t.name = dbengine::SameName(layout.name, "cliente") ? "cliente" : layout.name;
  const bool livestock = dbengine::SameName(layout.name, "GTVacuno");
  for (const archive::FieldSpec& f : layout.fields) {
    LiveColumn c{f.name, dbengine::sqlite_format::DeclaredType(f.type, f.size)};
    const bool dateName =
        dbengine::SameName(f.name, "fecha") || dbengine::SameName(f.name, "d_fecha");
    if (dateName && (f.type == FieldType::kDate || livestock)) {
      c.name = Upper(f.name);
      c.declared = "DATETIME";
    }
    t.columns.push_back(std::move(c));
  }
  t.columns.push_back({"sincronizado", "BOOLEAN"});
  t.columns.push_back({"terminal", "VARCHAR(20)"});
  return t;
}

std::string CreateSql(const LiveTable& t) {
  std::string sql = "CREATE TABLE " + QuoteName(t.name) + " (";
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += QuoteName(t.columns[i].name) + " " + t.columns[i].declared;
  }
  return sql + ")";
}

// Inserts rows into one live table through one prepared statement. Values
// are given in column order, each naming its column, so a row that drifts
// from the table's layout fails loudly instead of filling the wrong field.
class Inserter {
 public:
  Inserter(sqlite3* db, const LiveTable& table) : db_(db), table_(table) {
    std::string sql = "INSERT INTO " + QuoteName(table.name) + " VALUES (";
    for (size_t i = 0; i < table.columns.size(); ++i) sql += i == 0 ? "?" : ",?";
    stmt_ = Prepare(db, sql + ")");
  }

  Inserter& Null(const char* field) {
    sqlite3_bind_null(stmt_.get(), Slot(field));
    return *this;
  }
  Inserter& Int(const char* field, int64_t v) {
    sqlite3_bind_int64(stmt_.get(), Slot(field), v);
    return *this;
  }
  Inserter& Bool(const char* field, bool v) { return Int(field, v ? 1 : 0); }
  Inserter& Real(const char* field, double v) {
    sqlite3_bind_double(stmt_.get(), Slot(field), v);
    return *this;
  }
  Inserter& Text(const char* field, std::string_view v) {
    sqlite3_bind_text(stmt_.get(), Slot(field), v.data(), static_cast<int>(v.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  // NULL for an absent text.
  Inserter& OptText(const char* field, const std::optional<std::string>& v) {
    return v ? Text(field, *v) : Null(field);
  }

  void Insert() {
    if (next_ != table_.columns.size()) {
      throw Error(dbengine::EngineError::kInvalidArgument, "Sample row does not fill its table.",
                  table_.name + ": " + std::to_string(next_) + " of " +
                      std::to_string(table_.columns.size()) + " fields given");
    }
    const int rc = sqlite3_step(stmt_.get());
    if (rc != SQLITE_DONE)
      throw dbengine::sqlite::SqliteError(db_, rc, "INSERT INTO " + table_.name);
    sqlite3_reset(stmt_.get());
    next_ = 0;
    ++rows_;
  }

  long Rows() const { return rows_; }

 private:
  int Slot(const char* field) {
    // Call sites pass literals, so a name seen at this position before is
    // known good without comparing it again.
    if (next_ < checked_.size() && checked_[next_] == field) return static_cast<int>(++next_);
    if (next_ >= table_.columns.size() || !dbengine::SameName(table_.columns[next_].name, field)) {
      const std::string expected =
          next_ < table_.columns.size() ? table_.columns[next_].name : "(end of row)";
      throw Error(dbengine::EngineError::kInvalidArgument, "Sample row out of step with its table.",
                  table_.name + ": " + field + " given where " + expected + " is due");
    }
    checked_[next_] = field;
    return static_cast<int>(++next_);
  }

  sqlite3* db_;
  const LiveTable& table_;
  StmtHandle stmt_;
  std::vector<const char*> checked_ = std::vector<const char*>(table_.columns.size(), nullptr);
  size_t next_ = 0;
  long rows_ = 0;
};

// ---------------------------------------------------------------------------
// Randomness: splitmix64, so that a seed gives the same shop with any
// standard library.

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed ^ 0x5EED5A1E5C0FFEEull) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in lo..hi, both included.
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Percent(int p) { return Between(0, 99) < p; }
  // An index drawn with the given weights.
  size_t Weighted(std::span<const int> weights) {
    int total = 0;
    for (const int w : weights) total += w;
    int r = Between(0, total - 1);
    for (size_t i = 0; i < weights.size(); ++i) {
      if (r < weights[i]) return i;
      r -= weights[i];
    }
    return weights.size() - 1;
  }

 private:
  uint64_t state_;
};

// ---------------------------------------------------------------------------
// The shop's catalogue

struct Section {
  int code;
  const char* name;
  const char* dpt;  // the line's department, at most 4 characters
};

constexpr Section kSections[] = {
    {1, "Carnicería", "CAR"},
    {2, "Charcutería", "CHA"},
    {3, "Pescadería", "PES"},
    {4, "Frutería", "FRU"},
};

struct Article {
  int plu;
  const char* name;
  int section;   // index into kSections
  bool weighed;  // priced per kg; otherwise per unit
  int price;     // cents per kg or per unit
  int vat;       // percent
  int family;
  const char* familyName;
  int sub;
  const char* subName;
  bool beef;  // counts in the livestock totals
};

constexpr Article kArticles[] = {
    {101, "Filete de ternera 1ª", 0, true, 1890, 10, 11, "Vacuno", 111, "Filetes", true},
    {102, "Carne picada mixta", 0, true, 995, 10, 11, "Vacuno", 112, "Picados", true},
    {103, "Entrecot de vaca", 0, true, 2650, 10, 11, "Vacuno", 113, "Piezas", true},
    {104, "Chuletas de cerdo", 0, true, 745, 10, 12, "Porcino", 121, "Chuletas", false},
    {105, "Solomillo de cerdo", 0, true, 1190, 10, 12, "Porcino", 122, "Piezas", false},
    {106, "Pechuga de pollo", 0, true, 825, 10, 13, "Aves", 131, "Piezas", false},
    {107, "Muslos de pollo", 0, true, 460, 10, 13, "Aves", 131, "Piezas", false},
    {108, "Chuletillas de cordero lechal", 0, true, 1980, 10, 14, "Ovino", 141, "Chuletas", false},
    {109, "Hamburguesa de ternera", 0, false, 135, 10, 11, "Vacuno", 114, "Elaborados", true},
    {110, "Chorizo fresco", 0, true, 890, 10, 12, "Porcino", 123, "Elaborados", false},
    {201, "Jamón serrano reserva", 1, true, 2490, 10, 21, "Curados", 211, "Jamones", false},
    {202, "Jamón ibérico de cebo", 1, true, 5900, 10, 21, "Curados", 211, "Jamones", false},
    {203, "Lomo embuchado", 1, true, 2950, 10, 21, "Curados", 212, "Embutidos", false},
    {204, "Chorizo ibérico", 1, true, 1840, 10, 21, "Curados", 212, "Embutidos", false},
    {205, "Salchichón de Vic", 1, true, 2100, 10, 21, "Curados", 212, "Embutidos", false},
    {206, "Jamón cocido extra", 1, true, 1390, 10, 22, "Cocidos", 221, "Fiambres", false},
    {207, "Pechuga de pavo", 1, true, 1250, 10, 22, "Cocidos", 221, "Fiambres", false},
    {208, "Queso manchego curado", 1, true, 1995, 4, 23, "Quesos", 231, "Oveja", false},
    {209, "Queso tierno de vaca", 1, true, 1120, 4, 23, "Quesos", 232, "Vaca", false},
    {210, "Morcilla de Burgos", 1, false, 210, 10, 22, "Cocidos", 222, "Morcillas", false},
    {301, "Merluza de pincho", 2, true, 1690, 10, 31, "Pescado blanco", 311, "Fresco", false},
    {302, "Lubina de ración", 2, true, 1150, 10, 31, "Pescado blanco", 312, "Ración", false},
    {303, "Dorada de ración", 2, true, 1090, 10, 31, "Pescado blanco", 312, "Ración", false},
    {304, "Salmón fresco", 2, true, 1580, 10, 32, "Pescado azul", 321, "Fresco", false},
    {305, "Boquerones", 2, true, 690, 10, 32, "Pescado azul", 321, "Fresco", false},
    {306, "Sardinas", 2, true, 550, 10, 32, "Pescado azul", 321, "Fresco", false},
    {307, "Gambas peladas", 2, true, 1495, 10, 33, "Marisco", 331, "Crustáceos", false},
    {308, "Mejillones de Galicia", 2, true, 320, 10, 33, "Marisco", 332, "Moluscos", false},
    {309, "Calamares", 2, true, 1240, 10, 34, "Cefalópodos", 341, "Fresco", false},
    {310, "Bacalao desalado", 2, true, 1760, 10, 35, "Salazones", 351, "Bacalao", false},
    {401, "Manzana golden", 3, true, 219, 4, 41, "Fruta", 411, "Pepita", false},
    {402, "Naranja de zumo", 3, true, 149, 4, 41, "Fruta", 412, "Cítricos", false},
    {403, "Plátano de Canarias", 3, true, 249, 4, 41, "Fruta", 413, "Tropical", false},
    {404, "Fresón de Huelva", 3, true, 395, 4, 41, "Fruta", 414, "Temporada", false},
    {405, "Tomate de ensalada", 3, true, 235, 4, 42, "Verdura", 421, "Hortalizas", false},
    {406, "Patata nueva", 3, true, 115, 4, 42, "Verdura", 422, "Tubérculos", false},
    {407, "Cebolla dulce", 3, true, 139, 4, 42, "Verdura", 421, "Hortalizas", false},
    {408, "Pimiento rojo", 3, true, 280, 4, 42, "Verdura", 421, "Hortalizas", false},
    {409, "Lechuga romana", 3, false, 95, 4, 42, "Verdura", 423, "Hojas", false},
    {410, "Aguacate Hass", 3, false, 120, 4, 41, "Fruta", 413, "Tropical", false},
};
constexpr size_t kArticleCount = std::size(kArticles);

struct Vendor {
  int id;
  const char* name;
  int section;  // index into kSections: where the vendor usually serves
};

constexpr Vendor kVendors[] = {
    {1, "José", 0},  {2, "María Ángeles", 1}, {3, "Iñaki", 2},
    {4, "Lucía", 3}, {5, "Begoña", 0},        {6, "Ramón Peña", 1},
};
constexpr size_t kVendorCount = std::size(kVendors);

struct Customer {
  int code;
  const char* name;
  const char* address;
  const char* town;
  const char* phone;
  const char* taxId;  // nullptr: never given
  int discount;       // percent
  bool invoiced;      // a business that asks for an invoice
};

constexpr Customer kCustomers[] = {
    {1, "Ana Belén Muñoz", "C/ Mayor 12, 3º B", "Logroño", "941 23 45 67", "16543287K", 0, false},
    {2, "Bar Casa Paco", "Plaza del Mercado 4", "Logroño", "941 20 11 30", "B26334455", 5, true},
    {3, "Restaurante El Puerto", "Avda. de Portugal 27", "Logroño", "941 25 87 00", "B26998877", 10,
     true},
    {4, "Núria Sánchez Ortiz", "C/ San Antón 8", "Lardero", "680 11 22 33", "", 0, false},
    {5, "Óscar Peña Gil", "C/ Gran Vía 45", "Logroño", "", nullptr, 0, false},
    {6, "Residencia Santa Águeda", "Ctra. de Soria km 2", "Villamediana", "941 43 21 00",
     "R2600123F", 10, true},
    {7, "Jesús Martínez Sáez", "C/ Vara de Rey 3", "Logroño", "654 98 76 54", "", 0, false},
    {8, "Mª Carmen López", "C/ Laurel 15", "Logroño", "941 22 00 01", nullptr, 0, false},
    {9, "Asador Txoko Iñigo", "C/ Portales 61", "Logroño", "941 26 66 10", "B26556677", 5, true},
    {10, "Pilar Jiménez Ruiz", "C/ Murrieta 70", "Logroño", "", "", 0, false},
    {11, "Colegio San José", "C/ Duquesa de la Victoria 9", "Logroño", "941 24 13 50", "R2600456H",
     5, true},
    {12, "Ángel Hernández", "C/ Huesca 22", "Navarrete", "620 45 67 89", "72345678P", 0, false},
    {13, "Begoña Etxeberria", "C/ Chile 5", "Logroño", "941 21 30 40", nullptr, 0, false},
    {14, "Tomás Ibáñez", "C/ Ebro 2", "Fuenmayor", "", "", 0, false},
    {15, "Cafetería La Góndola", "C/ Bretón de los Herreros 1", "Logroño", "941 25 01 02",
     "B26112233", 5, true},
    {16, "Rocío Domínguez", "C/ Pérez Galdós 33", "Logroño", "699 12 34 56", "", 0, false},
    {17, "Fernando Güemes", "C/ Piqueras 48", "Logroño", "941 20 20 20", "44556677L", 0, false},
    {18, "Inmaculada Ochoa", "C/ Beratúa 11", "Logroño", "", nullptr, 0, false},
    {19, "Hotel Ciudad de Logroño", "Avda. de Colón 20", "Logroño", "941 27 27 27", "A26778899", 10,
     true},
    {20, "Javier Sáenz de Ugarte", "C/ Marqués de Vallejo 6", "Logroño", "646 77 88 99", "", 0,
     false},
    {21, "Conchi Ramírez", "C/ Albia de Castro 14", "Alberite", "941 43 60 01", "", 0, false},
    {22, "Ludoteca Arcoíris", "C/ Somosierra 19", "Logroño", "941 51 52 53", "G26445566", 0, true},
    {23, "Ignacio Ayala", "C/ Pío XII 23", "Logroño", "", nullptr, 0, false},
    {24, "Montserrat Puig", "C/ Calvo Sotelo 2", "Logroño", "608 10 20 30", "", 0, false},
    {25, "Ñoquis y Pasta S.C.", "C/ Jorge Vigón 50", "Logroño", "941 50 60 70", "J26990011", 5,
     true},
};

// Opening hours and how busy each hour is: 9-14 and 17-21.
constexpr int kHours[] = {9, 10, 11, 12, 13, 17, 18, 19, 20};
constexpr int kHourWeights[] = {6, 9, 12, 13, 10, 7, 10, 11, 8};

// ---------------------------------------------------------------------------
// Text forms

std::string Stamp(const CivilDate& d, int second) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                second / 3600, second / 60 % 60, second % 60);
  return buf;
}

// A time of day as the host keeps it in a date field: on day zero of its
// calendar.
std::string TimeOfDay(int second) { return Stamp(CivilDate{1899, 12, 30}, second); }

std::string DayText(const CivilDate& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.day, d.month, d.year);
  return buf;
}

std::string Clock(int second, bool withSeconds) {
  char buf[16];
  if (withSeconds) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", second / 3600, second / 60 % 60, second % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d", second / 3600, second / 60 % 60);
  }
  return buf;
}

// An EAN-13 from its first 12 digits.
std::string Ean13(const std::string& digits12) {
  int sum = 0;
  for (size_t i = 0; i < 12; ++i) sum += (digits12[i] - '0') * (i % 2 == 0 ? 1 : 3);
  return digits12 + static_cast<char>('0' + (10 - sum % 10) % 10);
}

// The first `n` characters (code points) of UTF-8 text.
std::string Truncate(const std::string& text, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (count == n) return text.substr(0, i);
      ++count;
    }
  }
  return text;
}

double Euros(int64_t cents) { return static_cast<double>(cents) / 100.0; }
double Kilos(int64_t grams) { return static_cast<double>(grams) / 1000.0; }

// ---------------------------------------------------------------------------
// One day of sales

struct Line {
  size_t article;  // index into kArticles
  int grams = 0;   // weighed articles
  int units = 0;   // articles sold by the unit
  int64_t cents = 0;
};

struct Ticket {
  int second = 0;  // time of sale
  int scale = 1;
  size_t vendor = 0;
  long number = 0;
  std::vector<Line> lines;
  std::optional<Line> cancelled;  // a line taken back before closing the ticket
  const Customer* customer = nullptr;
  bool card = false;
};

struct Totals {
  long tickets = 0, ops = 0, opsCancelled = 0;
  int64_t cents = 0, centsCancelled = 0, grams = 0, gramsCancelled = 0, units = 0,
          unitsCancelled = 0;

  void Add(const Line& l) {
    ++ops;
    cents += l.cents;
    grams += l.grams;
    units += l.units;
  }
  void Cancel(const Line& l) {
    ++opsCancelled;
    centsCancelled += l.cents;
    gramsCancelled += l.grams;
    unitsCancelled += l.units;
  }
};

Line MakeLine(Rng& rng, size_t article) {
  const Article& a = kArticles[article];
  Line l;
  l.article = article;
  if (a.weighed) {
    // Dear cuts are sliced thin; fruit goes by the bag.
    if (a.price >= 2000) {
      l.grams = rng.Between(80, 450);
    } else if (a.section == 3) {
      l.grams = rng.Between(400, 3000);
    } else {
      l.grams = rng.Between(150, 1800);
    }
    l.cents = (static_cast<int64_t>(a.price) * l.grams + 500) / 1000;
  } else {
    l.units = rng.Between(1, 6);
    l.cents = static_cast<int64_t>(a.price) * l.units;
  }
  return l;
}

size_t PickArticle(Rng& rng, size_t section) {
  // Mostly what the scale's counter sells; now and then something else.
  if (!rng.Percent(80)) section = static_cast<size_t>(rng.Between(0, 3));
  std::array<size_t, kArticleCount> candidates{};
  size_t n = 0;
  for (size_t i = 0; i < kArticleCount; ++i) {
    if (static_cast<size_t>(kArticles[i].section) == section) candidates[n++] = i;
  }
  return candidates[static_cast<size_t>(rng.Between(0, static_cast<int>(n) - 1))];
}

size_t ScaleSection(int scale) { return static_cast<size_t>((scale - 1) % 4); }

std::vector<Ticket> DayTickets(Rng& rng, const ShopOptions& o, std::vector<long>& nextNumber) {
  std::vector<Ticket> tickets(static_cast<size_t>(o.ticketsPerDay));
  for (Ticket& t : tickets) {
    const int hour = kHours[rng.Weighted(kHourWeights)];
    t.second = hour * 3600 + rng.Between(0, 3599);
  }
  std::sort(tickets.begin(), tickets.end(),
            [](const Ticket& a, const Ticket& b) { return a.second < b.second; });
  const int lineWeights[] = {22, 30, 22, 13, 8, 5};
  for (Ticket& t : tickets) {
    t.scale = rng.Between(1, o.scales);
    const size_t section = ScaleSection(t.scale);
    // Each counter's own staff serve most of its customers.
    t.vendor = static_cast<size_t>(rng.Between(0, static_cast<int>(kVendorCount) - 1));
    if (rng.Percent(60)) {
      std::array<size_t, kVendorCount> own{};
      size_t n = 0;
      for (size_t v = 0; v < kVendorCount; ++v) {
        if (static_cast<size_t>(kVendors[v].section) == section) own[n++] = v;
      }
      if (n > 0) t.vendor = own[static_cast<size_t>(rng.Between(0, static_cast<int>(n) - 1))];
    }
    t.number = nextNumber[static_cast<size_t>(t.scale - 1)]++;
    const size_t count = rng.Weighted(lineWeights) + 1;
    for (size_t i = 0; i < count; ++i) t.lines.push_back(MakeLine(rng, PickArticle(rng, section)));
    if (rng.Percent(4)) t.cancelled = MakeLine(rng, PickArticle(rng, section));
    if (rng.Percent(15)) {
      t.customer = &kCustomers[static_cast<size_t>(
          rng.Between(0, static_cast<int>(std::size(kCustomers)) - 1))];
    }
    t.card = t.customer != nullptr ? t.customer->invoiced || rng.Percent(50) : rng.Percent(35);
  }
  return tickets;
}

// Cash handed over: the smallest note that covers the total, or the exact
// amount now and then.
int64_t Tendered(Rng& rng, int64_t cents) {
  if (rng.Percent(20)) return cents;
  for (const int64_t note : {500, 1000, 2000, 5000, 10000}) {
    if (note >= cents) return note;
  }
  return (cents + 999) / 1000 * 1000;
}

// The texts a ticket's header and lines share, formatted once.
struct TicketTexts {
  std::string day;        // "dd/mm/yyyy"
  std::string stamp;      // the sale's date and time
  std::string timeOfDay;  // the sale's time on day zero
  std::string number, vendor;
  std::optional<std::string> invoice;
};

// ---------------------------------------------------------------------------
// The generator

class ShopWriter {
 public:
  ShopWriter(sqlite3* db, const ShopOptions& o, const std::vector<LiveTable>& tables)
      : db_(db),
        o_(o),
        rng_(o.seed),
        cabecera_(db, Find(tables, "cabecera")),
        tickets_(db, Find(tables, "tickets")),
        gtsecs_(db, Find(tables, "gtsecs")),
        gtvend_(db, Find(tables, "gtvend")),
        gtarti_(db, Find(tables, "gtarti")),
        gtInfVen_(db, Find(tables, "gtInfVen")),
        gthora_(db, Find(tables, "gthora")),
        gtVacuno_(db, Find(tables, "GTVacuno")),
        cliente_(db, Find(tables, "cliente")),
        nextNumber_(static_cast<size_t>(o.scales), 1) {
    for (int scale = 1; scale <= o.scales; ++scale) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "BALANZA-%02d", scale % 100);
      terminals_.emplace_back(buf);
    }
  }

  void Write() {
    Exec(db_, "BEGIN");
    Customers();
    const int64_t last = DaysFromCivil(o_.today);
    int currentMonth = 0;
    for (int64_t day = DaysFromCivil(FirstDay()); day <= last; ++day) {
      const CivilDate date = CivilFromDays(day);
      // One transaction per month of data keeps memory flat and commits few.
      const int month = date.year * 12 + date.month;
      if (currentMonth != 0 && month != currentMonth) {
        Exec(db_, "COMMIT");
        Exec(db_, "BEGIN");
      }
      currentMonth = month;
      if ((day % 7 + 7 + 4) % 7 == 0) continue;  // 1970-01-01 was a Thursday; shut on Sundays
      Day(date, day);
    }
    Exec(db_, "COMMIT");
  }

 private:
  static const LiveTable& Find(const std::vector<LiveTable>& tables, const char* name) {
    for (const LiveTable& t : tables) {
      if (t.name == name) return t;
    }
    throw Error(dbengine::EngineError::kTableNotFound, "Sample table missing.", name);
  }

  CivilDate FirstDay() const {
    int month = o_.today.month - o_.months % 12;
    int year = o_.today.year - o_.months / 12;
    if (month < 1) {
      month += 12;
      --year;
    }
    CivilDate first{year, month, o_.today.day};
    while (!IsValidDate(first)) --first.day;  // 31 March less a month is 28/29 February
    return first;
  }

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

  sqlite3* db_;
  const ShopOptions& o_;
  Rng rng_;
  Inserter cabecera_, tickets_, gtsecs_, gtvend_, gtarti_, gtInfVen_, gthora_, gtVacuno_, cliente_;
  std::vector<long> nextNumber_;        // per scale
  std::vector<std::string> terminals_;  // per scale
  std::string midnight_;                // the current day at 00:00:00
};

void CheckOptions(const ShopOptions& o) {
  const auto fail = [](const std::string& what) {
    throw Error(dbengine::EngineError::kInvalidArgument, "Invalid sample shop option.", what);
  };
  if (o.folder.empty()) fail("the shop folder is empty");
  if (!IsValidDate(o.today)) fail("today is not a valid date");
  if (o.months < 0 || o.months > kMaxMonths) {
    fail("months " + std::to_string(o.months) + " is outside 0.." + std::to_string(kMaxMonths));
  }
  if (o.scales < 1 || o.scales > kMaxScales) {
    fail("scales " + std::to_string(o.scales) + " is outside 1.." + std::to_string(kMaxScales));
  }
  if (o.ticketsPerDay < 0 || o.ticketsPerDay > kMaxTicketsPerDay) {
    fail("tickets per day " + std::to_string(o.ticketsPerDay) + " is outside 0.." +
         std::to_string(kMaxTicketsPerDay));
  }
  if (o.retentionDays < 0 || o.retentionDays > kMaxRetentionDays) {
    fail("retention days " + std::to_string(o.retentionDays) + " is outside 0.." +
         std::to_string(kMaxRetentionDays));
  }
  if (o.journalMode != "delete" && o.journalMode != "wal") {
    fail("journal mode \"" + o.journalMode + "\" is neither delete nor wal");
  }
  if (o.processName.find_first_of("\r\n") != std::string::npos) {
    fail("the process name holds a line end");
  }
}

// The live database at `path`, built whole: tables, rows, journal mode.
void BuildLiveDb(const fs::path& path, const ShopOptions& o) {
  DbHandle db = OpenDb(path.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  const std::string mode = o.journalMode == "wal" ? "wal" : "delete";
  const std::string got = QueryText(db.get(), "PRAGMA journal_mode=" + mode);
  if (got != mode) {
    throw Error(dbengine::EngineError::kIo, "Cannot set the journal mode.",
                path.string() + ": asked for " + mode + ", got " + got);
  }
  // The file is renamed into place only once complete, so a crash loses
  // nothing worth syncing for.
  Exec(db.get(), "PRAGMA synchronous=OFF");
  Exec(db.get(), "PRAGMA cache_size=-32768");

  std::vector<LiveTable> tables;
  for (const archive::TableSpec* layout : archive::ArchiveTables(true))
    tables.push_back(LiveTwin(*layout));
  Exec(db.get(), "BEGIN");
  for (const LiveTable& t : tables) Exec(db.get(), CreateSql(t));
  Exec(db.get(), "COMMIT");

  ShopWriter(db.get(), o, tables).Write();
  const int rc = sqlite3_close(db.release());
  if (rc != SQLITE_OK) throw dbengine::sqlite::SqliteError(nullptr, rc, path.string());
}

}  // namespace

ShopFiles GenerateShop(const ShopOptions& options) {
  CheckOptions(options);
  const fs::path folder = AbsolutePath(options.folder);
  const fs::path data = folder / "datos";
  const fs::path dbPath = data / "live.db";
  const fs::path settingsPath = data / "settings.ini";
  const fs::path programFolder =
      options.programFolder.empty() ? folder : AbsolutePath(options.programFolder);

  MakeFolders(data);
  std::error_code ec;
  if (fs::exists(dbPath, ec)) {
    throw Error(dbengine::EngineError::kDatabaseExists, "Database already exists.",
                dbPath.string() + ": remove it or choose another folder");
  }
  fs::path partial = dbPath;
  partial += ".partial";
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    fs::path stale = partial;
    stale += suffix;
    RemoveIfPresent(stale);
  }
  try {
    BuildLiveDb(partial, options);
  } catch (...) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    throw;
  }
  fs::rename(partial, dbPath, ec);
  if (ec) throw FileError("Cannot rename the database into place.", dbPath.string(), ec.message());

  WriteSettings(settingsPath.string(), options.livestock, options.retentionDays);
  WriteFifo(programFolder.string(), dbPath.string(), settingsPath.string(), options.processName);
  return ShopFiles{dbPath.string(), settingsPath.string(), (programFolder / "fifo").string()};
}

void WriteFifo(const std::string& programFolder, const std::string& dbPath,
               const std::string& settingsPath, const std::string& processName) {
  MakeFolders(programFolder);
  // Every line ends in CRLF, the last two empty ones included, so a reader
  // that splits at line ends sees exactly seven.
  std::string text;
  for (const std::string& line : {dbPath, settingsPath, processName, std::string("0"),
                                  std::string("N"), std::string(), std::string()}) {
    text += line + "\r\n";
  }
  WriteFile(fs::path(programFolder) / "fifo", text);
}

void WriteSettings(const std::string& path, bool livestock, int retentionDays) {
  // First and second item of each pair, by position. Flags and numbers sit
  // where the archiver checks their form; the rest is the kind of thing a
  // shop's settings hold. Position 1 is quoted because of its comma.
  static constexpr std::pair<const char*, const char*> kPairs[] = {
      {"3.2.114", "VersionConfig"},
      {"\"Carnicería Hnos. Martínez, S.L.\"", "NombreTienda"},
      {"Avda. de la Paz 14", "Direccion"},
      {"1", "UsarBalanzas"},
      {"0", "ModoDemo"},
      {"", "TrazabilidadVacuno"},
      {"True", "ImprimirTicket"},
      {"COM1", "PuertoSerie"},
      {"9600", "Velocidad"},
      {"C:\\Datos\\", "CarpetaDatos"},
      {"EUR", "Moneda"},
      {"2", "Decimales"},
      {"es-ES", "Idioma"},
      {"192.168.1.50", "IPServidor"},
      {"1", "EnviarPLUs"},
      {"1", "RecibirVentas"},
      {"0", "BorrarTotales"},
      {"True", "CierreDiario"},
      {"False", "AvisoCaducidad"},
      {"1", "Etiquetadora"},
      {"0", "CajonPortamonedas"},
      {"True", "VisorCliente"},
      {"0", "ControlStock"},
      {"False", "ModoTPV"},
      {"1", "LectorCodigos"},
      {"0", "TicketRegalo"},
      {"False", "Fidelizacion"},
      {"True", "Facturacion"},
      {"1", "CopiaSeguridad"},
      {"1", "SincronizarHora"},
      {"0", "ModoExperto"},
      {"True", "Trazabilidad"},
      {"Logroño", "Poblacion"},
      {"26001", "CodigoPostal"},
      {"1.5", "FactorRedondeo"},
      {"B26123456", "CIF"},
      {"941 25 36 47", "Telefono"},
      {"Gracias por su visita", "PieTicket1"},
      {"", "PieTicket2"},
      {"IVA incluido", "PieTicket3"},
      {"Epson TM-T20", "Impresora"},
      {"A4", "Papel"},
      {"60", "IntervaloEnvio"},
      {"5", "Reintentos"},
      {"admin", "UsuarioDefecto"},
      {"", "ValidarUsuarios"},
      {"Arial", "Fuente"},
      {"False", "PedirVendedor"},
      {"Etiqueta 58x40", "FormatoEtiqueta"},
      {"EAN13", "TipoCodigo"},
      {"22", "PrefijoPeso"},
      {"5", "DigitosPLU"},
      {"D:\\Copias", "CarpetaCopias"},
      {"Sección 1", "NombreSeccion1"},
      {"Sección 2", "NombreSeccion2"},
      {"Sección 3", "NombreSeccion3"},
      {"Sección 4", "NombreSeccion4"},
      {"Euro", "NombreMoneda"},
      {"€", "SimboloMoneda"},
      {"1000", "LimiteEfectivo"},
      {"30", "DiasCaducidadLote"},
      {"ES", "Pais"},
      {"La Rioja", "Provincia"},
      {"tienda@example.com", "Correo"},
      {"smtp.example.com", "ServidorCorreo"},
      {"25", "PuertoCorreo"},
      {"Lunes a sábado", "Horario"},
      {"09:00", "Apertura"},
      {"21:00", "Cierre"},
      {"4", "NumeroBalanzas"},
      {"Ticket", "Documento"},
      {"Factura simplificada", "TituloTicket"},
      {"F", "SerieFactura"},
      {"0", "ContadorFactura"},
      {"Normal", "Prioridad"},
      {"0", "ModoBalanza"},
      {"", "DiasHistorico"},
      {"COM2", "PuertoVisor"},
      {"Courier New", "FuenteTicket"},
      {"8", "TamanoFuente"},
      {"40", "AnchoTicket"},
      {"Cliente contado", "ClientePorDefecto"},
      {"1", "TarifaDefecto"},
      {"Ñ", "LetraSerie"},
      {"C:\\Programa\\Informes", "CarpetaInformes"},
      {"Diario", "Periodicidad"},
      {"23:30", "HoraCopia"},
      {"3", "CopiasGuardadas"},
      {"es", "IdiomaTeclado"},
      {"Mostrador", "Ubicacion"},
      {"José", "Encargado"},
      {"1", "ConfirmarBorrado"},
      {"3", "CopiasTicket"},
      {"0.5", "Margen"},
      {"Azul", "ColorFondo"},
      {"1024x768", "Resolucion"},
      {"Ibérica", "Plantilla"},
      {"0", "Depuracion"},
      {"FIN", "Marca"},
      {"", "Reservado"},
  };
  static_assert(std::size(kPairs) == 100);

  std::string text;
  for (size_t position = 0; position < std::size(kPairs); ++position) {
    std::string first = kPairs[position].first;
    if (position == 5) first = livestock ? "True" : "False";
    if (position == 76) first = std::to_string(retentionDays);
    text += first + "," + kPairs[position].second + "\r\n";
  }
  const fs::path p(path);
  if (p.has_parent_path()) MakeFolders(p.parent_path());
  // The host writes its settings in the Windows code page.
  WriteFile(p, platform::ToWindows1252(text));
}

std::map<std::string, long> CountRecords(const std::string& dbPath) {
  std::error_code ec;
  if (!fs::is_regular_file(dbPath, ec)) {
    throw Error(dbengine::EngineError::kFileNotFound, "Could not find the database file.", dbPath);
  }
  // Read-write, though only read: a read-only connection to a WAL database
  // cannot remove the -wal and -shm files it creates when it closes.
  DbHandle db;
  try {
    db = OpenDb(dbPath, SQLITE_OPEN_READWRITE);
  } catch (const Error&) {
    db = OpenDb(dbPath, SQLITE_OPEN_READONLY);
  }
  std::vector<std::string> names;
  {
    StmtHandle stmt = Prepare(db.get(),
                              "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT "
                              "LIKE 'sqlite!_%' ESCAPE '!' ORDER BY rowid");
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
      names.emplace_back(p != nullptr ? p : "");
    }
    if (rc != SQLITE_DONE) throw dbengine::sqlite::SqliteError(db.get(), rc, dbPath);
  }
  std::map<std::string, long> counts;
  for (const std::string& name : names) {
    counts[name] = std::stol(QueryText(db.get(), "SELECT count(*) FROM " + QuoteName(name)));
  }
  return counts;
}

}  // namespace sa::demo
