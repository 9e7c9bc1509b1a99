// The command end to end on both engines: usage and exit statuses, output formats, refusals,
// login and logout, defaults from config.toml, and CSV import and export. Today is 15 Mar 2024.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli/CommandTest.h"
#include "kvaction/action/ActionTest.h"

namespace cli {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class Command : public testing::CommandTest<kvaction::ActionTest> {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    if (HasFatalFailure()) return;
    AddUser("olga", "pw");
  }
  /// The subjects `list --json ARGS` prints, in order.
  std::vector<std::string> Subjects(std::vector<std::string> args) const {
    args.insert(args.begin(), {"list", "--columns", "Subject"});
    std::vector<std::string> subjects;
    for (const auto& row : Json("admin", args)) subjects.push_back(row["Subject"]);
    return subjects;
  }
  void WriteFile(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories(configFolder_);
    std::ofstream(configFolder_ / name, std::ios::binary) << text;
  }
};

struct UsageCase {
  std::vector<std::string> args;
  int exitCode;
  std::string shown;  ///< expected in standard output (exit 0) or standard error
};

TEST_P(Command, UsageHelpAndExitStatuses) {
  const std::vector<UsageCase> cases = {
      {{"help"}, 0, "Usage: kvaction"},
      {{"help", "list"}, 0, "--due-within"},
      {{"help", "user", "add"}, 0, "default workgroup"},
      {{"--version"}, 0, "kvaction 1.0.0"},
      {{"lsit"}, 2, "'lsit' is not a command. Did you mean 'list'?"},
      {{"user", "ad", "x"}, 2, "Did you mean 'user add'?"},
      {{"help", "frobnicate"}, 2, "'frobnicate' is not a command."},
      {{}, 2, "Run 'kvaction help'"},
      {{"list", "--status", "pending"}, 2, "--status"},
      {{"list", "--limit", "many"}, 2, "--limit"},
      {{"add", "--subject", "Roof", "--due", "31/12/2026"},
       2,
       "--due: '31/12/2026' is not a date in the form M/d/yyyy"},
      {{"add", "--subject", "Roof", "--type", "x"}, 2, "--type: 'x' is not a whole number"},
      {{"list", "--columns", "Subject,Nope"}, 1, "Nope"},
      {{"list", "--query", "99"}, 1, "0x8004044E kvAction.app: "},
      {{"show", "77"}, 1, "No action has the number 77."},
  };
  for (const UsageCase& c : cases) {
    const testing::Outcome outcome = As("admin", c.args);
    EXPECT_EQ(outcome.exitCode, c.exitCode) << ::testing::PrintToString(c.args) << outcome.err;
    EXPECT_THAT(c.exitCode == 0 ? outcome.out : outcome.err, HasSubstr(c.shown))
        << ::testing::PrintToString(c.args);
  }
}

TEST_P(Command, ListingsInEveryFormat) {
  Run("admin", {"add", "--subject", "Fix the roof", "--due", "4/1/2024", "--assignee", "olga"});
  Run("admin", {"add", "--subject", "Dach \u00fcber\talles, \"gut\"", "--due", "3/1/2024"});
  Run("admin", {"add", "--subject", "Paint", "--category", "Ops"});
  Run("admin", {"complete", "3"});

  // Completed is still open (not closed), as saved queries count it.
  const nlohmann::json listed =
      Json("admin", {"list", "--status", "open", "--sort", "ActionNumber"});
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[1], nlohmann::json::parse(R"({"ActionNumber":2,"DateDue":"2024-03-01",
      "Status":"overdue","Assignee":"Ada Admin","Subject":"Dach \u00fcber\talles, \"gut\""})"));
  EXPECT_EQ(listed[0]["Status"], "open");
  EXPECT_EQ(listed[2]["Status"], "completed");

  EXPECT_EQ(Run("admin", {"list", "--csv", "--columns", "ActionNumber,Subject", "--sort",
                          "ActionNumber desc", "--limit", "2", "--status", "overdue"}),
            "ActionNumber,Subject\r\n2,\"Dach \u00fcber\talles, \"\"gut\"\"\"\r\n");

  // The table escapes the tab, so every row keeps its columns.
  const std::string table = Run("admin", {"list", "--sort", "ActionNumber"});
  EXPECT_THAT(table, HasSubstr("Dach \u00fcber\\talles"));
  EXPECT_THAT(table, HasSubstr("(3 rows)"));
  EXPECT_THAT(table, StartsWith("No.      Due         Status     Assignee        Subject\n"));
  EXPECT_EQ(Json("admin", {"show", "1"})["action"]["DateOpened"], "2024-03-15");
}

TEST_P(Command, AViewerIsRefusedEveryTakeoverAndNothingChanges) {
  const std::string group = Run("admin", {"workgroup", "add", "Viewers", "70,82"});
  Run("admin", {"user", "add", "viewer", "--group", group.substr(0, group.size() - 1)},
      "viewpass1\n");
  passwords_["viewer"] = "viewpass1";
  Run("admin", {"add", "--subject", "Fix the roof"});
  const std::string before = Run("admin", {"sql", "select * from Users order by UserID"}) +
                             Run("admin", {"list", "--status", "open"}) +
                             Run("admin", {"settings", "get", "SMTPHost"});
  const std::vector<std::vector<std::string>> takeovers = {
      {"user", "add", "x", "--group", "-1"},
      {"user", "passwd", "admin"},
      {"settings", "set", "SMTPHost", "evil.example"},
      {"add", "--subject", "Mine"},
      {"copy", "1"},
      {"sql", "update Users set GroupID=-1"},
      {"delete", "1"}};
  for (const auto& args : takeovers) {
    const testing::Outcome outcome = As("viewer", args, "newpass12\n");
    EXPECT_EQ(outcome.exitCode, 1) << ::testing::PrintToString(args);
    EXPECT_THAT(outcome.err, StartsWith("kvaction: 0x8004044C kvAction.app: Refused: "));
  }
  EXPECT_EQ(Run("admin", {"sql", "select * from Users order by UserID"}) +
                Run("admin", {"list", "--status", "open"}) +
                Run("admin", {"settings", "get", "SMTPHost"}),
            before);
}

TEST_P(Command, LoginKeepsAPrivateTokenAndLogoutEndsIt) {
  Run("admin", {"upgrade"});
  EXPECT_THAT(Run("admin", {"login"}), HasSubstr("Signed in as admin"));
  const auto file = configFolder_ / "sessions.toml";
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // No user, no password: the kept session answers.
  EXPECT_EQ(Bare({"info"}).exitCode, 0);
  EXPECT_THAT(Bare({"add", "--subject", "Signed in"}).out, "1\n");
  // A one-line stdin is now the new user's password alone.
  EXPECT_EQ(Bare({"--password-stdin", "user", "add", "ivan"}, "ivanpass1\n").exitCode, 0);

  EXPECT_THAT(Bare({"logout"}).out, HasSubstr("Signed out admin."));
  const testing::Outcome after = Bare({"info"});
  EXPECT_EQ(after.exitCode, 1);
  EXPECT_THAT(after.err, HasSubstr("Nobody is signed in"));
  EXPECT_THAT(Bare({"logout"}).out, HasSubstr("Nobody is signed in"));
}

TEST_P(Command, DefaultsComeFromConfigTomlAndTheEnvironment) {
  WriteFile("config.toml", "connection = \"" + ConnectionString() + "\"\nuser = \"admin\"\n");
  const testing::Outcome fromFile =
      testing::Executed({"--password-stdin", "info"}, "secret\n", [this](Options& options) {
        options.configFolder = configFolder_.string();
        options.cheapPasswords = true;
      });
  EXPECT_EQ(fromFile.exitCode, 0) << fromFile.err;
  EXPECT_THAT(fromFile.out, HasSubstr("UserID: admin"));

  ::setenv("KVACTION_USER", "olga", 1);
  const testing::Outcome fromEnvironment = testing::Executed(
      {"--password-stdin", "info"}, "pw\n",
      [this](Options& options) { options.configFolder = configFolder_.string(); });
  ::unsetenv("KVACTION_USER");
  EXPECT_THAT(fromEnvironment.out, HasSubstr("UserID: olga"));

  WriteFile("config.toml", "user = 3\n");
  const testing::Outcome broken = Bare({"info"});
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_THAT(broken.err, HasSubstr("config.toml:1: user must be a string"));
}

TEST_P(Command, ImportChecksEveryRowAndStoresAllOrNothing) {
  Run("admin", {"add", "--subject", "Existing", "--due", "4/1/2024"});
  WriteFile("bad.csv",
            "Subject,AssigneeID,DateDue,Category\n"
            "Good one,olga,2024-05-01,Ops\n"
            "Bad date,olga,31/12/2026,Ops\n"
            "\"Two\nlines\",nobody,2024-05-01,Ops\n"
            ",olga,2024-05-01,Ops\n");
  const testing::Outcome bad = As("admin", {"import", (configFolder_ / "bad.csv").string()});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_THAT(bad.err, HasSubstr("Nothing was imported:\n  line 3: DateDue: '31/12/2026'"));
  EXPECT_EQ(Subjects({"--status", "open"}), std::vector<std::string>{"Existing"});
  // With the form right, app/ finds the unknown user (line 4) and the missing subject (line 6).
  WriteFile("bad.csv",
            "Subject,AssigneeID,DateDue\nGood one,olga,2024-05-01\n\"Two\nlines\",nobody,\n"
            ",olga,\n");
  const testing::Outcome unknown = As("admin", {"import", (configFolder_ / "bad.csv").string()});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_THAT(unknown.err, HasSubstr("line 3: "));
  EXPECT_THAT(unknown.err, HasSubstr("line 5: "));
  EXPECT_EQ(Subjects({"--status", "open"}), std::vector<std::string>{"Existing"});

  // What export writes, import reads back as new actions.
  Run("admin", {"export", "--output", (configFolder_ / "all.csv").string()});
  EXPECT_EQ(Run("admin", {"import", (configFolder_ / "all.csv").string()}), "Imported 1 action.\n");
  const nlohmann::json both = Json("admin", {"list", "--sort", "ActionNumber"});
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[1]["Subject"], "Existing");
  EXPECT_EQ(both[1]["DateDue"], "2024-04-01");
}

KV_INSTANTIATE_ENGINES(Command);

}  // namespace
}  // namespace cli
