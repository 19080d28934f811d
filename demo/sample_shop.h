// A sample shop: a live database of a few months of weighing-scale sales, the
// host settings file and the `fifo` that launches the archiver on it. Used by
// the README's first command, the end-to-end tests and the benchmark.
//
// The live database holds the nine tables the archiver reads, each with the
// fields of its archive table in the same order and types, as the host keeps
// them: the customer table is `cliente`, the date fields are named D_FECHA
// (cabecera, tickets) or FECHA (the totals tables), the livestock totals keep
// their date as a DATETIME at midnight, and every table ends with two fields
// the archives do not keep (`sincronizado`, `terminal`). Dates are stored as
// "YYYY-MM-DD HH:MM:SS" texts and Booleans as 0/1. The same options and seed
// always give the same rows.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "core/datetime.h"

namespace sa::demo {

struct ShopOptions {
  std::string folder;      // created if missing; live db at folder/datos/live.db,
                           // settings at folder/datos/settings.ini
  CivilDate today;         // last day of data (sales dated up to and including today)
  int months = 6;          // months of history before today
  int scales = 3;          // weighing scales (each a "BALANZA"/"NUMBAL")
  int ticketsPerDay = 40;  // per shop, spread over opening hours 9-14 and 17-21
  bool livestock = false;  // GTVacuno live table gets data and settings position 5 says so
  int retentionDays = 30;  // written to settings position 76
  std::string journalMode = "delete";  // "delete" or "wal": live db journal mode
  uint32_t seed = 1;
  std::string processName = "proctotalhistorico";  // fifo line 3
  std::string programFolder;  // where to write `fifo` (the executable's folder); empty: folder
};

// Accepted ranges of the numeric options; GenerateShop refuses others.
inline constexpr int kMaxMonths = 600;
inline constexpr int kMaxScales = 99;
inline constexpr int kMaxTicketsPerDay = 20000;  // keeps daily section counts within 16 bits
inline constexpr int kMaxRetentionDays = 32767;

// Absolute paths of what GenerateShop wrote.
struct ShopFiles {
  std::string dbPath, settingsPath, fifoPath;
};

// Writes the live database, the settings file and `fifo`. The database is
// built under a temporary name and renamed into place when complete; an
// existing live database is never replaced. Throws sa::Error with a clear
// cause on bad options or any failure.
ShopFiles GenerateShop(const ShopOptions& options);

// Writes the 7-line `fifo` (CRLF lines) into `programFolder`, creating the
// folder if missing: dbPath, settingsPath, processName, "0", "N", "", "".
void WriteFifo(const std::string& programFolder, const std::string& dbPath,
               const std::string& settingsPath, const std::string& processName);

// Writes a settings file of 100 pairs in Windows-1252 with CRLF lines, its
// flag and number positions in the forms the archiver checks, position 5
// saying whether livestock is on and position 76 holding `retentionDays`.
// Creates the parent folder if missing.
void WriteSettings(const std::string& path, bool livestock, int retentionDays);

// Records per table of a SQLite file, by table name; SQLite's own tables are
// left out. Writes nothing, but opens the file read-write where it can so
// that a WAL database leaves no -wal/-shm files behind. Throws sa::Error when
// the file is missing or not a database.
std::map<std::string, long> CountRecords(const std::string& dbPath);

}  // namespace sa::demo
