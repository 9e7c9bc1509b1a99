#include "kvaction/alerts/MailAddress.h"

#include <gtest/gtest.h>

#include "vb/testing/ErrorOf.h"

namespace kvaction {
namespace {

TEST(MailAddressTest, OnlyOnePlainMailboxPasses) {
  for (const char* good : {"u@example.com", "first.last+tag@sub.example.org", "jörg@bücher.de"}) {
    EXPECT_TRUE(IsMailbox(good)) << good;
  }
  for (const char* bad :
       {"", "u", "@example.com", "u@", "u@a@b", "u@example.com> NOTIFY=SUCCESS", "<u@example.com>",
        "a@x.com,b@y.com", "a@x.com b@y.com", "a@x.com\r\nRCPT TO:<b@y.com>", "a@x.com\t",
        "\"a b\"@x.com", "a@x.com;b@y.com", "a(c)@x.com", "a@[127.0.0.1]", "a\\b@x.com"}) {
    EXPECT_FALSE(IsMailbox(bad)) << bad;
  }
  const vb::ComError error = vb::testing::ErrorOf(
      [] { RequireMailbox("recipient address", "u@x.com>\r\nDATA", "kvaction.Smtp"); });
  EXPECT_EQ(error.number(), 5);
  EXPECT_EQ(error.description(),
            "The e-mail's recipient address \"u@x.com>??DATA\" is not a single mailbox like "
            "name@example.com (no blanks, control characters or < > , ; : \" ( ) [ ] \\); "
            "nothing was sent.");
}

}  // namespace
}  // namespace kvaction
