// Recording stand-ins for the platform, for tests:
//
//  FakeMessageSink      keeps every ShowCritical call in `shown`, in order.
//  FakeClock            Today() returns `today`; set it freely.
//  FakeProgressDisplay  counts Show() calls in `shows` and keeps every Draw()
//                       in `draws`.
//  FakeFileSystem       an in-memory file system: `files` (path -> bytes) and
//                       `folders` are its contents; removals, folders made and
//                       renames are recorded. A path in `failing` makes any
//                       change or read of it throw sa::Error 75, to reach
//                       error paths a real folder cannot show when tests run
//                       with full rights. LockFolder records each folder
//                       locked in `locked` and keeps it in `held` while its
//                       lock lives; a folder in `heldElsewhere` is refused at
//                       once, as another process's hold would be after the wait.
//
// The real file system on a TempDir (support/temp_dir.h) is the default for
// tests that touch files; the fake is for failures and for code that must be
// shown to leave the disk alone.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "platform/progress_display.h"

namespace sa::testing {

class FakeMessageSink : public platform::MessageSink {
 public:
  struct Shown {
    std::string message;
    std::string cause;
  };

  void ShowCritical(const std::string& message, const std::string& cause) override {
    shown.push_back({message, cause});
  }

  std::vector<Shown> shown;
};

class FakeClock : public platform::Clock {
 public:
  explicit FakeClock(CivilDate date = {2024, 1, 15}) : today(date) {}
  CivilDate Today() const override { return today; }

  CivilDate today;
};

class FakeProgressDisplay : public platform::ProgressDisplay {
 public:
  struct Drawn {
    float min;
    float max;
    float value;
  };

  void Show() override { ++shows; }
  void Draw(float min, float max, float value) override { draws.push_back({min, max, value}); }

  int shows = 0;
  std::vector<Drawn> draws;
};

class FakeFileSystem : public platform::FileSystem {
 public:
  bool IsFile(const std::string& path) const override;
  bool Exists(const std::string& path) const override;
  void MakeFolder(const std::string& path) override;
  void RemoveFile(const std::string& path) override;
  void RenameFile(const std::string& from, const std::string& to) override;
  void WriteFileDurably(const std::string& path, std::string_view bytes) override;
  std::string ReadFile(const std::string& path) const override;
  std::string ReadFileHead(const std::string& path, size_t limit) const override;
  void AppendFile(const std::string& path, std::string_view bytes) override;
  std::vector<std::string> ListFolder(const std::string& path) const override;
  std::unique_ptr<platform::FolderLock> LockFolder(const std::string& folder,
                                                   std::chrono::milliseconds wait) override;

  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  std::set<std::string> failing;

  std::vector<std::string> removed;
  std::vector<std::string> foldersMade;
  std::vector<std::pair<std::string, std::string>> renamed;

  std::set<std::string> heldElsewhere;
  std::vector<std::string> locked;
  std::multiset<std::string> held;
};

}  // namespace sa::testing
