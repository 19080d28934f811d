// SQL expressions that carry a value of one field into another, as it is
// where it already has the target's form and through the conversion
// functions every connection registers (dao_isstored, dao_convert,
// dao_same) where it has not.
#pragma once

#include <string>

#include "dbengine/table_def.h"

namespace sa::dbengine::sqlite {

// The SQL that reads `value` (of source field `s`) for target field `t`: the
// value itself where it already has the target's storage form and range,
// else dao_convert(), which converts it or fails the statement naming
// `table`.`t`.
std::string ConvertExpression(const std::string& value, const Field& s, const Field& t,
                              const std::string& table);

// The SQL that is true when `value` (of source field `s`) can go into target
// field `t` as it is.
std::string ReadyCheck(const std::string& value, const Field& s, const Field& t);

// The SQL that is true when `value` (of source field `s`), converted for
// target field `t`, equals `copy`.
std::string SameAsCopy(const std::string& value, const Field& s, const Field& t,
                       const std::string& copy);

}  // namespace sa::dbengine::sqlite
