// Runs the archive, or a restore, in-process on a sample shop made by the
// generator, with the platform faked (clock, messages, progress) and the
// engine given.
#pragma once

#include <string>

#include "dbengine/engine.h"
#include "platform/file_system.h"
#include "support/fake_platform.h"

namespace sa::testing {

struct ShopRun {
  FakeMessageSink messages;
  FakeClock clock;
  bool livestock = true;
  // The program's file system; null: the real one.
  platform::FileSystem* files = nullptr;
  // The live database when it is not the shop's file: a connection string,
  // the archives then in S in the shop's folder, as start-up places them.
  std::string live = {};

  // Runs on the shop in `shopFolder` (live database in its "datos" folder
  // unless `live` names one); the run's status, or -1 when the live database
  // could not be opened.
  int Run(dbengine::Engine& engine, const std::string& shopFolder);
  // Takes `month` back as --restore does; its exit status.
  int Restore(dbengine::Engine& engine, const std::string& shopFolder, const std::string& month);
};

}  // namespace sa::testing
