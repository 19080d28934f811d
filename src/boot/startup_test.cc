#include "boot/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/error.h"
#include "platform/file_system.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace sa::boot {
namespace {

using sa::testing::FakeFileSystem;
using sa::testing::FakeMessageSink;
using sa::testing::TempDir;

// Records each run it is asked for, and what start-up had filled in by then.
class RecordingRunner : public ArchiveRunner {
 public:
  RecordingRunner(const LaunchParams& launch, const Settings& settings)
      : launch_(launch), settings_(settings) {}

  int RunArchive(bool upToToday) override {
    runs.push_back(upToToday);
    launchAtRun = launch_;
    settingsAtRun = settings_;
    if (failure) throw *failure;
    return result;
  }
  int DryRun(bool upToToday) override { return Command("dry-run " + Kind(upToToday)); }
  int VerifyArchives() override { return Command("verify"); }
  int RestoreMonth(const std::string& month) override { return Command("restore " + month); }

  std::vector<bool> runs;
  std::vector<std::string> commands;
  LaunchParams launchAtRun;
  Settings settingsAtRun;
  int result = 0;
  std::optional<Error> failure;

 private:
  static std::string Kind(bool upToToday) { return upToToday ? "procsiosi" : "proctotalhistorico"; }
  int Command(const std::string& what) {
    commands.push_back(what);
    launchAtRun = launch_;
    if (failure) throw *failure;
    return result;
  }

  const LaunchParams& launch_;
  const Settings& settings_;
};

// A valid settings text: livestock on, 30 days of retention.
std::string SettingsText() {
  std::string text;
  for (int position = 0; position < 93; ++position) {
    std::string first = "x";
    if ((position >= 3 && position <= 6) || (position >= 14 && position <= 31) || position == 75)
      first = "True";
    if (position == 34) first = "1";
    if (position == 45 || position == 47 || position == 91 || position == 92) first = "";
    if (position == 76) first = "30";
    text += first + ",0\r\n";
  }
  return text;
}

std::string Join(const std::vector<std::string>& lines, const std::string& end) {
  std::string text;
  for (const std::string& line : lines) text += line + end;
  return text;
}

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    data.Write("zizezivazer.ini", SettingsText());
    data.Write("live.db", "");
  }

  // The seven lines the host writes for a full run without login.
  std::vector<std::string> FifoLines() const {
    return {data.Path("live.db"),
            data.Path("zizezivazer.ini"),
            "ProcTotalHistorico",
            "unused",
            "N",
            "maria",
            "5"};
  }

  void WriteFifo(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
    program.Write("fifo", Join(lines, end));
  }

  // Writes a fifo with line `index` (0-based) replaced by `text`.
  void WriteFifoWith(size_t index, const std::string& text) {
    std::vector<std::string> lines = FifoLines();
    lines[index] = text;
    WriteFifo(lines);
  }

  int Run(platform::FileSystem& fs = platform::RealFileSystem()) {
    return RunStartup(StartupPlatform{fs, messages, program.path()}, launch, settings, runner);
  }

  int Command(const CommandLine& command) {
    std::ostringstream out;
    const int status =
        RunCommand(StartupPlatform{platform::RealFileSystem(), messages, program.path()}, command,
                   launch, settings, runner, out);
    printed = out.str();
    return status;
  }

  // Expects the one message that ends a failed start-up, its cause holding `detail`.
  void ExpectStartupFailure(const std::string& detail) {
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].message, "Este programa sólo puede ser ejecutado desde Brelna+");
    EXPECT_NE(messages.shown[0].cause.find(detail), std::string::npos) << messages.shown[0].cause;
    EXPECT_TRUE(runner.runs.empty());
  }

  TempDir program;
  TempDir data;
  FakeMessageSink messages;
  LaunchParams launch;
  Settings settings;
  RecordingRunner runner{launch, settings};
  std::string printed;
};

TEST_F(StartupTest, CompleteRunFillsTheParametersAndReturnsZero) {
  program.Write("registro.txt", "old run");
  WriteFifo(FifoLines());
  const std::string fifoBefore = program.Read("fifo");

  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(messages.shown.empty());
  ASSERT_EQ(runner.runs, std::vector<bool>{false});
  EXPECT_EQ(runner.launchAtRun.dbPath, data.Path("live.db"));
  EXPECT_EQ(runner.launchAtRun.settingsPath, data.Path("zizezivazer.ini"));
  EXPECT_EQ(runner.launchAtRun.dataFolder, data.path());
  EXPECT_FALSE(runner.launchAtRun.loginActive);
  EXPECT_EQ(runner.launchAtRun.userName, "admin");
  EXPECT_EQ(runner.launchAtRun.userLevel, 0);
  EXPECT_EQ(runner.settingsAtRun.retentionDays, 30);
  EXPECT_TRUE(runner.settingsAtRun.livestockEnabled);

  EXPECT_TRUE(data.IsFolder("S"));
  EXPECT_FALSE(program.Exists("registro.txt"));
  EXPECT_EQ(program.Read("fifo"), fifoBefore);
}

TEST_F(StartupTest, DispatchesOnTheProcessName) {
  WriteFifoWith(2, "PROCSIOSI");
  runner.result = 3;
  EXPECT_EQ(Run(), 2);
  EXPECT_EQ(runner.runs, std::vector<bool>{true});
  EXPECT_TRUE(messages.shown.empty());

  for (const std::string unknown : {"procsiosi ", "procsi", ""}) {
    runner.runs.clear();
    messages.shown.clear();
    WriteFifoWith(2, unknown);
    EXPECT_EQ(Run(), 1) << unknown;
    ExpectStartupFailure("\"" + unknown + "\"");
  }
}

TEST_F(StartupTest, LoginNeedsExactlyY) {
  WriteFifo(
      {data.Path("live.db"), data.Path("zizezivazer.ini"), "procsiosi", "", "y", "ana", "3.5"});
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(runner.launchAtRun.loginActive);
  EXPECT_EQ(runner.launchAtRun.userName, "ana");
  EXPECT_EQ(runner.launchAtRun.userLevel, 4);

  // Anything else means no login, and line 7 is then not read at all.
  for (const std::string flag : {"Y ", "YES", "", "N", " Y"}) {
    WriteFifo({data.Path("live.db"), data.Path("zizezivazer.ini"), "procsiosi", "", flag, "ana",
               "99999"});
    EXPECT_EQ(Run(), 0) << flag;
    EXPECT_FALSE(runner.launchAtRun.loginActive) << flag;
    EXPECT_EQ(runner.launchAtRun.userName, "admin");
    EXPECT_EQ(runner.launchAtRun.userLevel, 0);
  }
}

TEST_F(StartupTest, UserLevelIsTheLeadingNumberRoundedHalfToEven) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"3.5", 4},   {"2.5", 2},         {"abc", 0},        {"7 users", 7},
      {" 1 2", 12}, {"-32768", -32768}, {"32767.4", 32767}};
  for (const auto& [text, level] : cases) {
    WriteFifo(
        {data.Path("live.db"), data.Path("zizezivazer.ini"), "procsiosi", "", "Y", "ana", text});
    EXPECT_EQ(Run(), 0) << text;
    EXPECT_EQ(runner.launchAtRun.userLevel, level) << text;
  }
  runner.runs.clear();
  WriteFifo(
      {data.Path("live.db"), data.Path("zizezivazer.ini"), "procsiosi", "", "Y", "ana", "32767.5"});
  EXPECT_EQ(Run(), 1);
  ExpectStartupFailure("32767.5");
}

TEST_F(StartupTest, ReadsSevenLinesOfAnyLineEndAndIgnoresMore) {
  std::vector<std::string> lines = FifoLines();
  lines.push_back("an eighth line");
  WriteFifo(lines, "\r");
  EXPECT_EQ(Run(), 0);

  WriteFifo(FifoLines(), "\n");
  EXPECT_EQ(Run(), 0);
  // The last line needs no line end.
  std::string noFinalEnd = Join(FifoLines(), "\r\n");
  noFinalEnd.resize(noFinalEnd.size() - 2);
  program.Write("fifo", noFinalEnd);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(runner.runs.size(), 3u);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(StartupTest, DecodesTheFifo) {
  WriteFifo({"\xEF\xBB\xBF" + data.Path("live.db"), data.Path("zizezivazer.ini"), "procsiosi", "",
             "Y", "Jos\xE9", "1"});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(runner.launchAtRun.dbPath, data.Path("live.db"));
  EXPECT_EQ(runner.launchAtRun.userName, "Jos\xC3\xA9");
}

// Each line is decoded on its own: a path written in UTF-8 stays that path
// whatever another line holds (a user name typed in the ANSI code page, a
// line the program never reads).
TEST_F(StartupTest, APathReadsTheSameWhateverTheOtherLinesHold) {
  data.Write(
      "ca\xC3\xB1"
      "a/live.db",
      "");
  data.Write(
      "ca\xC3\xB1"
      "a/zizezivazer.ini",
      SettingsText());
  const std::vector<std::string> lines = {data.Path("ca\xC3\xB1"
                                                    "a/live.db"),
                                          data.Path("ca\xC3\xB1"
                                                    "a/zizezivazer.ini"),
                                          "procsiosi",
                                          "",
                                          "Y",
                                          "Jos\xE9",
                                          "1",
                                          "\xFF an eighth line"};
  WriteFifo(lines);
  EXPECT_EQ(Run(), 0) << (messages.shown.empty() ? "" : messages.shown[0].cause);
  EXPECT_EQ(runner.launchAtRun.dbPath, data.Path("ca\xC3\xB1"
                                                 "a/live.db"));
  EXPECT_EQ(runner.launchAtRun.userName, "Jos\xC3\xA9");
  EXPECT_TRUE(
      data.IsFolder("ca\xC3\xB1"
                    "a/S"));
}

// Only the seven lines are read, however much follows them; seven lines
// that do not fit in what is read are a start-up failure, not a search.
TEST_F(StartupTest, AHugeFifoIsReadOnlyAsFarAsItsSevenLines) {
  std::string text = Join(FifoLines(), "\r\n");
  program.Write("fifo", text + std::string(40 << 20, 'x'));
  EXPECT_EQ(Run(), 0);
  runner.runs.clear();
  program.Write("fifo", std::string(2 << 20, 'x') + "\r\n" + text);
  EXPECT_EQ(Run(), 1);
  ExpectStartupFailure("longer than");
}

// A settings path naming something that is not an ordinary file is refused
// at once with the settings message: never read whole, never waited on.
TEST_F(StartupTest, SettingsThatAreNotAnOrdinaryFileAreRefusedAtOnce) {
  data.MakeFolder("folder.ini");
#ifdef _WIN32
  const std::vector<std::string> notFiles = {data.Path("folder.ini"), "NUL"};
#else
  ASSERT_EQ(::mkfifo(data.Path("pipe.ini").c_str(), 0600), 0);
  const std::vector<std::string> notFiles = {data.Path("folder.ini"), data.Path("pipe.ini"),
                                             "/dev/zero"};
#endif
  for (const std::string& path : notFiles) {
    messages.shown.clear();
    WriteFifoWith(1, path);
    EXPECT_EQ(Run(), 1) << path;
    ASSERT_EQ(messages.shown.size(), 1u) << path;
    EXPECT_EQ(messages.shown[0].message, "Error accediendo a zizezivazer.ini");
    EXPECT_NE(messages.shown[0].cause.find(path), std::string::npos) << messages.shown[0].cause;
  }
  EXPECT_TRUE(runner.runs.empty());
}

TEST_F(StartupTest, AHugeSettingsFileIsAStartupFailureWithoutBeingReadWhole) {
  {
    std::FILE* f = std::fopen(data.Path("zizezivazer.ini").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(SettingsText().c_str(), f);
    std::fclose(f);
  }
  std::error_code grown;  // sparse 8 GiB where the file system allows
  std::filesystem::resize_file(data.Path("zizezivazer.ini"), uintmax_t{8} << 30, grown);
  ASSERT_FALSE(grown) << grown.message();
  WriteFifo(FifoLines());
  EXPECT_EQ(Run(), 1);
  ExpectStartupFailure("larger than 1048576 bytes");
}

// Whatever kind of failure start-up meets, it ends in the start-up message.
TEST_F(StartupTest, AnUnexpectedFailureOfAnyKindEndsInTheStartupMessage) {
  class Throwing : public ArchiveRunner {
   public:
    explicit Throwing(bool memory) : memory_(memory) {}
    int RunArchive(bool) override {
      if (memory_) throw std::bad_alloc();
      throw std::runtime_error("unexpected");
    }
    int DryRun(bool upToToday) override { return RunArchive(upToToday); }
    int VerifyArchives() override { return RunArchive(false); }
    int RestoreMonth(const std::string&) override { return RunArchive(false); }

   private:
    bool memory_;
  };
  WriteFifo(FifoLines());
  for (const bool memory : {true, false}) {
    messages.shown.clear();
    Throwing throwing(memory);
    EXPECT_EQ(RunStartup(StartupPlatform{platform::RealFileSystem(), messages, program.path()},
                         launch, settings, throwing),
              1);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].message, "Este programa sólo puede ser ejecutado desde Brelna+");
    EXPECT_NE(messages.shown[0].cause.find(memory ? "Out of memory" : "unexpected"),
              std::string::npos);
  }
}

TEST_F(StartupTest, ShortFifoFailsAfterTheOldLogIsGone) {
  program.Write("registro.txt", "old run");
  std::vector<std::string> lines = FifoLines();
  lines.pop_back();
  WriteFifo(lines);
  EXPECT_EQ(Run(), 1);
  ExpectStartupFailure("fifo has 6 lines, 7 expected");
  EXPECT_NE(messages.shown[0].cause.find(program.Path("fifo")), std::string::npos);
  EXPECT_FALSE(program.Exists("registro.txt"));
  EXPECT_FALSE(data.Exists("S"));
}

TEST_F(StartupTest, WithoutFifoRefusesAtOnce) {
  program.Write("registro.txt", "old run");
  program.MakeFolder("fifo");  // only an ordinary file counts
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].message, "This program must be executed by Brelna+");
  EXPECT_TRUE(runner.runs.empty());
  EXPECT_FALSE(program.Exists("registro.txt"));
  EXPECT_FALSE(data.Exists("S"));
}

TEST_F(StartupTest, FailsWhenTheOldLogCannotBeDeleted) {
  FakeFileSystem fs;
  const std::string oldLog = program.Path("registro.txt");
  fs.files[oldLog] = "old run";
  fs.failing.insert(oldLog);
  EXPECT_EQ(Run(fs), 1);
  ExpectStartupFailure(oldLog);
}

TEST_F(StartupTest, DataFolderIsTheDatabasePathWithoutItsLastComponent) {
  WriteFifoWith(0, "live.db");
  EXPECT_EQ(Run(), 1);
  ExpectStartupFailure("\"live.db\"");

  // A database in the root folder puts the archive folder in the root (on
  // Windows, of the program's drive: "C:" and "C:\\S").
  FakeFileSystem fs;
  fs.files[program.Path("fifo")] = Join({"/live.db", "/z.ini", "procsiosi", "", "", "", ""}, "\n");
  fs.files[platform::PathFrom(program.path(), "/z.ini")] = SettingsText();
  messages.shown.clear();
  EXPECT_EQ(Run(fs), 0);
  const std::string root = platform::PathFrom(program.path(), "/live.db");
  EXPECT_EQ(runner.launchAtRun.dataFolder, root.substr(0, root.size() - 8));
  EXPECT_EQ(fs.foldersMade,
            std::vector<std::string>{platform::JoinPath(runner.launchAtRun.dataFolder, "S")});
}

#ifdef _WIN32
// Windows paths: drive letters, UNC names and either separator. Elsewhere a
// backslash is an ordinary letter of a name, so there is nothing to check.
TEST_F(StartupTest, WindowsPathsGiveTheirDataFolderAndArchiveFolder) {
  const struct {
    std::string dbPath, dataFolder, archiveFolder;
  } cases[] = {
      {"C:\\live.mdb", "C:", "C:\\S"},
      {"D:/tienda/datos/live.mdb", "D:/tienda/datos", "D:/tienda/datos\\S"},
      {"\\\\server\\share\\datos/live.mdb", "\\\\server\\share\\datos",
       "\\\\server\\share\\datos\\S"},
  };
  for (const auto& c : cases) {
    FakeFileSystem fs;
    fs.files[program.Path("fifo")] =
        Join({c.dbPath, "C:\\z.ini", "procsiosi", "", "", "", ""}, "\r\n");
    fs.files["C:\\z.ini"] = SettingsText();
    EXPECT_EQ(Run(fs), 0) << c.dbPath;
    EXPECT_EQ(runner.launchAtRun.dataFolder, c.dataFolder);
    EXPECT_EQ(fs.foldersMade, std::vector<std::string>{c.archiveFolder});
  }
}
#endif

TEST_F(StartupTest, LeavesAnythingNamedSAlone) {
  data.Write("S", "a file");
  WriteFifo(FifoLines());
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(data.IsFile("S"));
  EXPECT_EQ(runner.runs.size(), 1u);

  data.Write("sub/live.db", "");
  data.MakeFolder("sub/S");
  data.Write("sub/S/kept", "x");
  WriteFifoWith(0, data.Path("sub/live.db"));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(data.Read("sub/S/kept"), "x");
}

TEST_F(StartupTest, UnreadableSettingsEndTheProgramWithTheirOwnMessage) {
  WriteFifoWith(1, data.Path("missing.ini"));
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].message, "Error accediendo a zizezivazer.ini");
  EXPECT_TRUE(runner.runs.empty());
}

TEST_F(StartupTest, InvalidSettingsAreAStartupFailure) {
  data.Write("zizezivazer.ini", "a,b\r\nc");
  WriteFifo(FifoLines());
  EXPECT_EQ(Run(), 1);
  ExpectStartupFailure(data.Path("zizezivazer.ini"));
}

TEST_F(StartupTest, RunnerErrorIsAStartupFailure) {
  WriteFifo(FifoLines());
  runner.failure = Error(3024, "Could not find file", data.Path("live.db"));
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].message, "Este programa sólo puede ser ejecutado desde Brelna+");
  EXPECT_EQ(messages.shown[0].cause, "Could not find file\n" + data.Path("live.db"));
}

}  // namespace
}  // namespace sa::boot

namespace sa::boot {
namespace {

// The operator commands read `fifo` and the settings as a run does, but the
// checks change nothing and a restore needs no process name.
TEST_F(StartupTest, CommandsReadTheParametersAndTouchOnlyWhatTheyMust) {
  WriteFifo(FifoLines());
  program.Write("registro.txt", "old run");

  CommandLine dry;
  dry.command = Command::kDryRun;
  EXPECT_EQ(Command(dry), 0);
  CommandLine verify;
  verify.command = Command::kVerify;
  runner.result = 2;
  EXPECT_EQ(Command(verify), 2);
  EXPECT_EQ(runner.commands, (std::vector<std::string>{"dry-run proctotalhistorico", "verify"}));
  EXPECT_EQ(runner.launchAtRun.dataFolder, data.path());
  EXPECT_EQ(program.Read("registro.txt"), "old run");
  EXPECT_FALSE(data.Exists("S"));
  EXPECT_TRUE(runner.runs.empty());

  // A restore takes any process name, and leaves the log to the restore
  // itself (a restore that cannot start leaves it alone); a dry run needs a
  // process it knows, to know the window, and says so in its own words.
  WriteFifoWith(2, "something else");
  CommandLine restore;
  restore.command = Command::kRestore;
  restore.month = "202403";
  runner.result = 0;
  EXPECT_EQ(Command(restore), 0);
  EXPECT_EQ(runner.commands.back(), "restore 202403");
  EXPECT_EQ(program.Read("registro.txt"), "old run");
  EXPECT_FALSE(data.Exists("S"));
  EXPECT_EQ(Command(dry), 1);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].message, "Unknown process");
  EXPECT_NE(messages.shown[0].cause.find("something else"), std::string::npos);
  EXPECT_EQ(runner.commands.size(), 3u);
}

TEST_F(StartupTest, AnotherParameterFileCanBeNamed) {
  data.Write("other-fifo", Join(FifoLines(), "\r\n"));
  CommandLine run;
  run.fifoPath = data.Path("other-fifo");
  EXPECT_EQ(Command(run), 0);
  EXPECT_EQ(runner.runs, std::vector<bool>{false});

  // A person is told the cause alone, never the host launch's messages: a
  // parameter file that is not there, a settings file that cannot be read.
  run.fifoPath = data.Path("missing");
  EXPECT_EQ(Command(run), 1);
  data.Write("other-fifo",
             Join({FifoLines()[0], data.Path("none.ini"), "procsiosi", "", "", "", ""}, "\r\n"));
  run.fifoPath = data.Path("other-fifo");
  EXPECT_EQ(Command(run), 1);
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].message, data.Path("missing") + ": no such file");
  EXPECT_EQ(messages.shown[0].cause, "");
  EXPECT_EQ(messages.shown[1].message.rfind(data.Path("none.ini") + ": ", 0), 0u)
      << messages.shown[1].message;
  EXPECT_EQ(runner.runs.size(), 1u);
}

// The data folder (the live database's, holding S) is held before anything
// in it is touched; while another run holds it, the launch is refused,
// naming it, with S not made and nothing run.
TEST_F(StartupTest, TheDataFolderIsHeldBeforeAnythingInItIsTouched) {
  // Rooted paths; on Windows on the program's drive.
  const auto rooted = [&](const std::string& path) {
    return platform::PathFrom(program.path(), path);
  };
  const std::string data = rooted("/tienda/datos");
  FakeFileSystem fs;
  fs.files[program.Path("fifo")] =
      Join({"/tienda/datos/live.db", "/z.ini", "procsiosi", "", "", "", ""}, "\n");
  fs.files[rooted("/z.ini")] = SettingsText();
  fs.folders.insert(data);
  fs.heldElsewhere.insert(data);
  EXPECT_EQ(Run(fs), 1);
  ExpectStartupFailure(data + ": another run still held it after 10 s");
  EXPECT_TRUE(fs.foldersMade.empty());

  fs.heldElsewhere.clear();
  messages.shown.clear();
  EXPECT_EQ(Run(fs), 0);
  EXPECT_EQ(fs.locked, std::vector<std::string>{data});
  EXPECT_TRUE(fs.held.empty());
  EXPECT_EQ(fs.foldersMade, std::vector<std::string>{platform::JoinPath(data, "S")});
}

TEST_F(StartupTest, HelpAndVersionPrintAndTouchNothing) {
  program.Write("registro.txt", "old run");
  CommandLine help;
  help.command = Command::kHelp;
  EXPECT_EQ(Command(help), 0);
  EXPECT_NE(printed.find("--restore yyyymm"), std::string::npos);
  CommandLine version;
  version.command = Command::kVersion;
  EXPECT_EQ(Command(version), 0);
  EXPECT_EQ(printed.rfind("sales-archiver ", 0), 0u);
  EXPECT_EQ(program.Read("registro.txt"), "old run");
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace sa::boot
