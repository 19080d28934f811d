// Record identities named to a set statement: staged in the connection's
// temp.sa_keys table as stretches of consecutive rowids, in their order, one
// row per stretch (its bounds lo and hi, and the position pos of its first
// identity among all of them). Records written in date order make long
// stretches, so a month's run is a handful of rows there, and a statement
// joins it by "rowid BETWEEN k.lo AND k.hi", the i-th identity at position
// k.pos + rowid - k.lo.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dbengine/identity_stretches.h"
#include "dbengine/sqlite/sqlite_handle.h"

namespace sa::dbengine::sqlite {

class StagedKeys {
 public:
  // Stages `keys` unless they are staged already. Outside a transaction the
  // staging commits on its own, and is done again for the next statement.
  void Stage(Connection& conn, std::span<const int64_t> keys);
  // Keys staged inside work that is undone are gone with it.
  void Forget() { valid_ = false; }
  // The stretches staged last.
  const std::vector<IdentityStretches::Stretch>& Stretches() const { return staged_.Stretches(); }

 private:
  IdentityStretches staged_;
  bool valid_ = false;
};

}  // namespace sa::dbengine::sqlite
