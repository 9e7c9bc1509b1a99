// Comments, mentions and replies by mail on both engines: who may comment and mention whom, what
// a refusal leaves (nothing), what the mentioned person receives, and which received messages
// become comments: real MIME messages (plain, HTML only, multipart, quoted-printable, base64,
// Latin-1) against forged tokens, strangers, people without the right and actions gone.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <map>
#include <regex>

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/Comments.h"
#include "app/Errors.h"
#include "app/MailReader.h"
#include "app/Outbox.h"
#include "app/Replies.h"
#include "app/View.h"
#include "app/testing/SmtpSink.h"
#include "kvdata/testing/Fixture.h"
#include "vb/Convert.h"

namespace app {
namespace {

using app::testing::SmtpSink;

const vb::Date kNow = vb::Date::FromParts(2026, 12, 8, 9, 30, 0);

class CommentsTest : public kvdata::testing::DatabaseTest {
 public:
  void SetUp() override {
    DatabaseTest::SetUp();
    CreateDatabase(Open(), {"lead", "Lee Lead", "leadpass1", "lead@example.org"});
    auto lead = SignIn("lead");
    const int32_t viewers = WorkgroupAdd(lead, "Viewers", {70});
    for (const char* user : {"orig", "asg", "by"}) {
      UserAdd(
          lead,
          {user, std::string(user) + " Name", "password1", std::string(user) + "@example.org", {}});
    }
    UserAdd(lead, {"viewer", "Vi Ewer", "password1", "viewer@example.org", viewers});
    // Someone the desktop program keeps as a person, who cannot sign in.
    UserAdd(lead, {"ghost", "Gho St", "password1", "ghost@example.org", {}});
    (void)Sql(lead, "update Users set PasswordHash = null where UserID = 'ghost'");
    SettingSet(lead, "AutoEmail", "true");
    auto orig = SignIn("orig");
    action_ = Add(orig, {{"Subject", "Fix the pump"}, {"AssigneeID", "asg"}});
    (void)Send();  // the notice of the creation
  }
  OpenOptions Open() const {
    return {ConnectionString(), std::make_shared<vb::FixedClock>(kNow), vb::Locale::EnUS(),
            kvdata::PasswordCost::Minimum, true};
  }
  Session SignIn(const std::string& user) const {
    return Session::SignIn(Open(), user, user == "lead" ? "leadpass1" : "password1");
  }
  // What the mail waiting in the outbox says, delivered to a loopback relay.
  std::vector<testing::ReceivedMail> Send() const {
    const SmtpSink sink;
    auto lead = SignIn("lead");
    Relay relay;
    relay.host = sink.Address();
    (void)DeliverDue(lead, relay);
    return sink.Received();
  }
  std::string Notes() const {
    auto lead = SignIn("lead");
    return vb::TextOf((*Show(lead, action_))["Results"].Value());
  }
  std::string Events(int32_t code) const {
    auto lead = SignIn("lead");
    const auto rs = Sql(lead, fmt::format("select EventText from ActionEvents where EventCode = {} "
                                          "order by EventID",
                                          code));
    std::string texts;
    for (; !rs->IsEOF(); rs->MoveNext()) texts += vb::TextOf((*rs)["EventText"].Value()) + "\n";
    return texts;
  }
  int32_t action_ = 0;
};

TEST(Mentions, AreAtSignsBeforeUserIDsButNotAddresses) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"@pat, can you look?", {"pat"}},           {"write to pat@example.org", {}},
      {"thanks @pat. And @sam-", {"pat", "sam"}}, {"(@a.b_c-d) @@x @", {"a.b_c-d"}},
      {"@Pat and @pat again", {"Pat"}},           {"\xC3\xA9@pat", {"pat"}},
  };
  for (const auto& [text, ids] : cases) EXPECT_EQ(MentionsIn(text), ids) << text;
  const std::vector<Mention> known = {{"pat", "Pat Lee"}};
  const auto parts = PartsOf("ask @pat, not @zed", known);
  ASSERT_EQ(parts.size(), 3U);
  EXPECT_EQ(parts[0].text, "ask ");
  EXPECT_EQ(parts[1].text, "Pat Lee");
  EXPECT_EQ(parts[1].userID, "pat");
  EXPECT_EQ(parts[2].text, ", not @zed");
}

TEST_P(CommentsTest, EveryoneWhoMaySeeCommentsAndMentionsDrawPeopleIn) {
  // Each person who may see the action may comment on it, the read-only viewer too.
  for (const char* user : {"lead", "orig", "asg", "by", "viewer"}) {
    auto session = SignIn(user);
    Comment(session, action_, fmt::format("Seen by {}.", user));
  }
  auto viewer = SignIn("viewer");
  // Hostile text is data: a statement, markup, a header line of another person's note.
  Comment(
      viewer, action_,
      "'); delete from actions; -- <b>bold</b>\n[12/8/2026 lead, approved] forged\n@asg please");
  const ActionView view = ViewOf(viewer, action_);
  ASSERT_EQ(view.conversation.size(), 6U);
  const ConversationEntry& last = view.conversation.back();
  EXPECT_EQ(last.who, "viewer");
  EXPECT_EQ(last.when, "12/8/2026");
  EXPECT_EQ(last.move, "commented");
  EXPECT_EQ(last.text,
            "'); delete from actions; -- <b>bold</b>\n [12/8/2026 lead, approved] forged\n@asg "
            "please");
  ASSERT_EQ(last.mentions.size(), 1U);
  EXPECT_EQ(last.mentions[0].name, "asg Name");
  EXPECT_NE(Notes().find("\r\n[12/8/2026 viewer, commented] '); delete"), std::string::npos);
  // Every comment is in the history, the first one too (the library records no change from
  // nothing to a value).
  auto lead = SignIn("lead");
  const auto history = ViewOf(lead, action_).history;
  ASSERT_TRUE(history.has_value());
  std::vector<std::string> lines;
  for (const auto& line : *history) lines.push_back(line.who + ": " + line.text);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"orig: Created the action", "lead: Added a note",
                                      "orig: Added a note", "asg: Added a note", "by: Added a note",
                                      "viewer: Added a note", "viewer: Added a note"}));

  // The mail: the notices of the change to the parties, and the mention to asg alone.
  const auto mails = Send();
  std::vector<std::string> mentions;
  for (const auto& mail : mails) {
    if (mail.data.find("mentioned you") != std::string::npos) {
      mentions.insert(mentions.end(), mail.recipients.begin(), mail.recipients.end());
      EXPECT_NE(mail.data.find("Vi Ewer mentioned you in a comment on Action 1: Fix the pump."),
                std::string::npos);
    }
  }
  EXPECT_EQ(mentions, std::vector<std::string>{"<asg@example.org>"});
}

TEST_P(CommentsTest, ARefusedCommentOrNoteStoresAndSendsNothing) {
  auto by = SignIn("by");
  auto asg = SignIn("asg");
  const std::string notes = Notes();
  const std::string longText(kCommentSize + 1, 'x');
  struct Case {
    std::string name;
    std::function<void()> run;
    int32_t number;
    std::string words;
  };
  const std::vector<Case> cases = {
      {"a person who may not see it", [&] { Comment(by, action_, "@ghost look"); }, kRefused,
       "Gho St (@ghost) may not see action 1"},
      {"no such user", [&] { Comment(by, action_, "ask @zed"); }, kInvalidInput, "'@zed'"},
      {"empty", [&] { Comment(by, action_, " \r\n\t"); }, kInvalidInput, "comment"},
      {"control characters", [&] { Comment(by, action_, "a\x1b[2Jb"); }, kInvalidInput, "comment"},
      {"too long", [&] { Comment(by, action_, longText); }, kInvalidInput, "at most 10000"},
      {"no such action", [&] { Comment(by, action_ + 99, "hello"); }, kNotFound, "action"},
      {"a review note", [&] { Move(asg, action_, "complete", "done, @ghost"); }, kRefused,
       "@ghost"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.run();
      ADD_FAILURE() << "not refused";
    } catch (const vb::ComError& error) {
      EXPECT_EQ(error.number(), c.number);
      EXPECT_NE(error.description().find(c.words), std::string::npos) << error.description();
    }
    EXPECT_EQ(Notes(), notes);
  }
  EXPECT_TRUE((*Show(asg, action_))["DateCompleted"].Value().IsNull());
  EXPECT_TRUE(Send().empty());
  // A review note's mention is a notice too.
  Move(asg, action_, "complete", "done, @orig please check");
  bool mentioned = false;
  for (const auto& mail : Send()) {
    mentioned =
        mentioned || (mail.data.find("asg Name mentioned you in a note") != std::string::npos &&
                      mail.recipients == std::vector<std::string>{"<orig@example.org>"});
  }
  EXPECT_TRUE(mentioned);
}

// --- Replies by mail ---------------------------------------------------------------------------

// The Reply-To of a delivered mail.
std::string ReplyToOf(const std::string& data) {
  std::smatch found;
  const std::regex header("\r\nReply-To: ([^\r\n]+)\r\n");
  return std::regex_search(data, found, header) ? found[1].str() : std::string();
}

TEST_P(CommentsTest, ARepliedNoticeBecomesTheSendersComment) {
  auto lead = SignIn("lead");
  SettingSet(lead, kReplyAddressSetting, "actions@example.org");
  auto orig = SignIn("orig");
  // One mail per recipient, each with its own reply address; a header in the text stays text.
  Comment(orig, action_, "Can you do it today, @asg?\r\nBcc: evil@example.org");
  std::map<std::string, std::string> replyTo;
  for (const auto& mail : Send()) {
    ASSERT_EQ(mail.recipients.size(), 1U);
    const std::string head = mail.data.substr(0, mail.data.find("\r\n\r\n"));
    EXPECT_EQ(head.find("Bcc:"), std::string::npos);
    if (mail.data.find("mentioned you") != std::string::npos)
      replyTo[mail.recipients[0]] = ReplyToOf(mail.data);
  }
  const std::string asgReply = replyTo["<asg@example.org>"];
  ASSERT_TRUE(std::regex_match(asgReply, std::regex(R"(actions\+\d+-[0-9a-f]{24}@example\.org)")))
      << asgReply;

  const auto message = [&](const std::string& from, const std::string& to,
                           const std::string& headers, const std::string& body) {
    return "From: " + from + "\r\nTo: " + to + "\r\nSubject: Re: Fix the pump\r\n" + headers +
           "\r\n" + body;
  };
  const std::string plain = message(
      "asg Name <asg@example.org>", asgReply, "Message-ID: <r1@example.org>\r\n",
      "Will do, after lunch.\r\n\r\nOn Tue, Dec 8, 2026 at 9:30 AM orig Name <orig@example.org>\r\n"
      "wrote:\r\n> Can you do it today?\r\n\r\n-- \r\nasg, plant 2\r\n");
  const std::string html =
      message("<ASG@example.org>", "Actions <" + asgReply + ">",
              "Message-ID: <r2@example.org>\r\nContent-Type: text/html; charset=iso-8859-1\r\n"
              "Content-Transfer-Encoding: base64\r\n",
              // "<p>Pump fixed &amp; tested: caf\xE9 <b>OK</b></p><blockquote>old</blockquote>"
              "PHA+UHVtcCBmaXhlZCAmYW1wOyB0ZXN0ZWQ6IGNhZukgPGI+T0s8L2I+"
              "PC9wPjxibG9ja3F1b3RlPm9sZDwvYmxvY2txdW90ZT4=\r\n");
  const std::string multipart = message(
      "asg@example.org", "someone@example.org, " + asgReply,
      "Message-ID: <r3@example.org>\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/alternative; boundary=\"b1\"\r\n",
      "preamble\r\n--b1\r\nContent-Type: text/plain; charset=utf-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\nGr=C3=BC=C3=9Fe, it is do=\r\nne.\r\n"
      "--b1\r\nContent-Type: text/html\r\n\r\n<p>ignored</p>\r\n--b1--\r\n");
  struct Case {
    std::string name;
    std::string text;
    ReplyOutcome::Kind kind;
    std::string comment;  // the comment stored, or the reason's words
  };
  // The reply address with the first character of each of its parts changed: never the real one.
  std::string forged = asgReply;
  for (size_t at = forged.find('-'); at != std::string::npos && at + 1 < forged.size();
       at = forged.find('-', at + 1)) {
    forged[at + 1] = forged[at + 1] == '0' ? '1' : '0';
  }
  ASSERT_NE(forged, asgReply);
  const std::vector<Case> cases = {
      {"plain", plain, ReplyOutcome::Kind::Taken, "Will do, after lunch."},
      {"the same message again", plain, ReplyOutcome::Kind::AlreadyTaken, ""},
      {"HTML only, base64, Latin-1", html, ReplyOutcome::Kind::Taken,
       "Pump fixed & tested: caf\xC3\xA9 OK"},
      {"multipart, quoted-printable", multipart, ReplyOutcome::Kind::Taken,
       "Gr\xC3\xBC\xC3\x9F"
       "e, it is done."},
      {"a forged token", message("asg@example.org", forged, "", "Mine now.\r\n"),
       ReplyOutcome::Kind::Refused, "forged reply token"},
      {"an unknown sender", message("mallory@example.net", asgReply, "", "Hi.\r\n"),
       ReplyOutcome::Kind::Refused, "unknown sender mallory@example.net"},
      {"someone else's token", message("by@example.org", asgReply, "", "Me too.\r\n"),
       ReplyOutcome::Kind::Refused, "not one issued to by@example.org"},
      {"no token", message("asg@example.org", "actions@example.org", "", "Hi.\r\n"),
       ReplyOutcome::Kind::Refused, "no reply token"},
      {"an out-of-office answer",
       message("asg@example.org", asgReply, "Auto-Submitted: auto-replied\r\n", "Away.\r\n"),
       ReplyOutcome::Kind::Refused, "automatic"},
      {"only quoted text", message("asg@example.org", asgReply, "", "> old\r\n-- \r\nsig\r\n"),
       ReplyOutcome::Kind::Refused, "no text of its own"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = Notes();
    const ReplyOutcome outcome = ReceiveReply(Open(), c.text);
    EXPECT_EQ(outcome.kind, c.kind) << outcome.reason;
    if (c.kind == ReplyOutcome::Kind::Taken) {
      const auto last = ViewOf(lead, action_).conversation.back();
      EXPECT_EQ(last.who, "asg");
      EXPECT_EQ(last.move, "commented");
      EXPECT_EQ(last.text, c.comment);
    } else {
      EXPECT_EQ(Notes(), before);
      if (c.kind == ReplyOutcome::Kind::Refused) {
        EXPECT_NE(outcome.reason.find(c.comment), std::string::npos) << outcome.reason;
        EXPECT_NE(Events(evMailRefused).find(c.comment), std::string::npos);
      }
    }
  }
  // A person who cannot sign in may not comment; nor may anyone on an action gone.
  const std::string ghostToken = ReplyToken(
      vb::TextOf(Sql(lead, "select ValueText from ActionConfig where ConfigKey = 'ReplySecret'")
                     ->Fields()
                     .Item(0)
                     .Value()),
      action_, "ghost@example.org");
  const ReplyOutcome ghost =
      ReceiveReply(Open(), message("ghost@example.org", "x@example.org", "", "Boo.\r\n"),
                   "actions+" + ghostToken + "@example.org");
  EXPECT_EQ(ghost.kind, ReplyOutcome::Kind::Refused);
  EXPECT_NE(Events(evMailRefused).find("ghost may not see action"), std::string::npos);
  Delete(lead, action_);
  const ReplyOutcome gone =
      ReceiveReply(Open(), message("asg@example.org", asgReply, "", "Hm.\r\n"));
  EXPECT_EQ(gone.kind, ReplyOutcome::Kind::Refused);
  EXPECT_NE(gone.reason.find("no longer exists"), std::string::npos) << gone.reason;
}

TEST(MailReader, ReadsHtmlAndLeavesQuotesAndSignaturesOut) {
  EXPECT_EQ(HtmlText("<html><head><style>p{}</style></head><body><p>One&nbsp;&lt;two&gt;</p>"
                     "<div>Three<br>four &#233;&#x20AC;</div><ul><li>a</li><li>b</li></ul>"
                     "<blockquote>quoted<br>more</blockquote><script>x()</script></body></html>"),
            "One <two>\nThree\nfour \xC3\xA9\xE2\x82\xAC\n- a\n- b\n> quoted\n> more");
  EXPECT_EQ(ReplyText("Yes.\n\n-----Original Message-----\nFrom: x"), "Yes.");
  EXPECT_EQ(ReplyText("\n\nTop\n> quoted\nbottom\n--\nsig"), "Top\nbottom");
  EXPECT_EQ(ReplyText("Ja.\nAm 8.12.2026 schrieb Lee:\n> x"), "Ja.");
  EXPECT_EQ(AddressesIn("\"Lee, Lead\" <lee@example.org>, pat@example.org (Pat), bad"),
            (std::vector<std::string>{"lee@example.org", "pat@example.org"}));
  EXPECT_THROW((void)ReadMail("no headers here"), vb::ComError);
  EXPECT_THROW(
      (void)ReadMail("From: a@b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n\xFF\xFE"),
      vb::ComError);
  EXPECT_THROW((void)ReadMail("From: a@b\r\nContent-Type: image/png\r\n\r\nxx"), vb::ComError);
}

KV_INSTANTIATE_ENGINES(CommentsTest);

}  // namespace
}  // namespace app
