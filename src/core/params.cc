#include "core/params.h"

namespace sa {

LaunchParams& GlobalLaunchParams() {
  static LaunchParams params;
  return params;
}

Settings& GlobalSettings() {
  static Settings settings;
  return settings;
}

}  // namespace sa
