#pragma once
// Test helper: the failure a statement raises.
#include <gtest/gtest.h>

#include <utility>

#include "vb/ComError.h"

namespace vb::testing {

/// Runs statement and returns the error it raised (fails the test when it raised none).
template <class Statement>
ComError ErrorOf(Statement&& statement) {
  try {
    std::forward<Statement>(statement)();
  } catch (const ComError& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return {0, "", ""};
}

}  // namespace vb::testing
