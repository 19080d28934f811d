#include "run/commands.h"

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_check.h"
#include "archive/archive_place.h"
#include "archive/move_journal.h"
#include "archive/restore.h"
#include "dbengine/engine_choice.h"
#include "platform/log_text.h"
#include "run/log_lines.h"

namespace sa::run {

namespace {

std::string ArchiveFolder(const RunContext& ctx) {
  return platform::JoinPath(ctx.params.dataFolder, "S");
}

// "S/202403.mdb": archive names as the operator sees them beside the live database.
std::string Shown(const std::string& name) { return std::string("S/") + name; }

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string Right(long n, size_t width) {
  const std::string text = std::to_string(n);
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Reason(const Error& e) { return OneLine(e); }

archive::TransferContext Transfer(const RunContext& ctx, dbengine::Database& live) {
  return archive::TransferContext{
      ctx.engine, live, ctx.fs, ctx.messages, ctx.params.dataFolder, ctx.settings.livestockEnabled};
}

bool IsMonthKey(const std::string& text) {
  if (text.size() != 6) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const int month = std::stoi(text.substr(4));
  return month >= 1 && month <= 12;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

int DryRun(const RunContext& ctx, bool upToToday, std::ostream& out) {
  const RunPlan plan = PlanArchive(ctx, upToToday);
  const std::string window = DateTime::FromDate(plan.to).ToIso().substr(0, 10);
  out << "Dry run: records dated 2000-01-01 to " << window << " in "
      << dbengine::ShownName(ctx.params.dbPath) << "\n";
  if (ctx.fs.IsFile(archive::MoveJournalPath(ctx.params.dataFolder))) {
    out << "S/move.journal: a move cut short by a crash is waiting; the run completes it first\n";
  }
  // The first month whose archive can be neither made nor opened: the run
  // would stop there, every later month left live too.
  std::set<std::string> months;
  for (const PlannedTable& table : plan.tables) {
    for (const PlannedMonth& month : table.months) {
      if (!month.refused && month.stopsAt.empty()) months.insert(month.month);
    }
  }
  std::string haltMonth;
  std::optional<Error> halt;
  for (const std::string& month : months) {
    if ((halt = archive::ArchivePlaceProblem(ctx.fs, ctx.params.dataFolder, month))) {
      haltMonth = month;
      out << "The run would stop at " << month << ": " << Reason(*halt) << "\n";
      break;
    }
  }
  out << Padded("table", 10) << Padded("month", 8) << "records"
      << "  archive\n";
  std::map<std::string, bool> archives;  // month -> exists now
  long total = 0;
  long kept = 0;  // records of the window the run would leave live
  long undated = 0;
  auto target = [&](const std::string& month) {
    const std::string name = month + ".mdb";
    const bool exists = ctx.fs.IsFile(archive::ArchivePath(ctx.params.dataFolder, month));
    archives.emplace(month, exists);
    return Shown(name) + (exists ? " (exists)" : " (to be created)");
  };
  // Why a month's records would stay live; empty when they would move.
  auto staying = [&](const PlannedMonth& month) -> std::string {
    if (month.refused) return Reason(*month.refused);
    if (!month.stopsAt.empty()) return "the run stops at " + month.stopsAt;
    if (halt && month.month >= haltMonth) return "the run stops at " + haltMonth;
    return "";
  };
  for (const PlannedTable& table : plan.tables) {
    const std::string name = Padded(table.table, 10);
    if (table.table == plan.stopTable) {
      out << name << Padded("-", 8) << Right(0, 7) << "  cannot be read: the run stops here\n";
    } else if (table.unread) {
      out << name << Padded("-", 8) << Right(0, 7) << "  cannot be read: " << Reason(*table.unread)
          << "\n";
    }
    if (table.customers) {
      if (table.months.empty()) {
        if (table.records > 0) {
          out << name << Padded("-", 8) << Right(table.records, 7)
              << "  not copied: no month archived\n";
        }
      } else if (const std::string why = staying(table.months.front()); !why.empty()) {
        out << name << Padded("all", 8) << Right(table.records, 7) << "  not copied: " << why
            << "\n";
      } else {
        out << name << Padded("all", 8) << Right(table.records, 7) << "  "
            << target(table.months.front().month) << ", its customer list replaced\n";
      }
      continue;
    }
    if (table.months.empty() && table.table != plan.stopTable && !table.unread) {
      out << name << Padded("-", 8) << Right(0, 7) << "  nothing to move\n";
    }
    for (const PlannedMonth& month : table.months) {
      out << name << Padded(month.month, 8) << Right(month.records, 7) << "  ";
      if (const std::string why = staying(month); !why.empty()) {
        out << "stay live: " << why << "\n";
        kept += month.records;
      } else {
        out << target(month.month) << "\n";
        total += month.records;
      }
    }
    if (table.undated > 0) {
      out << name << Padded("-", 8) << Right(table.undated, 7)
          << "  stay live: no date a window can place (none, empty, or not a date)\n";
      undated += table.undated;
    }
  }
  long created = 0;
  for (const auto& [month, exists] : archives) created += exists ? 0 : 1;
  if (plan.stop) {
    out << "A table cannot be read, and the run would stop there: " << Reason(*plan.stop) << "\n";
  }
  out << "Total: " << total << " records would move into " << archives.size() << " archive(s), "
      << created << " to be created";
  if (kept > 0) out << "; " << kept << " of the window would stay live";
  if (undated > 0) out << "; " << undated << " have no date a window can place";
  out << ". Nothing was changed.\n";
  return plan.stop || kept > 0 || halt ? 2 : 0;
}

int VerifyArchives(const RunContext& ctx, std::ostream& out) {
  const std::string folder = ArchiveFolder(ctx);
  if (!ctx.fs.Exists(folder)) {
    out << "No archive folder " << folder << ": nothing to check.\n";
    return 0;
  }
  if (ctx.fs.IsFile(folder)) {
    out << folder << ": NOT SOUND: a file, not a folder; no archive can be made there.\n";
    return 2;
  }
  const std::vector<std::string> names = ctx.fs.ListFolder(folder);
  const std::set<std::string> listed(names.begin(), names.end());
  int archives = 0;
  int unsound = 0;
  int leftovers = 0;
  for (const std::string& name : names) {
    const std::string path = platform::JoinPath(folder, name);
    if (name == "move.journal") {
      const std::optional<archive::PendingMove> move = archive::ReadMoveJournal(ctx.fs, path);
      out << Shown(name) << ": NOT SOUND: " << (move && move->restore ? "a restore" : "a move")
          << " cut short by a crash is waiting; the next run or restore completes it\n";
      ++leftovers;
      continue;
    }
    if (EndsWith(name, ".partial")) {
      out << Shown(name) << ": NOT SOUND: a temporary archive left by a build cut short; it "
          << "holds no record and may be deleted\n";
      ++leftovers;
      continue;
    }
    if (!EndsWith(dbengine::LowerAscii(name), ".mdb")) continue;
    ++archives;
    const std::string month = name.substr(0, name.size() - 4);
    const std::string spelt = month + ".mdb";
    if (const std::optional<std::string> what = archive::NotAFile(ctx.fs, path)) {
      out << Shown(name) << ": NOT SOUND: " << *what << " where an archive file belongs; a run "
          << "that reaches " << month << " stops there\n";
      ++unsound;
      continue;
    }
    // Where names ignore letter case the run opens this file as spelt.
    if (name != spelt &&
        (listed.count(spelt) != 0 || !ctx.fs.IsFile(platform::JoinPath(folder, spelt)))) {
      out << Shown(name) << ": NOT SOUND: named like an archive but spelt otherwise; a run looks "
          << "for " << spelt << " and never finds it, nor does a restore\n";
      ++unsound;
      continue;
    }
    if (!IsMonthKey(month)) {
      out << Shown(name) << ": NOT SOUND: not named after a month (yyyymm.mdb)\n";
      ++unsound;
      continue;
    }
    const archive::ArchiveCheck check = archive::CheckArchive(ctx.engine, path, month);
    if (check.problems.empty()) {
      out << Shown(name) << ": sound (" << check.tables << " tables, " << check.records
          << " records)\n";
      continue;
    }
    ++unsound;
    out << Shown(name) << ": NOT SOUND: " << check.problems.front() << "\n";
    for (size_t i = 1; i < check.problems.size(); ++i) {
      out << "  " << check.problems[i] << "\n";
    }
  }
  out << archives << " archive(s) checked: " << archives - unsound << " sound, " << unsound
      << " not sound";
  if (leftovers > 0) out << "; " << leftovers << " file(s) left by an interrupted run";
  out << ".\n";
  return unsound == 0 && leftovers == 0 ? 0 : 2;
}

int RestoreMonth(const RunContext& ctx, const std::string& month, std::ostream& out) {
  const std::string path = archive::ArchivePath(ctx.params.dataFolder, month);
  if (!ctx.fs.IsFile(path)) {
    ctx.messages.ShowCritical("No archive of month " + month + " to restore.",
                              path + ": no such file");
    return 1;
  }
  std::vector<std::string> tables;
  for (const TableEntry& entry : TableList(true)) {
    if (entry.dateField[0] != '\0') tables.emplace_back(entry.table);
  }
  std::unique_ptr<dbengine::Database> live = ctx.engine.OpenDatabase(ctx.params.dbPath);
  const archive::TransferContext transfer = Transfer(ctx, *live);
  // The restore starts here, and its log replaces the last one; a restore
  // that cannot start (no archive, no live database) leaves that log alone.
  platform::RunLog runLog(ctx.fs, ctx.programFolder);
  runLog.Remove();
  std::string log = "restauración de " + path + "\r\n";
  archive::MonthRestore restored;
  try {
    // A move a crash cut short comes first; while it cannot be completed no
    // other move may start, or its journal would be lost.
    if (const auto unfinished = archive::RecoverInterruptedMove(transfer)) {
      throw Error(unfinished->error.Number(),
                  "An interrupted move cannot be completed; nothing was restored.",
                  "move journal " + unfinished->journal + "\narchive " + unfinished->archive +
                      "\n" + unfinished->error.Description() +
                      (unfinished->error.Cause().empty() ? "" : "\n" + unfinished->error.Cause()));
    }
    restored = archive::RestoreMonth(transfer, month, tables);
  } catch (const Error& e) {
    live->Close();
    log += "restauración detenida: " + e.Description() + "\r\n";
    runLog.Append(log);
    ctx.messages.ShowCritical("The restore of " + month + " stopped.",
                              e.Description() + "\n" + e.Cause());
    return 2;
  }
  live->Close();
  out << "Restoring " << month << " from " << path << "\n";
  long back = 0;
  long kept = 0;
  for (const archive::TableRestore& t : restored.tables) {
    back += t.restored;
    kept += t.kept;
    if (t.failure) {
      out << Padded(t.table, 10) << Right(t.kept, 7)
          << " records stay in the archive: " << Reason(*t.failure) << "\n";
      log += t.table + " registros no restaurados:" + Count(t.kept) + "\r\n";
      log += "  " + t.failure->Description() + "\r\n";
    } else {
      out << Padded(t.table, 10) << Right(t.restored, 7) << " records restored\n";
      log += t.table + " registros restaurados:" + Count(t.restored) + "\r\n";
    }
  }
  if (restored.archiveRemoved) {
    out << Shown(month + ".mdb") << " removed: it held nothing more than its customer list\n";
    log += "archivo eliminado: " + path + "\r\n";
  } else {
    std::string held;
    for (const auto& [table, records] : restored.left) {
      held += (held.empty() ? "" : ", ") + table + " " + std::to_string(records);
    }
    out << Shown(month + ".mdb") << " kept: it still holds records (" << held << ")\n";
    log += "archivo conservado: " + path + " (registros que quedan: " + held + ")\r\n";
  }
  runLog.Append(log);
  out << "Restored " << back << " records";
  if (kept > 0) out << "; " << kept << " stay in the archive";
  out << ".\n";
  return kept > 0 ? 2 : 0;
}

}  // namespace sa::run
