// The two process-wide records: what the host handed over in `fifo`, and the
// host settings the run needs. Start-up fills them once; everything after
// reads them through what it is handed.
#pragma once

#include <cstdint>
#include <string>

namespace sa {

struct LaunchParams {
  std::string dbPath;        // live database file
  std::string settingsPath;  // host settings file
  std::string dataFolder;    // dbPath without its last component
  bool loginActive = false;
  std::string userName = "admin";
  int16_t userLevel = 0;
};

struct Settings {
  int16_t retentionDays = 0;      // days of history a full run keeps live
  bool livestockEnabled = false;  // GTVacuno takes part in archives and runs
};

// The process-wide records. Written by start-up only.
LaunchParams& GlobalLaunchParams();
Settings& GlobalSettings();

}  // namespace sa
