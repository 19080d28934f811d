// The Windows build of the program, run by Wine the way the host runs it on
// Windows: copied beside a `fifo` holding Windows paths (Z:\...), the live
// database a SQLite file reached through Wine's ODBC, which hands over to the
// system's unixODBC and its SQLite3 driver. Built on Linux when the Windows
// executable is given (SA_WINDOWS_EXE); Wine's prefix comes from WINEPREFIX.
// The environment variables SA_WINDOWS_EXE and SA_WINE, when set, name
// another build and another way of starting Wine (a command, its words
// separated by spaces, followed by the program and its arguments), so that
// the same runs check the i686 build under 32-bit Wine too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
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

std::string Setting(const char* name, const char* compiled) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : compiled;
}

struct Result {
  int exitStatus = -1;
  std::string standardError;
  std::string standardOutput;
};

// Standard streams are in text mode on Windows: their line ends are CRLF.
std::string ReadStream(const std::string& path) {
  std::string text = ReadAll(path);
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  fs::remove(path);
  return text;
}

// Replaces this (child) process with `program` and its arguments under Wine.
[[noreturn]] void ExecUnderWine(const std::vector<std::string>& program) {
  std::istringstream wine(Setting("SA_WINE", SA_WINE));
  std::vector<std::string> words;
  for (std::string word; wine >> word;) words.push_back(word);
  words.insert(words.end(), program.begin(), program.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  _exit(127);
}

// Runs sales-archiver.exe from `programFolder` under Wine, with no display.
Result RunUnderWine(const std::string& programFolder, const std::vector<std::string>& args = {}) {
  const std::string exe = programFolder + "/sales-archiver.exe";
  fs::copy_file(Setting("SA_WINDOWS_EXE", SA_WINDOWS_EXE), exe,
                fs::copy_options::overwrite_existing);
  const std::string errPath = programFolder + "/../wine.stderr";
  const std::string outPath = programFolder + "/../wine.stdout";
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(err, 2);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("WINEDEBUG", "-all", 1);
    std::vector<std::string> program = {exe};
    program.insert(program.end(), args.begin(), args.end());
    ExecUnderWine(program);
  }
  Result result;
  result.exitStatus = testing::WaitProgram(pid);
  result.standardError = ReadStream(errPath);
  result.standardOutput = ReadStream(outPath);
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
// The program itself starts from a short folder: Windows starts no program
// from a path past the limit, and neither does 32-bit Wine.
TEST(WineRun, APathPastTheClassicLimitWorks) {
  TempDir dir;
  std::string deep = dir.path();
  while (deep.size() < 300) deep += "/" + std::string(40, 'p');
  demo::ShopOptions options = Shop(deep, false);
  options.programFolder = dir.Path("programa");
  const demo::ShopFiles files = demo::GenerateShop(options);
  WriteWindowsFifo(options, files);
  ASSERT_GT(WindowsPath(files.dbPath).size(), 260u);
  const testing::Census before = testing::TakeCensus(files.dbPath, deep + "/datos");
  const Result result = RunUnderWine(options.programFolder);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, deep + "/datos")), "");
  EXPECT_TRUE(fs::exists(options.programFolder + "/registro.txt"));
}

// The operator's commands: the version and the switches; a month restored
// into the live database, every record still in exactly one place; --verify
// names a half-made archive and changes no archive.
TEST(WineRun, AnswersTheOperatorsCommands) {
  TempDir dir;
  const demo::ShopOptions options = Shop(dir.path(), false);
  const demo::ShopFiles files = demo::GenerateShop(options);
  WriteWindowsFifo(options, files);
  const Result version = RunUnderWine(options.programFolder, {"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.standardOutput.rfind("sales-archiver ", 0), 0u) << version.standardOutput;
  const Result help = RunUnderWine(options.programFolder, {"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.standardOutput.find("--restore"), std::string::npos) << help.standardOutput;

  const testing::Census before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  const Result run = RunUnderWine(options.programFolder);
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;
  std::vector<std::string> months;
  for (const auto& entry : fs::directory_iterator(dir.Path("datos/S"))) {
    if (entry.path().extension() == ".mdb") months.push_back(entry.path().stem().string());
  }
  std::sort(months.begin(), months.end());
  ASSERT_GE(months.size(), 2u);
  const std::string month = months.front();
  const Result restore = RunUnderWine(options.programFolder, {"--restore", month});
  EXPECT_EQ(restore.exitStatus, 0) << restore.standardError << restore.standardOutput;
  EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, dir.Path("datos"))), "");
  EXPECT_FALSE(dir.Exists("datos/S/" + month + ".mdb"));
  EXPECT_GT(testing::QueryLong(files.dbPath,
                               "SELECT count(*) FROM tickets WHERE "
                               "strftime('%Y%m', D_FECHA) = '" +
                                   month + "'"),
            0);

  dir.Write("datos/S/" + months.back() + ".mdb.partial", "half an archive");
  const std::string kept = ReadAll(dir.Path("datos/S/" + months.back() + ".mdb"));
  const Result verify = RunUnderWine(options.programFolder, {"--verify"});
  EXPECT_EQ(verify.exitStatus, 2) << verify.standardOutput;
  EXPECT_NE(verify.standardOutput.find(months.back() + ".mdb.partial: NOT SOUND: a temporary"),
            std::string::npos)
      << verify.standardOutput;
  EXPECT_EQ(ReadAll(dir.Path("datos/S/" + months.back() + ".mdb")), kept);
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

TEST_F(WineBadInput, AUncPathToNoServerIsRefused) {
  ExpectRefused("\\\\sin-servidor\\tienda\\datos\\live.db", "\\\\sin-servidor\\tienda\\datos");
}

// The first month archive in `folder`, as yyyymm.
std::string FirstArchivedMonth(const std::string& folder) {
  std::set<std::string> months;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".mdb") months.insert(entry.path().stem().string());
  }
  return months.empty() ? "" : *months.begin();
}

// A window program (PE subsystem 2): no console window opens beside the
// progress window. Standard error, redirected, still reaches its reader.
TEST(WineRun, AWindowProgramWhoseStandardErrorStillReachesItsRedirection) {
  const std::string exe = ReadAll(SA_WINDOWS_EXE);
  ASSERT_GT(exe.size(), 0x40u);
  uint32_t pe = 0;
  std::memcpy(&pe, exe.data() + 0x3C, sizeof pe);
  ASSERT_LT(pe + 4 + 20 + 70, exe.size());
  ASSERT_EQ(exe.compare(pe, 4, std::string("PE\0\0", 4)), 0);
  uint16_t subsystem = 0;  // in the optional header, after the signature and the file header
  std::memcpy(&subsystem, exe.data() + pe + 4 + 20 + 68, sizeof subsystem);
  EXPECT_EQ(subsystem, 2);  // IMAGE_SUBSYSTEM_WINDOWS_GUI

  TempDir dir;
  dir.MakeFolder("programa");
  const Result result = RunUnderWine(dir.Path("programa"));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError, "This program must be executed by Brelna+\n");
}

// Letters of Windows-1252 and beyond in a path: a live database in such a
// folder, reached by the program's own calls and, through the SQLite3
// driver, by the host's name for the file, every record archived exactly
// once; and a parameter file there, named on the command line (read wide).
TEST(WineRun, PathsWithLettersBeyondAsciiWork) {
  const std::string panaderia =
      "Panader\xC3\xAD"
      "a";
  for (const std::string& folder :
       {panaderia, std::string("tienda-\xCE\xA9-\xD0\xBC\xD0\xB8\xD1\x80-\xE6\xBC\xA2")}) {
    SCOPED_TRACE(folder);
    TempDir dir;
    const demo::ShopOptions options = Shop(dir.Path(folder), false);
    const demo::ShopFiles files = demo::GenerateShop(options);
    WriteWindowsFifo(options, files);
    const std::string data = dir.Path(folder + "/datos");
    const testing::Census before = testing::TakeCensus(files.dbPath, data);
    const Result run = RunUnderWine(options.programFolder);
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, data)), "");
    EXPECT_NE(FirstArchivedMonth(data + "/S"), "");
  }
  TempDir dir;
  const demo::ShopOptions options = Shop(dir.path(), false);
  const demo::ShopFiles files = demo::GenerateShop(options);
  demo::WriteFifo(dir.Path(panaderia), WindowsPath(files.dbPath), WindowsPath(files.settingsPath),
                  options.processName);
  const Result dry = RunUnderWine(
      options.programFolder, {"--dry-run", "--fifo", WindowsPath(dir.Path(panaderia + "/fifo"))});
  EXPECT_EQ(dry.exitStatus, 0) << dry.standardError;
}

// A scheduled task starts in a working folder of its own (System32 on
// Windows): `datos\live.db` in fifo is the program folder's all the same.
TEST(WineRun, RelativePathsInFifoAreReadFromTheProgramFolder) {
  TempDir dir;
  demo::ShopOptions options = Shop(dir.path(), false);
  options.programFolder = dir.path();
  demo::GenerateShop(options);
  demo::WriteFifo(dir.path(), "datos\\live.db", "datos\\settings.ini", options.processName);
  dir.MakeFolder("otra");
  const fs::path working = fs::current_path();
  fs::current_path(dir.Path("otra"));
  const Result result = RunUnderWine(dir.path());
  fs::current_path(working);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_NE(FirstArchivedMonth(dir.Path("datos/S")), "");
  EXPECT_TRUE(fs::is_empty(dir.Path("otra")));
}

// Two restores of one month at once, from two program folders naming one
// live database: the second waits for the first (the data folder is held),
// then finds no archive and leaves its log alone. The month is live once,
// and the restore's log is in Windows-1252 with CRLF lines.
TEST(WineRun, TwoRestoresOfOneMonthAtOnceRestoreItOnce) {
  TempDir dir;
  const demo::ShopOptions options = Shop(dir.path(), false);
  const demo::ShopFiles files = demo::GenerateShop(options);
  WriteWindowsFifo(options, files);
  ASSERT_EQ(RunUnderWine(options.programFolder).exitStatus, 0);
  const std::string runLog = dir.Read("programa/registro.txt");
  const std::string month = FirstArchivedMonth(dir.Path("datos/S"));
  const long archived =
      testing::QueryLong(dir.Path("datos/S/" + month + ".mdb"), "SELECT count(*) FROM tickets");
  const long live = testing::QueryLong(files.dbPath, "SELECT count(*) FROM tickets");
  const testing::Census before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  const std::string second = dir.Path("otro/programa");
  demo::WriteFifo(second, WindowsPath(files.dbPath), WindowsPath(files.settingsPath),
                  options.processName);
  Result results[2];
  std::thread other([&] { results[1] = RunUnderWine(second, {"--restore", month}); });
  results[0] = RunUnderWine(options.programFolder, {"--restore", month});
  other.join();
  EXPECT_EQ((std::multiset<int>{results[0].exitStatus, results[1].exitStatus}),
            (std::multiset<int>{0, 1}))
      << results[0].standardError << results[1].standardError;
  EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, dir.Path("datos"))), "");
  EXPECT_EQ(testing::QueryLong(files.dbPath, "SELECT count(*) FROM tickets"), live + archived);
  const bool firstRestored = results[0].exitStatus == 0;
  const std::string log =
      dir.Read(firstRestored ? "programa/registro.txt" : "otro/programa/registro.txt");
  const std::string archive = WindowsPath(dir.Path("datos/S/" + month + ".mdb"));
  EXPECT_EQ(log.rfind("restauraci\xF3n de " + archive + "\r\n", 0), 0u) << log;
  EXPECT_EQ(log.find('\xC3'), std::string::npos) << log;
  for (size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1)) {
    EXPECT_EQ(log[at - 1], '\r') << log;
  }
  if (!firstRestored) {
    EXPECT_EQ(dir.Read("programa/registro.txt"), runLog);
  }
}

// While another process holds the program folder (a command keeping the
// folder's lock file open), a launch waits, then refuses naming the folder,
// having changed nothing.
TEST(WineRun, WhileAnotherHoldsTheProgramFolderALaunchWaitsThenRefuses) {
  TempDir dir;
  const demo::ShopOptions options = Shop(dir.path(), false);
  const demo::ShopFiles files = demo::GenerateShop(options);
  WriteWindowsFifo(options, files);
  dir.Write("programa/registro.txt", "old log");
  const testing::Census before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  // cmd waits for a line it never gets, its output redirected into the lock file.
  const std::string command =
      "set /p x= > " + WindowsPath(options.programFolder) + "\\sales-archiver.lock";
  int input[2];
  // Close-on-exec: no Wine process started later (a program, the desktop
  // process it starts) may keep the pipe open, or cmd would never see its end.
  ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    ::dup2(input[0], 0);
    ::close(input[1]);
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ExecUnderWine({"cmd", "/c", command});
  }
  ::close(input[0]);
  for (int i = 0; i < 300 && !dir.Exists("programa/sales-archiver.lock"); ++i) usleep(100000);
  const Result result = RunUnderWine(options.programFolder, {"--restore", "202001"});
  ::close(input[1]);
  testing::WaitProgram(holder);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError, "Another run of sales-archiver is using this folder.\n" +
                                      WindowsPath(options.programFolder) +
                                      ": another run still held it after 10 s\n");
  EXPECT_EQ(dir.Read("programa/registro.txt"), "old log");
  EXPECT_FALSE(dir.Exists("datos/S"));
  EXPECT_EQ(testing::CensusDiff(before, testing::TakeCensus(files.dbPath, dir.Path("datos"))), "");
}

}  // namespace
}  // namespace sa
