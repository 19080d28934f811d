#include "run/table_reader.h"

#include <memory>
#include <optional>

#include "run/archive_fit.h"

namespace sa::run {

namespace {

// The yyyymm key of the date field of the current record.
std::string MonthKeyOf(dbengine::Recordset& rs, const std::string& dateField) {
  const dbengine::Value v = rs.GetValue(dateField);
  if (const auto* dt = std::get_if<DateTime>(&v)) return dt->MonthKey();
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto parsed = DateTime::ParseIso(*s)) return parsed->MonthKey();
  }
  throw Error(dbengine::EngineError::kDataConversion, "Data type conversion error.",
              "field " + dateField + ": \"" + dbengine::ValueToText(v) + "\" is not a date");
}

std::string KeyAt(dbengine::Recordset& rs, const std::string& dateField, long pos) {
  rs.MoveFirst();
  rs.Move(pos);
  return MonthKeyOf(rs, dateField);
}

// Reads the identities of the run's records; with `fit`, also whether the
// archive would take each of them.
void ReadRun(dbengine::Recordset& rs, long first, long last, MonthRunState& run,
             const ArchiveFit* fit) {
  if (fit && fit->Missing()) {
    run.why = fit->Missing();
    fit = nullptr;
  }
  rs.MoveFirst();
  rs.Move(first);
  for (long pos = first; pos <= last; ++pos) {
    run.keys.Add(rs.Bookmark());
    if (fit && !run.why) run.why = fit->Refusal(rs);
    rs.MoveNext();
  }
}

}  // namespace

void TableReader::Read(TableWork& work) {
  std::unique_ptr<dbengine::Recordset> rs = live_.OpenRecordset(work.query);
  if (!rs->Eof()) {
    rs->MoveLast();
    work.records = rs->RecordCount();
    rs->MoveFirst();
    if (work.customers()) {
      Customers(work, *rs);
    } else {
      Months(work, *rs);
    }
  }
  rs->Close();
  if (!work.customers()) {
    work.undated = live_.CountUndated(work.entry->table, work.entry->dateField);
  }
  work.whole = true;
}

// Whether the run can name the set's records to move them. A table that
// cannot is refused alone, before any month moves: its runs stay live.
bool TableReader::CanName(TableWork& work, dbengine::Recordset& rs) {
  if (!work.reached) return false;
  try {
    rs.MoveFirst();
    rs.Bookmark();
    return true;
  } catch (const Error& e) {
    if (e.Number() != dbengine::EngineError::kNoIdentity) throw;
    work.refused = e;
    return false;
  }
}

// Cuts the set into runs of one month. The set is in date order, so a
// month's records are consecutive and its end is found by a galloping
// search: a few reads per month instead of one per record.
void TableReader::Months(TableWork& work, dbengine::Recordset& rs) {
  const std::string dateField = work.entry->dateField;
  const bool named = CanName(work, rs);
  const std::optional<ArchiveFit> fit =
      named && predict_ ? ArchiveFit::For(work.entry->table, rs, livestockEnabled_, liveName_)
                        : std::nullopt;
  const long count = work.records;
  for (long first = 0; first < count;) {
    const std::string month = KeyAt(rs, dateField, first);
    long inMonth = first;  // the last position known to be in the month
    long beyond = count;   // the first position known to be past it
    for (long step = 1; inMonth + step < beyond; step *= 2) {
      if (KeyAt(rs, dateField, inMonth + step) != month) {
        beyond = inMonth + step;
        break;
      }
      inMonth += step;
    }
    while (beyond - inMonth > 1) {
      const long mid = inMonth + (beyond - inMonth) / 2;
      (KeyAt(rs, dateField, mid) == month ? inMonth : beyond) = mid;
    }
    MonthRunState& run = work.runs.emplace_back();
    run.month = month;
    run.count = inMonth - first + 1;
    run.why = work.refused;
    if (named) ReadRun(rs, first, inMonth, run, fit ? &*fit : nullptr);
    newestMonth_ = month;
    first = inMonth + 1;
  }
}

void TableReader::Customers(TableWork& work, dbengine::Recordset& rs) {
  if (newestMonth_.empty()) return;  // no month reached: not copied
  MonthRunState& run = work.runs.emplace_back();
  run.month = newestMonth_;
  run.count = work.records;
  if (CanName(work, rs)) {
    const std::optional<ArchiveFit> fit =
        predict_ ? ArchiveFit::For(work.entry->table, rs, livestockEnabled_, liveName_)
                 : std::nullopt;
    ReadRun(rs, 0, work.records - 1, run, fit ? &*fit : nullptr);
  }
  run.why = run.why ? run.why : work.refused;
}

}  // namespace sa::run
