#include "run/run_archive.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "support/fake_platform.h"
#include "support/faulty_engine.h"
#include "support/live_tables.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa::run {
namespace {

using ::sa::testing::Exec;
using ::sa::testing::Query;
using ::sa::testing::QueryLong;
using ::sa::testing::Rows;

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.MakeFolder("data/S");
    live_ = dir_.Path("data/live.db");
    testing::CreateLiveTables(live_);
    params_.dbPath = live_;
    params_.dataFolder = dir_.Path("data");
  }

  int Run(bool upToToday = true) {
    const RunContext ctx{*engine_,   platform::RealFileSystem(),
                         messages_,  platform::RealStandardError(),
                         clock_,     form_,
                         params_,    settings_,
                         dir_.path()};
    return RunArchive(ctx, upToToday);
  }
  std::string Archive(const std::string& key) const { return dir_.Path("data/S/" + key + ".mdb"); }
  bool HasArchive(const std::string& key) const { return dir_.Exists("data/S/" + key + ".mdb"); }
  long Live(const std::string& table) const {
    return QueryLong(live_, "SELECT count(*) FROM " + table);
  }
  long Archived(const std::string& key, const std::string& table) const {
    return QueryLong(Archive(key), "SELECT count(*) FROM " + table);
  }
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    const std::string log = dir_.Read("registro.txt");
    size_t start = 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(log.substr(start, end - start));
    }
    EXPECT_EQ(start, log.size()) << "every line ends in CRLF";
    return lines;
  }
  void AddHours(const std::vector<std::string>& dates) {
    for (const std::string& d : dates) {
      Exec(live_, "INSERT INTO gthora(FECHA, HORA, SECCION) VALUES ('" + d + "', '10', 1)");
    }
  }

  testing::TempDir dir_;
  testing::FakeMessageSink messages_;
  testing::FakeClock clock_{{2024, 3, 15}};
  testing::FakeProgressDisplay display_;
  progress::ProgressWindow form_{display_};
  std::unique_ptr<dbengine::Engine> engine_ = dbengine::MakeSqliteEngine(2000);
  LaunchParams params_;
  Settings settings_;
  std::string live_;
};

TEST_F(RunTest, QueriesAndTableOrderAreTheLogsOwn) {
  settings_.livestockEnabled = true;
  EXPECT_EQ(Run(false), 0);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{
                "SELECT * FROM cabecera WHERE D_FECHA >= #2000-01-01# AND D_FECHA <= #2024-03-15# "
                "ORDER BY D_FECHA",
                "SELECT * FROM gtarti WHERE FECHA >= #2000-01-01# AND FECHA <= #2024-03-15# ORDER "
                "BY FECHA",
                "SELECT * FROM gthora WHERE FECHA >= #2000-01-01# AND FECHA <= #2024-03-15# ORDER "
                "BY FECHA",
                "SELECT * FROM gtInfVen WHERE FECHA >= #2000-01-01# AND FECHA <= #2024-03-15# "
                "ORDER BY FECHA",
                "SELECT * FROM gtsecs WHERE FECHA >= #2000-01-01# AND FECHA <= #2024-03-15# ORDER "
                "BY FECHA",
                "SELECT * FROM gtvend WHERE FECHA >= #2000-01-01# AND FECHA <= #2024-03-15# ORDER "
                "BY FECHA",
                "SELECT * FROM tickets WHERE D_FECHA >= #2000-01-01# AND D_FECHA <= #2024-03-15# "
                "ORDER BY D_FECHA",
                "SELECT * FROM cliente",
                "SELECT * FROM GTVacuno WHERE FECHA>= #2000-01-01# AND FECHA<= #2024-03-15# ORDER "
                "BY FECHA",
            }));
  // The bar moves to each table's position and ends full.
  std::vector<float> values;
  for (const auto& d : display_.draws) values.push_back(d.value);
  EXPECT_EQ(values, (std::vector<float>{0, 3, 4, 5, 6, 7, 8, 10, 11, 11}));
  EXPECT_EQ(display_.draws.back().max, 11);
  EXPECT_EQ(display_.shows, 1);
}

TEST_F(RunTest, MonthsSplitAcrossAYearEndAndAcrossTheSameMonthOfTwoYears) {
  AddHours({"2023-01-20 10:00:00", "2023-12-31 23:59:59", "2024-01-01 00:00:00",
            "2024-01-31 12:00:00", "2022-01-10 09:00:00"});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Archived("202201", "gthora"), 1);
  EXPECT_EQ(Archived("202301", "gthora"), 1);
  EXPECT_EQ(Archived("202312", "gthora"), 1);
  EXPECT_EQ(Archived("202401", "gthora"), 2);
  EXPECT_EQ(Live("gthora"), 0);
  EXPECT_EQ(LogLines()[3], "número de registros:000005");
}

TEST_F(RunTest, WindowRunsFromTheYear2000ToMidnightOfItsLastDay) {
  AddHours({"1999-12-31 23:59:59", "2000-01-01 00:00:00", "2024-02-14 00:00:00",
            "2024-02-14 00:00:01", "2024-03-15 00:00:00"});
  settings_.retentionDays = 30;  // 2024-03-15 less 30 days: 2024-02-14
  EXPECT_EQ(Run(false), 0);
  EXPECT_EQ(Archived("200001", "gthora"), 1);
  EXPECT_EQ(Archived("202402", "gthora"), 1);
  EXPECT_EQ(Query(live_, "SELECT FECHA FROM gthora ORDER BY FECHA"),
            (Rows{{"1999-12-31 23:59:59"}, {"2024-02-14 00:00:01"}, {"2024-03-15 00:00:00"}}));
  // A run up to today takes the rest of the window, today's midnight included.
  EXPECT_EQ(Run(true), 0);
  EXPECT_EQ(Archived("202402", "gthora"), 2);
  EXPECT_EQ(Archived("202403", "gthora"), 1);
  EXPECT_EQ(Live("gthora"), 1);
}

TEST_F(RunTest, EveryValueIsCopiedExactly) {
  Exec(live_,
       "INSERT INTO cabecera(NUME, CODCLI, FECHA, d_fecha, d_hora, BALANZA, TIPOPAGO, ticketabono, "
       "ticketorigen, Cobrado, abonado, abono, IMPORTE, factura, sincronizado) VALUES "
       "('Ñandú €', '', NULL, '2024-02-29 23:59:59', '2024-02-29 23:59:59', -32768, 32767, "
       "-2147483648, 2147483647, 1, 0, NULL, 12.345678901234567, 'FAC-0000000001', 1)");
  EXPECT_EQ(Run(), 0);
  const std::string arc = Archive("202402");
  EXPECT_EQ(Query(arc,
                  "SELECT NUME, quote(CODCLI), quote(FECHA), d_fecha, d_hora, BALANZA, TIPOPAGO, "
                  "ticketabono, ticketorigen, Cobrado, abonado, quote(abono), IMPORTE, factura "
                  "FROM cabecera"),
            (Rows{{"Ñandú €", "''", "NULL", "2024-02-29 23:59:59", "2024-02-29 23:59:59", "-32768",
                   "32767", "-2147483648", "2147483647", "1", "0", "NULL", "12.3456789012346",
                   "FAC-0000000001"}}));
  EXPECT_EQ(QueryLong(arc, "SELECT IMPORTE = 12.345678901234567 FROM cabecera"), 1);
}

TEST_F(RunTest, CustomerListGoesWholeToTheNewestMonthAndIsReplacedNextTime) {
  Exec(live_, "INSERT INTO cliente(cod_cli, nom_cli) VALUES (1, 'Ana'), (2, 'Luis')");
  AddHours({"2024-01-05 10:00:00"});
  Exec(live_, "INSERT INTO tickets(NUME, D_FECHA) VALUES ('1', '2024-02-03 10:00:00')");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Archived("202402", "Cliente"), 2);
  EXPECT_EQ(Archived("202401", "Cliente"), 0);
  EXPECT_EQ(Live("cliente"), 2);
  Exec(live_, "INSERT INTO cliente(cod_cli, nom_cli) VALUES (3, 'Eva')");
  Exec(live_, "INSERT INTO tickets(NUME, D_FECHA) VALUES ('2', '2024-02-04 10:00:00')");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Archived("202402", "Cliente"), 3);
  EXPECT_EQ(Archived("202402", "tickets"), 2);
}

TEST_F(RunTest, CustomerListIsNotCopiedWhenNoMonthWasReached) {
  Exec(live_, "INSERT INTO cliente(cod_cli, nom_cli) VALUES (1, 'Ana')");
  EXPECT_EQ(Run(), 0);
  const auto lines = LogLines();
  EXPECT_EQ(lines[7], "SELECT * FROM cliente");
  EXPECT_EQ(lines[8], "número de registros:000001");
  EXPECT_EQ(lines[9], "lista de clientes no copiada: ningún mes archivado");
  EXPECT_FALSE(dir_.Exists("data/S/.mdb"));
}

TEST_F(RunTest, ATableLackingAnArchiveFieldStaysLiveAndTheRunGoesOn) {
  Exec(live_, "ALTER TABLE gtarti DROP COLUMN tara");
  Exec(live_,
       "INSERT INTO gtarti(FECHA, plu) VALUES ('2024-01-02 00:00:00', 1), "
       "('2024-02-02 00:00:00', 2), ('2024-02-03 00:00:00', 3)");
  AddHours({"2024-01-05 10:00:00"});
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Live("gtarti"), 3);
  EXPECT_EQ(Archived("202401", "gtarti"), 0);
  EXPECT_EQ(Live("gthora"), 0);
  const auto lines = LogLines();
  const std::string why =
      "motivo: Item not found in this collection. (field tara of table gtarti, "
      "missing in " +
      live_ + ")";
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 7),
            (std::vector<std::string>{"SELECT * FROM gtarti WHERE FECHA >= #2000-01-01# AND FECHA "
                                      "<= #2024-03-15# ORDER BY FECHA",
                                      "número de registros:000003",
                                      "registros no archivados (202401):000001", why,
                                      "registros no archivados (202402):000002", why}));
}

TEST_F(RunTest, AValueTheArchiveRefusesKeepsItsWholeMonthLive) {
  Exec(live_,
       "INSERT INTO gtsecs(FECHA, Modo, txt_fam) VALUES ('2024-01-02 00:00:00', 1, 'ok'), "
       "('2024-01-03 00:00:00', 2, '" +
           std::string(31, 'x') + "'), ('2024-02-03 00:00:00', 3, 'ok')");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Query(live_, "SELECT Modo FROM gtsecs ORDER BY Modo"), (Rows{{"1"}, {"2"}}));
  EXPECT_EQ(Archived("202401", "gtsecs"), 0);
  EXPECT_EQ(Archived("202402", "gtsecs"), 1);
}

// A number kept in a column declared as text is checked as the number it
// reads as: the month stays live rather than reaching a field that cannot
// hold it.
TEST_F(RunTest, ALiveColumnDeclaredAsTextDoesNotBypassTheArchivesRefusals) {
  Exec(live_,
       "DROP TABLE gthora; CREATE TABLE gthora(FECHA DATETIME, HORA VARCHAR(255), SECCION "
       "VARCHAR(20), EQUIPO VARCHAR(20), VENDEDOR INTEGER, TIQUET INTEGER, OPERACIONES INTEGER, "
       "OPERACIONES_CAN INTEGER, OPERACIONES_NEG INTEGER, IMPORTE VARCHAR(20), IMPORTE_CAN DOUBLE, "
       "IMPORTE_NEG DOUBLE, PESO DOUBLE, PESO_CAN DOUBLE, PESO_NEG DOUBLE, UNIDADES INTEGER, "
       "UNIDADES_CAN INTEGER, UNIDADES_NEG INTEGER);"
       "INSERT INTO gthora(FECHA, SECCION, IMPORTE) VALUES ('2024-01-05 10:00:00', '1', '2.5'),"
       "('2024-01-06 10:00:00', '10000000000', '1'), ('2024-02-05 10:00:00', '7', '1,5'),"
       "('2024-03-05 10:00:00', '8', '3')");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Query(live_, "SELECT SECCION FROM gthora ORDER BY FECHA"),
            (Rows{{"1"}, {"10000000000"}, {"7"}}));
  EXPECT_FALSE(HasArchive("202401") && Archived("202401", "gthora") != 0);
  EXPECT_EQ(Query(Archive("202403"),
                  "SELECT typeof(SECCION), SECCION, typeof(IMPORTE), IMPORTE "
                  "FROM gthora"),
            (Rows{{"integer", "8", "real", "3.0"}}));
  const auto lines = LogLines();
  EXPECT_EQ(lines[4], "registros no archivados (202401):000002");
  EXPECT_EQ(lines[5], "motivo: Numeric field overflow. (gthora into " + Archive("202401") +
                          "; field gthora.SECCION, value \"10000000000\")");
  EXPECT_EQ(lines[6], "registros no archivados (202402):000001");
  EXPECT_EQ(lines[7].rfind("motivo: Data type conversion error. (", 0), 0u) << lines[7];
}

// The window ends at midnight of its last day: a fraction of a second later
// is outside it, and an archived date keeps its fraction.
TEST_F(RunTest, FractionsOfASecondAreKeptAndHonoured) {
  AddHours({"2024-03-15 00:00:00.500", "2024-03-15 00:00:00", "2024-03-14 10:00:00.250"});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Query(live_, "SELECT FECHA FROM gthora"), (Rows{{"2024-03-15 00:00:00.500"}}));
  EXPECT_EQ(Query(Archive("202403"), "SELECT FECHA FROM gthora ORDER BY FECHA"),
            (Rows{{"2024-03-14 10:00:00.250"}, {"2024-03-15 00:00:00"}}));
}

TEST_F(RunTest, ACustomerListThatCannotBeCopiedIsLoggedAsSuch) {
  AddHours({"2024-01-05 10:00:00"});
  Exec(live_, "INSERT INTO cliente(cod_cli, nom_cli) VALUES (1, 'Ana'), (2, '" +
                  std::string(300, 'x') + "')");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Live("cliente"), 2);
  EXPECT_EQ(Archived("202401", "Cliente"), 0);
  const auto lines = LogLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 4], "SELECT * FROM cliente");
  EXPECT_EQ(lines[lines.size() - 3], "número de registros:000002");
  EXPECT_EQ(lines[lines.size() - 2], "lista de clientes no copiada (202401)");
  // A long value is shown cut, with its length.
  EXPECT_EQ(lines.back(),
            "motivo: The field is too small to accept the amount of data you attempted to add. "
            "(cliente into " +
                Archive("202401") + "; field Cliente.nom_cli, value \"" + std::string(40, 'x') +
                "...\" (300 characters))");
}

TEST_F(RunTest, AMissingLiveTableStopsTheRunThere) {
  Exec(live_, "DROP TABLE gtInfVen");
  AddHours({"2024-01-05 10:00:00"});
  Exec(live_, "INSERT INTO gtsecs(FECHA, Modo) VALUES ('2024-01-02 00:00:00', 1)");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Live("gthora"), 0);  // before the missing table
  EXPECT_EQ(Live("gtsecs"), 1);  // after it: untouched, and still counted
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 13u);  // cabecera, gtarti, gthora with its count, then the stop
  EXPECT_EQ(lines[5].rfind("ejecución detenida (gtInfVen): Cannot find the input table", 0), 0u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 7, lines.begin() + 10),
            (std::vector<std::string>{"número de registros:000001",
                                      "registros no archivados (202401):000001",
                                      "motivo: ejecución detenida (gtInfVen)"}));
  EXPECT_EQ(display_.draws.back().value, 10);
}

TEST_F(RunTest, AnArchiveFolderThatIsAFileDeletesNothing) {
  dir_.Remove("data/S");
  dir_.Write("data/S", "not a folder");
  Exec(live_, "INSERT INTO cabecera(NUME, D_FECHA) VALUES ('1', '2024-01-02 10:00:00')");
  AddHours({"2024-02-05 10:00:00"});
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Live("cabecera"), 1);
  EXPECT_EQ(Live("gthora"), 1);
  // The run stops at the first month, said plainly; every run left live is
  // logged with its reason, and no temporary archive is left.
  const auto lines = LogLines();
  EXPECT_EQ(lines[2], "registros no archivados (202401):000001");
  const std::string stop =
      "The archive folder S is a file, not a folder: no archive can be made in it. (" +
      dir_.Path("data/S") + ")";
  EXPECT_EQ(lines[3], "motivo: " + stop);
  EXPECT_EQ(lines[4], "ejecución detenida (cabecera, 202401): " + stop);
  EXPECT_EQ(lines[8], "registros no archivados (202402):000001");
  EXPECT_EQ(lines[9], "motivo: ejecución detenida (cabecera, 202401)");
  EXPECT_FALSE(dir_.Exists("data/S.partial"));
  EXPECT_TRUE(dir_.IsFile("data/S"));
  EXPECT_EQ(display_.draws.back().value, 10);
}

// Small months share a commit; one whose archive cannot be opened still
// stops the run at that month, with the months before it moved.
TEST_F(RunTest, ADamagedArchiveStopsTheRunAtItsMonth) {
  dir_.Write("data/S/202402.mdb", "garbage, not a database");
  AddHours({"2024-01-05 10:00:00", "2024-02-05 10:00:00", "2024-03-05 10:00:00"});
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Archived("202401", "gthora"), 1);
  EXPECT_EQ(Query(live_, "SELECT FECHA FROM gthora ORDER BY FECHA"),
            (Rows{{"2024-02-05 10:00:00"}, {"2024-03-05 10:00:00"}}));
  EXPECT_FALSE(HasArchive("202403"));
  EXPECT_EQ(dir_.Read("data/S/202402.mdb"), "garbage, not a database");
  const auto lines = LogLines();
  EXPECT_EQ(lines[3], "número de registros:000003");  // gthora, then its runs left live
  EXPECT_EQ(lines[4], "registros no archivados (202402):000001");
  EXPECT_EQ(lines[5].rfind("motivo: Unrecognized database format. (" + Archive("202402"), 0), 0u)
      << lines[5];
  EXPECT_EQ(lines[6].rfind("ejecución detenida (gthora, 202402): Unrecognized database format.", 0),
            0u)
      << lines[6];
  EXPECT_EQ(lines[7], "registros no archivados (202403):000001");
  EXPECT_EQ(lines[8], "motivo: ejecución detenida (gthora, 202402)");
}

TEST_F(RunTest, ALiveDatabaseThatCannotBeOpenedReachesTheCallerWithTheBarFull) {
  params_.dbPath = dir_.Path("data/missing.db");
  EXPECT_THROW(Run(), sa::Error);
  ASSERT_FALSE(display_.draws.empty());
  EXPECT_EQ(display_.draws.back().value, 10);
}

}  // namespace
}  // namespace sa::run

namespace sa::run {
namespace {

class WalRunTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    testing::Exec(live_, "PRAGMA journal_mode=WAL");
    AddHours({"2024-01-05 10:00:00", "2024-01-06 10:00:00", "2024-02-05 10:00:00"});
    testing::Exec(live_, "INSERT INTO cabecera(NUME, D_FECHA) VALUES ('1', '2024-01-02 10:00:00')");
  }
  int RunWith(dbengine::Engine& engine) {
    const RunContext ctx{engine,     platform::RealFileSystem(),
                         messages_,  platform::RealStandardError(),
                         clock_,     form_,
                         params_,    settings_,
                         dir_.path()};
    return RunArchive(ctx, true);
  }
};

TEST_F(WalRunTest, MovesEveryRunAndLeavesNoJournal) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Archived("202401", "gthora"), 2);
  EXPECT_EQ(Archived("202402", "gthora"), 1);
  EXPECT_EQ(Live("gthora"), 0);
  EXPECT_FALSE(dir_.Exists("data/S/move.journal"));
  EXPECT_EQ(testing::Query(live_, "PRAGMA journal_mode"), (testing::Rows{{"wal"}}));
}

TEST_F(WalRunTest, ACrashBetweenTheTwoCommitsIsCompletedAtTheNextLaunch) {
  testing::FaultyEngine faulty(dbengine::MakeSqliteEngine(2000));
  faulty.only = "DeleteLiveCopied";
  faulty.FailAt(1);  // the archive holds January; its live copies are still there
  EXPECT_EQ(RunWith(faulty), 1);
  EXPECT_TRUE(dir_.Exists("data/S/move.journal"));
  EXPECT_EQ(Archived("202401", "gthora"), 2);
  EXPECT_EQ(Archived("202401", "cabecera"), 1);
  EXPECT_EQ(Live("gthora"), 3);
  EXPECT_EQ(Live("cabecera"), 1);
  // Another program changes one copied record before the next launch: that
  // one stays live rather than being lost.
  testing::Exec(live_, "UPDATE gthora SET HORA = '11' WHERE FECHA = '2024-01-06 10:00:00'");
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(dir_.Exists("data/S/move.journal"));
  EXPECT_EQ(Archived("202401", "gthora"), 3);
  EXPECT_EQ(testing::Query(Archive("202401"), "SELECT HORA FROM gthora ORDER BY rowid"),
            (testing::Rows{{"10"}, {"10"}, {"11"}}));
  EXPECT_EQ(Archived("202402", "gthora"), 1);
  EXPECT_EQ(Live("gthora"), 0);
  EXPECT_EQ(Archived("202401", "cabecera"), 1);
  EXPECT_EQ(Live("cabecera"), 0);
}

// A journal naming an archive that cannot be read (damaged after the
// crash) deletes nothing, moves nothing else, and says so in the log and on
// standard error at every launch until the archive is repaired or removed.
TEST_F(WalRunTest, AJournalNamingAnUnreadableArchiveExplainsItselfAndDeletesNothing) {
  testing::FaultyEngine faulty(dbengine::MakeSqliteEngine(2000));
  faulty.only = "DeleteLiveCopied";
  faulty.FailAt(1);
  EXPECT_EQ(RunWith(faulty), 1);
  ASSERT_TRUE(dir_.Exists("data/S/move.journal"));
  const std::string archive = dir_.Read("data/S/202401.mdb");
  dir_.Write("data/S/202401.mdb", "damaged beyond repair " + archive.substr(100));
  dir_.Remove("registro.txt");  // start-up removes it at every launch
  for (int launch = 0; launch < 2; ++launch) {
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Live("gthora"), 3);
    EXPECT_EQ(Live("cabecera"), 1);
    EXPECT_TRUE(dir_.Exists("data/S/move.journal"));
    EXPECT_FALSE(HasArchive("202402"));
    // Every table is still counted: January's records wait in the journal.
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[4], "registros no archivados (202401):000001");  // cabecera
    EXPECT_EQ(lines[5], "motivo: movimiento pendiente no completado");
    EXPECT_EQ(lines[0].rfind("movimiento pendiente no completado (" +
                                 dir_.Path("data/S/move.journal") + "): " + Archive("202401"),
                             0),
              0u)
        << lines[0];
    EXPECT_EQ(lines[1],
              "sus registros siguen en la base de datos viva hasta que se repare o se retire " +
                  Archive("202401"));
    dir_.Remove("registro.txt");
  }
  // Once the damaged archive is removed, the records move again.
  dir_.Remove("data/S/202401.mdb");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Live("gthora"), 0);
  EXPECT_EQ(Archived("202401", "gthora"), 2);
  EXPECT_FALSE(dir_.Exists("data/S/move.journal"));
}

TEST_F(WalRunTest, AJournalCutShortIsIgnored) {
  dir_.Write("data/S/move.journal", "sales-archiver pending move 1\nhalf");
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(dir_.Exists("data/S/move.journal"));
  EXPECT_EQ(Live("gthora"), 0);
}

}  // namespace
}  // namespace sa::run
