// Sending mail: the message text, the refusals, and real deliveries to a loopback relay.
#include "cli/Smtp.h"

#include <gtest/gtest.h>

#include <functional>

#include "cli/SmtpSink.h"
#include "vb/ComError.h"
#include "vb/testing/ErrorOf.h"

namespace cli {
namespace {

MailMessage Notice() {
  return {"Ada \"The\" Admin",
          "ada@example.org",
          {"bob@example.org", "carol@example.org"},
          "Action 42: Fix the roof",
          "Line one\r\n.hidden dot\r\nLast line"};
}

TEST(MailText, WritesHeadersThenTheBodyUnchanged) {
  EXPECT_EQ(MailText(Notice()),
            "From: \"Ada \\\"The\\\" Admin\" <ada@example.org>\r\n"
            "To: bob@example.org, carol@example.org\r\n"
            "Subject: Action 42: Fix the roof\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: 8bit\r\n"
            "\r\n"
            "Line one\r\n.hidden dot\r\nLast line");
}

TEST(MailText, EncodesHeaderTextBeyondAscii) {
  MailMessage mail = Notice();
  mail.fromName = "Zoë";
  mail.subject = "Übung";
  const std::string text = MailText(mail);
  EXPECT_NE(text.find("From: =?UTF-8?B?Wm/Dqw==?= <ada@example.org>\r\n"), std::string::npos);
  EXPECT_NE(text.find("Subject: =?UTF-8?B?w5xidW5n?=\r\n"), std::string::npos);
}

TEST(MailText, RefusesLineBreaksInEveryHeaderValue) {
  const std::function<void(MailMessage&)> injections[] = {
      [](MailMessage& m) { m.subject = "Hi\r\nBcc: eve@example.org"; },
      [](MailMessage& m) { m.fromName = "Ada\nAdmin"; },
      [](MailMessage& m) { m.fromAddress = "ada@example.org\r"; },
      [](MailMessage& m) { m.to.push_back("eve@example.org\r\nRCPT TO:<mallory@example.org>"); }};
  for (const auto& inject : injections) {
    MailMessage mail = Notice();
    inject(mail);
    EXPECT_EQ(vb::testing::ErrorOf([&] { (void)MailText(mail); }).number(),
              vb::kInvalidProcedureCall);
  }
  MailMessage mail = Notice();
  mail.body = "Body lines\r\nare fine";
  EXPECT_NO_THROW((void)MailText(mail));
}

TEST(SendMail, DeliversEnvelopeHeadersAndBodyToTheRelay) {
  const testing::SmtpSink sink;
  SendMail(sink.Address(), Notice());
  const auto received = sink.Received();
  ASSERT_EQ(received.size(), 1U);
  EXPECT_EQ(received[0].mailFrom, "<ada@example.org>");
  EXPECT_EQ(received[0].recipients,
            (std::vector<std::string>{"<bob@example.org>", "<carol@example.org>"}));
  // The relay may see one more line end after the body.
  const std::string sent = MailText(Notice());
  EXPECT_EQ(received[0].data.substr(0, sent.size()), sent);
  EXPECT_LE(received[0].data.size(), sent.size() + 2);
}

TEST(SendMail, RefusedMessagesNeverReachTheRelay) {
  const testing::SmtpSink sink;
  MailMessage injected = Notice();
  injected.subject = "Hi\r\nBcc: eve@example.org";
  EXPECT_THROW(SendMail(sink.Address(), injected), vb::ComError);
  MailMessage nobody = Notice();
  nobody.to.clear();
  EXPECT_THROW(SendMail(sink.Address(), nobody), vb::ComError);
  EXPECT_THROW(SendMail("", Notice()), vb::ComError);
  EXPECT_EQ(sink.Sessions(), 0);
}

TEST(SendMail, AnUnreachableRelayIsReported) {
  std::string address;
  {
    const testing::SmtpSink gone;
    address = gone.Address();
  }
  const std::string description =
      vb::testing::ErrorOf([&] { SendMail(address, Notice()); }).description();
  EXPECT_NE(description.find("was not delivered to smtp://" + address), std::string::npos)
      << description;
}

}  // namespace
}  // namespace cli
