#include "run/log_lines.h"

#include <cstdio>

#include "dbengine/engine_choice.h"

namespace sa::run {

namespace {

// The stop lines of `work` at `month` (empty: at the table itself).
std::string HaltLines(const TableWork& work, const std::string& month,
                      const std::deque<Halt>& halts) {
  std::string text;
  for (const Halt& h : halts) {
    if (h.table == work.entry->table && h.month == month) {
      text += "ejecución detenida (" + h.Place() + "): " + OneLine(h.error) + "\r\n";
    }
  }
  return text;
}

// What kept the run from reaching a table or month.
std::string Stopped(const Halt* halt, const std::deque<Halt>& halts) {
  if (halt == nullptr && !halts.empty()) halt = &halts.front();
  if (halt != nullptr) return "ejecución detenida (" + halt->Place() + ")";
  return "movimiento pendiente no completado";
}

std::string Motive(const MonthRunState& run, const std::deque<Halt>& halts) {
  return "motivo: " + (run.why ? OneLine(*run.why) : Stopped(run.halt, halts));
}

// Customer records are never deleted: a list not copied stays whole in the
// live database, which is not the same as records left live.
std::string CustomerLines(const TableWork& work, const std::deque<Halt>& halts) {
  if (work.records == 0) return "";
  if (work.runs.empty()) {
    return work.reached ? "lista de clientes no copiada: ningún mes archivado\r\n"
                        : "lista de clientes no copiada: " + Stopped(nullptr, halts) + "\r\n";
  }
  const MonthRunState& run = work.runs.front();
  if (run.moved) return "";
  if (!run.why) return "lista de clientes no copiada: " + Stopped(run.halt, halts) + "\r\n";
  return "lista de clientes no copiada (" + run.month + ")\r\n" + Motive(run, halts) + "\r\n" +
         HaltLines(work, run.month, halts);
}

}  // namespace

std::string Count(long n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%06ld", n);
  return buf;
}

std::string OneLine(const Error& e) {
  std::string cause = e.Cause();
  for (size_t at; (at = cause.find('\n')) != std::string::npos;) cause.replace(at, 1, "; ");
  return dbengine::MaskSecrets(e.Description() + (cause.empty() ? "" : " (" + cause + ")"));
}

std::string TableLogLines(const TableWork& work, const std::deque<Halt>& halts) {
  std::string text = work.query + "\r\n";
  if (work.records > 0) text += "número de registros:" + Count(work.records) + "\r\n";
  if (work.undated > 0) text += "registros con fecha ilegible:" + Count(work.undated) + "\r\n";
  if (work.unread) text += "motivo: " + OneLine(*work.unread) + "\r\n";
  text += HaltLines(work, "", halts);
  if (work.customers()) return text + CustomerLines(work, halts);
  for (const MonthRunState& run : work.runs) {
    if (run.moved) continue;
    text += "registros no archivados (" + run.month + "):" + Count(run.count) + "\r\n" +
            Motive(run, halts) + "\r\n" + HaltLines(work, run.month, halts);
  }
  return text;
}

}  // namespace sa::run
