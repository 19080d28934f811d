// What the host's files can hold at launch, tried on the real executable:
// paths in any encoding beside lines in another, settings paths naming what
// is not a file. Each launch explains itself and ends at once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "sample_shop.h"
#include "support/program_run.h"
#include "support/small_shop.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

using testing::InstallProgram;
using testing::RunProgram;
using testing::TempDir;

TEST(LaunchInputTest, AUtf8PathBesideALineInTheAnsiCodePageStillReads) {
  TempDir dir;
  demo::ShopOptions options = testing::SmallShop(dir.Path("tienda-\xC3\xB1u"), {2024, 3, 20}, 1, 2);
  options.livestock = false;
  const demo::ShopFiles files = demo::GenerateShop(options);
  // The host's user name in Windows-1252 and an eighth line nobody reads.
  dir.Write("fifo", files.dbPath + "\r\n" + files.settingsPath +
                        "\r\nprocsiosi\r\n0\r\nY\r\nJos\xE9\r\n1\r\n\xFF\xFE extra\r\n");
  const auto result = RunProgram(InstallProgram(dir.path()), 60);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_TRUE(dir.IsFolder("tienda-\xC3\xB1u/datos/S"));
}

TEST(LaunchInputTest, ASettingsPathThatIsNoFileEndsAtOnceWithItsMessage) {
  TempDir dir;
  dir.MakeFolder("datos");
  dir.Write("datos/live.db", "");
  ASSERT_EQ(::mkfifo(dir.Path("datos/pipe.ini").c_str(), 0600), 0);
  const std::string program = InstallProgram(dir.path());
  for (const std::string& settings : {dir.Path("datos/pipe.ini"), std::string("/dev/zero")}) {
    demo::WriteFifo(dir.path(), dir.Path("datos/live.db"), settings, "procsiosi");
    const auto result = RunProgram(program, 20);
    EXPECT_EQ(result.exitStatus, 1) << settings << (result.exitStatus == -2 ? ": it waited" : "");
    EXPECT_EQ(result.standardError.rfind("Error accediendo a zizezivazer.ini\n", 0), 0u)
        << result.standardError;
    EXPECT_NE(result.standardError.find(settings), std::string::npos) << result.standardError;
  }
}

}  // namespace
}  // namespace sa

namespace sa {
namespace {

// A scheduler starts the program in a working folder of its own: relative
// paths in `fifo` are still read from the program's folder.
TEST(LaunchInputTest, RelativePathsInFifoAreReadFromTheProgramFolderWhereverItStarts) {
  TempDir dir;
  demo::ShopOptions options = testing::SmallShop(dir.path(), {2024, 3, 20}, 2, 2);
  options.livestock = false;
  demo::GenerateShop(options);
  demo::WriteFifo(dir.path(), "datos/live.db", "datos/settings.ini", "procsiosi");
  testing::Launch launch;
  launch.workingFolder = "/";
  const auto result = RunProgram(InstallProgram(dir.path()), launch, 60);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_TRUE(dir.Exists("datos/S/202403.mdb"));
}

}  // namespace
}  // namespace sa
