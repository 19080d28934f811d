// The benchmark's runs: the real executable on a copy of a shop, launched as
// the host launches it, and the same move in plain SQL on another copy;
// each checked for what it moved and left.
#pragma once

#include <filesystem>
#include <string>

#include "bench_files.h"
#include "bench_shops.h"
#include "child_launcher.h"
#include "core/datetime.h"
#include "plain_sql_move.h"

namespace sa::bench {

struct ProgramRun {
  ChildResult child;
  long moved = 0;     // dated records that left the live database
  long archived = 0;  // dated records in the month archives
  long left = 0;      // dated records still inside the window
  std::string output;
  bool Ok() const {
    return child.started && child.exited && child.exitStatus == 0 && left == 0 && archived == moved;
  }
};

// The program (procsiosi) on a copy of the shop in `folder`.
ProgramRun RunProgram(ChildLauncher& launcher, const std::string& executable, const Shop& shop,
                      const std::filesystem::path& folder, const CivilDate& windowEnd);

// The program on a copy of the shop whose live database `fifo` names by
// `live`, a connection string (empty: the copy's live.db through the SQLite3
// driver). The archives go into the program's folder.
ProgramRun RunProgramOn(ChildLauncher& launcher, const std::string& executable, const Shop& shop,
                        const std::filesystem::path& folder, const std::string& live);

struct FloorRun {
  PlainMoveResult result;
  long left = 0;
  long archived = 0;
};

// The same move in plain SQL on a copy of the shop in `folder`.
FloorRun RunFloor(const Shop& shop, const std::filesystem::path& folder,
                  const CivilDate& windowEnd);

// How a child ended, in words.
std::string Describe(const ChildResult& c);

struct SizeResult {
  Shop shop;
  int repeats = 1;
  ProgramRun program;  // the fastest of the repeats, with the highest peak RSS
  FloorRun floor;      // the fastest of the repeats
  long Records() const { return program.moved; }
  double PerRecord() const { return program.child.seconds / static_cast<double>(Records()); }
  double CpuPerRecord() const { return program.child.cpuSeconds / static_cast<double>(Records()); }
  double FloorPerRecord() const {
    return floor.result.seconds / static_cast<double>(floor.result.moved);
  }
};

// Runs the program and then plain SQL on fresh copies of the shop, in turn,
// `r.repeats` times, keeping the fastest of each: the disk is shared and a
// stalled sync can add seconds to any one run. A failed program run is
// reported and sets `exitCode`.
void MeasurePair(ChildLauncher& launcher, const std::string& executable, const WorkFolder& work,
                 SizeResult& r, const std::filesystem::path& folder, const CivilDate& windowEnd,
                 int& exitCode);

}  // namespace sa::bench
