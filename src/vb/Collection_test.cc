#include "vb/Collection.h"

#include <gtest/gtest.h>

#include "vb/ComError.h"
#include "vb/testing/ErrorOf.h"

namespace vb {
namespace {

using testing::ErrorOf;

TEST(CollectionAdd, KeysAreUniqueWithoutRegardToCase) {
  Collection c;
  c.Add(int32_t{1}, "Alpha");
  c.Add(int32_t{2});
  c.Add(int32_t{3});  // items without a key never clash
  EXPECT_EQ(ErrorOf([&] { c.Add(int32_t{4}, "ALPHA"); }).number(), kDuplicateKey);
  EXPECT_EQ(c.Count(), 3);
  EXPECT_EQ(c.Item("alpha"), Variant(int32_t{1}));
  EXPECT_EQ(c.KeyAt(1), "Alpha");
  EXPECT_EQ(c.KeyAt(2), "");
  EXPECT_TRUE(c.Contains("aLpHa"));
  EXPECT_FALSE(c.Contains(""));
  // Positions are one-based and checked.
  EXPECT_EQ(c.Item(2), Variant(int32_t{2}));
  EXPECT_EQ(ErrorOf([&] { (void)c.Item(0); }).number(), kSubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([&] { (void)c.Item(4); }).number(), kSubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([&] { (void)c.Item("k3"); }).number(), kInvalidProcedureCall);
}

TEST(CollectionRemove, ClosesTheGapAndFreesTheKey) {
  Collection c;
  c.Add("a", "k1");
  c.Add("b", "k2");
  c.Add("c");
  c.Remove("K1");
  EXPECT_EQ(c.Item(1), Variant("b"));
  c.Add("a again", "k1");
  c.Remove(2);
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(c.Item(2), Variant("a again"));
  EXPECT_EQ(ErrorOf([&] { c.Remove(5); }).number(), kSubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([&] { c.Remove("nope"); }).number(), kInvalidProcedureCall);
}

}  // namespace
}  // namespace vb
