// Another program writes into the live tables while the real executable
// archives them: none of its records may be lost or doubled, and its writes
// wait for locks only briefly. The writer is a second process with its own
// connection, as the host would be.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "sample_shop.h"
#include "support/census.h"
#include "support/program_run.h"
#include "support/small_shop.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

constexpr int kWrites = 400;

// Adds one ticket header and one line per write, dated inside the window
// (some in months the run is archiving), and changes a record now and then.
// Writes the number of writes done and the longest wait in microseconds.
[[noreturn]] void Writer(const std::string& db, const std::string& report) {
  sqlite3* conn = nullptr;
  sqlite3_open(db.c_str(), &conn);
  sqlite3_busy_timeout(conn, 30000);
  long longest = 0;
  int done = 0;
  for (int i = 0; i < kWrites; ++i) {
    char sql[512];
    const int day = 1 + i % 28;
    std::snprintf(sql, sizeof sql,
                  "BEGIN IMMEDIATE;"
                  "INSERT INTO cabecera(NUME, D_FECHA) VALUES ('W%05d', '2024-0%d-%02d 12:00:00');"
                  "INSERT INTO tickets(NUME, D_FECHA) VALUES ('W%05d', '2024-0%d-%02d 12:00:00');"
                  "UPDATE cliente SET data4 = 'w%d' WHERE rowid = 1;"
                  "COMMIT;",
                  i, 1 + i % 5, day, i, 1 + i % 5, day, i);
    const auto start = std::chrono::steady_clock::now();
    if (sqlite3_exec(conn, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
      ++done;
    else
      sqlite3_exec(conn, "ROLLBACK", nullptr, nullptr, nullptr);
    longest = std::max<long>(longest, std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
    usleep(2000);
  }
  sqlite3_close(conn);
  std::ofstream(report) << done << ' ' << longest << '\n';
  _exit(0);
}

class ConcurrencyTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ConcurrencyTest, AWriterDuringTheRunLosesNothing) {
  testing::TempDir dir;
  demo::ShopOptions options = testing::SmallShop(dir.path(), {2024, 5, 31}, 5, 30);
  options.livestock = false;
  options.journalMode = GetParam();
  const demo::ShopFiles files = demo::GenerateShop(options);
  const auto before = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  const std::string program = testing::InstallProgram(dir.path());

  const pid_t writer = fork();
  if (writer == 0) Writer(files.dbPath, dir.Path("writer.txt"));
  usleep(20000);
  const auto run = testing::RunProgram(program);
  ASSERT_EQ(testing::WaitProgram(writer), 0);
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;

  int done = 0;
  long longest = 0;
  std::ifstream(dir.Path("writer.txt")) >> done >> longest;
  EXPECT_EQ(done, kWrites);
  // The writer's records that the run did not take stay live for the next.
  ASSERT_EQ(testing::RunProgram(program).exitStatus, 0);

  auto after = testing::TakeCensus(files.dbPath, dir.Path("datos"));
  // The writer's records, each exactly once.
  for (const char* table : {"cabecera", "tickets"}) {
    const auto written = testing::TakeOut(after, table, "'W0");
    EXPECT_EQ(written.size(), static_cast<size_t>(kWrites)) << table;
    for (const auto& [record, count] : written) EXPECT_EQ(count, 1) << record;
  }
  EXPECT_EQ(testing::CensusDiff(before, after), "");
  std::printf("[ writer ] %s: %d writes during the run, longest wait for a lock %.1f ms\n",
              GetParam(), done, longest / 1000.0);
}

INSTANTIATE_TEST_SUITE_P(JournalModes, ConcurrencyTest, ::testing::Values("delete", "wal"));

}  // namespace
}  // namespace sa
