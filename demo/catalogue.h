// What the sample shop sells and who works and buys there: its four
// counters, forty articles, six vendors, twenty-five customers and its
// opening hours. Names carry the accents, the eñes and the ordinal signs a
// Spanish shop's data holds, so every run meets text beyond ASCII.
#pragma once

#include <cstddef>
#include <iterator>

namespace sa::demo {

struct Section {
  int code;
  const char* name;
  const char* dpt;  // the line's department, at most 4 characters
};

inline constexpr Section kSections[] = {
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

inline constexpr Article kArticles[] = {
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
inline constexpr size_t kArticleCount = std::size(kArticles);

struct Vendor {
  int id;
  const char* name;
  int section;  // index into kSections: where the vendor usually serves
};

inline constexpr Vendor kVendors[] = {
    {1, "José", 0},  {2, "María Ángeles", 1}, {3, "Iñaki", 2},
    {4, "Lucía", 3}, {5, "Begoña", 0},        {6, "Ramón Peña", 1},
};
inline constexpr size_t kVendorCount = std::size(kVendors);

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

inline constexpr Customer kCustomers[] = {
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
inline constexpr int kHours[] = {9, 10, 11, 12, 13, 17, 18, 19, 20};
inline constexpr int kHourWeights[] = {6, 9, 12, 13, 10, 7, 10, 11, 8};

}  // namespace sa::demo
