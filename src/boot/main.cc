// The program's entry: wires the real platform and the engine the live
// database needs into start-up and the archive run. The host passes no
// argument; the one switch read, --unattended, keeps every window and dialog
// away (a scheduled run that nobody watches) and sends the messages to the
// run log as well (boot/unattended.h); any other argument is left alone.
#include <optional>

#include "boot/startup.h"
#include "boot/unattended.h"
#include "dbengine/engine_choice.h"
#include "frmProc/frm_proc.h"
#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "platform/progress_display.h"
#include "platform/standard_error.h"
#include "proc/run_archive.h"
#include "var/params.h"

namespace {

class Runner : public sa::boot::ArchiveRunner {
 public:
  Runner(std::string programFolder, sa::platform::MessageSink& messages)
      : programFolder_(std::move(programFolder)), messages_(messages) {}

  int RunArchive(bool upToToday) override {
    std::unique_ptr<sa::dbengine::Engine> engine =
        sa::dbengine::EngineFor(sa::GlobalLaunchParams().dbPath);
    sa::frmproc::FrmProc form(sa::platform::RealProgressDisplay());
    const sa::proc::RunContext ctx{*engine,
                                   sa::platform::RealFileSystem(),
                                   messages_,
                                   sa::platform::RealClock(),
                                   form,
                                   sa::GlobalLaunchParams(),
                                   sa::GlobalSettings(),
                                   programFolder_};
    return sa::proc::RunArchive(ctx, upToToday);
  }

 private:
  std::string programFolder_;
  sa::platform::MessageSink& messages_;
};

}  // namespace

int main(int argc, char** argv) {
  const bool unattended = sa::boot::HasUnattendedSwitch(argc, argv);
  sa::platform::AllowDesktop(!unattended);
  try {
    const std::string folder = sa::platform::ProgramFolder();
    std::optional<sa::boot::UnattendedMessageSink> unattendedSink;
    if (unattended) {
      unattendedSink.emplace(sa::platform::RealFileSystem(),
                             sa::platform::JoinPath(folder, "registro.txt"),
                             sa::platform::JoinPath(folder, "fifo"));
    }
    sa::platform::MessageSink& messages =
        unattendedSink ? static_cast<sa::platform::MessageSink&>(*unattendedSink)
                       : sa::platform::RealMessageSink();
    Runner runner(folder, messages);
    const sa::boot::StartupPlatform platform{sa::platform::RealFileSystem(), messages, folder};
    return sa::boot::RunStartup(platform, sa::GlobalLaunchParams(), sa::GlobalSettings(), runner);
  } catch (const std::exception& e) {
    // With the desktop off this reaches standard error only.
    sa::platform::RealMessageSink().ShowCritical(e.what(), "");
    return sa::boot::kExitRefused;
  }
}
