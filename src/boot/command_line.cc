#include "boot/command_line.h"

#include <optional>

#ifndef SA_VERSION
#define SA_VERSION "unknown"
#endif

namespace sa::boot {

namespace {

bool IsMonthKey(std::string_view text) {
  if (text.size() != 6) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const int month = (text[4] - '0') * 10 + (text[5] - '0');
  return text.substr(0, 4) != "0000" && month >= 1 && month <= 12;
}

}  // namespace

ParsedCommandLine ParseCommandLine(std::span<const std::string_view> args) {
  ParsedCommandLine parsed;
  CommandLine& out = parsed.options;
  std::optional<Command> command;
  bool help = false;
  bool version = false;
  bool fifoGiven = false;
  auto fail = [&](std::string message) {
    if (parsed.error.empty()) parsed.error = std::move(message);
  };
  auto setCommand = [&](Command c, std::string_view name) {
    if (command) {
      fail("only one of --dry-run, --verify and --restore may be given (" + std::string(name) +
           ")");
    }
    command = c;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::optional<std::string_view> inlineValue;
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    // The value of a switch that takes one: after "=" or the next argument.
    auto value = [&]() -> std::optional<std::string_view> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    const bool takesValue = arg == "--restore" || arg == "--fifo";
    if (inlineValue && !takesValue) {
      fail("switch " + std::string(arg) + " takes no value");
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--dry-run") {
      setCommand(Command::kDryRun, arg);
    } else if (arg == "--verify") {
      setCommand(Command::kVerify, arg);
    } else if (arg == "--unattended") {
      out.unattended = true;
    } else if (arg == "--restore") {
      setCommand(Command::kRestore, arg);
      const auto month = value();
      if (!month) {
        fail("--restore needs a month, as yyyymm");
      } else if (!IsMonthKey(*month)) {
        fail("--restore: \"" + std::string(*month) + "\" is not a month written as yyyymm");
      } else {
        out.month = std::string(*month);
      }
    } else if (arg == "--fifo") {
      const auto path = value();
      if (fifoGiven) fail("--fifo given twice");
      fifoGiven = true;
      if (!path || path->empty()) {
        fail("--fifo needs the path of a parameter file");
      } else {
        out.fifoPath = std::string(*path);
      }
    } else {
      fail("unknown switch \"" + std::string(args[i]) + "\"");
    }
  }
  if (help) {
    out.command = Command::kHelp;
  } else if (version) {
    out.command = Command::kVersion;
  } else if (command) {
    out.command = *command;
  }
  return parsed;
}

std::string UsageText(std::string_view program) {
  const std::string p(program);
  return "Usage: " + p +
         " [--fifo PATH] [--unattended] [--dry-run | --verify | --restore yyyymm]\n" +
         "\n"
         "With no switch the program runs the archive the parameter file `fifo` beside it\n"
         "asks for, as the host starts it.\n"
         "\n"
         "  --dry-run         show what a run would move now, per table and month, and the\n"
         "                    archive each month would go to; changes nothing\n"
         "  --verify          check every month archive in the archive folder S: its tables\n"
         "                    and fields, the database's own integrity check, the dates of\n"
         "                    its records; exit status 2 when one is not sound\n"
         "  --restore yyyymm  move the records of that month's archive back into the live\n"
         "                    tables (the customer list stays as it is) and remove the\n"
         "                    archive once empty; registro.txt records what was restored\n"
         "  --fifo PATH       read the parameters from PATH instead of `fifo`\n"
         "  --unattended      show no window and no message box\n"
         "  --help            show this text\n"
         "  --version         show the program's version\n"
         "\n"
         "One run at a time: a launch waits up to 10 s for another run on the same\n"
         "program folder or live database, then refuses.\n"
         "\n"
         "Exit status: 0 done; 1 nothing done (bad command line, start-up failed, another\n"
         "run held the folder); 2 stopped part way, records left where they were, or an\n"
         "archive not sound.\n";
}

std::string VersionText() { return std::string("sales-archiver ") + SA_VERSION + "\n"; }

}  // namespace sa::boot
