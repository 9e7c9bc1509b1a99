#include "kvdata/RightSet.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "kvdata/Errors.h"
#include "kvdata/StoredValue.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

TEST(RightSetParse, ReadsNumbersWithBlanksStarAndNothingAndRefusesAnythingElse) {
  const auto rights = RightSet::Parse(" 50,41 , 42", "test");
  EXPECT_TRUE(rights.Has(41) && rights.Has(50));
  EXPECT_FALSE(rights.Has(43) || rights.IsEvery());
  EXPECT_EQ(rights.ToString(), "41,42,50");
  EXPECT_TRUE(RightSet::Parse("*", "test").IsEvery());
  EXPECT_TRUE(RightSet::Parse("*", "test").Has(255));
  EXPECT_EQ(RightSet::Parse("", "test").ToString(), "");
  for (const auto* bad : {"41,,42", "41;42", "x", "41,", "4 1", "*,41"}) {
    const vb::ComError e =
        vb::testing::ErrorOf([&] { (void)RightSet::Parse(bad, "kvDataServer.UserProfile"); });
    EXPECT_EQ(e.number(), kBadArgument) << bad;
    EXPECT_EQ(e.source(), "kvDataServer.UserProfile");
  }
}

TEST(StoredValueRoundTrip, EveryTypeReadsBackWithItsType) {
  const vb::Variant values[] = {vb::Null,
                                true,
                                false,
                                int16_t{-7},
                                int32_t{40000},
                                0.1,
                                vb::Date::FromParts(2024, 2, 29, 13, 5, 9),
                                std::string("it's \"x\"\n"),
                                std::string()};
  for (const auto& value : values) {
    const auto stored = ToStored(value);
    const vb::Variant text = stored.text ? vb::Variant(*stored.text) : vb::Variant(vb::Null);
    EXPECT_EQ(FromStored(stored.type, text), value);
  }
  // A row changed by hand or by another program is refused, not read as something else.
  const std::pair<int16_t, vb::Variant> unreadable[] = {{vb::vbInteger, "40000"},
                                                        {vb::vbLong, "12x"},
                                                        {vb::vbDouble, ""},
                                                        {vb::vbString, vb::Null},
                                                        {int16_t{99}, "x"}};
  for (const auto& [type, text] : unreadable) {
    const vb::ComError e = vb::testing::ErrorOf([&] { (void)FromStored(type, text); });
    EXPECT_EQ(e.number(), kBadArgument) << type;
    EXPECT_EQ(e.description(),
              "A stored value of type " + std::to_string(type) + " cannot be read.");
  }
}

}  // namespace
}  // namespace kvdata
