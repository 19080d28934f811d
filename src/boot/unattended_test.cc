#include "boot/unattended.h"
#include "platform/standard_error.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/file_system.h"
#include "platform/log_text.h"
#include "support/temp_dir.h"

namespace sa::boot {
namespace {

using sa::testing::TempDir;

TEST(UnattendedSwitchTest, OnlyTheExactSwitchCounts) {
  const char* none[] = {"sales-archiver"};
  EXPECT_FALSE(HasUnattendedSwitch(1, none));
  const char* given[] = {"sales-archiver", "--dry-run", "--unattended"};
  EXPECT_TRUE(HasUnattendedSwitch(3, given));
  const char* near[] = {"sales-archiver", "--unattended=1", "unattended", "--UNATTENDED"};
  EXPECT_FALSE(HasUnattendedSwitch(4, near));
  // The program's own name is never taken for the switch.
  const char* named[] = {"--unattended"};
  EXPECT_FALSE(HasUnattendedSwitch(1, named));
}

TEST(UnattendedMessageSinkTest, AppendsTheMessageAndItsCauseToTheLog) {
  TempDir dir;
  dir.Write("registro.txt", "n\xC3\xBAmero de registros:000001\r\n");
  const std::string before = platform::ToLogEncoding(dir.Read("registro.txt"));
  dir.Write("registro.txt", before);
  dir.Write("fifo", "");
  UnattendedMessageSink sink(platform::RealFileSystem(), platform::RealStandardError(), dir.path(),
                             dir.Path("fifo"));

  sink.ShowCritical("Este programa s\xC3\xB3lo puede ser ejecutado desde Brelna+",
                    "Cannot read file\nC:\\datos\\live.mdb: access denied");
  sink.ShowCritical("two\nlines", "");
  EXPECT_EQ(dir.Read("registro.txt"),
            before + platform::ToLogEncoding(
                         "Este programa s\xC3\xB3lo puede ser ejecutado desde Brelna+\r\n"
                         "Cannot read file\r\n"
                         "C:\\datos\\live.mdb: access denied\r\n"
                         "two lines\r\n"));
}

TEST(UnattendedMessageSinkTest, ALogThatCannotBeWrittenDoesNotStopTheProgram) {
  TempDir dir;
  dir.MakeFolder("registro.txt");  // a folder where the log should be
  dir.Write("fifo", "");
  UnattendedMessageSink sink(platform::RealFileSystem(), platform::RealStandardError(), dir.path(),
                             dir.Path("fifo"));
  EXPECT_NO_THROW(sink.ShowCritical("message", "cause"));
  EXPECT_TRUE(dir.IsFolder("registro.txt"));
}

TEST(UnattendedMessageSinkTest, WithoutFifoNothingIsLogged) {
  TempDir dir;
  UnattendedMessageSink sink(platform::RealFileSystem(), platform::RealStandardError(), dir.path(),
                             dir.Path("fifo"));
  sink.ShowCritical("This program must be executed by Brelna+", "");
  EXPECT_FALSE(dir.Exists("registro.txt"));
}

}  // namespace
}  // namespace sa::boot
