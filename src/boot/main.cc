// The program's entry: wires the real platform and the engine the live
// database needs into start-up and the archive run. The host starts it with no argument; the
// switches of boot/command_line.h are for a person at the shop's computer,
// or a scheduler: --unattended keeps every window and dialog away (a run
// that nobody watches) and sends the messages to the run log as well
// (boot/unattended.h).
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boot/command_line.h"
#include "boot/startup.h"
#include "boot/unattended.h"
#include "core/params.h"
#include "dbengine/engine_choice.h"
#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "platform/process.h"
#include "platform/progress_display.h"
#include "progress/progress_window.h"
#include "run/commands.h"
#include "run/run_archive.h"

namespace {

class Runner : public sa::boot::ArchiveRunner {
 public:
  Runner(std::string programFolder, sa::platform::MessageSink& messages)
      : programFolder_(std::move(programFolder)), messages_(messages) {}

  int RunArchive(bool upToToday) override {
    return WithContext(
        [&](const sa::run::RunContext& ctx) { return sa::run::RunArchive(ctx, upToToday); });
  }
  int DryRun(bool upToToday) override {
    return WithContext(
        [&](const sa::run::RunContext& ctx) { return sa::run::DryRun(ctx, upToToday, std::cout); });
  }
  int VerifyArchives() override {
    return WithContext(
        [&](const sa::run::RunContext& ctx) { return sa::run::VerifyArchives(ctx, std::cout); });
  }
  int RestoreMonth(const std::string& month) override {
    return WithContext([&](const sa::run::RunContext& ctx) {
      return sa::run::RestoreMonth(ctx, month, std::cout);
    });
  }

 private:
  template <typename Body>
  int WithContext(Body body) {
    std::unique_ptr<sa::dbengine::Engine> engine =
        sa::dbengine::EngineFor(sa::platform::RealFileSystem(), sa::GlobalLaunchParams().dbPath);
    sa::progress::ProgressWindow form(sa::platform::RealProgressDisplay());
    const sa::run::RunContext ctx{*engine,
                                  sa::platform::RealFileSystem(),
                                  messages_,
                                  sa::platform::RealStandardError(),
                                  sa::platform::RealClock(),
                                  form,
                                  sa::GlobalLaunchParams(),
                                  sa::GlobalSettings(),
                                  programFolder_};
    const int status = body(ctx);
    std::cout.flush();
    return status;
  }

  std::string programFolder_;
  sa::platform::MessageSink& messages_;
};

}  // namespace

int main(int argc, char** argv) {
  try {
    sa::platform::ReachStartingConsole();
    const std::vector<std::string> words = sa::platform::ProgramArguments(argc, argv);
    const std::vector<std::string_view> args(words.begin(), words.end());
    const sa::boot::ParsedCommandLine parsed = sa::boot::ParseCommandLine(args);
    sa::platform::AllowDesktop(!parsed.options.unattended);
    if (!parsed.error.empty()) {
      // Nothing has been touched yet: not even the old log.
      std::cerr << "sales-archiver: " << parsed.error << "\n"
                << "Try 'sales-archiver --help' for the switches.\n";
      return sa::boot::kExitRefused;
    }
    const std::string folder = sa::platform::ProgramFolder();
    // One run at a time per program folder, held before anything is
    // touched; a launch turned away says so without a word in the other
    // run's log.
    std::unique_ptr<sa::platform::FolderLock> programLock;
    if (parsed.options.command != sa::boot::Command::kHelp &&
        parsed.options.command != sa::boot::Command::kVersion) {
      programLock = sa::boot::LockProgramFolder(
          {sa::platform::RealFileSystem(), sa::platform::RealMessageSink(), folder},
          parsed.options);
      if (!programLock) return sa::boot::kExitRefused;
    }
    std::optional<sa::boot::UnattendedMessageSink> unattendedSink;
    if (parsed.options.unattended) {
      unattendedSink.emplace(sa::platform::RealFileSystem(), sa::platform::RealStandardError(),
                             folder, sa::platform::JoinPath(folder, "fifo"));
    }
    sa::platform::MessageSink& messages =
        unattendedSink ? static_cast<sa::platform::MessageSink&>(*unattendedSink)
                       : sa::platform::RealMessageSink();
    Runner runner(folder, messages);
    const sa::boot::StartupPlatform platform{sa::platform::RealFileSystem(), messages, folder};
    return sa::boot::RunCommand(platform, parsed.options, sa::GlobalLaunchParams(),
                                sa::GlobalSettings(), runner, std::cout);
  } catch (const std::exception& e) {
    sa::platform::RealMessageSink().ShowCritical(e.what(), "");
    return sa::boot::kExitRefused;
  }
}
