// The sa::Error an action throws, for tests that check its number, its
// description or its cause. A test failure when the action throws none.
#pragma once

#include <gtest/gtest.h>

#include "core/error.h"

namespace sa::testing {

template <typename Action>
Error ErrorFrom(Action action) {
  try {
    action();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no sa::Error thrown";
  return Error(0, "");
}

}  // namespace sa::testing
