#include "platform/file_system.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "platform/log_text.h"
#include "support/error_from.h"
#include "support/temp_dir.h"

namespace sa::platform {
namespace {

using sa::testing::TempDir;

using sa::testing::ErrorFrom;

TEST(JoinPathTest, UsesOneSeparatorAndTreatsAnEmptyFolderAsTheRoot) {
  const std::string sep(1, PathSeparator());
  EXPECT_EQ(JoinPath("data", "S"), "data" + sep + "S");
  EXPECT_EQ(JoinPath("data" + sep, "S"), "data" + sep + "S");
  EXPECT_EQ(JoinPath("", "S"), sep + "S");
  EXPECT_TRUE(IsPathSeparator(PathSeparator()));
  EXPECT_FALSE(IsPathSeparator(':'));
}

TEST(RealFileSystemTest, TellsFilesFromFolders) {
  TempDir dir;
  dir.Write("file", "x");
  dir.MakeFolder("folder");
  FileSystem& fs = RealFileSystem();
  EXPECT_TRUE(fs.IsFile(dir.Path("file")));
  EXPECT_FALSE(fs.IsFile(dir.Path("folder")));
  EXPECT_TRUE(fs.Exists(dir.Path("folder")));
  EXPECT_FALSE(fs.Exists(dir.Path("missing")));
  EXPECT_FALSE(fs.IsFile(""));
}

TEST(RealFileSystemTest, ReadsAppendsRenamesAndRemoves) {
  TempDir dir;
  FileSystem& fs = RealFileSystem();
  const std::string log = dir.Path("log.txt");
  fs.AppendFile(log, std::string("a\0b", 3));
  fs.AppendFile(log, "\r\n");
  EXPECT_EQ(fs.ReadFile(log), std::string("a\0b\r\n", 5));

  dir.Write("target", "old");
  fs.RenameFile(log, dir.Path("target"));
  EXPECT_EQ(dir.Read("target"), std::string("a\0b\r\n", 5));
  EXPECT_FALSE(dir.Exists("log.txt"));

  fs.RemoveFile(dir.Path("target"));
  EXPECT_FALSE(dir.Exists("target"));
  fs.MakeFolder(dir.Path("S"));
  EXPECT_TRUE(dir.IsFolder("S"));
}

TEST(RealFileSystemTest, FailuresCarryTheNumberAndNameThePath) {
  TempDir dir;
  dir.MakeFolder("folder");
  FileSystem& fs = RealFileSystem();

  const Error missing = ErrorFrom([&] { fs.ReadFile(dir.Path("missing.ini")); });
  EXPECT_EQ(missing.Number(), ErrorCode::kFileNotFound);
  EXPECT_EQ(missing.Description(), "Cannot read file");
  EXPECT_EQ(missing.Cause().rfind(dir.Path("missing.ini") + ": ", 0), 0u) << missing.Cause();

  EXPECT_EQ(ErrorFrom([&] { fs.ReadFile(dir.Path("no/such.ini")); }).Number(),
            ErrorCode::kPathNotFound);
  EXPECT_EQ(ErrorFrom([&] { fs.MakeFolder(dir.Path("no/S")); }).Number(), ErrorCode::kPathNotFound);
  EXPECT_EQ(ErrorFrom([&] { fs.ReadFile(dir.Path("folder")); }).Number(), ErrorCode::kPathAccess);
  EXPECT_EQ(ErrorFrom([&] { fs.MakeFolder(dir.Path("folder")); }).Number(), ErrorCode::kPathAccess);
  EXPECT_EQ(ErrorFrom([&] { fs.RemoveFile(dir.Path("missing")); }).Description(),
            "Cannot delete file");
  EXPECT_EQ(ErrorFrom([&] { fs.RenameFile(dir.Path("missing"), dir.Path("x")); }).Number(),
            ErrorCode::kFileNotFound);
}

TEST(ProgramFolderTest, IsTheFolderOfTheRunningExecutable) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(RealFileSystem().Exists(folder));
  EXPECT_FALSE(RealFileSystem().IsFile(folder));
}

}  // namespace
}  // namespace sa::platform

namespace sa::platform {
namespace {

TEST(RunLogTest, EveryLineEndsInCrlfWhateverItCameWith) {
  TempDir dir;
  RunLog log(RealFileSystem(), dir.path());
  log.Remove();  // none yet: nothing to do
  log.Append("uno\ndos\r\n\r\ntres");
  log.Append("cuatro\rcinco\r\n");
  EXPECT_EQ(dir.Read("registro.txt"), "uno\r\ndos\r\n\r\ntres\r\ncuatro\r\ncinco\r\n");
  log.Remove();
  EXPECT_FALSE(dir.Exists("registro.txt"));
}

}  // namespace
}  // namespace sa::platform
