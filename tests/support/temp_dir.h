// TempDir: a fresh folder under the system's temporary folder, removed with
// everything in it when the object goes out of scope. Tests put their real
// files here instead of in the working folder.
//
//   sa::testing::TempDir dir;
//   dir.Write("fifo", "a\nb\n");             // relative names, sub-folders allowed
//   std::string p = dir.Path("fifo");        // full path for the code under test
//   EXPECT_EQ(dir.Read("fifo"), "a\nb\n");
#pragma once

#include <string>
#include <string_view>

namespace sa::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder itself, without a trailing separator.
  const std::string& path() const { return path_; }
  // `name` inside the folder ("a/b.txt" allowed).
  std::string Path(std::string_view name) const;

  // Writes `bytes` to `name`, replacing it; creates missing sub-folders.
  void Write(std::string_view name, std::string_view bytes) const;
  // The whole file; fails the current test when it cannot be read.
  std::string Read(std::string_view name) const;
  void MakeFolder(std::string_view name) const;
  bool IsFile(std::string_view name) const;
  bool IsFolder(std::string_view name) const;
  bool Exists(std::string_view name) const;
  // Removes a file or a folder with everything in it.
  void Remove(std::string_view name) const;

 private:
  std::string path_;
};

}  // namespace sa::testing
