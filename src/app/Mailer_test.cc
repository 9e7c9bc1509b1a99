// Sending mail: the message text, the refusals, and real deliveries to a loopback relay.
#include "app/Mailer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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
          {},
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

// Every refusal comes before the relay is reached: header values that would break a line or
// the envelope, no recipient, no relay.
TEST(Deliver, RefusedMessagesNeverReachTheRelay) {
  const testing::SmtpSink sink;
  const std::function<void(OutgoingMail&)> refusals[] = {
      [](OutgoingMail& m) { m.subject = "Hi\r\nBcc: eve@example.org"; },
      [](OutgoingMail& m) { m.fromName = "Ada\nAdmin"; },
      [](OutgoingMail& m) { m.fromAddress = "ada@example.org\r"; },
      [](OutgoingMail& m) { m.to.push_back("eve@example.org\r\nRCPT TO:<mallory@example.org>"); },
      [](OutgoingMail& m) { m.to.push_back("u@example.com> NOTIFY=SUCCESS"); },
      [](OutgoingMail& m) { m.to.push_back("u@example.com, eve@example.org"); },
      [](OutgoingMail& m) { m.fromAddress = "ada@example.org> SIZE=1"; },
      [](OutgoingMail& m) { m.to.clear(); }};
  for (const auto& refuse : refusals) {
    OutgoingMail mail = Notice();
    refuse(mail);
    EXPECT_THROW(Deliver(RelayAt(sink.Address()), mail), vb::ComError);
  }
  EXPECT_THROW(Deliver(Relay{}, Notice()), vb::ComError);
  // A relay address of another scheme (stored before addresses were checked) sends nothing:
  // no file is written, no web server gets the notice.
  const auto file =
      std::filesystem::temp_directory_path() / ("kvaction-notice-" + std::to_string(::getpid()));
  for (const std::string& host :
       {"file://" + file.string(), "http://" + sink.Address() + "/", "FILE://" + file.string()}) {
    SCOPED_TRACE(host);
    const vb::ComError e = vb::testing::ErrorOf([&] { Deliver(RelayAt(host), Notice()); });
    EXPECT_EQ(e.description(), "SMTPHost: '" + host + "' is not " + std::string(kRelayForms));
  }
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(sink.Sessions(), 0);
}

TEST(Deliver, RelayAddressesAreHostsOrMailURLsOnly) {
  for (const char* host :
       {"mail.example.com", "mail.example.com:587", "relay_1", "10.0.0.2:25", "[::1]", "[::1]:2525",
        "smtp://mail.example.com", "SMTPS://m:465/ehlo"}) {
    EXPECT_NO_THROW(RequireRelayAddress(host)) << host;
  }
  for (const char* host : {"file:///etc/passwd",
                           "http://mail.example.com/",
                           "file:/etc/passwd",
                           "smtp:mail",
                           "mail.example.com:",
                           ":25",
                           "mail:25x",
                           "mail:123456",
                           "mail:0",
                           "mail:65536",
                           "mail:-25",
                           "",
                           "mail example.com",
                           "smtp://",
                           "smtp://mail /x",
                           "gopher://mail",
                           "[::1",
                           "[]:25",
                           "[::1]25",
                           "[::1]:",
                           "dict://mail:2628"}) {
    EXPECT_THROW(RequireRelayAddress(host), vb::ComError) << host;
  }
}

// The envelope, headers and body reach the relay as written, over TLS and with the login when
// the settings ask for them, and never in clear when STARTTLS is asked for but not offered.
TEST(Deliver, TheRelayGetsTheMessageOverTheConnectionTheSettingsAsk) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("kvaction-tls-" + std::to_string(::getpid()));
  const auto certificate = testing::SelfSigned::Make(folder);
  struct Case {
    std::string name;
    MailSecurity security;
    bool offered;       // the relay speaks TLS as asked
    bool gone = false;  // nothing listens where the relay was
  };
  const std::vector<Case> cases = {
      {"plain", MailSecurity::None, false},
      {"STARTTLS", MailSecurity::StartTls, true},
      {"implicit TLS", MailSecurity::Tls, true},
      {"STARTTLS asked, not offered", MailSecurity::StartTls, false},
      {"unreachable", MailSecurity::None, false, true},
  };
  const std::string sent = MessageText(Notice());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool secure = c.security != MailSecurity::None;
    testing::SinkOptions options;
    if (c.offered) options.tls = certificate;
    options.implicitTls = c.security == MailSecurity::Tls;
    options.password = "s3cret";
    const testing::SmtpSink sink(options);
    std::string host = sink.Address();
    if (c.gone) {
      const testing::SmtpSink closed;
      host = closed.Address();
    }
    const Relay relay{.host = host,
                      .security = c.security,
                      .user = secure ? "mailer" : "",
                      .password = "s3cret",
                      .caFile = certificate.certificate.string()};
    if (c.gone || (secure && !c.offered)) {
      const std::string description =
          vb::testing::ErrorOf([&] { Deliver(relay, Notice()); }).description();
      EXPECT_NE(description.find("was not delivered to smtp://" + relay.host), std::string::npos)
          << description;
      EXPECT_TRUE(sink.Received().empty());
      continue;
    }
    Deliver(relay, Notice());
    const auto received = sink.Received();
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].secure, secure);
    EXPECT_EQ(received[0].login, relay.user);
    EXPECT_EQ(received[0].mailFrom, "<ada@example.org>");
    EXPECT_EQ(received[0].recipients,
              (std::vector<std::string>{"<bob@example.org>", "<carol@example.org>"}));
    // The relay may see one more line end after the body.
    EXPECT_EQ(received[0].data.substr(0, sent.size()), sent);
    EXPECT_LE(received[0].data.size(), sent.size() + 2);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace app
