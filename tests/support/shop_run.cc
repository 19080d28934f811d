#include "support/shop_run.h"

#include "frmProc/frm_proc.h"
#include "platform/file_system.h"
#include "proc/run_archive.h"
#include "var/error.h"

namespace sa::testing {

int ShopRun::Run(dbengine::Engine& engine, const std::string& shopFolder) {
  LaunchParams params;
  params.dataFolder = platform::JoinPath(shopFolder, "datos");
  params.dbPath = platform::JoinPath(params.dataFolder, "live.db");
  Settings settings;
  settings.livestockEnabled = livestock;
  FakeProgressDisplay display;
  frmproc::FrmProc form(display);
  const proc::RunContext ctx{engine,   files != nullptr ? *files : platform::RealFileSystem(),
                             messages, clock,
                             form,     params,
                             settings, shopFolder};
  try {
    return proc::RunArchive(ctx, true);
  } catch (const Error&) {
    return -1;
  }
}

}  // namespace sa::testing
