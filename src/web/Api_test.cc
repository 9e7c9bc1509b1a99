// The JSON API over HTTP on both engines: who may make each call (a refusal is a 403 that changes
// nothing), the token's life, the edit conflict, and requests written to do harm.
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/Attachments.h"
#include "app/Errors.h"
#include "kvdata/Base64.h"
#include "kvdata/testing/ScratchFolder.h"
#include "web/Routes.h"
#include "web/ServedDatabase_test.h"

namespace web {
namespace {

using Json = nlohmann::json;

struct Answer {
  int status = 0;
  Json body;  // discarded when the answer is not JSON
  std::string raw;
};

class ApiTest : public ServedDatabaseTest {
 protected:
  Answer Call(const std::string& method, const std::string& path, const std::string& token,
              const std::string& body = {}, const std::string& type = "application/json") {
    web::Headers headers;
    if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
    web::Result result = method == "GET"     ? client_->Get(path, headers)
                         : method == "POST"  ? client_->Post(path, headers, body, type)
                         : method == "PATCH" ? client_->Patch(path, headers, body, type)
                                             : client_->Delete(path, headers);
    return {result->status, Json::parse(result->body, nullptr, false), result->body};
  }
  // A continuation naming the row with this value of column and ActionID 1, as a page gives one.
  static std::string Continuation(const std::string& column, const std::string& value) {
    const Json key = {
        {"k", Json::array({Json::array({column, value}), Json::array({"ActionID", 1})})}};
    std::string text = kvdata::ToBase64(key.dump());
    while (!text.empty() && text.back() == '=') text.pop_back();
    for (char& c : text) c = c == '+' ? '-' : (c == '/' ? '_' : c);
    return text;
  }
  // Signs in through the API; returns the token ("" when refused).
  std::string Token(const std::string& user, const std::string& password = "password1",
                    int* status = nullptr) {
    const Answer answer =
        Call("POST", "/api/v1/session", {}, Json{{"user", user}, {"password", password}}.dump());
    if (status) *status = answer.status;
    return answer.status == 201 ? answer.body["token"].get<std::string>() : "";
  }
};

struct RoleCase {
  std::string what;
  std::string method;
  std::string path;  // {} is the action's ID
  std::string body;
  std::set<std::string> allowed;
};

TEST_P(ApiTest, EachCallIsAllowedExactlyToItsRolesAndARefusalChangesNothing) {
  const std::vector<RoleCase> cases = {
      {"edit the subject",
       "PATCH",
       "/api/v1/actions/{}",
       R"({"changes": {"Subject": "New"}, "basedOn": {"Subject": "Fix the pump"}})",
       {"lead", "orig"}},
      {"complete", "POST", "/api/v1/actions/{}/move", R"({"move": "complete"})", {"asg"}},
      {"close", "POST", "/api/v1/actions/{}/close", "{}", {"lead", "orig"}},
      {"attach a link",
       "POST",
       "/api/v1/actions/{}/attachments",
       R"({"url": "https://example.org/a"})",
       {"lead", "orig", "asg"}},
      {"copy", "POST", "/api/v1/actions/{}/copy", "", {"lead", "orig", "asg", "by"}},
      {"delete", "DELETE", "/api/v1/actions/{}", "", {"lead", "orig"}},
      // Whoever may pick an assignee reads the users (see below for what of them).
      {"list users", "GET", "/api/v1/users", "", {"lead", "orig", "asg", "by"}},
      {"list workgroups", "GET", "/api/v1/workgroups", "", {"lead"}},
      // The histories' right: the viewer reads lists but no history.
      {"activity", "GET", "/api/v1/activity?limit=5", "", {"lead", "orig", "asg", "by"}},
  };
  std::map<std::string, std::string> tokens;
  for (const auto& user : kUsers) tokens[user] = Token(user);
  for (const auto& test : cases) {
    for (const auto& user : kUsers) {
      SCOPED_TRACE(test.what + " as " + user);
      const int32_t id = NewAction();
      const std::string before = Snapshot();
      const Answer answer =
          Call(test.method, fmt::format(fmt::runtime(test.path), id), tokens[user], test.body);
      const bool allowed = test.allowed.count(user) > 0;
      EXPECT_TRUE(allowed ? answer.status < 300 : answer.status == 403) << answer.raw;
      EXPECT_EQ(answer.raw.find(fmt::format("\"number\":{}", app::kRefused)) != std::string::npos,
                !allowed);
      EXPECT_EQ(Snapshot() != before, allowed && test.method != "GET")
          << "a refusal changes nothing";
    }
  }  // Addresses and workgroups only to those who maintain users or workgroups.
  for (const auto& [user, columns] : std::map<std::string, size_t>{{"orig", 2}, {"lead", 4}}) {
    const Answer users = Call("GET", "/api/v1/users", tokens[user]);
    ASSERT_EQ(users.status, 200) << users.raw;
    ASSERT_EQ(users.body.size(), kUsers.size());
    for (const auto& row : users.body) EXPECT_EQ(row.size(), columns) << user << ' ' << row;
  }  // The library's own refusal (no attachment folder is set) is a refusal like app's.
  const Answer noFolder =
      Call("POST", fmt::format("/api/v1/actions/{}/attachments?name=a.bin", NewAction()),
           tokens["orig"], "bytes", "application/octet-stream");
  EXPECT_EQ(noFolder.status, 403) << noFolder.raw;
  EXPECT_NE(noFolder.body["error"]["message"].get<std::string>().find("No attachment path"),
            std::string::npos);
}

TEST_P(ApiTest, ATokenLivesFromSignInToSignOutAndNoCookieStandsInForIt) {
  int status = 0;
  const std::string token = Token("orig", "password1", &status);
  ASSERT_EQ(status, 201);
  EXPECT_EQ(Call("GET", "/api/v1/session", token).body["user"], "orig");

  const auto pageCookie = client_->Get("/api/v1/session", {{"Cookie", "kvsession=" + token}});
  EXPECT_EQ(pageCookie->status, 401) << "a session cookie is not a token";
  EXPECT_EQ(pageCookie->get_header_value("WWW-Authenticate"), "Bearer");
  for (const std::string& wrong : {std::string(64, '0'), std::string("x")}) {
    const Answer answer = Call("GET", "/api/v1/actions", wrong);
    EXPECT_EQ(answer.status, 401);
    EXPECT_EQ(answer.body["error"]["number"], app::kNotSignedIn);
  }

  EXPECT_EQ(Call("DELETE", "/api/v1/session", token).status, 204);
  EXPECT_EQ(Call("GET", "/api/v1/session", token).status, 401) << "signed out";

  for (int attempt = 0; attempt < 5; ++attempt) {
    EXPECT_EQ(Token("by", "wrong-password", &status), "");
    EXPECT_EQ(status, 401);
  }
  EXPECT_EQ(Token("by", "password1", &status), "");
  EXPECT_EQ(status, 429) << "throttled like the sign-in form";
  EXPECT_NE(Token("asg"), "");
}

TEST_P(ApiTest, AnEditOverOthersChangesIsAConflictWithBothValues) {
  const int32_t id = NewAction();
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  ASSERT_TRUE(app::Edit(lead, id, {{"DateDue", "12/20/2026 2:30 PM"}}).stored);
  const std::string token = Token("orig");
  const std::string path = fmt::format("/api/v1/actions/{}", id);
  const Json shown = Call("GET", path, token).body;
  Json base;
  for (const auto& field : shown["fields"]) {
    base[field["column"].get<std::string>()] = field["value"];
  }
  ASSERT_EQ(base["Subject"], "Fix the pump");
  // Dates in the one JSON form the command's --json output gives them too.
  ASSERT_EQ(base["DateDue"], "2026-12-20T14:30:00");
  EXPECT_EQ(Call("GET", "/api/v1/actions?columns=DateDue", token).body["actions"][0]["DateDue"],
            "2026-12-20T14:30:00");
  // Every value sent back as it came is what the edit started from: nothing merged.
  Answer rebase = Call("PATCH", path, token,
                       Json{{"changes", {{"Category", "Ops"}}}, {"basedOn", base}}.dump());
  ASSERT_EQ(rebase.status, 200) << rebase.raw;
  EXPECT_EQ(rebase.body["merged"], Json::array());
  rebase = Call("PATCH", path, token,
                Json{{"changes", {{"DateDue", "2026-12-21"}}}, {"basedOn", base}}.dump());
  EXPECT_EQ(rebase.body, Json::parse(R"({"changed": ["DateDue"], "merged": ["Category"]})"));
  (void)app::Edit(lead, id, {{"Subject", "Fix the pump today"}});

  const std::string before = Snapshot();
  const Json clash = {{"changes", {{"Subject", "Replace the pump"}}}, {"basedOn", base}};
  const Answer answer = Call("PATCH", path, token, clash.dump());
  EXPECT_EQ(answer.status, 409);
  EXPECT_EQ(answer.body["error"]["number"], app::kNotStored);
  EXPECT_EQ(answer.body["conflicts"], Json::parse(R"([{"column": "Subject", "base": "Fix the pump",
                             "mine": "Replace the pump", "theirs": "Fix the pump today"}])"));
  EXPECT_EQ(Snapshot(), before);

  // Based on what is stored now the edit goes through, also over a tab an older program stored.
  (void)app::Edit(lead, id, {{"Subject", "Fix the pump\ttoday"}});
  const Json rebased = {{"changes", {{"Subject", "Replace the pump"}}},
                        {"basedOn", {{"Subject", "Fix the pump\ttoday"}}}};
  EXPECT_EQ(Call("PATCH", path, token, rebased.dump()).status, 200);
}

TEST_P(ApiTest, HostileRequestsAreRefusedWithAMessageAndChangeNothing) {
  const std::string token = Token("orig");
  const std::string action = fmt::format("/api/v1/actions/{}", NewAction());
  struct Case {
    std::string method, path, body, field, type = "application/json";
  };
  const std::vector<Case> cases = {
      {"POST", "/api/v1/actions", "not json", "body"},
      {"POST", "/api/v1/actions", "[1, 2]", "body"},
      {"POST", "/api/v1/actions", std::string(100000, '[') + std::string(100000, ']'), "body"},
      {"POST", "/api/v1/actions", R"({"fields": "Subject"})", "fields"},
      {"POST", "/api/v1/actions", R"({"fields": {}})", "fields"},
      {"POST", "/api/v1/actions", R"({"fields": {"Subject": {"$gt": ""}}})", "fields.Subject"},
      {"POST", "/api/v1/actions", R"({"fields": {"Subject": 1.5}})", "fields.Subject"},
      {"POST", "/api/v1/actions", R"({"fields": {"Subject": "x", "DateDue": "tomorrow"}})",
       "DateDue"},
      {"PATCH", action, R"({"basedOn": {"Subject": "x"}})", "changes"},
      {"POST", action + "/move", R"({"move": 12})", "move"},
      {"POST", action + "/move", R"({"note": "why"})", "move"},
      {"POST", action + "/attachments", R"({"url": "ftp://example.org/a"})", "url"},
      {"POST", action + "/attachments", R"({"url": " JavaScript:void 0"})", "http://"},
      {"POST", action + "/attachments", "bytes", "name", "application/octet-stream"},
      {"GET", "/api/v1/actions?limit=1e3", "", "limit"},
      {"GET", "/api/v1/actions?mine=perhaps", "", "mine"},
      {"GET", "/api/v1/actions?dueWithin=40000", "",
       "dueWithin: '40000' is not a whole number from 0 to 32767"},
      {"GET", "/api/v1/actions?status=pending", "",
       "status: 'pending' is not a state: active, open, due-today"},
      {"GET", "/api/v1/actions?sort=Bogus", "", "sort: 'Bogus' is not a column"},
      {"POST", "/api/v1/actions", R"({"fields": {"Subject": "a\u0000b"}})", "fields.Subject"},
      {"POST", "/api/v1/actions", R"({"fields": {"Subject": "x", "Description": "\u001b[2J"}})",
       "fields.Description: a text without control characters other than tabs"},
      {"POST", "/api/v1/actions", R"({"fields": {"Subject\u0000": "x"}})", "a member's name"},
      {"PATCH", action, R"({"changes": {"Subject": "a\nb"}})", "changes.Subject: a text on one"},
      {"POST", action + "/move", R"({"move": "complete", "note": "\u0007"})",
       "note: a text without"},
      {"POST", "/api/v1/actions", R"({"fields": {"Subject": [["\u0000"]]}})",
       "fields.Subject: a text on one line"},
      {"GET", "/api/v1/actions?grep=a%00b", "", "grep"},
      {"GET", "/api/v1/actions?dueFrom=1%27%20or%201%3D1", "",
       "dueFrom: '1' or 1=1' is not a date in the form yyyy-mm-dd"},
      {"GET", "/api/v1/actions?closedTo=2026-02-30", "", "closedTo"},
      {"GET", "/api/v1/activity?since=yesterday", "", "since"},
      {"GET", "/api/v1/activity?limit=201", "", "limit: '201' is not a whole number from 1 to 200"},
      {"GET", "/api/v1/activity?before=-1", "", "before"},
      {"POST", action + "/attachments?name=a%0d.bin", "bytes", "name", "application/octet-stream"},
      // A continuation no page gave, one of another order, and one whose key would end the
      // statement's text: refused as what they are, or (a row's key) read as data.
      {"GET", "/api/v1/actions/rows?columns=Subject&after=nonsense", "",
       "after: 'nonsense' is not a continuation one of this list's pages gave"},
      {"GET", "/api/v1/actions/rows?columns=Subject&after=eyJvIjo1fQ", "", "after"},
      {"GET", "/api/v1/alerts/rows?after=%27%20or%201%3D1", "", "after"},
      {"GET", "/api/v1/actions/rows?sort=DateDue&after=" + Continuation("DateDue", "1' or '1'='1"),
       "", "after"},
      {"GET", "/api/v1/actions/rows?after=eyJvIjo1fQ&offset=5", "", "offset"},
  };
  const std::string before = Snapshot();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path + " " + c.body.substr(0, 60));
    const Answer answer = Call(c.method, c.path, token, c.body, c.type);
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body["error"]["number"], app::kInvalidInput);
    const std::string message = answer.body["error"]["message"].get<std::string>();
    EXPECT_NE(message.find(c.field), std::string::npos) << message;
    EXPECT_EQ(message.find("--"), std::string::npos) << "no option of the command: " << message;
  }
  const Answer huge = Call("POST", "/api/v1/actions", token, std::string(11 << 20, ' '));
  EXPECT_EQ(huge.status, 413);
  EXPECT_FALSE(huge.body.is_discarded()) << huge.raw.substr(0, 200);
  EXPECT_EQ(Call("GET", "/api/v1/nothing", token).body["error"]["number"], app::kNotFound);
  EXPECT_EQ(Snapshot(), before);
  for (const std::string subject : {"x' or '1'='1", "x'; delete from actions; select '"}) {
    const Answer page = Call("GET",
                             "/api/v1/actions/rows?columns=Subject&sort=Subject&after=" +
                                 Continuation("Subject", subject),
                             token);
    EXPECT_EQ(page.status, 200) << page.raw;
    EXPECT_EQ(page.body["rows"], Json::array()) << "no subject sorts after " << subject;
  }
  EXPECT_EQ(Snapshot(), before);

  const std::string script = "<script>alert(1)</script>";
  const Answer created = Call(
      "POST", "/api/v1/actions", token,
      Json{{"fields", {{"Subject", script}, {"Description", "Two\r\nlines\tand a tab"}}}}.dump());
  ASSERT_EQ(created.status, 201) << created.raw << " (a multi-line text keeps its line breaks)";
  const auto shown = client_->Get(fmt::format("/api/v1/actions/{}", created.body["id"].get<int>()),
                                  {{"Authorization", "Bearer " + token}});
  EXPECT_EQ(Json::parse(shown->body)["subject"], script);
  EXPECT_EQ(shown->get_header_value("Content-Type"), "application/json; charset=utf-8");
}

TEST_P(ApiTest, ListsPageThroughActionsAndAttachmentsComeBackByteForByte) {
  const kvdata::testing::ScratchFolder folder("kvapi");
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  app::SettingSet(lead, "AttachmentPath", folder.Path().string());
  for (int i = 1; i <= 3; ++i) (void)NewAction(fmt::format("Pump {}", i));
  const std::string token = Token("asg");
  Answer page = Call("GET", "/api/v1/actions?mine&sort=ActionNumber%20desc&limit=2", token);
  ASSERT_EQ(page.status, 200) << page.raw;
  EXPECT_EQ(page.body["more"], true);
  ASSERT_EQ(page.body["actions"].size(), 2U);
  EXPECT_EQ(page.body["actions"][0]["Subject"], "Pump 3");
  page =
      Call("GET", "/api/v1/actions?mine&sort=ActionNumber%20desc&limit=2&offset=2&columns=Subject",
           token);
  EXPECT_EQ(page.body["more"], false);
  ASSERT_EQ(page.body["actions"].size(), 1U);
  EXPECT_EQ(page.body["actions"][0].size(), 6U)
      << "ActionID, the column asked for, and the state: state, stateText, turn, turnText";
  EXPECT_EQ(page.body["actions"][0]["Subject"], "Pump 1");
  EXPECT_EQ(Call("GET", "/api/v1/actions?limit=0", token).status, 400);
  EXPECT_EQ(Call("GET", "/api/v1/actions?sort=Subject;drop", token).status, 400);

  const int32_t id = page.body["actions"][0]["ActionID"];
  const std::string bytes("\0\x01\xff binary", 10);
  const Answer added = Call("POST", fmt::format("/api/v1/actions/{}/attachments?name=a.bin", id),
                            token, bytes, "application/octet-stream");
  ASSERT_EQ(added.status, 201) << added.raw;
  const std::string download = fmt::format("/api/v1/attachments/{}", added.body["id"].get<int>());
  EXPECT_EQ(Call("GET", download, token).raw, bytes);
  // The page's download and app/ read the same bytes back.
  const int32_t attachment = added.body["id"];
  EXPECT_EQ(
      client_->Get(fmt::format("/attachment/{}", attachment), {{"Cookie", "kvsession=" + token}})
          ->body,
      bytes);
  EXPECT_EQ(app::AttachmentBytes(lead, attachment), bytes);
  const Json action = Call("GET", fmt::format("/api/v1/actions/{}", id), token).body;
  EXPECT_EQ(action["turn"], "you") << "the lead's own action, assigned to the lead";
  EXPECT_EQ(action["attachments"][0]["url"], "a.bin");
  EXPECT_EQ(Call("DELETE", download, token).status, 204);
  EXPECT_EQ(Call("GET", download, token).status, 404);
}

// The command's calls: typed tables page by page, words in the person's date form, and errors
// with their source, so that `kvaction --server` prints what it prints on the database.
TEST_P(ApiTest, TheCommandsCallsGiveTypedTablesPageByPage) {
  for (int i = 1; i <= 5; ++i) (void)NewAction(fmt::format("Pump {}", i));
  const std::string token = Token("asg");
  std::vector<std::string> subjects;
  for (int offset = 0;; offset += 2) {
    const Answer page = Call(
        "GET",
        fmt::format("/api/v1/actions/rows?mine=true&columns=Subject,DateOpened&sort=ActionNumber"
                    "%20desc&offset={}&page=2",
                    offset),
        token);
    ASSERT_EQ(page.status, 200) << page.raw;
    EXPECT_EQ(page.body["fields"][1]["name"], "DateOpened");
    EXPECT_EQ(page.body["fields"][1]["type"], 7) << "a date";
    for (const auto& row : page.body["rows"]) {
      ASSERT_EQ(row.size(), 2U) << "only the columns asked for";
      subjects.push_back(row[0]);
    }
    if (!page.body["more"].get<bool>()) break;
  }
  EXPECT_EQ(subjects, (std::vector<std::string>{"Pump 5", "Pump 4", "Pump 3", "Pump 2", "Pump 1"}));
  // Read on from each page's next, in any order, the rows are those of one page: columns
  // holding ties and Nulls, the sort's own columns not asked for.
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  (void)app::Add(lead, {{"Subject", "pump 3"}, {"Assignee", "asg"}, {"Category", "Ops"}});
  for (const char* sort : {"ActionNumber", "Subject%20desc", "Category", "DateDue%20desc",
                           "Category%20desc,%20DateOpened", "Alert"}) {
    SCOPED_TRACE(sort);
    const std::string list =
        fmt::format("/api/v1/actions/rows?mine=true&columns=ActionNumber,Subject&sort={}", sort);
    const Answer whole = Call("GET", list, token);
    ASSERT_EQ(whole.status, 200) << whole.raw;
    EXPECT_EQ(whole.body.count("next"), 0U) << "nothing follows the last page";
    Json rows = Json::array();
    for (std::string after;;) {
      const Answer page =
          Call("GET", list + "&page=2" + (after.empty() ? "" : "&after=" + after), token);
      ASSERT_EQ(page.status, 200) << page.raw;
      for (const auto& row : page.body["rows"]) rows.push_back(row);
      if (!page.body["more"].get<bool>()) break;
      after = page.body["next"].get<std::string>();
    }
    EXPECT_EQ(rows, whole.body["rows"]);
    EXPECT_EQ(rows.size(), 6U);
  }
  EXPECT_EQ(Call("GET", "/api/v1/actions/rows?columns=Subject&page=5001", token).status, 400);
  EXPECT_EQ(Call("GET", "/api/v1/due/rows?mine=maybe", token).status, 400);

  const Answer number = Call("GET", "/api/v1/numbers/2", token);
  ASSERT_EQ(number.status, 200) << number.raw;
  const int id = number.body["id"];
  const web::Headers british = {{"Authorization", "Bearer " + token}, {"X-Date-Form", "en-GB"}};
  const Json record =
      Json::parse(client_->Get(fmt::format("/api/v1/actions/{}/record", id), british)->body);
  ASSERT_EQ(record["fields"].size(), record["row"].size());
  for (size_t i = 0; i < record["fields"].size(); ++i) {
    if (record["fields"][i]["name"] == "DateOpened") {
      EXPECT_EQ(record["row"][i], "2024-03-15");
    }
  }
  // The view words dates in the form the client names.
  for (const Json& field : record["view"]["fields"]) {
    if (field["column"] == "DateOpened") {
      EXPECT_EQ(field["text"], "15/03/2024");
    }
  }
  ASSERT_TRUE(record["view"]["history"].is_array());
  EXPECT_FALSE(record["view"]["history"].empty());
  const Answer viewed = Call("GET", fmt::format("/api/v1/actions/{}/record", id), Token("viewer"));
  EXPECT_EQ(viewed.body["view"]["history"], nullptr) << "right 82 reads the history";
  // Asked for, each row carries its state and whose turn it is as four more columns.
  const Answer states = Call("GET", "/api/v1/actions/rows?columns=Subject&states=true", token);
  ASSERT_EQ(states.status, 200) << states.raw;
  const Json& fields = states.body["fields"];
  ASSERT_GE(fields.size(), 5U);
  EXPECT_EQ(fields[fields.size() - 4]["name"], "state");
  EXPECT_EQ(fields.back()["name"], "turnText");
  for (const Json& row : states.body["rows"]) EXPECT_EQ(row.size(), fields.size());
  EXPECT_EQ(
      client_
          ->Get("/api/v1/rights", {{"Authorization", "Bearer " + token}, {"X-Date-Form", "fr-FR"}})
          ->status,
      400);

  const Answer missing = Call("GET", "/api/v1/numbers/99", token);
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body["error"]["source"], app::kSource);
  const Answer refused =
      Call("POST", fmt::format("/api/v1/actions/{}/review", id), Token("by"), R"({"status": 10})");
  EXPECT_EQ(refused.status, 403) << refused.raw;
  EXPECT_EQ(Call("POST", fmt::format("/api/v1/actions/{}/review", id), token, R"({"status": "x"})")
                .status,
            400);
}

KV_INSTANTIATE_ENGINES(ApiTest);

// --- The API's description ------------------------------------------------------------------

/// The calls a route answers, as "METHOD /path" with each number group as "{}" and each
/// alternative of a group of words ("(move|close)") a call of its own.
std::set<std::string> CallsOf(const Route& route) {
  static const char* const kMethods[] = {"GET", "POST", "PATCH", "DELETE", "PUT"};
  std::string path = route.pattern.substr(kApiPrefix.size() - 1);
  // A group that is not a choice of words is a parameter.
  for (size_t open = 0; (open = path.find('(', open)) != std::string::npos; ++open) {
    const size_t close = path.find(')', open);
    const std::string group = path.substr(open + 1, close - open - 1);
    if (group.find_first_not_of("abcdefghijklmnopqrstuvwxyz|") != std::string::npos) {
      path.replace(open, close - open + 1, "{}");
    }
  }
  std::vector<std::string> paths = {path};
  if (const size_t open = path.find('('); open != std::string::npos) {
    const size_t close = path.find(')', open);
    paths.clear();
    std::string words = path.substr(open + 1, close - open - 1) + "|";
    for (size_t bar = 0; (bar = words.find('|')) != std::string::npos; words.erase(0, bar + 1)) {
      paths.push_back(path.substr(0, open) + words.substr(0, bar) + path.substr(close + 1));
    }
  }
  std::set<std::string> calls;
  for (const auto& p : paths) {
    calls.insert(std::string(kMethods[static_cast<int>(route.method)]) + " " + p);
  }
  return calls;
}

/// The calls docs/openapi.yaml describes, as CallsOf writes them.
std::set<std::string> DocumentedCalls(const std::string& file) {
  std::ifstream in(file);
  EXPECT_TRUE(in) << file;
  std::set<std::string> calls;
  std::string path;
  bool inPaths = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != ' ') inPaths = line == "paths:";
    if (!inPaths) continue;
    if (line.starts_with("  /") && line.ends_with(":")) {
      path = line.substr(2, line.size() - 3);
      for (size_t open = 0; (open = path.find('{', open)) != std::string::npos; open += 2) {
        path.replace(open, path.find('}', open) - open + 1, "{}");
      }
    }
    for (const char* method : {"get", "post", "patch", "delete", "put"}) {
      if (line == fmt::format("    {}:", method)) {
        std::string upper = method;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        calls.insert(upper + " " + path);
      }
    }
  }
  return calls;
}

const std::string kDescription = std::string(KV_SOURCE_DIR) + "/docs/openapi.yaml";

TEST(OpenApi, TheDocumentDescribesExactlyTheCallsTheServerAnswers) {
  std::set<std::string> served;
  for (const Route& route : RouteTable()) {
    if (!IsApiPath(route.pattern)) continue;
    for (const auto& call : CallsOf(route)) served.insert(call);
  }
  EXPECT_GE(served.size(), 30U);
  EXPECT_EQ(DocumentedCalls(kDescription), served);
}

// A validator from the npm registry, when npx is here and has it at hand (no network is asked).
TEST(OpenApi, TheDocumentPassesAValidator) {
  if (std::system("command -v npx >/dev/null 2>&1") != 0) GTEST_SKIP() << "npx is not installed";
  const std::string output = ::testing::TempDir() + "/kv-openapi-lint.txt";
  const int status =
      std::system(fmt::format("timeout 120 npx --yes --offline @redocly/cli lint '{}' >'{}' 2>&1",
                              kDescription, output)
                      .c_str());
  std::ifstream in(output);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(output.c_str());
  if (text.find("validating") == std::string::npos) {
    GTEST_SKIP() << "@redocly/cli is not in npm's cache: " << text.substr(0, 300);
  }
  EXPECT_EQ(status, 0) << text;
}

}  // namespace
}  // namespace web
