// The lines a run writes to "registro.txt" for each table, in the log's own
// words: the query, the count, the records no date window places, each month
// run left live with the reason under it, and where the run stopped.
#pragma once

#include <deque>
#include <string>

#include "core/error.h"
#include "run/table_work.h"

namespace sa::run {

// "000042": at least six digits, zero-padded.
std::string Count(long n);

// An error as the log and the operator commands show it: the description,
// then its cause on the same line, any password masked.
std::string OneLine(const Error& e);

// The log lines of `work`, each ended by CRLF; `halts` are the run's stops,
// first stop first.
std::string TableLogLines(const TableWork& work, const std::deque<Halt>& halts);

}  // namespace sa::run
