// run/ holds the archive run (this header; table_list.h, table_reader.h,
// log_lines.h and bar_pacer.h are its parts) and the operator commands
// (commands.h).
//
// The archive run: fixes the date window, walks the live tables in their
// fixed order, cuts each table's window into runs of one calendar month,
// moves each run into its month archive, copies the customer list into the
// newest month reached, logs each table in "registro.txt" and moves the
// progress bar.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/error.h"
#include "core/params.h"
#include "dbengine/engine.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "platform/standard_error.h"
#include "progress/progress_window.h"
#include "run/table_list.h"

namespace sa::run {

struct RunContext {
  dbengine::Engine& engine;
  platform::FileSystem& fs;
  platform::MessageSink& messages;
  platform::StandardError& standardError;  // where a run says what it left live and why
  platform::Clock& clock;
  progress::ProgressWindow& form;
  const LaunchParams& params;
  const Settings& settings;
  std::string programFolder;  // where "registro.txt" is written
};

// What a run would move if it started now: each table read in run order,
// its records per month in the window. The customer list's one "month" is
// the archive it would be copied into (none when no month is reached).
struct PlannedMonth {
  std::string month;  // yyyymm
  long records = 0;
  // Why the run would leave these records live: a value the archive refuses,
  // a field the live table lacks, a table with no identity to move by.
  std::optional<Error> refused;
  // The table where the run would stop before reaching them; empty when it
  // reaches them.
  std::string stopsAt;
};
struct PlannedTable {
  std::string table;
  std::string query;  // the run's SELECT text
  long records = 0;
  long undated = 0;  // records whose date no window places: they stay live
  bool customers = false;
  std::optional<Error> unread;  // why it cannot be read, after the table the run stops at
  std::vector<PlannedMonth> months;
};
struct RunPlan {
  CivilDate to{};  // the window's last day; it starts on 2000-01-01
  std::vector<PlannedTable> tables;
  std::optional<Error> stop;  // a table that cannot be read: the run stops there
  std::string stopTable;
};

// Reads the live tables as a run reads them and changes nothing: no archive,
// no log, no lock held beyond each table's read. Every record of a run that
// would move is read and converted for its archive field as the move
// converts it, so that a run the archive would refuse is seen as staying
// live. Throws sa::Error when the live database cannot be opened.
RunPlan PlanArchive(const RunContext& ctx, bool upToToday);

// Runs the archive. Returns 0 when every selected record reached its archive
// and 1 when the run stopped or left records live. The log says which and
// why: each run left live is followed by its reason, a stop by where and why
// it came, and the tables the run did not reach are still counted, month by
// month, so that the log accounts for every record left in the window.
// Throws sa::Error when the live database cannot be opened.
int RunArchive(const RunContext& ctx, bool upToToday);

}  // namespace sa::run
