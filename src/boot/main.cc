// The program's entry: wires the real platform and the engine the live database needs into
// start-up and the archive run. The host starts it with no arguments; the
// only one read is --unattended (see boot/unattended.h).
#include <cstdio>
#include <optional>

#include "boot/startup.h"
#include "boot/unattended.h"
#include "dbengine/engine_choice.h"
#include "frmProc/frm_proc.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "platform/progress_display.h"
#include "proc/run_archive.h"
#include "var/params.h"

namespace {

class Runner : public sa::boot::ArchiveRunner {
 public:
  Runner(std::string programFolder, sa::platform::MessageSink& messages,
         sa::platform::ProgressDisplay& display)
      : programFolder_(std::move(programFolder)), messages_(messages), display_(display) {}

  int RunArchive(bool upToToday) override {
    std::unique_ptr<sa::dbengine::Engine> engine =
        sa::dbengine::EngineFor(sa::GlobalLaunchParams().dbPath);
    sa::frmproc::FrmProc form(display_);
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
  sa::platform::ProgressDisplay& display_;
};

}  // namespace

int main(int argc, char** argv) {
  const bool unattended = sa::boot::HasUnattendedSwitch(argc, argv);
  sa::platform::MessageSink* messages = &sa::platform::RealMessageSink();
  try {
    const std::string folder = sa::platform::ProgramFolder();
    std::optional<sa::boot::UnattendedMessageSink> unattendedSink;
    sa::boot::NoProgressDisplay noDisplay;
    if (unattended) {
      unattendedSink.emplace(sa::platform::RealFileSystem(),
                             sa::platform::JoinPath(folder, "registro.txt"));
      messages = &*unattendedSink;
    }
    sa::platform::ProgressDisplay& display =
        unattended ? static_cast<sa::platform::ProgressDisplay&>(noDisplay)
                   : sa::platform::RealProgressDisplay();
    Runner runner(folder, *messages, display);
    const sa::boot::StartupPlatform platform{sa::platform::RealFileSystem(), *messages, folder};
    return sa::boot::RunStartup(platform, sa::GlobalLaunchParams(), sa::GlobalSettings(), runner);
  } catch (const std::exception& e) {
    // Not the message box when unattended: the sink that writes the log may
    // be gone with the scope, and nobody would click the box.
    if (unattended) {
      std::fprintf(stderr, "%s\n", e.what());
    } else {
      sa::platform::RealMessageSink().ShowCritical(e.what(), "");
    }
    return sa::boot::kExitRefused;
  }
}
