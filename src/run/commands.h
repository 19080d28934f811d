// The operator commands: what a person looking after the shop's computer can
// ask of the program beside the host's run. Each prints its report to `out`
// and returns the process exit status: 0 done (or all sound), 2 records left
// where they were or an archive not sound, 1 when it could not start (the
// message is shown). They act on the live database and archive folder that
// `fifo` names, through the engine interface only.
#pragma once

#include <ostream>
#include <string>

#include "run/run_archive.h"

namespace sa::run {

// Prints, per table in run order and per month, the records a run of this
// kind would move now and the archive each month would go to (existing or
// to be created), and where the customer list would be copied. Changes
// nothing. 2 when a table cannot be read (the run would stop there).
int DryRun(const RunContext& ctx, bool upToToday, std::ostream& out);

// Checks every month archive in the archive folder (see archive/archive_check.h)
// and that no temporary archive or move journal is left waiting. One line
// per file and a summary; 0 when all are sound, else 2. Changes nothing.
int VerifyArchives(const RunContext& ctx, std::ostream& out);

// Moves the records of the archive of `month` (yyyymm) back into the live
// tables (not the customer list), completing first any move a crash cut
// short, and logs what it did in "registro.txt". 0 when every record is
// live again, 2 when a table's records stay in the archive, 1 when there is
// no archive of that month.
int RestoreMonth(const RunContext& ctx, const std::string& month, std::ostream& out);

}  // namespace sa::run
