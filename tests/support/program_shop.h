// A generated shop with the real executable installed beside its `fifo`:
// four months of sales with livestock, the live database in "datos", the
// archives in "datos/S". Tests change the shop, run the program with
// switches and read what it left.
#pragma once

#include <string>
#include <vector>

#include "sample_shop.h"
#include "support/census.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace sa::testing {

struct ProgramShop {
  explicit ProgramShop(const std::string& journalMode = "delete",
                       const std::string& process = "procsiosi", CivilDate today = {2024, 6, 20});

  std::string Live() const { return dir.Path("datos/live.db"); }
  std::string Archive(const std::string& month) const {
    return dir.Path("datos/S/" + month + ".mdb");
  }
  Census TakeCensus() const;
  // The live records only.
  Census LiveCensus() const;
  ProgramResult Run(const std::vector<std::string>& args = {}) const;
  // registro.txt cut into its lines; fails the test unless each ends in CRLF.
  std::vector<std::string> LogLines() const;

  TempDir dir;
  demo::ShopFiles files;
  std::string program;
};

}  // namespace sa::testing
