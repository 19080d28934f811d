// What only the POSIX file system does: folders held by flock() on the
// folder itself, between real processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/file_system.h"
#include "support/error_from.h"
#include "support/temp_dir.h"

namespace sa::platform {
namespace {

using sa::testing::ErrorFrom;
using sa::testing::TempDir;
using std::chrono::milliseconds;

TEST(PosixPathTest, RelativePathsAreReadFromTheFolderGiven) {
  EXPECT_EQ(PathFrom("/opt/tienda", "datos/live.db"), "/opt/tienda/datos/live.db");
  EXPECT_EQ(PathFrom("/opt/tienda", "../datos/live.db"), "/opt/tienda/../datos/live.db");
  EXPECT_EQ(PathFrom("/opt/tienda", "/srv/live.db"), "/srv/live.db");
  EXPECT_EQ(PathFrom("/opt/tienda", "C:\\datos\\live.db"), "/opt/tienda/C:\\datos\\live.db");
  EXPECT_EQ(PathFrom("/opt/tienda", ""), "");
}

// Another process's hold keeps the folder until that process ends, killed
// or not; the folder's listing never changes; one process shares its own.
TEST(PosixFileSystemTest, AFolderIsHeldByOneProcessUntilItEnds) {
  TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const auto lock = RealFileSystem().LockFolder(dir.path(), milliseconds(0));
    (void)!::write(ready[1], "x", 1);
    ::pause();
    _exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  FileSystem& fs = RealFileSystem();
  const Error refused = ErrorFrom([&] { fs.LockFolder(dir.path(), milliseconds(200)); });
  EXPECT_EQ(refused.Number(), ErrorCode::kFolderInUse);
  EXPECT_EQ(refused.Cause(), dir.path() + ": another run still held it after 0 s");
  EXPECT_TRUE(fs.ListFolder(dir.path()).empty());

  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  const auto mine = fs.LockFolder(dir.path(), milliseconds(0));
  const auto again = fs.LockFolder(dir.path() + "/.", milliseconds(0));
  EXPECT_TRUE(fs.ListFolder(dir.path()).empty());
  const Error missing = ErrorFrom([&] { fs.LockFolder(dir.Path("missing"), milliseconds(0)); });
  EXPECT_EQ(missing.Cause().rfind(dir.Path("missing") + ": ", 0), 0u) << missing.Cause();
}

}  // namespace
}  // namespace sa::platform
