#include "vb/ComError.h"

#include <memory>

#include <gtest/gtest.h>

#include "vb/ErrorTrap.h"
#include "vb/testing/ErrorOf.h"

namespace vb {
namespace {

TEST(ComErrorRuntime, CarriesTheHostNumberSourceAndText) {
  const ComError e = ComError::Runtime(kDuplicateKey);
  EXPECT_EQ(e.number(), 457);
  EXPECT_EQ(e.source(), kRuntimeSource);
  EXPECT_EQ(e.description(), "This key is already associated with an element of this collection");
  EXPECT_STREQ(e.what(), e.description().c_str());
  EXPECT_EQ(ComError::RuntimeText(91), "Object variable or With block variable not set");
  EXPECT_EQ(ComError::RuntimeText(94), "Invalid use of Null");
  EXPECT_EQ(ComError::RuntimeText(12345), "");
}

TEST(ComErrorRequire, RaisesObjectNotSetForNothing) {
  const std::shared_ptr<int> nothing;
  EXPECT_EQ(testing::ErrorOf([&] { (void)Require(nothing); }).number(), kObjectNotSet);
  const auto some = std::make_shared<int>(1);
  EXPECT_EQ(Require(some).get(), some.get());
}

TEST(ErrorTrap, KeepsTheLastFailureAndLeavesTheTargetAlone) {
  ErrorTrap trap;
  int target = 1;
  EXPECT_FALSE(trap.Assign(target, []() -> int { throw ComError::Runtime(kOverflow); }));
  EXPECT_EQ(target, 1);
  EXPECT_FALSE(trap.Run([] { throw ComError(42, "src", "second"); }));
  EXPECT_TRUE(trap.Assign(target, [] { return 2; }));
  EXPECT_EQ(target, 2);
  ASSERT_TRUE(trap.HasPending());
  const ComError e = testing::ErrorOf([&] { trap.RaiseIfPending("clsAction."); });
  EXPECT_EQ(e.number(), 42);
  EXPECT_EQ(e.source(), "clsAction.src");
  EXPECT_EQ(e.description(), "second");
}

}  // namespace
}  // namespace vb
