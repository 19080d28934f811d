#include "dbengine/file_kind.h"

#include "core/error.h"

namespace sa::dbengine {

namespace {

// The first 16 bytes of every SQLite 3 file, the closing NUL included.
constexpr std::string_view kSqliteSignature("SQLite format 3", 16);
// Jet and ACE files name their engine from their fifth byte on.
constexpr size_t kJetSignatureAt = 4;
constexpr std::string_view kJetSignature = "Standard Jet DB";
constexpr std::string_view kAceSignature = "Standard ACE DB";

}  // namespace

FileKind KindOfHead(std::string_view head) {
  if (head.substr(0, kSqliteSignature.size()) == kSqliteSignature) return FileKind::kSqlite;
  if (head.size() >= kJetSignatureAt + kJetSignature.size()) {
    const std::string_view engine = head.substr(kJetSignatureAt, kJetSignature.size());
    if (engine == kJetSignature || engine == kAceSignature) return FileKind::kJet;
  }
  return FileKind::kOther;
}

std::optional<FileKind> KindOfFile(const platform::FileSystem& fs, const std::string& path) {
  try {
    return KindOfHead(fs.ReadFileHead(path, kSignatureBytes));
  } catch (const Error&) {
    return std::nullopt;
  }
}

}  // namespace sa::dbengine
