#include "kvaction/action/VersionText.h"

#include <gtest/gtest.h>

namespace kvaction {
namespace {

TEST(VersionText, PadsMinorAndRevisionToAtLeastThreeDigits) {
  EXPECT_EQ(VersionText(1, 0, 117), "1.000.117");
  EXPECT_EQ(VersionText(12, 34, 5), "12.034.005");
  EXPECT_EQ(VersionText(1, 0, 1234), "1.000.1234");
}

}  // namespace
}  // namespace kvaction
