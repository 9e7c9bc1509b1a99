// Mail from the command and from a running server, on both engines, against a loopback relay:
// `mail send` retries what a relay that was down refused, `mail list` shows what waits and what
// went, `remind` queues one digest per user and day with an HTML part that escapes what people
// typed, and the server's mail work reminds once, at ReminderTime on the clock of TimeZone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "app/testing/SmtpSink.h"
#include "cli/CommandTest.h"
#include "kvaction/action/ActionTest.h"
#include "web/MailWorker.h"

namespace cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

/// A clock a test moves while another thread reads it.
class MovableClock final : public vb::Clock {
 public:
  explicit MovableClock(const vb::Date& now) : serial_(now.Serial()) {}
  [[nodiscard]] vb::Date Now() const override { return vb::Date::FromSerial(serial_.load()); }
  void Set(const vb::Date& now) { serial_.store(now.Serial()); }

 private:
  std::atomic<double> serial_;
};

/// The part of a received message from the header naming type on.
std::string PartOf(const std::string& data, std::string_view type) {
  const size_t at = data.find("Content-Type: " + std::string(type));
  return at == std::string::npos ? std::string() : data.substr(at);
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 1000 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

class MailCommand : public testing::CommandTest<kvaction::ActionTest> {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    if (HasFatalFailure()) return;
    AddUser("olga", "pw", kvdata::kSuperUserGroup, "Olga Ops", "olga@example.org");
  }
  /// `kvaction --user admin ARGS` minutes after the pinned moment; standard output.
  std::string Later(int minutes, std::vector<std::string> args) const {
    args.insert(args.begin(),
                {"--connection", ConnectionString(), "--user", "admin", "--password-stdin"});
    const auto clock = std::make_shared<vb::FixedClock>(
        vb::Date::FromSerial(pinnedClock_->Now().Serial() + minutes / 1440.0));
    const testing::Outcome outcome = testing::Executed(args, "secret\n", [&](Options& options) {
      options.clock = clock;
      options.configFolder = configFolder_.string();
      options.cheapPasswords = true;
    });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    return outcome.out;
  }
};

TEST_P(MailCommand, SendListAndRemindGoThroughTheOutboxToTheRelay) {
  const app::testing::SmtpSink sink;
  std::string down;
  {
    const app::testing::SmtpSink closed;
    down = closed.Address();
  }
  Run("admin", {"settings", "set", "AutoEmail", "true"});
  Run("admin", {"settings", "set", "SMTPHost", down});
  Run("admin", {"settings", "set", "WebURL", "https://actions.example.org"});
  const std::string subject = "<script>alert(1)</script> & pump";
  const testing::Outcome added =
      As("admin", {"add", "--subject", subject, "--due", "3/14/2024", "--assignee", "olga"});
  EXPECT_EQ(added.exitCode, 0);
  EXPECT_THAT(added.err, HasSubstr("the change is saved, but its notice was not delivered"));
  const nlohmann::json waiting = Json("admin", {"mail", "list"});
  ASSERT_EQ(waiting.size(), 1U);
  EXPECT_EQ(waiting[0]["State"], "waiting");
  EXPECT_EQ(waiting[0]["Attempts"], 1);
  EXPECT_EQ(waiting[0]["To"], "olga@example.org");
  EXPECT_NE(waiting[0]["LastError"], "");

  Run("admin", {"settings", "set", "SMTPHost", sink.Address()});
  // After the back-off the notice goes once.
  EXPECT_EQ(Later(2, {"mail", "send"}), "Delivered 1, to be tried again 0, given up 0.\n");
  EXPECT_EQ(Json("admin", {"mail", "list"}).size(), 0U);
  EXPECT_EQ(Json("admin", {"mail", "list", "--all"})[0]["State"], "sent");

  EXPECT_THAT(Run("admin", {"remind", "--dry-run"}),
              HasSubstr("To: olga@example.org\nSubject: Reminder for 3/15/2024: 1 action needs "
                        "you\n\nOlga Ops, these open actions need your attention on 3/15/2024."));
  // The command delivers what its own run queued at once.
  EXPECT_EQ(Run("admin", {"remind"}), "Queued for olga <olga@example.org>: 1 action.\n");
  EXPECT_EQ(Run("admin", {"remind"}), "Already reminded today: olga.\n");
  EXPECT_EQ(Run("admin", {"email", "1", "--send"}), "Sent to 1 recipient.\n");

  const auto received = sink.Received();
  ASSERT_EQ(received.size(), 3U);
  // The notices and the digest: the text as typed, the HTML escaped.
  for (const auto& mail : received) {
    EXPECT_THAT(mail.data, HasSubstr("Content-Type: multipart/alternative; boundary="));
    const std::string html = PartOf(mail.data, "text/html");
    const std::string text = mail.data.substr(0, mail.data.size() - html.size());
    EXPECT_THAT(text, HasSubstr(subject));  // the notice's Subject, the digest's line
    EXPECT_THAT(PartOf(text, "text/plain"), Not(HasSubstr("&lt;")));
    EXPECT_THAT(html, HasSubstr("&lt;script&gt;alert(1)&lt;&#x2F;script&gt; &amp; pump"));
    EXPECT_THAT(html, Not(HasSubstr("<script>")));
    EXPECT_THAT(html, HasSubstr("href=\"https:&#x2F;&#x2F;actions.example.org&#x2F;default.asp?"));
  }
  EXPECT_THAT(received[1].data, HasSubstr("(due 3/14/2024, 1 day overdue)"));
}

TEST_P(MailCommand, TheServersMailWorkRemindsOnceAtReminderTimeInTheZone) {
  const app::testing::SmtpSink sink;
  Run("admin", {"add", "--subject", "Late", "--due", "3/14/2024", "--assignee", "olga"});
  Run("admin", {"settings", "set", "SMTPHost", sink.Address()});
  Run("admin", {"settings", "set", "TimeZone", "Europe/Berlin"});
  Run("admin", {"settings", "set", "ReminderTime", "07:00"});
  ::setenv("TZ", "UTC", 1);  // the server's zone; 07:00 in Berlin is 06:00 here
  const auto clock = std::make_shared<MovableClock>(vb::Date::FromParts(2024, 3, 15, 5, 59, 0));
  app::OpenOptions open{ConnectionString(), clock, vb::Locale::EnUS(),
                        kvdata::PasswordCost::Minimum, true};
  std::ostringstream log;
  web::MailWorker worker([&] { return app::Session::SignIn(open, "admin", "secret"); }, {},
                         std::chrono::milliseconds(5), log);
  const auto roundsPass = [&worker](int more) {
    const int target = worker.Rounds() + more;
    return WaitFor([&] { return worker.Rounds() >= target; });
  };
  ASSERT_TRUE(roundsPass(3));
  EXPECT_TRUE(sink.Received().empty());
  clock->Set(vb::Date::FromParts(2024, 3, 15, 6, 0, 0));
  ASSERT_TRUE(WaitFor([&] { return !sink.Received().empty(); }));
  clock->Set(vb::Date::FromParts(2024, 3, 15, 8, 0, 0));
  ASSERT_TRUE(roundsPass(3));
  worker.Stop();
  const auto received = sink.Received();
  ASSERT_EQ(received.size(), 1U);
  EXPECT_THAT(received[0].data, HasSubstr("Subject: Reminder for 3/15/2024: 1 action needs you"));
  EXPECT_EQ(log.str(),
            "kvaction serve: reminders queued: 1, already sent today: 0.\n"
            "kvaction serve: mail delivered 1, to be tried again 0, given up 0.\n");
  Run("admin", {"settings", "set", "ReminderTime", ""});  // an empty time: no reminders
}

TEST_P(MailCommand, CommentsMentionAndRepliesComeBackThroughAPipeOrAMaildir) {
  const app::testing::SmtpSink sink;
  EXPECT_THAT(Run("admin", {"upgrade"}), HasSubstr("secret of the reply addresses"));
  AddUser("pat", "pw", 1, "Pat Lee", "pat@example.org");
  Run("admin", {"settings", "set", "AutoEmail", "true"});
  Run("admin", {"settings", "set", "SMTPHost", sink.Address()});
  Run("admin", {"settings", "set", "ReplyAddress", "actions@example.org"});
  Run("pat", {"add", "--subject", "Fix the pump", "--assignee", "pat"});
  // The text may come on standard input, lines and all.
  EXPECT_EQ(Run("olga", {"comment", "1", "-"}, "Can you, @pat?\nThe kit is in store 2.\n"),
            "Commented on 1.\nMentioned Pat Lee (@pat).\n");
  const testing::Outcome unknown = As("olga", {"comment", "1", "ask @zed"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_THAT(unknown.err, HasSubstr("'@zed' is not a mention of a user"));
  std::string replyTo;
  for (const auto& mail : sink.Received()) {
    const size_t at = mail.data.find("\r\nReply-To: ");
    if (mail.data.find("mentioned you") != std::string::npos && at != std::string::npos) {
      const size_t start = at + std::string_view("\r\nReply-To: ").size();
      replyTo = mail.data.substr(start, mail.data.find("\r\n", start) - start);
    }
  }
  ASSERT_FALSE(replyTo.empty());
  const auto message = [&](const std::string& id, const std::string& from,
                           const std::string& text) {
    return "From: " + from + "\nTo: " + replyTo + "\nMessage-ID: <" + id +
           ">\nSubject: Re: pump\n\n" + text + "\n\nOn Tue, Olga wrote:\n> Can you?\n";
  };
  // From a mail server's pipe: one message on standard input.
  const testing::Outcome taken =
      Bare({"mail", "receive"}, message("a@x", "Pat Lee <pat@example.org>", "On it."));
  EXPECT_EQ(taken.exitCode, 0) << taken.err;
  EXPECT_THAT(taken.out, HasSubstr("taken as a comment by pat"));
  const testing::Outcome forged =
      Bare({"mail", "receive"}, message("b@x", "olga@example.org", "Me too."));
  EXPECT_EQ(forged.exitCode, 1);
  EXPECT_THAT(forged.err, HasSubstr("refused: a forged reply token"));
  // From a Maildir: each new message read, and moved to cur/ as a mail reader would.
  const std::filesystem::path maildir = configFolder_ / "Maildir";
  for (const char* sub : {"new", "cur", "tmp"}) std::filesystem::create_directories(maildir / sub);
  std::ofstream(maildir / "new" / "1.host") << message("c@x", "pat@example.org", "Done now.");
  std::ofstream(maildir / "new" / "2.host") << message("d@x", "eve@example.net", "Hi.");
  const testing::Outcome folder = Bare({"mail", "receive", "--maildir", maildir.string()});
  EXPECT_EQ(folder.exitCode, 1);
  EXPECT_THAT(folder.out, HasSubstr("Taken 1, refused 1"));
  EXPECT_THAT(folder.err, HasSubstr("2.host: refused: unknown sender eve@example.net"));
  EXPECT_TRUE(std::filesystem::exists(maildir / "cur" / "1.host:2,S"));
  EXPECT_TRUE(std::filesystem::exists(maildir / "cur" / "2.host:2,F"));
  EXPECT_TRUE(std::filesystem::is_empty(maildir / "new"));
  const nlohmann::json shown = Json("olga", {"show", "1"});
  std::vector<std::string> thread;
  for (const auto& entry : shown["conversation"]) {
    thread.push_back(entry["who"].get<std::string>() + ": " + entry["text"].get<std::string>());
  }
  EXPECT_EQ(thread, (std::vector<std::string>{"olga: Can you, @pat?\nThe kit is in store 2.",
                                              "pat: On it.", "pat: Done now."}));
  // A database that cannot be opened: the mail server is told to try again later.
  const testing::Outcome later =
      testing::Executed({"--db", (configFolder_ / "no" / "such.kvdb").string(), "mail", "receive"},
                        message("e@x", "pat@example.org", "Again."));
  EXPECT_EQ(later.exitCode, 75) << later.err;
}

KV_INSTANTIATE_ENGINES(MailCommand);

}  // namespace
}  // namespace cli
