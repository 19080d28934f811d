// The program on a real desktop: the Xvfb the CTest fixture started, else the
// X server DISPLAY names. Where the fixture started one, or SA_DESKTOP_TESTS=1
// (CI sets it), a missing or silent display fails these tests; elsewhere they
// are skipped without one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "sample_shop.h"
#include "support/desktop.h"
#include "support/program_run.h"
#include "support/small_shop.h"
#include "support/temp_dir.h"

namespace sa {
namespace {

using testing::InstallProgram;
using testing::Launch;
using testing::TempDir;

const char kTitle[] = "sales-archiver";

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    const testing::TestDisplay display = testing::DesktopDisplay();
    std::string why;
    if (display.name.empty()) {
      why = "no DISPLAY";
    } else if (!testing::DisplayAnswers(display.name)) {
      why = "no X server answers at DISPLAY=" + display.name;
    }
    if (!why.empty()) {
      if (display.required) FAIL() << why << ", and the tests require one";
      GTEST_SKIP() << why;
    }
    display_ = display.name;
  }

  // The progress probe at `value` of `max` on `display`, and its window.
  struct Probe {
    pid_t pid = -1;
    unsigned long window = 0;  // 0: none showed; `why` says how the probe ended
    std::string why;
  };
  // A probe that ends before its window shows is started again, twice at
  // most, each time saying how it ended: under load the display has been seen
  // to turn a probe away for a moment, which is not what these tests look at.
  Probe StartProbe(const std::string& display, const std::string& value, const std::string& max) {
    Probe probe;
    for (int attempt = 0; attempt < 3; ++attempt) {
      Launch launch;
      launch.arguments = {value, max};
      launch.display = display;
      const std::string errors = dir_.Path("probe-" + std::to_string(attempt) + ".txt");
      probe.pid = testing::StartProgram(SA_PROGRESS_PROBE, launch, errors);
      probe.window = testing::WaitForWindow(display, probe.pid, kTitle);
      if (probe.window != 0 || testing::StillRunning(probe.pid)) return probe;
      const int status = testing::WaitProgram(probe.pid);
      probe.pid = -1;
      probe.why +=
          "probe ended with status " + std::to_string(status) +
          " before its window showed: " + dir_.Read("probe-" + std::to_string(attempt) + ".txt") +
          "\n";
      std::printf("[ retry    ] %s", probe.why.c_str());
    }
    return probe;
  }
  static void EndProbe(const Probe& probe) {
    if (probe.pid < 0) return;
    ::kill(probe.pid, SIGTERM);
    testing::WaitProgram(probe.pid);
  }

  Launch OnDisplay(std::vector<std::string> arguments = {}) const {
    Launch launch;
    launch.arguments = std::move(arguments);
    launch.display = display_;
    return launch;
  }

  std::string display_;
  TempDir dir_;
};

// Holds the live database's write lock, readers shut out, until destroyed.
class LiveLock {
 public:
  explicit LiveLock(const std::string& path) {
    EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  ~LiveLock() { Release(); }
  void Release() {
    if (db_ == nullptr) return;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
    db_ = nullptr;
  }

 private:
  sqlite3* db_ = nullptr;
};

TEST_F(Desktop, AStopDialogWaitsForOkThenTheLaunchEndsRefused) {
  TempDir dir;
  dir.Write("registro.txt", "old log");
  const std::string errors = dir.Path("stderr.txt");
  const pid_t pid = testing::StartProgram(InstallProgram(dir.path()), OnDisplay(), errors);

  const unsigned long dialog = testing::WaitForWindow(display_, pid, kTitle);
  if (dialog == 0) {
    const bool running = testing::StillRunning(pid);
    if (running) ::kill(pid, SIGTERM);
    const int status = testing::WaitProgram(pid);
    FAIL() << "no dialog titled " << kTitle << "; the program "
           << (running ? "was still running" : "ended with status " + std::to_string(status))
           << "; standard error:\n"
           << dir.Read("stderr.txt");
  }
  // The message reached standard error before the dialog, and the program
  // waits on the dialog.
  EXPECT_EQ(dir.Read("stderr.txt"), "This program must be executed by Brelna+\n");
  EXPECT_TRUE(testing::StillRunning(pid));
  const testing::Geometry g = testing::WindowGeometry(display_, dialog);
  EXPECT_GT(g.width, 282);  // room for the icon, the text and OK
  EXPECT_GT(g.height, 60);

  testing::PressReturn(display_, dialog);
  EXPECT_EQ(testing::WaitProgram(pid), 1);
  EXPECT_FALSE(dir.Exists("registro.txt"));
}

TEST_F(Desktop, AnUnattendedLaunchShowsNoDialogAndNeverWaits) {
  TempDir dir;
  const std::string program = InstallProgram(dir.path());
  const pid_t pid =
      testing::StartProgram(program, OnDisplay({"--unattended"}), dir.Path("stderr.txt"));
  // Either the program ends, or a dialog shows up first (then it is let go).
  const unsigned long dialog = testing::WaitForWindow(display_, pid, kTitle);
  if (dialog != 0) testing::PressReturn(display_, dialog);
  EXPECT_EQ(dialog, 0u) << "a dialog was shown to an unattended launch";
  EXPECT_EQ(testing::WaitProgram(pid), 1);
  EXPECT_EQ(dir.Read("stderr.txt"), "This program must be executed by Brelna+\n");
}

TEST_F(Desktop, DuringARunTheProgressWindowHasItsClientSizeAndPlace) {
  TempDir dir;
  demo::ShopOptions options = testing::SmallShop(dir.path(), {2024, 6, 15}, 2, 4);
  options.livestock = false;
  const demo::ShopFiles files = demo::GenerateShop(options);
  const std::string program = InstallProgram(dir.path());

  // The run shows its window before it opens the live database, and then
  // waits for the lock: the window can be looked at while it waits.
  LiveLock lock(files.dbPath);
  const pid_t pid = testing::StartProgram(program, OnDisplay(), dir.Path("stderr.txt"));
  const unsigned long window = testing::WaitForWindow(display_, pid, kTitle);
  const testing::Geometry g =
      window != 0 ? testing::WindowGeometry(display_, window) : testing::Geometry{};
  lock.Release();
  const int status = testing::WaitProgram(pid);

  ASSERT_NE(window, 0u) << "no progress window titled " << kTitle;
  EXPECT_EQ(g.width, 282);
  EXPECT_EQ(g.height, 33);
  // The stored place; CI's screen (1280 x 1024) has room for it.
  EXPECT_EQ(g.x, 669);
  EXPECT_EQ(g.y, 146);
  EXPECT_EQ(status, 0) << dir.Read("stderr.txt");
}

TEST_F(Desktop, WithoutRoomAtItsPlaceTheProgressWindowIsCentred) {
  // 669 + 282 pixels do not fit across 800, nor 146 + 33 down 160.
  for (const auto& [width, height] : {std::pair{800, 600}, std::pair{1280, 160}}) {
    testing::PrivateDisplay screen(width, height);
    ASSERT_FALSE(screen.name().empty());
    const Probe probe = StartProbe(screen.name(), "3", "10");
    const testing::Geometry g = probe.window != 0
                                    ? testing::WindowGeometry(screen.name(), probe.window)
                                    : testing::Geometry{};
    EndProbe(probe);
    ASSERT_NE(probe.window, 0u) << "no progress window on " << width << " x " << height << ": "
                                << probe.why;
    EXPECT_EQ(g.x, (width - 282) / 2);
    EXPECT_EQ(g.y, (height - 33) / 2);
    EXPECT_EQ(g.width, 282);
    EXPECT_EQ(g.height, 33);
  }
}

TEST_F(Desktop, TheBarFillsItsShareOfItsWidth) {
  constexpr int kBarWidth = 281;
  struct Case {
    float value, max;
  };
  for (const Case c : {Case{0, 10}, Case{3, 10}, Case{7, 11}, Case{10, 10}}) {
    SCOPED_TRACE(std::to_string(c.value) + " of " + std::to_string(c.max));
    const Probe probe = StartProbe(display_, std::to_string(c.value), std::to_string(c.max));
    testing::Picture picture;
    if (probe.window != 0) picture = testing::CaptureWindow(display_, probe.window);
    EndProbe(probe);
    ASSERT_NE(probe.window, 0u) << "no progress window: " << probe.why;
    ASSERT_EQ(picture.width, 282);
    ASSERT_EQ(picture.height, 33);

    // The fill is green; what is left of the bar is light grey. Counted along
    // the middle row, from the left.
    const auto green = [&](int x) {
      const uint8_t* p = picture.At(x, picture.height / 2);
      return p[1] > 120 && p[0] < 60 && p[2] < 90;
    };
    int filled = 0;
    while (filled < picture.width && green(filled)) ++filled;
    for (int x = filled; x < picture.width; ++x) EXPECT_FALSE(green(x)) << "green at " << x;
    const double expected = kBarWidth * c.value / c.max;
    EXPECT_LE(std::abs(filled - expected), 2.0) << "filled " << filled << " of " << kBarWidth;
  }
}

}  // namespace
}  // namespace sa
