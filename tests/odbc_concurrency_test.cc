// Another program writes into live tables on PostgreSQL while the real
// executable archives them: new records, and records rewritten in place
// (which gives them a new tuple identity) in months the run is moving. None
// may be lost or doubled.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "core/error.h"
#include "dbengine/odbc/odbc_engine.h"
#include "dbengine/sqlite/sqlite_engine.h"
#include "platform/file_system.h"
#include "sample_shop.h"
#include "shop_copy.h"
#include "support/census.h"
#include "support/odbc_sources.h"
#include "support/program_run.h"
#include "support/small_shop.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

constexpr int kWrites = 150;

[[noreturn]] void Writer(const std::string& connect, const std::string& report) {
  int done = 0;
  try {
    auto db = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                  ->OpenDatabase("ODBC;" + connect);
    for (int i = 0; i < kWrites; ++i) {
      char sql[3][256];
      const int day = 1 + i % 28;
      std::snprintf(
          sql[0], sizeof sql[0],
          "INSERT INTO cabecera (NUME, D_FECHA) VALUES ('W%05d', #2024-0%d-%02d 12:00:00#)", i,
          1 + i % 5, day);
      std::snprintf(
          sql[1], sizeof sql[1],
          "INSERT INTO tickets (NUME, D_FECHA) VALUES ('W%05d', #2024-0%d-%02d 12:00:00#)", i,
          1 + i % 5, day);
      // The same values written again: a new tuple, the same record.
      std::snprintf(sql[2], sizeof sql[2],
                    "UPDATE gthora SET FECHA = FECHA WHERE FECHA >= #2024-0%d-%02d# AND FECHA < "
                    "#2024-0%d-%02d 01:00:00#",
                    1 + i % 5, day, 1 + i % 5, day);
      try {
        db->BeginTrans();
        for (const char* s : sql) db->Execute(s);
        db->CommitTrans();
        ++done;
      } catch (const Error&) {
        if (db->InTransaction()) db->Rollback();
      }
      usleep(5000);
    }
  } catch (const Error&) {
  }
  std::ofstream(report) << done << '\n';
  _exit(0);
}

TEST(PostgresConcurrency, AWriterDuringTheRunLosesNothing) {
  SA_REQUIRE_POSTGRES(server);
  testing::TempDir dir;
  demo::ShopOptions options = testing::SmallShop(dir.path(), {2024, 5, 31}, 5, 8);
  options.livestock = false;
  const demo::ShopFiles files = demo::GenerateShop(options);
  const auto before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  testing::PgSchema schema(*server);
  {
    auto from = dbengine::MakeSqliteEngine()->OpenDatabase(files.dbPath);
    auto to = dbengine::MakeOdbcEngine(platform::RealFileSystem(), nullptr)
                  ->OpenDatabase("ODBC;" + schema.Connect());
    demo::CopyTables(*from, *to, {"cabecera"});
  }
  demo::WriteFifo(dir.path(), "ODBC;" + schema.Connect(), files.settingsPath, "procsiosi");
  const std::string program = testing::InstallProgram(dir.path());

  const pid_t writer = fork();
  if (writer == 0) Writer(schema.Connect(), dir.Path("writer.txt"));
  usleep(20000);
  const auto run = testing::RunProgram(program);
  ASSERT_EQ(testing::WaitProgram(writer), 0);
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;
  int done = 0;
  std::ifstream(dir.Path("writer.txt")) >> done;
  EXPECT_EQ(done, kWrites);
  // What the run did not take stays live for the next.
  ASSERT_EQ(testing::RunProgram(program).exitStatus, 0);

  auto after = testing::TakeCensusThrough(schema.Connect(), dir.Path("back.db"), dir.path());
  // The writer's records, each exactly once.
  for (const char* table : {"cabecera", "tickets"}) {
    const auto written = testing::TakeOut(after, table, "'W0");
    EXPECT_EQ(written.size(), static_cast<size_t>(kWrites)) << table;
    for (const auto& [record, count] : written) EXPECT_EQ(count, 1) << record;
  }
  EXPECT_EQ(testing::CensusDiff(before, after), "");
}

}  // namespace
}  // namespace sa
