#include "kvdata/Base64.h"

#include <gtest/gtest.h>

namespace kvdata {
namespace {

TEST(Base64, EncodesWithPaddingOnOneLine) {
  EXPECT_EQ(ToBase64(""), "");
  EXPECT_EQ(ToBase64("f"), "Zg==");
  EXPECT_EQ(ToBase64("fo"), "Zm8=");
  EXPECT_EQ(ToBase64("foo"), "Zm9v");
  EXPECT_EQ(ToBase64(std::string_view("\0\xff\x10", 3)), "AP8Q");
}

TEST(Base64, DecodesPastLineBreaksAndRoundTripsEveryByte) {
  EXPECT_EQ(FromBase64("Zm9v\r\nYmFy"), "foobar");
  EXPECT_EQ(FromBase64(" Zg== "), "f");
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  EXPECT_EQ(FromBase64(ToBase64(bytes)), bytes);
}

TEST(Base64, RefusesWhatIsNotBase64) {
  EXPECT_FALSE(FromBase64("Zm9v!"));
  EXPECT_FALSE(FromBase64("Zg="));     // padding cut short
  EXPECT_FALSE(FromBase64("Zm9v-_"));  // the URL alphabet
}

}  // namespace
}  // namespace kvdata
