#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace sa::testing {
namespace fs = std::filesystem;

namespace {

// Names are UTF-8 everywhere in the program; on Windows a narrow path would
// be read in the ANSI code page instead.
fs::path FromUtf8(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string ToUtf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A name no other test, here or in a parallel process, is using.
fs::path NewFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "sa-test-" << std::hex << random() << '-' << counter++;
    const fs::path candidate = base / name.str();
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) return candidate;
  }
  throw std::runtime_error("cannot create a temporary folder under " + base.string());
}

}  // namespace

TempDir::TempDir() : path_(ToUtf8(NewFolder())) {}

TempDir::~TempDir() {
  std::error_code ec;  // a destructor must not throw; a leftover folder is harmless
  fs::remove_all(FromUtf8(path_), ec);
}

std::string TempDir::Path(std::string_view name) const {
  return ToUtf8(FromUtf8(path_) / FromUtf8(name));
}

void TempDir::Write(std::string_view name, std::string_view bytes) const {
  const fs::path target = FromUtf8(Path(name));
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << target;
}

std::string TempDir::Read(std::string_view name) const {
  std::ifstream in(FromUtf8(Path(name)), std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << Path(name);
    return {};
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TempDir::MakeFolder(std::string_view name) const {
  fs::create_directories(FromUtf8(Path(name)));
}

bool TempDir::IsFile(std::string_view name) const {
  return fs::is_regular_file(FromUtf8(Path(name)));
}

bool TempDir::IsFolder(std::string_view name) const {
  return fs::is_directory(FromUtf8(Path(name)));
}

bool TempDir::Exists(std::string_view name) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(FromUtf8(Path(name)), ec));
}

void TempDir::Remove(std::string_view name) const {
  std::error_code ec;
  fs::remove_all(FromUtf8(Path(name)), ec);
}

}  // namespace sa::testing
