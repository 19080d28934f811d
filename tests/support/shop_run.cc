#include "support/shop_run.h"

#include <sstream>

#include "core/error.h"
#include "platform/file_system.h"
#include "progress/progress_window.h"
#include "run/commands.h"
#include "run/run_archive.h"

namespace sa::testing {

namespace {

// The launch and the settings the shop's run reads; a live database named by
// a connection string gets its archive folder beside the program, made as
// start-up makes it.
struct Launch {
  LaunchParams params;
  Settings settings;
};

Launch LaunchOf(const ShopRun& run, platform::FileSystem& fs, const std::string& shopFolder) {
  Launch out;
  if (run.live.empty()) {
    out.params.dataFolder = platform::JoinPath(shopFolder, "datos");
    out.params.dbPath = platform::JoinPath(out.params.dataFolder, "live.db");
  } else {
    out.params.dataFolder = shopFolder;
    out.params.dbPath = run.live;
    const std::string archives = platform::JoinPath(shopFolder, "S");
    if (!fs.Exists(archives)) fs.MakeFolder(archives);
  }
  out.settings.livestockEnabled = run.livestock;
  return out;
}

// Gives `work` the run context of `run` over the shop: its engine, its
// file system (the real one unless given), its messages and clock.
template <typename Work>
int WithContext(ShopRun& run, dbengine::Engine& engine, const std::string& shopFolder, Work work) {
  platform::FileSystem& fs = run.files != nullptr ? *run.files : platform::RealFileSystem();
  const Launch launch = LaunchOf(run, fs, shopFolder);
  FakeProgressDisplay display;
  progress::ProgressWindow form(display);
  const run::RunContext ctx{engine,    fs,   run.messages,  platform::RealStandardError(),
                            run.clock, form, launch.params, launch.settings,
                            shopFolder};
  return work(ctx);
}

}  // namespace

int ShopRun::Run(dbengine::Engine& engine, const std::string& shopFolder) {
  return WithContext(*this, engine, shopFolder, [](const run::RunContext& ctx) {
    try {
      return run::RunArchive(ctx, true);
    } catch (const Error&) {
      return -1;
    }
  });
}

int ShopRun::Restore(dbengine::Engine& engine, const std::string& shopFolder,
                     const std::string& month) {
  return WithContext(*this, engine, shopFolder, [&](const run::RunContext& ctx) {
    std::ostringstream out;
    return run::RestoreMonth(ctx, month, out);
  });
}

}  // namespace sa::testing
