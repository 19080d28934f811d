// The Windows build of the program, run by Wine the way the host runs it on
// Windows: copied beside a `fifo` holding Windows paths (Z:\...), the live
// database a SQLite file reached through Wine's ODBC, which hands over to the
// system's unixODBC and its SQLite3 driver. Built on Linux when the Windows
// executable is given (SA_WINDOWS_EXE); Wine's prefix comes from WINEPREFIX.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/text.h"
#include "sample_shop.h"
#include "support/census.h"
#include "support/program_run.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// The Windows name Wine gives a host path: drive Z: is the root folder.
std::string WindowsPath(const std::string& hostPath) {
  std::string path = "Z:" + hostPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Result {
  int exitStatus = -1;
  std::string standardError;
};

// Runs sales-archiver.exe from `programFolder` under Wine, with no display.
Result RunUnderWine(const std::string& programFolder, const std::vector<std::string>& args = {}) {
  const std::string exe = programFolder + "/sales-archiver.exe";
  fs::copy_file(SA_WINDOWS_EXE, exe, fs::copy_options::overwrite_existing);
  const std::string errPath = programFolder + "/../wine.stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(err, 2);
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("WINEDEBUG", "-all", 1);
    std::vector<std::string> words = {SA_WINE, exe};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  Result result;
  result.exitStatus = testing::WaitProgram(pid);
  // Standard error is in text mode on Windows: its line ends are CRLF.
  result.standardError = ReadAll(errPath);
  for (size_t at; (at = result.standardError.find("\r\n")) != std::string::npos;) {
    result.standardError.erase(at, 1);
  }
  fs::remove(errPath);
  return result;
}

demo::ShopOptions Shop(const std::string& folder, bool livestock) {
  demo::ShopOptions options;
  options.folder = folder;
  options.today = platform::RealClock().Today();
  options.months = 3;
  options.ticketsPerDay = 6;
  options.livestock = livestock;
  options.retentionDays = 20;
  options.programFolder = folder + "/programa";
  return options;
}

// Rewrites the shop's fifo with the Windows names of its files.
void WriteWindowsFifo(const demo::ShopOptions& options, const demo::ShopFiles& files) {
  demo::WriteFifo(options.programFolder, WindowsPath(files.dbPath), WindowsPath(files.settingsPath),
                  options.processName);
}

TEST(WineRun, ArchivesAShopThroughOdbcAndLogsAsOnLinux) {
  for (const bool livestock : {false, true}) {
    SCOPED_TRACE(livestock ? "with livestock" : "without livestock");
    // The same shop twice: one for the Windows build, one for the Linux one.
    TempDir windows, linux;
    const demo::ShopOptions onWindows = Shop(windows.path(), livestock);
    const demo::ShopFiles files = demo::GenerateShop(onWindows);
    WriteWindowsFifo(onWindows, files);
    const demo::ShopOptions onLinux = Shop(linux.path(), livestock);
    const demo::ShopFiles linuxFiles = demo::GenerateShop(onLinux);

    const testing::Census before = testing::TakeCensus(files.dbPath, windows.Path("datos"));
    const Result result = RunUnderWine(onWindows.programFolder);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, windows.Path("datos"))),
              "");
    // Something was archived, and every archive is a SQLite file with the
    // creation options in its header.
    int archives = 0;
    for (const auto& entry : fs::directory_iterator(windows.Path("datos/S"))) {
      if (entry.path().extension() != ".mdb") continue;
      ++archives;
      EXPECT_EQ(testing::QueryLong(entry.path().string(), "PRAGMA application_id"), 0x53415243);
      EXPECT_EQ(testing::QueryLong(entry.path().string(), "PRAGMA user_version"),
                (0x0409 << 16) | 64);
    }
    EXPECT_GE(archives, 2);

    const auto linuxRun = testing::RunProgram(testing::InstallProgram(onLinux.programFolder));
    ASSERT_EQ(linuxRun.exitStatus, 0) << linuxRun.standardError;
    const std::string linuxLog = linux.Read("programa/registro.txt");
    ASSERT_FALSE(linuxLog.empty());
    EXPECT_EQ(windows.Read("programa/registro.txt"), platform::ToWindows1252(linuxLog));
  }
}

// A run that stops and a run the archive refuses, on Windows: the log says
// why, in Windows-1252, and --verify, reaching the archives through the
// SQLite3 driver (which lists tables by name), finds them sound.
TEST(WineRun, AStoppedRunExplainsItselfAndVerifyFindsItsArchivesSound) {
  TempDir dir;
  const demo::ShopOptions options = Shop(dir.path(), true);
  const demo::ShopFiles files = demo::GenerateShop(options);
  WriteWindowsFifo(options, files);
  testing::Exec(files.dbPath, "DROP TABLE gtvend; UPDATE gtsecs SET txt_fam = '" +
                                  std::string(40, 'x') +
                                  "' WHERE rowid = (SELECT min(rowid) FROM gtsecs)");
  const Result run = RunUnderWine(options.programFolder, {"--unattended"});
  EXPECT_EQ(run.exitStatus, 2) << run.standardError;
  const std::string log = dir.Read("programa/registro.txt");
  for (const std::string& line :
       {std::string("ejecución detenida (gtvend): Cannot find the input table or query. (gtvend "),
        std::string("motivo: The field is too small to accept the amount of data you attempted to "
                    "add. (gtsecs into "),
        std::string("motivo: ejecución detenida (gtvend)\r\n"),
        std::string("lista de clientes no copiada: ejecución detenida (gtvend)\r\n")}) {
    EXPECT_NE(log.find(platform::ToWindows1252(line)), std::string::npos) << line << "\n" << log;
  }
  EXPECT_EQ(RunUnderWine(options.programFolder, {"--verify"}).exitStatus, 0);
}

// A path longer than the classic limit of 260 characters: the wide calls
// with the \\?\ prefix reach it, and the run completes as with any other.
TEST(WineRun, APathPastTheClassicLimitWorks) {
  TempDir dir;
  std::string deep = dir.path();
  while (deep.size() < 300) deep += "/" + std::string(40, 'p');
  const demo::ShopOptions options = Shop(deep, false);
  const demo::ShopFiles files = demo::GenerateShop(options);
  WriteWindowsFifo(options, files);
  ASSERT_GT(WindowsPath(files.dbPath).size(), 260u);
  const testing::Census before = testing::TakeCensus(files.dbPath, deep + "/datos");
  const Result result = RunUnderWine(options.programFolder);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, deep + "/datos")), "");
  EXPECT_TRUE(fs::exists(options.programFolder + "/registro.txt"));
}

// Unattended, a start-up failure is told on standard error and in the log;
// a launch without fifo, not the host's, leaves no log.
TEST(WineRun, UnattendedStartupFailuresGoToTheLog) {
  TempDir dir;
  dir.MakeFolder("programa");
  Result result = RunUnderWine(dir.Path("programa"), {"--unattended"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError, "This program must be executed by Brelna+\n");
  EXPECT_FALSE(dir.Exists("programa/registro.txt"));

  dir.MakeFolder("datos");
  demo::WriteFifo(dir.Path("programa"), WindowsPath(dir.Path("datos/live.db")),
                  WindowsPath(dir.Path("datos/none.ini")), "procsiosi");
  result = RunUnderWine(dir.Path("programa"), {"--unattended"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError.rfind("Error accediendo a zizezivazer.ini\n", 0), 0u)
      << result.standardError;
  const std::string log = dir.Read("programa/registro.txt");
  EXPECT_EQ(log.rfind("Error accediendo a zizezivazer.ini\r\n", 0), 0u) << log;
  EXPECT_NE(log.find(WindowsPath(dir.Path("datos/none.ini"))), std::string::npos) << log;
}

// Start-up failures: the Spanish message with the reason on standard error,
// nothing archived and the live files as they were.
class WineBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    options = Shop(dir.path(), false);
    files = demo::GenerateShop(options);
    before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  }

  void ExpectRefused(const std::string& livePath, const std::string& reason) {
    demo::WriteFifo(options.programFolder, livePath, WindowsPath(files.settingsPath),
                    options.processName);
    const Result result = RunUnderWine(options.programFolder);
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    EXPECT_EQ(result.standardError.rfind(
                  "Este programa s\xC3\xB3lo puede ser ejecutado desde Brelna+\n", 0),
              0u)
        << result.standardError;
    EXPECT_NE(result.standardError.find(reason), std::string::npos) << result.standardError;
    EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, dir.Path("datos"))),
              "");
  }

  TempDir dir;
  demo::ShopOptions options;
  demo::ShopFiles files;
  testing::Census before;
};

TEST_F(WineBadInput, ALivePathThatIsAFolderIsRefused) {
  dir.MakeFolder("datos/carpeta.db");
  ExpectRefused(WindowsPath(dir.Path("datos/carpeta.db")), "Not a database file");
  EXPECT_TRUE(dir.IsFolder("datos/carpeta.db"));
}

// The program reaches the file (its own calls are wide), but the host's
// SQLite3 driver behind Wine's ODBC bridge gets the name through a code page
// and cannot open it: refused with the driver's reason and the file named.
TEST_F(WineBadInput, ALivePathWithLettersOutsideTheCodePageIsRefusedClearly) {
  const std::string foreign = "tienda-\xCE\xA9-\xD0\xBC\xD0\xB8\xD1\x80-\xE6\xBC\xA2";
  dir.MakeFolder(foreign);
  fs::copy_file(files.dbPath, dir.Path(foreign + "/live.db"));
  const testing::Census foreignBefore =
      testing::TakeCensus(dir.Path(foreign + "/live.db"), dir.Path(foreign));
  ExpectRefused(WindowsPath(dir.Path(foreign + "/live.db")), foreign + "/live.db");
  EXPECT_EQ(testing::CensusDiff(foreignBefore, testing::TakeCensus(dir.Path(foreign + "/live.db"),
                                                                   dir.Path(foreign))),
            "");
  // Start-up made the archive folder; nothing went into it.
  EXPECT_TRUE(fs::is_empty(dir.Path(foreign + "/S")));
}

TEST_F(WineBadInput, AUncPathToNoServerIsRefused) {
  ExpectRefused("\\\\sin-servidor\\tienda\\datos\\live.db", "\\\\sin-servidor\\tienda\\datos");
}

}  // namespace
}  // namespace sa
