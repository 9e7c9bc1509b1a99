// The command end to end on both engines: usage and exit statuses, output formats, refusals,
// login and logout, defaults from config.toml, and CSV import and export. Today is 15 Mar 2024.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/testing/SmtpSink.h"
#include "cli/CommandTest.h"
#include "kvaction/action/ActionTest.h"
#include "web/Client_test.h"

namespace cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class Command : public testing::CommandTest<kvaction::ActionTest> {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    if (HasFatalFailure()) return;
    AddUser("olga", "pw");
  }
  void WriteFile(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories(configFolder_);
    std::ofstream(configFolder_ / name, std::ios::binary) << text;
  }
};

/// One command run: who runs it, what it prints, and its exit status.
struct Step {
  std::vector<std::string> args;
  int exitCode;
  std::string shown;           ///< expected in standard output (exit 0) or standard error
  std::string user = "admin";  ///< signs in with his or her password; "": the arguments say all
  std::string input = {};      ///< standard input after the password
};

/// Runs the steps in order, each through run, and checks what each showed; where snapshot reads
/// the database, a step that failed must have left it as it was.
template <class Run>
void Check(const std::vector<Step>& steps, Run&& run,
           const std::function<std::string()>& snapshot = {}) {
  for (const Step& step : steps) {
    const std::string before = snapshot ? snapshot() : std::string();
    const testing::Outcome outcome = run(step);
    const std::string where = step.user + ' ' + ::testing::PrintToString(step.args);
    EXPECT_EQ(outcome.exitCode, step.exitCode) << where << '\n' << outcome.out << outcome.err;
    EXPECT_THAT(step.exitCode == 0 ? outcome.out : outcome.err, HasSubstr(step.shown)) << where;
    // A command that failed claims no success.
    if (step.exitCode != 0) {
      EXPECT_EQ(outcome.out, "") << where;
      if (snapshot) {
        EXPECT_EQ(snapshot(), before) << where;
      }
    }
  }
}

TEST_P(Command, EveryCommandAnswersWhatItDidOrWhyNot) {
  const std::string g = Run("admin", {"workgroup", "add", "Crew", "50,70"}).substr(0, 1);
  AddUser("stan", "pw", std::stoi(g));
  AddUser("vic", "pw", std::stoi(Run("admin", {"workgroup", "add", "Viewers", "70,82"})));
  passwords_["ivan"] = "newpass12";
  Run("admin", {"add", "--subject", "Roof", "--assignee", "stan", "--due", "4/1/2024"});
  const std::string att = (configFolder_ / "att").string();
  const std::string file = (configFolder_ / "note.txt").string();
  const std::string out = (configFolder_ / "out.txt").string();
  const std::string all = (configFolder_ / "all.csv").string();
  const std::string sheet = (configFolder_ / "sheet.csv").string();
  std::filesystem::create_directories(att);
  WriteFile("note.txt", "hello\n");
  const std::vector<Step> steps = {
      {{"help"}, 0, "Usage: kvaction"},
      {{"help"},
       0,
       "Environment: KVACTION_DB, KVACTION_CONNECTION, KVACTION_SERVER and KVACTION_USER"},
      {{"help", "list"}, 0, "--due-within"},
      {{"help", "user", "add"}, 0, "default workgroup"},
      {{"--version"}, 0, "kvaction 1.0.0"},
      {{"lsit"}, 2, "'lsit' is not a command. Did you mean 'list'?"},
      {{"user", "ad", "x"}, 2, "Did you mean 'user add'?"},
      {{"help", "frobnicate"}, 2, "'frobnicate' is not a command."},
      {{}, 2, "Run 'kvaction help'"},
      {{"--locale", "fr-FR", "info"}, 2, "--locale: fr-FR not in"},
      {{"list", "--status", "pending"},
       2,
       "--status: 'pending' is not a state: active, open, due-today"},
      {{"list", "--due-within", "40000"},
       2,
       "--due-within: '40000' is not a whole number from 0 to 32767"},
      {{"list", "--limit", "many"}, 2, "--limit"},
      {{"add", "--due", "31/12/2026"}, 2, "--due: '31/12/2026' is not a date in the form M/d/yyyy"},
      {{"add", "--type", "x"}, 2, "--type: 'x' is not a whole number"},
      {{"add", "--category", "x"}, 1, "--subject: "},
      {{"list", "--columns", "Subject,Nope"}, 1, "Nope"},
      {{"list", "--columns", " ,x"}, 2, "--columns: ' ,x' is not a list of column names"},
      {{"list", "--sort", "Bogus"}, 1, "--sort: 'Bogus' is not a column of the actions table"},
      {{"list", "--query", "99"}, 1, "0x8004044E kvAction.app: "},
      // Search over every field, date ranges, and the activity (right 82: stan has none).
      {{"list", "--grep", "STAN", "--due-from", "2024-04-01", "--due-to", "4/1/2024"}, 0, "Roof"},
      {{"list", "--due-from", "31/12/2026"},
       1,
       "--due-from: '31/12/2026' is not a date in the form yyyy-mm-dd or M/d/yyyy"},
      {{"activity"}, 0, "No. 1 Roof"},
      {{"activity", "--limit", "0"}, 1, "--limit: '0' is not a whole number from 1 to 200"},
      {{"activity", "--since", "soon"}, 1, "--since: 'soon' is not a date"},
      {{"activity"}, 1, "Refused: viewing the activity", "stan"},
      {{"show", "77"}, 1, "No action has the number 77."},
      // Rights and workgroups.
      {{"rights"}, 0, "43     True   Workgroup maintenance"},
      {{"rights"}, 0, "43     False  Workgroup maintenance", "stan"},
      {{"can", "1"}, 0, "DeleteAction          False", "stan"},
      {{"workgroup", "add", "X", "50"}, 1, "needs right 43 (Workgroup maintenance).", "stan"},
      {{"workgroup", "add", "X", "7x"}, 2, "RIGHTS: '7x' is not right numbers"},
      {{"workgroup", "edit", g}, 2, "give --name or --rights"},
      {{"workgroup", "edit", g, "--rights", "70, x"}, 2, "--rights: '70, x'"},
      {{"workgroup", "edit", g, "--name", "Team", "--rights", "50, 70"},
       0,
       "Changed the workgroup"},
      {{"--json", "workgroup", "list"}, 0, R"("GroupName":"Team","RightList":"50,70")"},
      {{"workgroup", "set", "olga", g}, 0, "Moved olga to workgroup " + g + "."},
      {{"--json", "user", "list"}, 0, R"("UserName":"olga Name","Email":null,"GroupID":)" + g},
      {{"workgroup", "delete", g}, 1, "Refused: workgroup " + g + " still has 2 member(s)."},
      {{"workgroup", "delete", "99"}, 1, "No workgroup has the ID 99."},
      {{"workgroup", "add", "Spare", "50"}, 0, "3\n"},
      {{"workgroup", "delete", "3"}, 0, "Deleted the workgroup 3."},
      {{"fields"}, 0, "FieldName  FieldLabel\nCategory   Category"},
      {{"--json", "fields"}, 0, "\"validated\": {\n    \"Category\": \"Category\""},
      // Attachments.
      {{"settings", "set", "AttachmentPath", att}, 0, "Set AttachmentPath."},
      {{"attach", "add", "1", file}, 1, "Refused: you may not attach to this action", "stan"},
      {{"attach", "add", "1", file}, 0, "Added attachment 1."},
      {{"attach", "add", "1", "--link", "https://x.example", "--description", "Site"},
       0,
       "ment 2."},
      {{"attach", "add", "1"}, 2, "give either FILE or --link URL"},
      {{"attach", "add", "1", "--link", "javascript:alert(1)"},
       1,
       "--link: 'javascript:alert(1)' is not an http:// or https:// address"},
      {{"attach", "add", "1", file + ".gone"}, 1, "Cannot read " + file + ".gone."},
      {{"--json", "attach", "list", "1"}, 0, R"("Description":"Site","URL":"https://x.example")"},
      {{"attach", "get", "1"}, 0, "hello\n"},
      {{"attach", "get", "1", "--output", out}, 0, ""},
      {{"attach", "get", "1", "--output", out}, 1, out + " exists already"},
      {{"attach", "get", "2"}, 1, "No attachment with content has the ID 2."},
      {{"attach", "rm", "2"}, 0, "Removed attachment 2."},
      {{"attach", "rm", "2"}, 1, "No attachment has the ID 2."},
      // One action's life.
      {{"edit", "1"}, 2, "give at least one field to change"},
      {{"edit", "1", "--category", "Ops", "--due", "4/2/2024"}, 0, "Changed DateDue, Category."},
      {{"edit", "1", "--category", "Ops"}, 0, "Nothing changed."},
      {{"show", "1"}, 0, "Category:      Ops\n", "stan"},
      // Stored codes read as words; JSON keeps the stored values.
      {{"show", "1"},
       0,
       "Reviewed:      Assigned to stan Name\nAlert:         Yes, for the Assignee (stan Name)\n"},
      {{"--json", "show", "1"}, 0, "\"Reviewed\": 0,\n    \"Alert\": true"},
      {{"edit", "1", "--type", "1"}, 0, "Changed ActionType."},
      {{"show", "1"}, 0, "ActionType:    Acknowledge only\n"},
      {{"edit", "1", "--type", "0"}, 0, "Changed ActionType."},
      {{"show", "1"}, 0, "ActionType:    Approval required\n"},
      {{"show", "1"}, 0, "admin  The Due Date was changed from 4/1/2024 to 4/2/2024\n"},
      {{"--json", "show", "1"}, 0, "\"DateOpened\": \"2024-03-15\""},
      {{"list"},
       0,
       "No.      Due         State             Turn                  Subject\n"
       "1        4/2/2024    Open              Assignee: stan Name   Roof"},
      {{"edit", "1", "--category", "Mine"}, 1, "Refused: ", "vic"},
      {{"review", "10", "1"}, 0, "Review status of 1 is now 10."},
      {{"show", "1"},
       0,
       "Reviewed:      Ada Admin has not yet assigned this action for review.\n"
       "Alert:         Yes, for the Originator (Ada Admin)\n"},
      // The moves the action page offers, by the same names and words.
      {{"show", "1"},
       0,
       "Review moves (kvaction review MOVE 1):\n  assign      Assign for review\n"},
      {{"review", "approve", "1"}, 1, "Refused: the move 'approve' does not fit"},
      {{"review", "bogus", "1"}, 1, "move: 'bogus' is not one of assign, complete,"},
      {{"review", "10", "1", "--note", "x"}, 2, "review: --note goes with a move"},
      {{"review", "assign", "1"}, 0, "Assign for review: done on 1."},
      {{"show", "1"}, 0, "Reviewed:      Assigned to "},
      {{"review", "10", "1"}, 0, "Review status of 1 is now 10."},
      {{"review", "10", "9"}, 1, "No action has the number 9."},
      {{"complete", "1", "--note", "Fixed"}, 1, "Refused: ", "vic"},
      {{"complete", "1", "--note", "Fixed"}, 0, "Completed 1."},
      {{"--json", "list", "--status", "completed"}, 0, "\"State\":\"completed\",\"Turn\":\"you\""},
      {{"close", "1"}, 0, "Closed 1."},
      {{"show", "1"}, 0, "Reviewed:      Closed on 3/15/2024 by Ada Admin."},
      {{"--json", "list", "--status", "closed"}, 0, "\"State\":\"closed\",\"Turn\":\"nobody\""},
      {{"list", "--status", "closed", "--csv", "--columns", "Results"},
       0,
       "3/15/2024 admin, completed] Fixed"},
      {{"reopen", "1"}, 0, "Reopened 1."},
      {{"copy", "1"}, 0, "2\n"},
      {{"delete", "2", "--id", "99"}, 1, "No action has the ID 99."},
      {{"delete", "2"}, 1, "Refused: you may not delete this action", "stan"},
      {{"delete", "2"}, 1, "Refused: you may not delete this action", "vic"},
      {{"add", "--subject", "Mine"}, 1, "Refused: ", "vic"},
      {{"delete", "2"}, 0, "Deleted 2."},
      {{"list", "--columns", "ActionNumber,DateOpened,DateClosed,Category,Originator,Alert"},
       0,
       "No.      Opened      Closed      Category    Originator      Alert\n"
       "1        3/15/2024               Ops         Ada Admin       True\n(1 row)"},
      // Users.
      {{"user", "add", "x", "--group", "-1"}, 1, "adding a user needs right 41", "stan"},
      {{"user", "add", "x", "--group", "-1"}, 1, "adding a user needs right 41", "vic"},
      {{"user", "add", "ivan", "--name", "I", "--email", "i@x.org", "--group", g},
       0,
       "Added",
       "admin",
       "ivanpass1\n"},
      {{"user", "edit", "ivan"}, 2, "give --name, --email or --group"},
      {{"user", "edit", "ivan", "--email", ""}, 0, "Changed the user ivan."},
      {{"user", "rename", "ivan", "Ivan Ives"}, 0, "Renamed ivan to Ivan Ives."},
      {{"user", "passwd", "ivan"}, 0, "Changed the password of ivan.", "admin", "newpass12\n"},
      {{"--json", "user", "list"}, 0, R"({"UserID":"ivan","UserName":"Ivan Ives"})", "ivan"},
      {{"user", "delete", "nobody"}, 1, "No user has the ID nobody."},
      // Settings, statements and saved queries.
      {{"upgrade"}, 0, "Added the default workgroup Staff"},
      {{"--json", "upgrade"}, 0, "[]\n"},
      {{"--json", "info"}, 0, "\"UserID\": \"admin\""},
      {{"settings", "list"}, 0, "AttachmentPath: " + att + "\n"},
      {{"settings", "get", "AttachmentPath"}, 0, att + "\n"},
      {{"--json", "settings", "list"}, 0, "\"AttachmentPath\": \"" + att + "\""},
      {{"--json", "settings", "get", "AttachmentPath"}, 0, "{\"AttachmentPath\":\"" + att + "\"}"},
      {{"settings", "get", "Nope"}, 1, "'Nope' is not a known key"},
      {{"settings", "set", "SMTPHost", "x"}, 1, "settings needs right 255", "stan"},
      {{"sql", "select 1"}, 1, "running SQL needs right 255", "stan"},
      {{"sql", "update Users set GroupID=-1"}, 1, "running SQL needs right 255", "vic"},
      {{"sql", "update Actions set Priority = 'High'"}, 0, "Done."},
      {{"sql", "select Priority from Actions"}, 0, "(1 row)"},
      {{"sql", "select ActionNumber, Priority from Actions", "--csv"}, 0, "Priority\r\n1,High\r\n"},
      {{"sql", "selec"}, 1, "syntax error"},
      {{"query", "add", "Mine", "--mine"}, 1, "a query needs right 52", "stan"},
      {{"query", "add", "Ops", "--category", "Ops"}, 0, "1\n"},
      {{"list", "--query", "1", "--csv", "--columns", "Subject"}, 0, "Subject\r\nRoof\r\n"},
      {{"query", "share", "1"}, 0, "Shared the query 1."},
      {{"--json", "query", "list"}, 0, R"("Name":"Ops","UserID":"admin","Shared":true)"},
      {{"query", "share", "1", "--off"}, 0, "Withdrew the query 1."},
      {{"query", "delete", "1"}, 0, "Deleted the query 1."},
      {{"query", "add", "Roofs", "--grep", "roof' or 1=1 --", "--closed-to", "2030-01-01"},
       0,
       "\n"},
      {{"alerts"}, 0, "1\n"},
      {{"--json", "alerts"}, 0, "{\"Alerts\":1}"},
      {{"due", "--days", "30", "--csv", "--columns", "ActionNumber,DateDue"}, 0, "1,2024-04-02"},
      // Mail.
      {{"email", "1"}, 0, "Subject: Action 1: Roof"},
      {{"--json", "email", "1"}, 0, "\"Subject\":\"Action 1: Roof\""},
      {{"mail", "send", "--password-file", out + "x"}, 1, "The password file " + out + "x cannot"},
      {{"mail", "send", "--password-file", file},
       0,
       "Delivered 0, to be tried again 0, given up 0."},
      {{"mail", "send"}, 1, "delivering everyone's mail needs right 255", "stan"},
      {{"remind", "--mine", "off", "--lead-days", "3"}, 0, "reminder settings are saved.", "stan"},
      {{"remind", "--date", "x"}, 2, "--date: 'x' is not a date (yyyy-mm-dd or M/d/yyyy)"},
      {{"remind", "--date", "3/20/2024", "--dry-run"}, 0, "Nobody to remind."},
      // Import and export.
      {{"export", "--output", out + "/x.csv"}, 1, "Cannot write " + out + "/x.csv."},
      {{"export", "--sort", "ActionNumber"}, 0, "ActionID,ActionNumber,Subject,"},
      {{"import", file + ".gone"}, 1, "Cannot read " + file + ".gone."},
      {{"import", "-"}, 1, "The file is empty"},
      {{"import", "-"},
       1,
       "line 1: 'Nope' is not a column import can fill",
       "admin",
       "Subject,Nope"},
      {{"import", "-"}, 1, "line 2: a quoted field is never closed", "admin", "Subject\n\"Open"},
      {{"import", "-"},
       1,
       "line 2: 1 fields where the header has 2",
       "admin",
       "Subject,Category\nA"},
      {{"import", "-"},
       1,
       "line 2: ActionType: 'x' is not a whole number",
       "admin",
       "Subject,ActionType\nA,x\n"},
      // One bad row stores no row; rows app/ refuses are all named.
      {{"import", "-"},
       1,
       "Nothing was imported:\n  line 3: DateDue: '31/12/2026'",
       "admin",
       "Subject,AssigneeID,DateDue,Category\nGood one,olga,2024-05-01,Ops\n"
       "Bad "
       "date,olga,31/12/2026,Ops\n\"Two\nlines\",nobody,2024-05-01,Ops\n,olga,2024-05-01,Ops\n"},
      {{"import", "-"},
       1,
       "line 3: No user has the ID nobody.\n  line 5: Subject: a subject is required\n",
       "admin",
       "Subject,AssigneeID,DateDue\nGood one,olga,2024-05-01\n\"Two\nlines\",nobody,\n,olga,\n"},
      {{"import", "-"},
       0,
       "Imported 2 actions.",
       "admin",
       "Subject,Assignee,DateDue,Result\r\nIn,stan,2024-03-01,r\r\n\r\nOut,olga,,\n"},
      {{"alerts", "--list", "--csv", "--columns", "Subject,State"},
       0,
       "Subject,State\r\nIn,overdue\r\n"},
      {{"user", "delete", "stan", "--reassign-to", "admin"}, 0, "Deleted the user stan."},
      {{"list", "--assignee", "admin", "--sort", "ActionNumber", "--csv", "--columns", "Subject"},
       0,
       "Subject\r\nRoof\r\nIn\r\n"},
      // What export writes, import reads back as new actions.
      {{"import", "-"}, 0, "Imported 1 action.", "admin", "Subject\n\u00d6l\n"},
      {{"export", "--output", all}, 0, ""},
      {{"import", all}, 0, "Imported 4 actions."},
      {{"list", "--grep", "Roof", "--csv", "--columns", "Subject,DateDue"},
       0,
       "Subject,DateDue\r\nRoof,2024-04-02\r\nRoof,2024-04-02\r\n"},
      // A text a spreadsheet would run as a formula is written for it to show as text (a typed
      // apostrophe does the same), and import reads back what was entered.
      {{"import", "-"},
       0,
       "Imported 4 actions.",
       "admin",
       "Subject,Category\n\"=cmd|' /C calc'!A0\",Sheet\n'@x,Sheet\n''=y,Sheet\n-1,Sheet\n"},
      {{"list", "--category", "Sheet", "--sort", "ActionNumber", "--csv", "--columns", "Subject"},
       0,
       "Subject\r\n'=cmd|' /C calc'!A0\r\n'@x\r\n''=y\r\n'-1\r\n"},
      {{"export", "--output", sheet, "--sort", "ActionNumber"}, 0, ""},
      {{"import", sheet}, 0, "Imported 12 actions."},
      {{"--json", "list", "--category", "Sheet", "--sort", "ActionNumber", "--columns", "Subject"},
       0,
       R"([
  {"Subject":"=cmd|' /C calc'!A0"},
  {"Subject":"@x"},
  {"Subject":"'=y"},
  {"Subject":"-1"},
  {"Subject":"=cmd|' /C calc'!A0"},
  {"Subject":"@x"},
  {"Subject":"'=y"},
  {"Subject":"-1"}
])"},
      // A kept session: no user, no password, until logout or its end.
      {{"login"}, 0, "Signed in as admin"},
      {{"info"}, 0, "UserID: admin", ""},
      {{"add", "--subject", "Signed in"}, 0, "\n", ""},
      {{"--password-stdin", "user", "add", "ivy"}, 0, "Added", "", "ivypass12\n"},
      {{"logout"}, 0, "Signed out admin.", ""},
      {{"info"}, 1, "Nobody is signed in", ""},
      {{"logout"}, 0, "Nobody is signed in", ""},
      {{"login"}, 0, "Signed in as admin"},
      {{"sql", "delete from ActionSessions"}, 0, "Done."},
      {{"info"}, 1, "The session of admin has ended", ""},
      {{"logout"}, 0, "Signed out admin.\n", ""},
      {{"login"}, 0, "Signed in as admin"},
  };
  Check(
      steps,
      [this](const Step& step) {
        return step.user.empty() ? Bare(step.args, step.input)
                                 : As(step.user, step.args, step.input);
      },
      [this] {
        return kvdata::testing::TablesText(
            *Connect(), {"actions", "ActionEvents", "ActionAttachments", "ActionQueries",
                         "ActionGroups", "Users", "ActionConfig"});
      });
  std::stringstream written;
  written << std::ifstream(out).rdbuf();
  EXPECT_EQ(written.str(), "hello\n");
  struct stat info {};
  ASSERT_EQ(::stat((configFolder_ / "sessions.toml").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the kept session is private";
}

/// One command by one person: what it shows, what it must not show, and how many mails reach
/// the relay.
struct RightsCase {
  std::vector<std::string> args;
  std::string user;
  int exitCode;
  std::string shown;        ///< in standard output (exit 0) or standard error
  std::string hidden = {};  ///< nowhere in what the command printed
  size_t sent = 0;          ///< mails the relay received so far
};

// Users' addresses, workgroups' rights and the notices of actions go only to the people whose
// rights allow them, whatever they type; a refusal sends and changes nothing.
TEST_P(Command, WhatAPersonReadsOfUsersAndWhoMaySendANoticeFollowTheirRights) {
  const app::testing::SmtpSink sink;
  const auto group = [this](const std::string& name, const std::string& rights) {
    return std::stoi(Run("admin", {"workgroup", "add", name, rights}));
  };
  const int32_t crew = group("Crew", "50,70"), leads = group("Leads", "41,50,70");
  AddUser("vic", "pw", group("Viewers", "70,82"), "Vic", "vic@example.org");
  AddUser("otto", "pw", crew, "Otto", "otto@example.org");
  AddUser("stan", "pw", crew, "Stan", "stan@example.org");
  AddUser("ana", "pw", crew, "Ana", "ana@example.org");
  AddUser("lea", "pw", leads, "Lea", "lea@example.org");
  Run("admin", {"settings", "set", "SMTPHost", sink.Address()});
  Run("admin", {"settings", "set", "WebURL", "https://actions.example.org"});
  // Stan raised action 1 for Ana: they are its parties, nobody else is.
  Run("stan", {"add", "--subject", "Roof", "--assignee", "ana"});
  const std::string addresses = "ana@example.org";
  const std::vector<RightsCase> cases = {
      {{"user", "list"}, "vic", 1, "Refused: listing users needs right 50 (Add Actions)"},
      {{"--json", "user", "list"}, "otto", 0, R"({"UserID":"ana","UserName":"Ana"})", "@"},
      {{"--json", "user", "list"}, "lea", 0, R"("Email":"ana@example.org","GroupID":)"},
      {{"--json", "user", "list"}, "admin", 0, R"("Email":"ana@example.org","GroupID":)"},
      {{"workgroup", "list"}, "vic", 1, "Refused: listing workgroups needs right 41"},
      {{"workgroup", "list"}, "otto", 1, "or 43 (Workgroup maintenance)."},
      {{"--json", "workgroup", "list"}, "lea", 0, R"("GroupName":"Crew","RightList":"50,70")"},
      {{"--json", "workgroup", "list"}, "admin", 0, R"("RightList":"41,50,70")"},
      // Anyone may read the notice; only its parties and user maintainers its addresses.
      {{"--json", "email", "1"}, "vic", 0, R"("AssigneeEmail":null)", addresses},
      {{"email", "1"}, "otto", 0, "Subject: Action 1: Roof", addresses},
      {{"--json", "email", "1"}, "stan", 0, R"("AssigneeEmail":"ana@example.org")"},
      {{"--json", "email", "1"}, "lea", 0, R"("OriginatorEmail":"stan@example.org")"},
      {{"email", "1", "--send"},
       "vic",
       1,
       "Refused: only the assignee, the originator or a "
       "SuperUser may send the notice of action 1."},
      {{"email", "1", "--send"}, "otto", 1, "Refused: only the assignee"},
      {{"email", "1", "--send"}, "lea", 1, "Refused: only the assignee"},
      {{"email", "1", "--send", "--url", "https://evil.example/phish"},
       "ana",
       2,
       "--url: the link comes from the setting WebURL"},
      {{"email", "1", "--send"}, "ana", 0, "Sent to 1 recipient.", "", 1},
      {{"email", "1", "--send"}, "admin", 0, "Sent to 2 recipients.", "", 2},
  };
  const auto snapshot = [this] {
    return kvdata::testing::TablesText(*Connect(),
                                       {"actions", "ActionEvents", "ActionGroups", "Users"});
  };
  for (const auto& c : cases) {
    const std::string where = c.user + ' ' + ::testing::PrintToString(c.args);
    const std::string before = snapshot();
    const testing::Outcome outcome = As(c.user, c.args);
    EXPECT_EQ(outcome.exitCode, c.exitCode) << where << '\n' << outcome.out << outcome.err;
    EXPECT_THAT(c.exitCode == 0 ? outcome.out : outcome.err, HasSubstr(c.shown)) << where;
    if (!c.hidden.empty()) {
      EXPECT_THAT(outcome.out + outcome.err, Not(HasSubstr(c.hidden))) << where;
    }
    EXPECT_EQ(sink.Received().size(), c.sent) << where;
    if (c.exitCode != 0) {
      EXPECT_EQ(snapshot(), before) << where;
    }
  }
  // Every notice links under WebURL, whoever sent it.
  for (const auto& mail : sink.Received()) {
    EXPECT_THAT(mail.data, HasSubstr("https://actions.example.org/default.asp?"));
    EXPECT_THAT(mail.data, Not(HasSubstr("evil.example")));
  }
}

/// The commands on a database file of their own: creating it, backup and restore.
TEST_P(Command, FileCommandsCreateCopyAndRestoreADatabase) {
  const std::string db = (configFolder_ / "own.kvdb").string();
  const std::string copy = (configFolder_ / "copy.kvdb").string();
  const std::string junk = (configFolder_ / "junk").string();
  WriteFile("junk", "not a database");
  // Who runs a step is in its arguments: nobody for the file commands, root for the others.
  const auto root = [](std::vector<std::string> args) {
    args.insert(args.begin(), {"--user", "root", "--password-stdin"});
    return args;
  };
  const std::vector<Step> steps = {
      {{"--password-stdin", "init", "--admin", "root"}, 1, "at least 8 characters", "", "short\n"},
      {{"--password-stdin", "init", "--admin", "root", "--email", "root.example.org"},
       1,
       "email: 'root.example.org' is not an e-mail address",
       "",
       "rootpass1\n"},
      {{"--password-stdin", "init", "--admin", "root", "--email", "root@example.org"},
       0,
       "with the SuperUser root.",
       "",
       "rootpass1\r\n"},
      {root({"--json", "user", "list"}), 0,
       R"("UserID":"root","UserName":"root","Email":"root@example.org")", "", "rootpass1\n"},
      {root({"add", "--subject", "Kept"}), 0, "1\n", "", "rootpass1\n"},
      {{"backup", copy}, 0, "Backed up " + db + " to " + copy + "."},
      {{"backup", copy}, 1, "The backup file " + copy + " exists already."},
      {{"backup", copy, "--overwrite"}, 0, "Backed up "},
      {root({"add", "--subject", "Lost"}), 0, "2\n", "", "rootpass1\n"},
      {{"restore", copy}, 1, "restoring replaces all of it"},
      {{"restore", junk, "--replace"}, 1, "is not a database"},
      {{"restore", copy, "--replace"}, 0, "Restored " + db + " from " + copy + "."},
      {root({"--json", "list", "--columns", "Subject", "--sort", "ActionNumber"}), 0,
       "[\n  {\"Subject\":\"Kept\"}\n]\n", "", "rootpass1\n"},
  };
  Check(steps, [&](const Step& step) {
    std::vector<std::string> args = step.args;
    args.insert(args.begin(), {"--db", db});
    return testing::Executed(args, step.input, [this](Options& options) {
      options.clock = pinnedClock_;
      options.configFolder = configFolder_.string();
      options.cheapPasswords = true;
    });
  });
}

// Each step's input is config.toml; its user, if any, is KVACTION_USER, whose password follows.
TEST_P(Command, DefaultsComeFromConfigTomlAndTheEnvironment) {
  const std::string kept = "connection = \"" + ConnectionString() + "\"\nuser = \"admin\"\n";
  const std::vector<Step> steps = {
      {{"--password-stdin", "info"}, 0, "UserID: admin", "", kept},
      {{"--password-stdin", "info"}, 0, "UserID: olga", "olga", kept},
      // A config.toml that cannot be used stops every command.
      {{"info"}, 1, "config.toml:1: user must be a string", "", "user = 3\n"},
      {{"info"}, 1, "config.toml:2: ", "", "user = \"a\"\nuser = [\n"},
      {{"info"}, 2, "locale: 'fr-FR' is not a known locale", "", "locale = \"fr-FR\"\n"},
  };
  Check(steps, [this](const Step& step) {
    WriteFile("config.toml", step.input);
    if (!step.user.empty()) ::setenv("KVACTION_USER", step.user.c_str(), 1);
    const std::string password = PasswordOf(step.user.empty() ? "admin" : step.user) + "\n";
    const testing::Outcome outcome = testing::Executed(step.args, password, [this](Options& o) {
      o.configFolder = configFolder_.string();
      o.cheapPasswords = true;
    });
    ::unsetenv("KVACTION_USER");
    return outcome;
  });
}

// The program itself: serve answers on the port it chose until SIGTERM ends it cleanly, and does
// the mail work as the SuperUser signed in by login. Its limits come from the database's settings
// unless an option gives them.
TEST_P(Command, TheProgramServesUntilTerminated) {
  Run("admin", {"upgrade"});
  Run("admin", {"settings", "set", "WebMaxFormKiB", "1"});
  Run("admin", {"settings", "set", "WebMaxHeadKiB", "64"});
  const auto xdg = configFolder_ / "xdg";
  const testing::Outcome login = testing::Executed(
      {"--connection", ConnectionString(), "--user", "admin", "--password-stdin", "login"},
      "secret\n", [&](Options& options) { options.configFolder = (xdg / "kvaction").string(); });
  ASSERT_EQ(login.exitCode, 0) << login.err;
  std::array<int, 2> pipe{};
  ASSERT_EQ(::pipe(pipe.data()), 0);
  ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe[1], STDOUT_FILENO);
    ::execl(KVACTION_BINARY, "kvaction", "--connection", ConnectionString().c_str(), "serve",
            "--listen", "127.0.0.1:0", "--max-head-bytes", "4096", nullptr);
    ::_exit(127);
  }
  ::unsetenv("XDG_CONFIG_HOME");
  ::close(pipe[1]);
  std::string shown;
  std::array<char, 256> buffer{};
  for (ssize_t n = 1; n > 0 && shown.find('\n') == std::string::npos;) {
    n = ::read(pipe[0], buffer.data(), buffer.size());
    if (n > 0) shown.append(buffer.data(), static_cast<std::size_t>(n));
  }
  const std::size_t colon = shown.find(':', shown.find("127.0.0.1"));
  const int port = colon == std::string::npos ? 0 : std::atoi(shown.c_str() + colon + 1);
  web::Client client("127.0.0.1", port);
  const auto answer = client.Get("/signin");
  const auto longForm =
      client.Post("/signin", "user=" + std::string(2000, 'x'), "application/x-www-form-urlencoded");
  const auto longHead = client.Get("/signin", {{"X-Padding", std::string(6000, 'x')}});
  ::kill(pid, SIGTERM);
  int status = -1;
  ::waitpid(pid, &status, 0);
  ::close(pipe[0]);
  EXPECT_THAT(shown, StartsWith("Serving http://127.0.0.1:"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  ASSERT_TRUE(longForm && longHead);
  EXPECT_EQ(longForm->status, 413) << "the setting WebMaxFormKiB allows 1 KiB";
  EXPECT_EQ(longHead->status, 431) << "--max-head-bytes beats the setting WebMaxHeadKiB";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

KV_INSTANTIATE_ENGINES(Command);

}  // namespace
}  // namespace cli
