// Start-up on an arbitrary `fifo`, with the real file system.
//
// Everything happens inside a private temporary folder:
//   prog/       the program folder: `fifo` and a stale `registro.txt`
//   data/       emptied before every input; line 1 of the fifo is forced
//               below it, so the archive folder start-up makes lands here
//   cfg/        line 2 of the fifo is forced below it; holds the settings
//               files ok, bad and empty, the folder dir, and tail, which is
//               whatever the fifo holds past its seventh line
// In both forced lines every '.' becomes '_', so no component can climb out.
//
// Beyond "no crash, no hang" it checks what start-up promises: the exit
// status matches what the runner and the message sink saw, the fifo is left
// as it was, and the stale log is gone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "boot/startup.h"
#include "core/error.h"
#include "core/params.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"

namespace {
namespace fs = std::filesystem;

void Check(bool ok) {
  if (!ok) std::abort();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Check(static_cast<bool>(out));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A settings text whose typed positions all hold valid values.
std::string ValidSettings() {
  std::string text;
  for (int position = 0; position < 93; ++position) {
    std::string first = "x";
    if ((position >= 3 && position <= 6) || (position >= 14 && position <= 31) || position == 75)
      first = "True";
    if (position == 34) first = "2.5";
    if (position == 45 || position == 47 || position == 91 || position == 92) first = "";
    if (position == 76) first = "30";
    text += first + ",0\r\n";
  }
  return text;
}

class Sandbox {
 public:
  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "sa-fifo-fuzz-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr);
    root = pattern;
    fs::create_directories(root / "prog");
    fs::create_directories(root / "data");
    fs::create_directories(root / "cfg" / "dir");
    WriteFile(root / "cfg" / "ok", ValidSettings());
    WriteFile(root / "cfg" / "bad", "a,b\r\nc,d\r\ne,f\r\nmaybe,0\r\n");
    WriteFile(root / "cfg" / "empty", "");
  }
  ~Sandbox() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  fs::path root;
};

Sandbox& TheSandbox() {
  static Sandbox sandbox;
  return sandbox;
}

struct Line {
  std::string text;
  std::string end;  // "\r\n", "\n", "\r" or "" for a last line without one
};

// The fifo's lines as start-up will split them, on the raw bytes: the line
// ends are ASCII, so decoding does not move them.
std::vector<Line> RawLines(std::string_view bytes) {
  std::vector<Line> lines;
  size_t start = 0;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const char c = bytes[pos];
    if (c != '\r' && c != '\n') {
      ++pos;
      continue;
    }
    const size_t endLength =
        (c == '\r' && pos + 1 < bytes.size() && bytes[pos + 1] == '\n') ? 2 : 1;
    lines.push_back(
        {std::string(bytes.substr(start, pos - start)), std::string(bytes.substr(pos, endLength))});
    pos += endLength;
    start = pos;
  }
  if (start < bytes.size()) lines.push_back({std::string(bytes.substr(start)), ""});
  return lines;
}

std::string Inside(const fs::path& folder, std::string name) {
  for (char& c : name) {
    if (c == '.') c = '_';
  }
  return folder.string() + "/" + name;
}

class SilentSink : public sa::platform::MessageSink {
 public:
  void ShowCritical(const std::string&, const std::string&) override { ++shown; }
  int shown = 0;
};

// Answers by `outcome`: 0 complete, 1 and 2 stopped, 3 throws as a live
// database that cannot be opened does.
int Unexpected() {
  Check(false);
  return 0;
}

class RecordingRunner : public sa::boot::ArchiveRunner {
 public:
  explicit RecordingRunner(int outcome) : outcome_(outcome) {}
  int RunArchive(bool) override {
    ++runs;
    if (outcome_ == 3) throw sa::Error(3044, "Cannot open database", "fuzz");
    return outcome_;
  }
  // Start-up without a switch never asks for an operator command.
  int DryRun(bool) override { return Unexpected(); }
  int VerifyArchives() override { return Unexpected(); }
  int RestoreMonth(const std::string&) override { return Unexpected(); }
  int runs = 0;

 private:
  int outcome_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Sandbox& box = TheSandbox();
  std::string_view input(reinterpret_cast<const char*>(data), size);

  std::string fifo;
  std::string_view body = input;
  if (body.starts_with("\xEF\xBB\xBF")) {
    fifo = "\xEF\xBB\xBF";
    body.remove_prefix(3);
  }
  std::vector<Line> lines = RawLines(body);
  if (lines.size() > 0) lines[0].text = Inside(box.root / "data", lines[0].text);
  if (lines.size() > 1) lines[1].text = Inside(box.root / "cfg", lines[1].text);
  std::string tail;
  for (size_t i = 0; i < lines.size(); ++i) {
    fifo += lines[i].text + lines[i].end;
    if (i >= 7) tail += lines[i].text + lines[i].end;
  }

  std::error_code ec;
  fs::remove_all(box.root / "data", ec);
  fs::create_directory(box.root / "data");
  WriteFile(box.root / "cfg" / "tail", tail);
  WriteFile(box.root / "prog" / "fifo", fifo);
  WriteFile(box.root / "prog" / "registro.txt", "earlier run\n");

  SilentSink sink;
  RecordingRunner runner(static_cast<int>(size % 4));
  const sa::boot::StartupPlatform platform{sa::platform::RealFileSystem(), sink,
                                           (box.root / "prog").string()};
  sa::LaunchParams launch;
  sa::Settings settings;
  const int status = sa::boot::RunStartup(platform, launch, settings, runner);

  Check(ReadFile(box.root / "prog" / "fifo") == fifo);
  Check(!fs::exists(box.root / "prog" / "registro.txt"));
  switch (status) {
    case sa::boot::kExitComplete:
    case sa::boot::kExitStopped:
      Check(runner.runs == 1 && sink.shown == 0);
      Check((status == sa::boot::kExitComplete) == (size % 4 == 0));
      Check(launch.dbPath.starts_with(launch.dataFolder + "/"));
      Check(fs::exists(launch.dataFolder + "/S"));
      Check(launch.loginActive || (launch.userName == "admin" && launch.userLevel == 0));
      break;
    case sa::boot::kExitRefused:
      Check(sink.shown == 1);
      Check(runner.runs == 0 || size % 4 == 3);
      break;
    default:
      Check(false);
  }
  return 0;
}
