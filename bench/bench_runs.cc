#include "bench_runs.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "bench_options.h"
#include "bench_report.h"
#include "sample_shop.h"

namespace sa::bench {

namespace fs = std::filesystem;

ProgramRun RunProgram(ChildLauncher& launcher, const std::string& executable, const Shop& shop,
                      const fs::path& folder, const CivilDate& windowEnd) {
  const fs::path data = CopyShop(shop.folder, folder);
  const fs::path bin = folder / "programa";
  fs::create_directories(bin);
  const fs::path installed = bin / "sales-archiver";
  fs::copy_file(executable, installed);
  demo::WriteFifo(bin.string(), (data / "live.db").string(), (data / "settings.ini").string(),
                  "procsiosi");
  ::sync();
  ProgramRun run;
  run.child = launcher.Run(installed.string(), (bin / "output.txt").string());
  run.output = ReadText(bin / "output.txt");
  const std::string db = (data / "live.db").string();
  run.moved = DatedRecords(shop.counts) - DatedRecords(demo::CountRecords(db));
  run.left = RecordsLeftInWindow(db, windowEnd);
  run.archived = ArchivedRecords(data);
  return run;
}

FloorRun RunFloor(const Shop& shop, const fs::path& folder, const CivilDate& windowEnd) {
  const fs::path data = CopyShop(shop.folder, folder);
  FloorRun run;
  run.result = MoveWithPlainSql(data.string(), windowEnd);
  run.left = RecordsLeftInWindow((data / "live.db").string(), windowEnd);
  run.archived = ArchivedRecords(data);
  return run;
}

ProgramRun RunProgramOn(ChildLauncher& launcher, const std::string& executable, const Shop& shop,
                        const fs::path& folder, const std::string& live) {
  const fs::path data = CopyShop(shop.folder, folder);
  const fs::path bin = folder / "programa";
  fs::create_directories(bin);
  const fs::path installed = bin / "sales-archiver";
  fs::copy_file(executable, installed);
  demo::WriteFifo(
      bin.string(),
      live.empty() ? "ODBC;Driver={SQLite3};Database=" + (data / "live.db").string() : live,
      (data / "settings.ini").string(), "procsiosi");
  ::sync();
  ProgramRun run;
  run.child = launcher.Run(installed.string(), (bin / "output.txt").string());
  run.output = ReadText(bin / "output.txt");
  run.archived = ArchivedRecords(bin);
  run.moved = run.archived;
  if (live.empty()) {
    const std::string db = (data / "live.db").string();
    run.moved = DatedRecords(shop.counts) - DatedRecords(demo::CountRecords(db));
  }
  return run;
}

std::string Describe(const ChildResult& c) {
  if (!c.started) return std::string("could not start: ") + std::strerror(c.execErrno);
  if (!c.exited) return "killed by signal " + std::to_string(c.signal);
  return "exit status " + std::to_string(c.exitStatus);
}

void MeasurePair(ChildLauncher& launcher, const std::string& executable, const WorkFolder& work,
                 SizeResult& r, const fs::path& folder, const CivilDate& windowEnd, int& exitCode) {
  const long records = DatedRecords(r.shop.counts);
  for (int i = 0; i < r.repeats; ++i) {
    const std::string run = std::to_string(i + 1);
    std::fprintf(stderr, "  %s records over %d months: program run %d of %d...\n",
                 Thousands(records).c_str(), r.shop.plan.months, i + 1, r.repeats);
    ProgramRun program =
        RunProgram(launcher, executable, r.shop, folder / ("program-" + run), windowEnd);
    RemoveUnlessKept(work, folder / ("program-" + run));
    if (!program.Ok()) {
      std::printf(
          "PROGRAM RUN FAILED on %s records over %d months: %s, %s dated records moved, %s "
          "archived, %s left in the window\n%s\n",
          Thousands(records).c_str(), r.shop.plan.months, Describe(program.child).c_str(),
          Thousands(program.moved).c_str(), Thousands(program.archived).c_str(),
          Thousands(program.left).c_str(), program.output.c_str());
      exitCode = kExitProgramFailed;
    }
    std::fprintf(stderr, "  %s records over %d months: plain SQL run %d of %d...\n",
                 Thousands(records).c_str(), r.shop.plan.months, i + 1, r.repeats);
    FloorRun floor = RunFloor(r.shop, folder / ("floor-" + run), windowEnd);
    RemoveUnlessKept(work, folder / ("floor-" + run));
    if (floor.left != 0 || floor.archived != floor.result.moved ||
        floor.result.moved != program.moved) {
      std::printf("note: plain SQL moved %s, archived %s, left %s (program moved %s)\n",
                  Thousands(floor.result.moved).c_str(), Thousands(floor.archived).c_str(),
                  Thousands(floor.left).c_str(), Thousands(program.moved).c_str());
    }
    if (i == 0) {
      r.program = std::move(program);
      r.floor = floor;
      continue;
    }
    const int64_t rss = std::max(r.program.child.maxRssKiB, program.child.maxRssKiB);
    const double cpu = std::min(r.program.child.cpuSeconds, program.child.cpuSeconds);
    if (!program.Ok() || program.child.seconds < r.program.child.seconds) {
      if (r.program.Ok()) r.program = std::move(program);
    }
    r.program.child.maxRssKiB = rss;
    r.program.child.cpuSeconds = cpu;
    const double floorCpu = std::min(r.floor.result.cpuSeconds, floor.result.cpuSeconds);
    if (floor.result.seconds < r.floor.result.seconds) r.floor = floor;
    r.floor.result.cpuSeconds = floorCpu;
  }
}

}  // namespace sa::bench
