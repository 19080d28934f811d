#include "support/program_shop.h"

#include <gtest/gtest.h>

#include "support/small_shop.h"

namespace sa::testing {

ProgramShop::ProgramShop(const std::string& journalMode, const std::string& process,
                         CivilDate today) {
  demo::ShopOptions options = SmallShop(dir.path(), today);
  options.journalMode = journalMode;
  options.processName = process;
  files = demo::GenerateShop(options);
  program = InstallProgram(dir.path());
}

Census ProgramShop::TakeCensus() const { return testing::TakeCensus(Live(), dir.Path("datos")); }

Census ProgramShop::LiveCensus() const { return testing::TakeCensus(Live(), dir.Path("none")); }

ProgramResult ProgramShop::Run(const std::vector<std::string>& args) const {
  Launch launch;
  launch.arguments = args;
  return RunProgram(program, launch);
}

std::vector<std::string> ProgramShop::LogLines() const {
  std::vector<std::string> lines;
  const std::string log = dir.Read("registro.txt");
  size_t start = 0;
  for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(log.substr(start, end - start));
  }
  EXPECT_EQ(start, log.size()) << "every line ends in CRLF";
  return lines;
}

}  // namespace sa::testing
