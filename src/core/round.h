// Rounding as the host's numbers and the stored whole-number fields round.
#pragma once

namespace sa {

// Rounds to the nearest whole number, halves to the even neighbour (2.5
// gives 2, 3.5 gives 4); infinities and NaN come back as they are.
double RoundHalfEven(double value);

}  // namespace sa
