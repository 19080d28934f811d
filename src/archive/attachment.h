// An archive attached to the live database for the length of a scope.
#pragma once

#include <string>

#include "core/error.h"
#include "dbengine/engine.h"

namespace sa::archive {

// Attaches on construction; on every path out, rolls back a transaction
// still open and detaches.
class Attachment {
 public:
  Attachment(dbengine::Database& live, const std::string& path, std::string alias)
      : live_(live), alias_(std::move(alias)) {
    live_.Attach(path, alias_);
  }
  ~Attachment() {
    try {
      if (live_.InTransaction()) live_.Rollback();
      live_.Detach(alias_);
    } catch (const Error&) {
      // The connection closes with the live database; nothing is lost by
      // leaving the archive attached until then.
    }
  }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

 private:
  dbengine::Database& live_;
  std::string alias_;
};

}  // namespace sa::archive
