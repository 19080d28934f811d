#include "bench_files.h"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <system_error>

namespace sa::bench {

namespace fs = std::filesystem;

WorkFolder::WorkFolder(const std::string& base, bool keep) : keep_(keep) {
  fs::create_directories(base);
  std::string pattern = (fs::path(base) / "archive-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a folder in " + base);
  }
  path_ = fs::absolute(pattern).lexically_normal();
}

WorkFolder::~WorkFolder() {
  if (keep_) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void RemoveUnlessKept(const WorkFolder& work, const fs::path& path) {
  if (work.Keep()) return;
  std::error_code ec;
  fs::remove_all(path, ec);
}

fs::path CopyShop(const fs::path& shop, const fs::path& folder) {
  const fs::path data = folder / "datos";
  fs::create_directories(data);
  fs::copy_file(shop / "datos" / "live.db", data / "live.db");
  fs::copy_file(shop / "datos" / "settings.ini", data / "settings.ini");
  // What the copy left dirty is written now, not during a timed run.
  ::sync();
  return data;
}

std::string ReadText(const fs::path& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

}  // namespace sa::bench
