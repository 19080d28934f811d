// The program's entry: wires the real platform and the engine the live database needs into
// start-up and the archive run. No command-line argument is read.
#include "boot/startup.h"
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

}  // namespace

int main() {
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
