// The command through a server (--server) on both engines: one table of command runs, run on the
// database and then, on a database set up the same way, through a server in this process; every
// run must print the same bytes and end with the same status. Then what only the remote way has:
// signing in and out per server, a session that ended, a server that is down, addresses refused.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "cli/CommandTest.h"
#include "cli/Remote.h"
#include "kvaction/action/ActionTest.h"

namespace cli {
namespace {

using ::testing::HasSubstr;

class RemoteCommand : public testing::CommandTest<kvaction::ActionTest> {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    if (!HasFatalFailure()) Prepare();
  }
  /// Two restricted workgroups, their people and three actions: the same each time.
  void Prepare() {
    AddUser("olga", "pw");
    AddUser("stan", "pw", std::stoi(Run("admin", {"workgroup", "add", "Crew", "50,70"})));
    AddUser("vic", "pw", std::stoi(Run("admin", {"workgroup", "add", "Viewers", "70,82"})));
    Run("admin", {"add", "--subject", "Roof", "--assignee", "stan", "--due", "4/1/2024"});
    Run("admin", {"add", "--subject", "Pump", "--assignee", "olga", "--due", "3/1/2024",
                  "--category", "Ops"});
    Run("admin", {"add", "--subject", "Gate", "--assignee", "vic"});
    std::filesystem::create_directories(configFolder_ / "store");
    std::ofstream(configFolder_ / "note.txt", std::ios::binary) << "hello\n\x01\xff";
    std::ofstream(configFolder_ / "sheet.csv") << "Subject,Assignee\nImported,stan\nSecond,olga\n";
    std::ofstream(configFolder_ / "bad.csv") << "Subject,Assignee\n,stan\nX,nobody\n";
    std::ofstream(configFolder_ / "secret.txt") << "a webhook secret of some length\n";
    Run("admin", {"settings", "set", "AttachmentPath", (configFolder_ / "store").string()});
    // A reminder digest for olga waits in the outbox.
    Run("admin", {"user", "edit", "olga", "--email", "olga@example.org"});
    Run("admin", {"remind", "--date", "2/28/2024"});
  }
  /// A fresh database prepared as the first was.
  void Renew() {
    StopServing();
    const std::string connection = ConnectionString();
    CommandTest::TearDown();
    if (const auto file = connection.find("Data Source="); file != std::string::npos) {
      std::filesystem::remove(connection.substr(file + 12));
    }
    CommandTest::SetUp();
    Prepare();
  }
};

/// One run of the table: who, what, and what follows the password on standard input.
struct Scenario {
  std::string user;
  std::vector<std::string> args;
  std::string input = {};
};

/// The runs; folder holds the files they attach and fetch.
std::vector<Scenario> Scenarios(const std::filesystem::path& folder) {
  const std::string note = (folder / "note.txt").string();
  const std::string copy = (folder / "copy.txt").string();
  return {
      // Listing, in every form and with every kind of filter.
      {"admin", {"list"}},
      {"admin", {"--json", "list"}},
      {"admin", {"list", "--csv", "--columns", "ActionNumber,Subject,DateDue,State,Turn,Category"}},
      {"admin", {"list", "--status", "overdue"}},
      {"admin", {"list", "--mine", "--grep", "oo"}},
      {"admin", {"list", "--sort", "DateDue desc", "--limit", "2"}},
      // Read on page by page by the sort's key, Nulls and ties included, or by position.
      {"admin", {"list", "--sort", "Category desc, DateDue", "--columns", "ActionNumber,Subject"}},
      {"admin", {"list", "--sort", "Alert", "--columns", "ActionNumber"}},
      {"admin", {"list", "--columns", "Subject,Nope"}},
      {"admin", {"list", "--sort", "Bogus"}},
      {"admin", {"list", "--query", "99"}},
      {"admin", {"list", "--status", "pending"}},
      {"stan", {"list", "--assignee", "olga"}},
      {"admin", {"--locale", "en-GB", "list"}},
      {"admin", {"list", "--grep", "STAN", "--due-from", "2020-01-01", "--due-to", "1/1/2031"}},
      {"admin", {"list", "--closed-to", "31/12/2026"}},
      // The activity, in words and as JSON; without the history's right, refused.
      {"admin", {"activity"}},
      {"admin", {"--json", "activity", "--limit", "2"}},
      {"admin", {"activity", "--since", "soon"}},
      {"stan", {"activity"}},
      // One action in words and as JSON; someone without the history's right still sees it.
      {"admin", {"show", "1"}},
      {"admin", {"--json", "show", "2"}},
      {"stan", {"show", "1"}},
      {"vic", {"show", "--id", "3"}},
      {"admin", {"show", "77"}},
      {"admin", {"show", "--id", "99"}},
      {"admin", {"alerts"}},
      {"admin", {"--json", "alerts"}},
      {"admin", {"alerts", "--list"}},
      {"admin", {"due", "--days", "30"}},
      {"olga", {"due", "--mine", "--days", "30", "--csv"}},
      // Rights, held and not.
      {"admin", {"rights"}},
      {"stan", {"--json", "rights"}},
      {"stan", {"can", "1"}},
      {"admin", {"--json", "can", "2"}},
      // Creating and editing, refused and with bad input.
      {"admin", {"add", "--subject", "Fence", "--assignee", "stan", "--due", "4/5/2024"}},
      {"stan", {"add", "--subject", "Crew's own"}},
      {"vic", {"add", "--subject", "Not mine to add"}},
      {"admin", {"add", "--due", "31/12/2026"}},
      {"admin", {"add", "--category", "x"}},
      {"admin", {"--locale", "en-GB", "add", "--subject", "GB", "--due", "31/12/2024"}},
      {"admin", {"--locale", "en-GB", "show", "6"}},
      {"admin", {"edit", "1", "--category", "Ops", "--due", "4/2/2024"}},
      {"admin", {"edit", "1", "--category", "Ops"}},
      {"vic", {"edit", "1", "--category", "Mine"}},
      {"admin", {"edit", "1"}},
      {"admin", {"edit", "1", "--due", "2/30/2024"}},
      // Review moves, by name and by status.
      {"admin", {"review", "10", "1"}},
      {"admin", {"show", "1"}},
      {"admin", {"review", "approve", "1"}},
      {"admin", {"review", "bogus", "1"}},
      {"admin", {"review", "assign", "1", "--note", "Please"}},
      {"admin", {"review", "10", "9"}},
      {"admin", {"review", "10", "1", "--note", "x"}},
      {"vic", {"complete", "1", "--note", "Fixed"}},
      {"stan", {"complete", "1", "--note", "Fixed"}},
      {"admin", {"--json", "list", "--status", "completed"}},
      {"admin", {"close", "1"}},
      {"admin", {"list", "--status", "closed", "--csv", "--columns", "ActionNumber,Results"}},
      {"admin", {"reopen", "1"}},
      {"admin", {"show", "1"}},
      {"admin", {"copy", "1"}},
      {"vic", {"copy", "1"}},
      {"stan", {"delete", "7"}},
      {"admin", {"delete", "7", "3"}},
      {"admin", {"delete", "--id", "99"}},
      // Saved queries.
      {"admin", {"query", "add", "Mine", "--mine"}},
      {"stan", {"query", "add", "Olga's", "--assignee", "olga"}},
      {"admin", {"query", "add", "Bad", "--due-within", "x"}},
      {"admin", {"list", "--query", "1"}},
      {"admin", {"query", "share", "1"}},
      {"stan", {"query", "list"}},
      {"admin", {"--json", "query", "list"}},
      {"admin", {"query", "share", "1", "--off"}},
      {"stan", {"query", "delete", "1"}},
      {"admin", {"query", "delete", "1"}},
      {"admin", {"query", "delete", "1"}},
      // Attachments: files byte for byte, links, refusals.
      {"admin", {"attach", "add", "1", note}},
      {"olga", {"attach", "add", "1", note}},
      {"admin", {"attach", "add", "1", "--link", "https://x.example", "--description", "Site"}},
      {"admin", {"attach", "add", "1", "--link", "javascript:alert(1)"}},
      {"admin", {"attach", "add", "1", note + ".gone"}},
      {"admin", {"attach", "list", "1"}},
      {"stan", {"--json", "attach", "list", "1"}},
      {"admin", {"attach", "get", "1"}},
      {"admin", {"attach", "get", "1", "--output", copy}},
      {"admin", {"attach", "get", "1", "--output", copy}},
      {"admin", {"attach", "get", "2"}},
      {"vic", {"attach", "rm", "2"}},
      {"admin", {"attach", "rm", "2"}},
      {"admin", {"attach", "rm", "2"}},
      // The notice of an action, in words and as its record.
      {"admin", {"email", "1"}},
      {"admin", {"--json", "email", "2"}},
      {"vic", {"email", "1"}},
      // Fields, who is signed in, settings (SuperUser only), the outbox, one's own reminders, and
      // sending a notice through the relay (a party to the action or a SuperUser).
      {"stan", {"fields"}},
      {"admin", {"--json", "fields"}},
      {"stan", {"info"}},
      {"admin", {"--json", "info"}},
      {"admin", {"settings", "list"}},
      {"admin", {"--json", "settings", "list"}},
      {"stan", {"settings", "list"}},
      {"admin", {"settings", "get", "DueDays"}},
      {"admin", {"settings", "get", "Nope"}},
      {"admin", {"settings", "set", "DueDays", "many"}},
      {"stan", {"settings", "set", "DueDays", "9"}},
      {"admin", {"settings", "set", "DueDays", "9"}},
      {"admin", {"--json", "settings", "get", "DueDays"}},
      {"stan", {"settings", "get", "SMTPHost"}},
      {"admin", {"mail", "list", "--all"}},
      {"admin", {"--json", "mail", "list"}},
      {"olga", {"--locale", "en-GB", "mail", "list"}},
      {"stan", {"mail", "list"}},
      {"stan", {"remind", "--mine", "off", "--lead-days", "9"}},
      {"stan", {"remind", "--lead-days", "400"}},
      {"vic", {"email", "--send", "1"}},
      {"admin", {"email", "--send", "2"}},
      // Users and workgroups, and who may read and change them.
      {"admin", {"user", "list"}},
      {"stan", {"--json", "user", "list"}},
      {"vic", {"user", "list"}},
      {"admin", {"user", "add", "ivan", "--name", "Ivan", "--group", "1"}, "newpass12\n"},
      {"admin", {"user", "add", "ivan"}, "newpass12\n"},
      {"admin", {"user", "add", "short"}, "pw\n"},
      {"stan", {"user", "add", "eve"}, "newpass12\n"},
      {"admin", {"user", "edit", "ivan", "--email", "ivan@example.org"}},
      {"admin", {"user", "edit", "ivan"}},
      {"admin", {"user", "rename", "ivan", "Ivan Ivanov"}},
      {"admin", {"user", "passwd", "ivan"}, "newpass34\n"},
      {"stan", {"user", "passwd", "olga"}, "olgapass1\n"},
      {"admin", {"--json", "workgroup", "list"}},
      {"admin", {"workgroup", "add", "Night", "50,52"}},
      {"admin", {"workgroup", "add", "Bad", "7x"}},
      {"stan", {"workgroup", "add", "Mine", "50"}},
      {"admin", {"workgroup", "edit", "3", "--name", "Nights", "--rights", "50, 70"}},
      {"admin", {"workgroup", "edit", "-1", "--rights", "50"}},
      {"admin", {"workgroup", "set", "ivan", "3"}},
      {"admin", {"workgroup", "delete", "3"}},
      {"admin", {"user", "delete", "ivan"}},
      {"admin", {"workgroup", "delete", "3"}},
      {"admin", {"workgroup", "delete", "99"}},
      {"admin", {"user", "delete", "olga"}},
      {"admin", {"user", "delete", "olga", "--reassign-to", "nobody"}},
      {"admin", {"user", "list"}},
      // CSV out and in: all rows or none.
      {"admin", {"export", "--sort", "ActionNumber desc"}},
      {"admin", {"import", (folder / "sheet.csv").string()}},
      {"admin", {"import", (folder / "bad.csv").string()}},
      {"vic", {"import", (folder / "sheet.csv").string()}},
      {"admin", {"import", "-"}, "Subject\nFrom standard input\n"},
      {"admin", {"list", "--columns", "ActionNumber,Subject,Assignee"}},
      // Watching, a workgroup's leads and bulk changes, refused and with bad input.
      {"olga", {"watch", "2"}},
      {"vic", {"watch", "--id", "99"}},
      {"admin", {"watchers", "2"}},
      {"admin", {"--json", "watchers", "2"}},
      {"olga", {"unwatch", "2"}},
      {"admin", {"watchers", "2"}},
      {"admin", {"workgroup", "leads", "2", "--set", "olga, admin"}},
      {"admin", {"workgroup", "leads", "2", "--set", "nobody"}},
      {"stan", {"workgroup", "leads", "2"}},
      {"admin", {"--json", "workgroup", "leads", "2"}},
      {"admin", {"watchers", "1"}},
      {"admin", {"edit", "1", "2", "77", "--category", "Yard"}},
      {"stan", {"edit", "1", "2", "--priority", "High"}},
      {"admin", {"--json", "edit", "2", "4", "--move", "close", "--note", "Done"}},
      {"admin", {"edit", "--id", "1", "2", "--move", "reopen"}},
      {"admin", {"edit", "1", "2", "--due", "2/30/2024"}},
      {"admin", {"edit", "1", "2", "--move", "shred"}},
      {"admin", {"edit", "--query", "99", "--priority", "Low"}},
      // Webhooks, the SuperUser's alone; the secret comes from a file, so both runs print alike.
      {"admin",
       {"hooks", "add", "https://hooks.example.org/kv", "--events", "created,moved",
        "--secret-file", (folder / "secret.txt").string()}},
      {"admin", {"hooks", "add", "file:///etc/passwd"}},
      {"admin", {"hooks", "add", "https://hooks.example.org/kv", "--events", "edited"}},
      {"stan", {"hooks", "add", "https://x.example.org/"}},
      {"admin", {"hooks", "edit", "1", "--active", "off", "--events", "all"}},
      {"admin", {"hooks", "list"}},
      {"admin", {"--json", "hooks", "list"}},
      {"stan", {"hooks", "list"}},
      {"admin", {"hooks", "deliveries"}},
      {"admin", {"hooks", "deliver"}},
      {"stan", {"hooks", "deliver"}},
      {"admin", {"hooks", "rm", "1"}},
      {"admin", {"hooks", "rm", "1"}},
      // Comments with mentions: from every role, from standard input, refused, as JSON.
      {"vic", {"comment", "1", "Seen, @stan."}},
      {"stan", {"comment", "1", "-"}, "From standard input,\nwith two lines, @vic\n"},
      {"stan", {"comment", "1", "ask @nobody"}},
      {"admin", {"--json", "comment", "1", "ok @admin"}},
      {"admin", {"comment", "99", "--id", "nothing here"}},
      {"vic", {"show", "1"}},
      // Last: stan's password is not "pw" after it.
      {"stan", {"user", "passwd"}, "stanpass1\n"},
  };
}

TEST_P(RemoteCommand, EveryScenarioAnswersAlikeOnTheDatabaseAndThroughAServer) {
  const std::vector<Scenario> scenarios = Scenarios(configFolder_);
  std::vector<testing::Outcome> local;
  for (const Scenario& scenario : scenarios) {
    local.push_back(As(scenario.user, scenario.args, scenario.input));
  }
  Renew();
  ASSERT_FALSE(HasFatalFailure());
  ServeDatabase();
  pageRows_ = 2;  // every list of more than two rows comes in several pages
  int differences = 0;
  for (std::size_t i = 0; i < scenarios.size(); ++i) {
    const Scenario& scenario = scenarios[i];
    testing::Outcome remote = As(scenario.user, scenario.args, scenario.input);
    // The names the attachment store gives files are random.
    for (testing::Outcome* outcome : {&remote, &local[i]}) {
      static const std::regex stored("att-[0-9a-f]{32}");
      outcome->out = std::regex_replace(outcome->out, stored, "att-NAME");
    }
    const std::string where = scenario.user + ' ' + ::testing::PrintToString(scenario.args);
    const bool same = remote.exitCode == local[i].exitCode && remote.out == local[i].out &&
                      remote.err == local[i].err;
    differences += same ? 0 : 1;
    EXPECT_EQ(remote.exitCode, local[i].exitCode) << where << '\n' << remote.err;
    EXPECT_EQ(remote.out, local[i].out) << where;
    EXPECT_EQ(remote.err, local[i].err) << where;
  }
  RecordProperty("scenarios", static_cast<int>(scenarios.size()));
  RecordProperty("differences", differences);
  // The table must hold refusals, input errors and usage errors, not only successes.
  int refused = 0;
  int usage = 0;
  for (const testing::Outcome& outcome : local) {
    refused += outcome.exitCode == kExitFailed ? 1 : 0;
    usage += outcome.exitCode == kExitUsage ? 1 : 0;
  }
  EXPECT_GE(refused, 10);
  EXPECT_GE(usage, 3);
}

TEST_P(RemoteCommand, ASessionIsKeptPerServerAndEndsThere) {
  ServeDatabase();
  const std::string server = serverUrl_;
  // Nobody signed in on this server yet.
  testing::Outcome outcome = Bare({"list"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_THAT(outcome.err, HasSubstr("Nobody is signed in on " + server +
                                     ": run 'kvaction "
                                     "login --server " +
                                     server));
  outcome = As("stan", {"login"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("Signed in as stan on " + server));
  // Kept only for its owner, and never printed.
  const std::filesystem::path tokens = configFolder_ / "sessions.toml";
  struct stat info {};
  ASSERT_EQ(::stat(tokens.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600);
  std::ifstream file(tokens);
  const std::string kept((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_THAT(kept, HasSubstr("connection = '" + server + "'"));
  EXPECT_THAT(Bare({"rights"}).out, HasSubstr("50     True   "));
  EXPECT_EQ(Bare({"list", "--mine", "--columns", "Subject"}).out, "Subject\nRoof\n(1 row)\n");

  // A session that ended on the server (here: its token kept elsewhere too and ended there) is
  // reported as such, with what to do.
  const std::string copy = kept;
  outcome = Bare({"logout"});
  EXPECT_EQ(outcome.out, "Signed out stan.\n");
  std::ofstream(tokens) << copy;
  outcome = Bare({"list"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "kvaction: The session of stan on " + server +
                             " has ended: sign in again with 'kvaction login --server " + server +
                             "'.\n");
  // Logging out of an ended session forgets it all the same.
  EXPECT_EQ(Bare({"logout"}).out, "Signed out stan.\n");
  EXPECT_EQ(Bare({"logout"}).out, "Nobody is signed in on " + server + ".\n");

  // A wrong password is refused as the server words it.
  outcome = Bare({"--user", "stan", "--password-stdin", "login"}, "wrong\n");
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_THAT(outcome.err, HasSubstr("The user ID or the password is wrong."));
}

TEST_P(RemoteCommand, WhatNeedsTheDatabaseSaysSoThroughAServer) {
  ServeDatabase();
  for (const auto& [args, shown] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"init", "--admin", "x"}, "'init' works on a database, not through a server"},
           {{"upgrade"}, "'upgrade' works on a database"},
           {{"backup", "b.kvdb"}, "'backup' works on a database"},
           {{"restore", "b.kvdb", "--replace"}, "'restore' works on a database"},
           {{"sql", "select 1"}, "'sql' works on a database"},
           {{"serve"}, "'serve' works on a database"},
           {{"mail", "send"},
            "'mail send' works on a database, not through a server (the server delivers its "
            "outbox itself"},
           {{"remind"},
            "'remind' works on a database, not through a server (the server queues the digests "
            "itself at ReminderTime"},
       }) {
    const testing::Outcome outcome = As("admin", args);
    EXPECT_EQ(outcome.exitCode, 1) << args.front();
    EXPECT_THAT(outcome.err, HasSubstr(shown)) << args.front();
  }
  // A command line names a database or a server, not both.
  const testing::Outcome both = As("admin", {"--db", "x.kvdb", "list"});
  EXPECT_EQ(both.exitCode, 2);
  EXPECT_THAT(both.err, HasSubstr("either through a server or on a database"));
}

TEST_P(RemoteCommand, AServerThatIsDownIsReportedInSeconds) {
  // A port nobody listens on.
  for (const std::string server : {"http://127.0.0.1:1"}) {
    const auto start = std::chrono::steady_clock::now();
    const testing::Outcome outcome = testing::Executed(
        {"--server", server, "--insecure-http", "--user", "admin", "--password-stdin", "list"},
        "secret\n", [this](Options& options) { options.configFolder = configFolder_.string(); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << server;
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_THAT(outcome.err, HasSubstr("kvaction: Cannot reach the server " + server + ": "));
  }
}

KV_INSTANTIATE_ENGINES(RemoteCommand);

// --- Addresses --------------------------------------------------------------------------------

TEST(ServerAddress, HttpsEverywhereHttpOnlyForThisMachine) {
  struct Case {
    std::string url;
    bool insecure;
    std::string address;  ///< "" when refused
  };
  for (const Case& c : std::vector<Case>{
           {"https://actions.example.org/", false, "https://actions.example.org"},
           {"HTTPS://actions.example.org:8443/kv//", false, "HTTPS://actions.example.org:8443/kv"},
           {"http://127.0.0.1:8080", false, "http://127.0.0.1:8080"},
           {"http://127.9.9.9", false, "http://127.9.9.9"},
           {"http://localhost:8080/", false, "http://localhost:8080"},
           {"http://[::1]:8080", false, "http://[::1]:8080"},
           {"http://actions.example.org", false, ""},
           {"http://128.0.0.1", false, ""},
           {"http://127.0.0.1.example.org", false, ""},
           {"http://actions.example.org", true, "http://actions.example.org"},
           {"https://user:pw@actions.example.org", false, ""},
           {"https://actions.example.org/?token=x", false, ""},
           {"https://actions.example.org/#x", false, ""},
           {"ftp://actions.example.org", false, ""},
           {"actions.example.org", false, ""},
           {"https://", false, ""},
           {"http://[::1", false, ""},
       }) {
    if (c.address.empty()) {
      EXPECT_THROW((void)ServerAddress(c.url, c.insecure), UsageError) << c.url;
    } else {
      EXPECT_EQ(ServerAddress(c.url, c.insecure), c.address) << c.url;
    }
  }
}

}  // namespace
}  // namespace cli
