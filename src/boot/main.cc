// The program's entry: wires the real platform and the engine the live
// database needs into start-up and the archive run. The host passes no
// argument; the one switch read, --unattended, keeps every window and dialog
// away (a scheduled run that nobody watches), and any other argument is left
// alone.
#include <string_view>

#include "boot/startup.h"
#include "dbengine/engine_choice.h"
#include "frmProc/frm_proc.h"
#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "platform/progress_display.h"
#include "proc/run_archive.h"
#include "var/params.h"

namespace {

class Runner : public sa::boot::ArchiveRunner {
 public:
  explicit Runner(std::string programFolder) : programFolder_(std::move(programFolder)) {}

  int RunArchive(bool upToToday) override {
    std::unique_ptr<sa::dbengine::Engine> engine =
        sa::dbengine::EngineFor(sa::GlobalLaunchParams().dbPath);
    sa::frmproc::FrmProc form(sa::platform::RealProgressDisplay());
    const sa::proc::RunContext ctx{*engine,
                                   sa::platform::RealFileSystem(),
                                   sa::platform::RealMessageSink(),
                                   sa::platform::RealClock(),
                                   form,
                                   sa::GlobalLaunchParams(),
                                   sa::GlobalSettings(),
                                   programFolder_};
    return sa::proc::RunArchive(ctx, upToToday);
  }

 private:
  std::string programFolder_;
};

bool Unattended(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--unattended") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  sa::platform::AllowDesktop(!Unattended(argc, argv));
  try {
    const std::string folder = sa::platform::ProgramFolder();
    Runner runner(folder);
    const sa::boot::StartupPlatform platform{sa::platform::RealFileSystem(),
                                             sa::platform::RealMessageSink(), folder};
    return sa::boot::RunStartup(platform, sa::GlobalLaunchParams(), sa::GlobalSettings(), runner);
  } catch (const std::exception& e) {
    sa::platform::RealMessageSink().ShowCritical(e.what(), "");
    return sa::boot::kExitRefused;
  }
}
