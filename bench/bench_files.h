// The benchmark's folders and files: a work folder of its own, shop copies,
// the program's output read back.
#pragma once

#include <filesystem>
#include <string>

namespace sa::bench {

// A fresh folder for one benchmark run, removed with everything in it unless
// it is to be kept.
class WorkFolder {
 public:
  WorkFolder(const std::string& base, bool keep);
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  bool Keep() const { return keep_; }

 private:
  std::filesystem::path path_;
  bool keep_;
};

// Removes `path` and everything in it, unless the work folder is kept.
void RemoveUnlessKept(const WorkFolder& work, const std::filesystem::path& path);

// Copies a shop's live database and settings into `folder`/datos, and
// returns that folder. What the copy left dirty is written before it
// returns, not during a timed run.
std::filesystem::path CopyShop(const std::filesystem::path& shop,
                               const std::filesystem::path& folder);

// The file's bytes; empty when it cannot be read.
std::string ReadText(const std::filesystem::path& path);

}  // namespace sa::bench
