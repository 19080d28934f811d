// The Windows file system and paths, on real files under the system's
// temporary folder. Names are checked on the disk through the wide calls, so
// a name mangled on its way through a code page would show.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/error.h"
#include "platform/file_system.h"
#include "platform/log_text.h"
#include "platform/wide_text.h"
#include "support/error_from.h"
#include "support/temp_dir.h"

namespace sa::platform {
namespace {

using sa::testing::ErrorFrom;
using sa::testing::TempDir;

// Letters from Greek, Cyrillic and Han: none of them in Windows-1252.
const std::string kForeignName = "\xCE\xA9mega-\xD0\x9A\xD0\xB8\xD1\x80-\xE6\xBC\xA2\xE5\xAD\x97";

bool WideExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(Win32PathTest, AcceptsEitherSeparatorAndJoinsWithABackslash) {
  EXPECT_EQ(PathSeparator(), '\\');
  EXPECT_TRUE(IsPathSeparator('\\'));
  EXPECT_TRUE(IsPathSeparator('/'));
  EXPECT_FALSE(IsPathSeparator(':'));
  EXPECT_EQ(JoinPath("C:", "S"), "C:\\S");
  EXPECT_EQ(JoinPath("C:\\", "S"), "C:\\S");
  EXPECT_EQ(JoinPath("C:/datos/", "S"), "C:/datos/S");
  EXPECT_EQ(JoinPath("\\\\server\\share", "S"), "\\\\server\\share\\S");
}

TEST(Win32PathTest, ConvertsBetweenUtf8AndUtf16) {
  const std::wstring wide = Widen(kForeignName);
  EXPECT_EQ(wide, L"\u03A9mega-\u041A\u0438\u0440-\u6F22\u5B57");
  EXPECT_EQ(Narrow(wide), kForeignName);
  EXPECT_EQ(Widen(""), L"");
  // Text that is not UTF-8 is refused, not guessed at.
  const Error bad = ErrorFrom([] { Widen("caf\xE9"); });
  EXPECT_EQ(bad.Number(), ErrorCode::kPathNotFound);
  EXPECT_NE(bad.Cause().find("UTF-8"), std::string::npos);
}

TEST(Win32PathTest, LongPathsGetThePrefixAndShortOnesStayAsTheyAre) {
  EXPECT_EQ(WidePath("C:/datos/live.mdb"), L"C:/datos/live.mdb");
  const std::string longPath = "C:/datos/" + std::string(300, 'x') + "/live.mdb";
  EXPECT_EQ(WidePath(longPath), L"\\\\?\\C:\\datos\\" + std::wstring(300, L'x') + L"\\live.mdb");
  const std::string longUnc = "\\\\server\\share\\" + std::string(300, 'y');
  EXPECT_EQ(WidePath(longUnc), L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'y'));
}

TEST(Win32FileSystemTest, NamesOutsideTheCodePageReachTheDiskUnchanged) {
  TempDir dir;
  FileSystem& fs = RealFileSystem();
  const std::string folder = JoinPath(dir.path(), kForeignName);
  fs.MakeFolder(folder);
  const std::string file = JoinPath(folder, kForeignName + ".txt");
  fs.AppendFile(file, "one\r\n");
  fs.AppendFile(file, "two\r\n");
  EXPECT_TRUE(WideExists(Widen(dir.path()) + L"\\\u03A9mega-\u041A\u0438\u0440-\u6F22\u5B57\\" +
                         L"\u03A9mega-\u041A\u0438\u0440-\u6F22\u5B57.txt"));
  EXPECT_TRUE(fs.IsFile(file));
  EXPECT_FALSE(fs.IsFile(folder));
  EXPECT_TRUE(fs.Exists(folder));
  EXPECT_EQ(fs.ReadFile(file), "one\r\ntwo\r\n");

  const std::string renamed = JoinPath(folder, "\xE6\xBC\xA2.mdb");
  fs.WriteFileDurably(renamed, "first");
  fs.RenameFile(file, renamed);
  EXPECT_EQ(fs.ReadFile(renamed), "one\r\ntwo\r\n");
  EXPECT_FALSE(fs.Exists(file));
  fs.RemoveFile(renamed);
  EXPECT_FALSE(fs.Exists(renamed));
}

TEST(Win32FileSystemTest, PathsLongerThanTheClassicLimitWork) {
  TempDir dir;
  FileSystem& fs = RealFileSystem();
  std::string folder = dir.path();
  while (folder.size() < 300) {
    folder += "/" + std::string(40, 'd');  // forward slashes, turned round by the prefix
    fs.MakeFolder(folder);
  }
  const std::string file = folder + "\\live.mdb";
  ASSERT_GT(file.size(), 260u);
  fs.WriteFileDurably(file, "content");
  fs.AppendFile(file, "+more");
  EXPECT_TRUE(fs.IsFile(file));
  EXPECT_EQ(fs.ReadFile(file), "content+more");
  fs.RenameFile(file, folder + "\\moved.mdb");
  EXPECT_FALSE(fs.Exists(file));
  fs.RemoveFile(folder + "\\moved.mdb");
  EXPECT_FALSE(fs.Exists(folder + "\\moved.mdb"));
}

TEST(Win32FileSystemTest, FailuresCarryTheNumberTheSystemsReasonAndThePath) {
  TempDir dir;
  dir.MakeFolder("folder");
  FileSystem& fs = RealFileSystem();
  const std::string missing = dir.path() + "\\missing.ini";
  const Error notFound = ErrorFrom([&] { fs.ReadFile(missing); });
  EXPECT_EQ(notFound.Number(), ErrorCode::kFileNotFound);
  EXPECT_EQ(notFound.Cause().rfind(missing + ": ", 0), 0u) << notFound.Cause();
  EXPECT_GT(notFound.Cause().size(), missing.size() + 2);  // the system said why

  EXPECT_EQ(ErrorFrom([&] { fs.ReadFile(dir.path() + "\\no\\such.ini"); }).Number(),
            ErrorCode::kPathNotFound);
  EXPECT_EQ(ErrorFrom([&] { fs.ReadFile(dir.Path("folder")); }).Number(), ErrorCode::kPathAccess);
  EXPECT_EQ(ErrorFrom([&] { fs.AppendFile(dir.Path("folder"), "x"); }).Number(),
            ErrorCode::kPathAccess);
  EXPECT_EQ(ErrorFrom([&] { fs.MakeFolder(dir.Path("folder")); }).Number(), ErrorCode::kPathAccess);
  // A device opens, but is no text file: refused at once, never read from.
  EXPECT_EQ(ErrorFrom([&] { fs.ReadFile("NUL"); }).Number(), ErrorCode::kPathAccess);
  EXPECT_FALSE(fs.IsFile(dir.Path("folder")));
}

TEST(Win32FileSystemTest, ProgramFolderHoldsTheRunningModule) {
  const std::string folder = ProgramFolder();
  wchar_t module[MAX_PATH * 4];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
  ASSERT_GT(length, 0u);
  const std::string modulePath = Narrow(std::wstring_view(module, length));
  ASSERT_GT(modulePath.size(), folder.size());
  EXPECT_EQ(modulePath.substr(0, folder.size()), folder);
  EXPECT_TRUE(IsPathSeparator(modulePath[folder.size()]));
  EXPECT_TRUE(RealFileSystem().IsFile(modulePath));
  EXPECT_FALSE(RealFileSystem().IsFile(folder));
}

TEST(Win32LogTest, TheLogIsWrittenInWindows1252) {
  EXPECT_EQ(ToLogEncoding("lista de clientes no copiada: ning\xC3\xBAn mes archivado\r\n"),
            "lista de clientes no copiada: ning\xFAn mes archivado\r\n");
  EXPECT_EQ(ToLogEncoding("\xE2\x82\xAC \xE6\xBC\xA2"), "\x80 ?");
  TempDir dir;
  RunLog log(RealFileSystem(), dir.path());
  log.Append("restauraci\xC3\xB3n de C:\\S\\202302.mdb\n");
  EXPECT_EQ(dir.Read("registro.txt"), "restauraci\xF3n de C:\\S\\202302.mdb\r\n");
}

TEST(Win32PathTest, RelativePathsAreReadFromTheFolderGiven) {
  EXPECT_EQ(PathFrom("C:\\Tienda", "datos\\live.mdb"), "C:\\Tienda\\datos\\live.mdb");
  EXPECT_EQ(PathFrom("C:\\Tienda", "..\\datos/live.mdb"), "C:\\Tienda\\..\\datos/live.mdb");
  EXPECT_EQ(PathFrom("C:\\Tienda", "D:\\datos\\live.mdb"), "D:\\datos\\live.mdb");
  EXPECT_EQ(PathFrom("C:\\Tienda", "\\\\server\\share\\live.mdb"), "\\\\server\\share\\live.mdb");
  EXPECT_EQ(PathFrom("C:\\Tienda", "\\datos\\live.mdb"), "C:\\datos\\live.mdb");
  EXPECT_EQ(PathFrom("\\\\server\\share\\Tienda", "/datos/live.mdb"),
            "\\\\server\\share/datos/live.mdb");
  EXPECT_EQ(PathFrom("C:\\Tienda", "C:datos"), "C:datos");
  EXPECT_EQ(PathFrom("C:\\Tienda", ""), "");
}

// Within one process a folder held twice is shared; the hold lives in a
// lock file that goes with it. (Two processes: the runs under Wine.)
TEST(Win32FileSystemTest, AFolderHeldTwiceByOneProcessIsShared) {
  TempDir dir;
  FileSystem& fs = RealFileSystem();
  {
    const auto first = fs.LockFolder(dir.path(), std::chrono::milliseconds(0));
    const auto again = fs.LockFolder(dir.path() + "\\", std::chrono::milliseconds(0));
    EXPECT_TRUE(dir.Exists("sales-archiver.lock"));
  }
  EXPECT_FALSE(dir.Exists("sales-archiver.lock"));
  const Error missing =
      ErrorFrom([&] { fs.LockFolder(dir.Path("missing"), std::chrono::milliseconds(0)); });
  EXPECT_EQ(missing.Cause().rfind(dir.Path("missing") + ": ", 0), 0u) << missing.Cause();
}

}  // namespace
}  // namespace sa::platform
