// Sending mail: the message text, the refusals, and real deliveries to a loopback relay.
#include "app/Mailer.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/testing/SmtpSink.h"
#include "vb/ComError.h"
#include "vb/testing/ErrorOf.h"

namespace app {
namespace {

Relay RelayAt(std::string host) {
  Relay relay;
  relay.host = std::move(host);
  return relay;
}

OutgoingMail Notice() {
  return {"",
          "Ada \"The\" Admin",
          "ada@example.org",
          {"bob@example.org", "carol@example.org"},
          "Action 42: Fix the roof",
          "Line one\r\n.hidden dot\r\nLast line",
          {}};
}

TEST(MailText, WritesHeadersThenTheBodyUnchanged) {
  EXPECT_EQ(MessageText(Notice()),
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
  OutgoingMail mail = Notice();
  mail.fromName = "Zoë";
  mail.subject = "Übung";
  const std::string text = MessageText(mail);
  EXPECT_NE(text.find("From: =?UTF-8?B?Wm/Dqw==?= <ada@example.org>\r\n"), std::string::npos);
  EXPECT_NE(text.find("Subject: =?UTF-8?B?w5xidW5n?=\r\n"), std::string::npos);
}

TEST(MailText, RefusesLineBreaksInEveryHeaderValue) {
  const std::function<void(OutgoingMail&)> injections[] = {
      [](OutgoingMail& m) { m.subject = "Hi\r\nBcc: eve@example.org"; },
      [](OutgoingMail& m) { m.fromName = "Ada\nAdmin"; },
      [](OutgoingMail& m) { m.fromAddress = "ada@example.org\r"; },
      [](OutgoingMail& m) { m.to.push_back("eve@example.org\r\nRCPT TO:<mallory@example.org>"); },
      [](OutgoingMail& m) { m.to.push_back("u@example.com> NOTIFY=SUCCESS"); },
      [](OutgoingMail& m) { m.to.push_back("u@example.com, eve@example.org"); },
      [](OutgoingMail& m) { m.fromAddress = "ada@example.org> SIZE=1"; }};
  for (const auto& inject : injections) {
    OutgoingMail mail = Notice();
    inject(mail);
    EXPECT_THROW((void)MessageText(mail), vb::ComError);
  }
  OutgoingMail mail = Notice();
  mail.body = "Body lines\r\nare fine";
  EXPECT_NO_THROW((void)MessageText(mail));
}

TEST(Deliver, DeliversEnvelopeHeadersAndBodyToTheRelay) {
  const testing::SmtpSink sink;
  Deliver(RelayAt(sink.Address()), Notice());
  const auto received = sink.Received();
  ASSERT_EQ(received.size(), 1U);
  EXPECT_EQ(received[0].mailFrom, "<ada@example.org>");
  EXPECT_EQ(received[0].recipients,
            (std::vector<std::string>{"<bob@example.org>", "<carol@example.org>"}));
  // The relay may see one more line end after the body.
  const std::string sent = MessageText(Notice());
  EXPECT_EQ(received[0].data.substr(0, sent.size()), sent);
  EXPECT_LE(received[0].data.size(), sent.size() + 2);
}

TEST(Deliver, RefusedMessagesNeverReachTheRelay) {
  const testing::SmtpSink sink;
  OutgoingMail injected = Notice();
  injected.subject = "Hi\r\nBcc: eve@example.org";
  EXPECT_THROW(Deliver(RelayAt(sink.Address()), injected), vb::ComError);
  OutgoingMail nobody = Notice();
  nobody.to.clear();
  EXPECT_THROW(Deliver(RelayAt(sink.Address()), nobody), vb::ComError);
  EXPECT_THROW(Deliver(Relay{}, Notice()), vb::ComError);
  EXPECT_EQ(sink.Sessions(), 0);
}

TEST(Deliver, AnUnreachableRelayIsReported) {
  std::string address;
  {
    const testing::SmtpSink gone;
    address = gone.Address();
  }
  const std::string description =
      vb::testing::ErrorOf([&] { Deliver(RelayAt(address), Notice()); }).description();
  EXPECT_NE(description.find("was not delivered to smtp://" + address), std::string::npos)
      << description;
}

}  // namespace
}  // namespace app
