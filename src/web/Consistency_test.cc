// One truth for every front end: for each person and each action in each state, the command
// (--json), the API and the pages say the same state, whose turn it is, which moves are open and
// whether the person may see it at all; they list the same actions for each state, the same
// alerts as the count, and the same users.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include "web/Http.h"

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/View.h"
#include "app/WebSupport.h"
#include "cli/CommandTest.h"
#include "vb/Convert.h"
#include "web/ServedDatabase_test.h"
#include "web/Site.h"

namespace web {
namespace {

using Json = nlohmann::json;

/// What one front end says: a text per question ("refused" when it refuses to answer).
using Answers = std::map<std::string, std::string>;

class FrontEndsAgree : public ServedDatabaseTest {
 protected:
  void SetUp() override {
    ServedDatabaseTest::SetUp();
    configFolder_ = std::filesystem::temp_directory_path() /
                    fmt::format("kvaction-agree-{}-{}", ::getpid(),
                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    std::filesystem::remove_all(configFolder_);
    ServedDatabaseTest::TearDown();
  }

  // One action in each state, by its state code.
  std::map<std::string, int32_t> ActionsInEachState() {
    auto orig = app::Session::SignIn(open_, "orig", "password1");
    auto asg = app::Session::SignIn(open_, "asg", "password1");
    const vb::Date today = pinnedClock_->Today();
    const auto due = [&](int32_t days) {
      return open_.locale.FormatShortDate(today.AddDays(days));
    };
    const auto add = [&](const std::string& subject, int32_t days) {
      return app::Add(
          orig, app::FieldTexts{{"Subject", subject}, {"Assignee", "asg"}, {"DateDue", due(days)}});
    };
    std::map<std::string, int32_t> actions = {{"open", add("open", 5)},
                                              {"due-today", add("due today", 0)},
                                              {"overdue", add("overdue", -3)},
                                              {"completed", add("completed", -1)},
                                              {"clarification", add("clarification", 5)},
                                              {"rejected", add("rejected", 5)},
                                              {"closed", add("closed", 5)}};
    app::Move(asg, actions["completed"], "complete", "done, late");
    app::Move(asg, actions["clarification"], "clarify-ask", "which pump?");
    app::Move(asg, actions["rejected"], "complete", "done");
    app::Move(orig, actions["rejected"], "reject", "not yet");
    app::Move(orig, actions["closed"], "close");
    return actions;
  }

  // --- the command ------------------------------------------------------------------------
  cli::testing::Outcome Command(const std::string& user, std::vector<std::string> args) {
    args.insert(args.begin(),
                {"--connection", ConnectionString(), "--user", user, "--password-stdin", "--json"});
    return cli::testing::Executed(args, "password1\n", [this](cli::Options& options) {
      options.clock = pinnedClock_;
      options.configFolder = configFolder_.string();
      options.cheapPasswords = true;
    });
  }
  Answers ByCommand(const std::string& user, const std::map<std::string, int32_t>& actions) {
    Answers answers;
    for (const auto& [state, id] : actions) {
      const auto shown = Command(user, {"show", std::to_string(id), "--id"});
      answers[state] = shown.exitCode == 0 ? Said(Json::parse(shown.out)) : "refused";
      const auto listed = Command(user, {"list", "--status", state, "--columns", "ActionID"});
      answers["list " + state] =
          listed.exitCode == 0 ? Ids(Json::parse(listed.out), "ActionID") : "refused";
    }
    const auto alerts = Command(user, {"alerts", "--list", "--columns", "ActionID"});
    answers["alerts"] = Ids(Json::parse(alerts.out), "ActionID");
    answers["alert count"] =
        std::to_string(Json::parse(Command(user, {"alerts"}).out)["Alerts"].get<int>());
    const auto users = Command(user, {"user", "list"});
    answers["users"] = users.exitCode == 0 ? UsersSaid(Json::parse(users.out)) : "refused";
    for (const auto& [question, filter] : Searches()) {
      std::vector<std::string> args = {"list", "--columns", "ActionID"};
      for (const auto& [field, value] : filter) {
        args.push_back(CommandOption(field));
        args.push_back(value);
      }
      const auto listed = Command(user, args);
      answers[question] =
          listed.exitCode == 0 ? Ids(Json::parse(listed.out), "ActionID") : "refused";
    }
    const auto activity = Command(user, {"activity"});
    answers["activity"] =
        activity.exitCode == 0 ? ActivitySaid(Json::parse(activity.out)) : "refused";
    answers["activity actions"] =
        activity.exitCode == 0 ? Ids(Json::parse(activity.out)["entries"], "actionId") : "refused";
    return answers;
  }

  // --- the API ----------------------------------------------------------------------------
  std::pair<int, Json> Api(const std::string& token, const std::string& path) {
    const auto answer = client_->Get(path, {{"Authorization", "Bearer " + token}});
    return {answer->status, Json::parse(answer->body, nullptr, false)};
  }
  Answers ByApi(const std::string& user, const std::map<std::string, int32_t>& actions) {
    const auto signedIn =
        client_->Post("/api/v1/session", Json{{"user", user}, {"password", "password1"}}.dump(),
                      "application/json");
    const std::string token = Json::parse(signedIn->body)["token"];
    Answers answers;
    for (const auto& [state, id] : actions) {
      const auto [status, action] = Api(token, fmt::format("/api/v1/actions/{}", id));
      answers[state] = status == 200 ? Said(action) : "refused";
      const auto [listed, list] =
          Api(token, fmt::format("/api/v1/actions?status={}&columns=ActionID&limit=500", state));
      answers["list " + state] = listed == 200 ? Ids(list["actions"], "ActionID") : "refused";
    }
    const auto [alertsStatus, alerts] = Api(token, "/api/v1/alerts?list&columns=ActionID");
    answers["alerts"] = alertsStatus == 200 ? Ids(alerts["actions"], "ActionID") : "refused";
    answers["alert count"] =
        std::to_string(Api(token, "/api/v1/alerts").second["count"].get<int>());
    const auto [usersStatus, users] = Api(token, "/api/v1/users");
    answers["users"] = usersStatus == 200 ? UsersSaid(users) : "refused";
    for (const auto& [question, filter] : Searches()) {
      const auto [listed, list] =
          Api(token, "/api/v1/actions?columns=ActionID&limit=500" + QueryOf(filter));
      answers[question] = listed == 200 ? Ids(list["actions"], "ActionID") : "refused";
    }
    const auto [activityStatus, activity] = Api(token, "/api/v1/activity");
    answers["activity"] = activityStatus == 200 ? ActivitySaid(activity) : "refused";
    answers["activity actions"] =
        activityStatus == 200 ? Ids(activity["entries"], "actionId") : "refused";
    return answers;
  }

  // --- the pages --------------------------------------------------------------------------
  std::string Cookie(const std::string& user) {
    const std::string formToken(64, 'a');
    const auto answer =
        client_->Post("/signin", {{"Cookie", "kvsignin=" + formToken}},
                      web::Params{{"csrf", formToken}, {"user", user}, {"password", "password1"}});
    const std::string cookie = answer->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
  }
  Answers ByPages(const std::string& user, const std::map<std::string, int32_t>& actions) {
    const web::Headers cookie = {{"Cookie", Cookie(user)}};
    Answers answers;
    for (const auto& [state, id] : actions) {
      const auto page = client_->Get(fmt::format("/action/{}", id), cookie);
      answers[state] = page->status == 200 ? PageSaid(page->body) : "refused";
      const auto list = client_->Get(fmt::format("/?status={}", state), cookie);
      answers["list " + state] = list->status == 200 ? PageIds(list->body) : "refused";
    }
    const std::string alerts = client_->Get("/alerts", cookie)->body;
    const size_t table = alerts.find("id=\"alert-list\"");
    answers["alerts"] = table == std::string::npos
                            ? ""
                            : PageIds(alerts.substr(table, alerts.find("</table>", table) - table));
    const std::regex badge(R"re(id="alert-count"[^>]*>(\d+)<)re");
    std::smatch count;
    const std::string list = client_->Get("/", cookie)->body;
    answers["alert count"] = std::regex_search(list, count, badge) ? count[1].str() : "none";
    const auto users = client_->Get("/admin/users", cookie);
    answers["users"] = users->status == 200 ? "with addresses" : "refused";
    for (const auto& [question, filter] : Searches()) {
      const auto listed = client_->Get("/?" + QueryOf(filter).substr(1), cookie);
      answers[question] = listed->status == 200 ? PageIds(ListTable(listed->body)) : "refused";
    }
    const auto activity = client_->Get("/activity", cookie);
    if (activity->status == 200) {
      const std::regex event(R"re(id="event-(\d+)")re");
      std::vector<std::string> ids;
      for (auto it = std::sregex_iterator(activity->body.begin(), activity->body.end(), event);
           it != std::sregex_iterator(); ++it) {
        ids.push_back((*it)[1].str());
      }
      answers["activity"] = fmt::format("{}", fmt::join(ids, ","));
      const size_t list = activity->body.find("id=\"activity\"");
      answers["activity actions"] = PageIds(activity->body.substr(list));
    } else {
      answers["activity"] = answers["activity actions"] = "refused";
    }
    return answers;
  }

  // --- what each says, in one form --------------------------------------------------------
  static std::string Said(const Json& action) {
    std::string moves;
    for (const auto& move : action["moves"]) moves += " " + move["name"].get<std::string>();
    return fmt::format("{} / {} /{}", action["state"].get<std::string>(),
                       action["turn"].get<std::string>(), moves);
  }
  static std::string PageSaid(const std::string& page) {
    const std::regex state(R"re(data-state="([a-z-]+)")re"), turn(R"re(data-turn="([a-z]+)")re"),
        move(R"re(id="move-([a-z-]+)")re");
    std::smatch found;
    std::string said;
    said += std::regex_search(page, found, state) ? found[1].str() : "?";
    said += " / ";
    said += std::regex_search(page, found, turn) ? found[1].str() : "?";
    said += " /";
    for (auto it = std::sregex_iterator(page.begin(), page.end(), move);
         it != std::sregex_iterator(); ++it) {
      said += " " + (*it)[1].str();
    }
    return said;
  }
  static std::string Ids(const Json& rows, const std::string& key) {
    std::set<int> ids;
    for (const auto& row : rows) ids.insert(row[key].get<int>());
    return fmt::format("{}", fmt::join(ids, ","));
  }
  static std::string PageIds(const std::string& page) {
    // Links written from values come escaped ("&#x2F;action&#x2F;5").
    const std::regex link(R"re(href="(?:/|&#x2F;)action(?:/|&#x2F;)(\d+)")re");
    std::set<int> ids;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), link);
         it != std::sregex_iterator(); ++it) {
      ids.insert(std::stoi((*it)[1].str()));
    }
    return fmt::format("{}", fmt::join(ids, ","));
  }
  // The searches every front end runs, by question: app/'s filter field IDs and values. The
  // text finds a category, a priority and a person's name; the hostile text is only a text.
  using Filter = std::vector<std::pair<std::string, std::string>>;
  std::vector<std::pair<std::string, Filter>> Searches() const {
    const vb::Date today = pinnedClock_->Today();
    return {{"search category", {{"grep", "purchasing"}}},
            {"search priority", {{"grep", "Urgent"}}},
            {"search name", {{"grep", "Lee Lead"}}},
            {"search hostile", {{"grep", "x' or 'a'='a"}}},
            {"search quote", {{"grep", "O'Brien"}}},
            {"search wildcards", {{"grep", "_%\\"}}},
            {"search index words", {{"grep", "\" OR \"a* NEAR(x)"}}},
            {"due range",
             {{"dueFrom", today.AddDays(-1).ToIso().substr(0, 10)},
              {"dueTo", today.AddDays(4).ToIso().substr(0, 10)}}},
            {"due range and text",
             {{"dueTo", today.ToIso().substr(0, 10)}, {"grep", "asg"}, {"status", "active"}}}};
  }
  static std::string CommandOption(const std::string& field) {
    std::string option = "--";
    for (const char c : field) {
      if (std::isupper(static_cast<unsigned char>(c))) {
        option += '-';
        option += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      } else {
        option += c;
      }
    }
    return option;
  }
  static std::string QueryOf(const Filter& filter) {
    std::string query;
    for (const auto& [field, value] : filter) query += "&" + field + "=" + web::QueryValue(value);
    return query;
  }
  // The table of a list page (the cards repeat its links).
  static std::string ListTable(const std::string& page) {
    const size_t table = page.find("id=\"actions\"");
    return table == std::string::npos ? std::string()
                                      : page.substr(table, page.find("</table>", table) - table);
  }
  // The activity as its changes' IDs, newest first.
  static std::string ActivitySaid(const Json& activity) {
    std::vector<int> ids;
    for (const auto& entry : activity["entries"]) ids.push_back(entry["id"].get<int>());
    return fmt::format("{}", fmt::join(ids, ","));
  }
  // Whether the users come with their addresses (what maintainers read) or as IDs and names.
  static std::string UsersSaid(const Json& users) {
    return !users.empty() && users[0].contains("Email") ? "with addresses" : "names only";
  }

  std::filesystem::path configFolder_;
};

// Action IDs as the answers write them: ascending, separated by commas.
std::string IdList(const std::set<int32_t>& ids) { return fmt::format("{}", fmt::join(ids, ",")); }
// Every action of the map and extra.
std::string ActionIds(const std::map<std::string, int32_t>& actions, int32_t extra) {
  std::set<int32_t> ids = {extra};
  for (const auto& [state, id] : actions) ids.insert(id);
  return IdList(ids);
}

TEST_P(FrontEndsAgree, OnStateTurnMovesListsAlertsAndUsersForEveryRole) {
  const auto actions = ActionsInEachState();
  // What the searches and the activity find: a category, a priority, a person by name (the lead
  // assigned an action of the originator's), a note with a quote; an action deleted, whose
  // history no one sees any more.
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  (void)app::Edit(lead, actions.at("open"), {{"Category", "Purchasing"}}, {});
  (void)app::Edit(lead, actions.at("due-today"), {{"Priority", "Urgent"}}, {});
  auto originator = app::Session::SignIn(open_, "orig", "password1");
  const int32_t forLead = app::Add(
      originator, app::FieldTexts{{"Subject", "Budget for O'Brien"}, {"Assignee", "lead"}});
  app::Delete(originator, app::Add(originator, app::FieldTexts{{"Subject", "purchasing, gone"}}));
  // The view itself, once, so that a disagreement below is not three front ends sharing a
  // wrong answer.
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  for (const auto& [state, id] : actions) {
    EXPECT_EQ(app::StateCode(app::ViewOf(orig, id).state.state), state);
  }
  // A few answers pinned, so that agreeing on nothing cannot pass.
  const std::map<std::pair<std::string, std::string>, std::string> pinned = {
      {{"orig", "completed"}, "completed / you / approve reject"},
      {{"asg", "overdue"}, "overdue / you / complete clarify-ask"},
      {{"asg", "clarification"}, "clarification / originator /"},
      {{"by", "closed"}, "closed / nobody /"},
      {{"orig", "alerts"},
       fmt::format("{},{},{}", actions.at("overdue"), actions.at("completed"),
                   actions.at("clarification"))},
      {{"orig", "alert count"}, "3"},
      {{"lead", "users"}, "with addresses"},
      {{"asg", "users"}, "names only"},
      {{"viewer", "users"}, "refused"},
      {{"orig", "search category"}, fmt::format("{}", actions.at("open"))},
      {{"asg", "search priority"}, fmt::format("{}", actions.at("due-today"))},
      {{"by", "search name"}, fmt::format("{}", forLead)},
      {{"by", "search hostile"}, ""},
      {{"lead", "search wildcards"}, ""},
      {{"lead", "search index words"}, ""},
      {{"lead", "search quote"}, fmt::format("{}", forLead)},
      {{"orig", "due range"}, IdList({actions.at("due-today"), actions.at("completed")})},
      {{"asg", "due range and text"},
       IdList({actions.at("due-today"), actions.at("overdue"), actions.at("completed")})},
      {{"viewer", "activity"}, "refused"},
      {{"by", "activity actions"}, ActionIds(actions, forLead)}};
  for (const std::string& user : kUsers) {
    SCOPED_TRACE(user);
    const Answers command = ByCommand(user, actions);
    const Answers api = ByApi(user, actions);
    const Answers pages = ByPages(user, actions);
    for (const auto& [question, said] : command) {
      SCOPED_TRACE(question);
      if (const auto pin = pinned.find({user, question}); pin != pinned.end()) {
        EXPECT_EQ(said, pin->second);
      }
      EXPECT_EQ(api.at(question), said) << "the API and the command";
      if (question == "users") {
        // The pages show addresses only on the maintainers' page; pickers take names.
        EXPECT_EQ(pages.at(question) == "refused", said != "with addresses");
      } else {
        EXPECT_EQ(pages.at(question), said) << "the pages and the command";
      }
    }
  }
}

// Watching and bulk changes, for every role through each front end: the same outcome for each
// action of a bulk reassignment (changed or refused, and a refused action keeps its assignee),
// the same watchers whichever front end watched and whichever reads, and the workgroup's leads
// set only by a maintainer, a refusal changing nothing.
TEST_P(FrontEndsAgree, OnWatchersAndBulkChangesForEveryRole) {
  const auto assignee = [&](int32_t id) {
    auto lead = app::Session::SignIn(open_, "lead", "password1");
    return vb::TextOf((*app::Show(lead, id))["AssigneeID"].Value());
  };
  const auto pair = [&] {
    auto lead = app::Session::SignIn(open_, "lead", "password1");
    return std::pair{NewAction("Orig's"),
                     app::Add(lead, {{"Subject", "Lead's"}, {"Assignee", "asg"}})};
  };
  const auto outcomes = [](const Json& report) {
    std::string words;
    for (const auto& item : report["actions"]) words += item["outcome"].get<std::string>() + ";";
    return words;
  };
  const std::map<std::string, std::string> pinnedBulk = {{"lead", "changed;changed;"},
                                                         {"orig", "changed;refused;"},
                                                         {"asg", "refused;refused;"},
                                                         {"by", "refused;refused;"},
                                                         {"viewer", "refused;refused;"}};
  for (const std::string& user : kUsers) {
    SCOPED_TRACE(user);
    const std::string token = Json::parse(
        client_
            ->Post("/api/v1/session", Json{{"user", user}, {"password", "password1"}}.dump(),
                   "application/json")
            ->body)["token"];
    const web::Headers bearer = {{"Authorization", "Bearer " + token}};
    const std::string cookie = Cookie(user);
    const std::string page = client_->Get("/", {{"Cookie", cookie}})->body;
    const std::string csrf = page.substr(page.find("name=\"csrf\" value=\"") + 19, 64);
    const auto post = [&](const std::string& path, web::Params form) {
      form.emplace("csrf", csrf);
      return client_->Post(path, {{"Cookie", cookie}}, form);
    };

    // A bulk reassignment of an action of orig's and one of lead's.
    std::map<std::string, std::string> bulk;
    const auto check = [&](const std::string& by, std::pair<int32_t, int32_t> ids) {
      const std::string& said = bulk[by];
      EXPECT_EQ(assignee(ids.first), said.starts_with("changed") ? "by" : "asg") << by;
      EXPECT_EQ(assignee(ids.second), said.ends_with("changed;") ? "by" : "asg") << by;
    };
    auto ids = pair();
    const auto command = Command(user, {"edit", std::to_string(ids.first),
                                        std::to_string(ids.second), "--id", "--assignee", "by"});
    bulk["command"] = outcomes(Json::parse(command.out));
    EXPECT_EQ(command.exitCode, bulk["command"].find("refused") == std::string::npos ? 0 : 1);
    check("command", ids);
    ids = pair();
    const auto api = client_->Post(
        "/api/v1/actions/bulk", bearer,
        Json{{"ids", {ids.first, ids.second}}, {"changes", {{"Assignee", "by"}}}}.dump(),
        "application/json");
    bulk["api"] = outcomes(Json::parse(api->body));
    check("api", ids);
    ids = pair();
    web::Params form{{"do", "assign"}, {"value", "by"}};
    form.emplace("id", std::to_string(ids.first));
    form.emplace("id", std::to_string(ids.second));
    const std::string report = post("/bulk", form)->body;
    const std::regex outcome(R"re(data-outcome="([a-z ]+)")re");
    for (auto it = std::sregex_iterator(report.begin(), report.end(), outcome);
         it != std::sregex_iterator(); ++it) {
      bulk["pages"] += (*it)[1].str() + ";";
    }
    check("pages", ids);
    EXPECT_EQ(bulk["command"], pinnedBulk.at(user));
    EXPECT_EQ(bulk["api"], bulk["command"]) << "the API and the command";
    EXPECT_EQ(bulk["pages"], bulk["command"]) << "the pages and the command";

    // Watching through each front end; the watchers read through each.
    const auto watchers = [&](int32_t id) {
      std::vector<std::string> said;
      std::string text;
      for (const auto& w : Json::parse(Command(user, {"watchers", std::to_string(id), "--id"}).out))
        text += w["user"].get<std::string>() + ";";
      said.push_back(text);
      text.clear();
      const auto [status, action] = Api(token, fmt::format("/api/v1/actions/{}", id));
      for (const auto& w : action["watchers"]) text += w["user"].get<std::string>() + ";";
      said.push_back(text);
      text.clear();
      const std::string shown =
          client_->Get(fmt::format("/action/{}", id), {{"Cookie", cookie}})->body;
      const std::regex item(R"re(<li class="list-inline-item">[^<]*\(([a-z]+)[,)])re");
      for (auto it = std::sregex_iterator(shown.begin(), shown.end(), item);
           it != std::sregex_iterator(); ++it) {
        text += (*it)[1].str() + ";";
      }
      said.push_back(text);
      return said;
    };
    const std::vector<std::string> me(3, user + ";"), nobody(3, "");
    int32_t id = NewAction();
    EXPECT_EQ(Command(user, {"watch", std::to_string(id), "--id"}).exitCode, 0);
    EXPECT_EQ(watchers(id), me) << "watched by the command";
    EXPECT_EQ(client_->Send("DELETE", fmt::format("/api/v1/actions/{}/watch", id), bearer, {}, {})
                  ->status,
              200);
    EXPECT_EQ(watchers(id), nobody) << "unwatched through the API";
    id = NewAction();
    EXPECT_EQ(
        client_->Send("PUT", fmt::format("/api/v1/actions/{}/watch", id), bearer, {}, {})->status,
        200);
    EXPECT_EQ(watchers(id), me) << "watched through the API";
    id = NewAction();
    EXPECT_EQ(post(fmt::format("/action/{}/watch", id), {{"watch", "1"}})->status, 303);
    EXPECT_EQ(watchers(id), me) << "watched on the page";
    EXPECT_EQ(Command(user, {"unwatch", std::to_string(id), "--id"}).exitCode, 0);
    EXPECT_EQ(watchers(id), nobody) << "unwatched by the command";

    // The workgroup's leads: a maintainer's; anyone else is refused and nothing changes.
    const bool maintainer = user == "lead";
    const std::string before = Snapshot();
    const int set = Command(user, {"workgroup", "leads", "1", "--set", "by"}).exitCode;
    const int put = client_
                        ->Send("PUT", "/api/v1/workgroups/1/leads", bearer,
                               Json{{"leads", {"by"}}}.dump(), "application/json")
                        ->status;
    const int saved = post("/admin/workgroup/leads", {{"id", "1"}, {"leads", "by"}})->status;
    EXPECT_EQ(set, maintainer ? 0 : 1);
    EXPECT_EQ(put, maintainer ? 200 : 403);
    EXPECT_EQ(saved, maintainer ? 303 : 403);
    if (!maintainer) {
      EXPECT_EQ(Snapshot(), before);
    }
    if (maintainer) {
      // Hostile values are data: refused as no user's ID, stored nowhere.
      const std::string hostile = "by'); delete from Users; --<b>";
      EXPECT_EQ(Command(user, {"workgroup", "leads", "1", "--set", hostile}).exitCode, 1);
      const auto shown = post("/bulk", {{"do", "assign"}, {"value", hostile}, {"id", "1"}});
      EXPECT_EQ(shown->status, 400);
      EXPECT_EQ(shown->body.find("<b>"), std::string::npos);
      // Nothing ticked: the page names its tick boxes, whichever change was chosen.
      for (const char* move : {"assign", "close"}) {
        const auto none = post("/bulk", {{"do", move}, {"value", "by"}});
        EXPECT_EQ(none->status, 400) << move;
        EXPECT_NE(none->body.find("at least one ticked action, or all matching"), std::string::npos)
            << move;
      }
      EXPECT_EQ(Json::parse(Command(user, {"workgroup", "leads", "1"}).out),
                Json::parse(R"(["by"])"));
      // A lead watches every action of the workgroup's members: "by" now watches them all.
      EXPECT_EQ(watchers(NewAction()), std::vector<std::string>(3, "by;"));
      EXPECT_EQ(Command(user, {"workgroup", "leads", "1", "--set", ""}).exitCode, 0);
    }
  }
}

// Webhooks: the administrator's list is the same in the command, the API and the pages; anyone
// else is refused by every command, call and page, and nothing changes.
TEST_P(FrontEndsAgree, OnWebhooksForTheAdministratorAndRefuseEveryoneElse) {
  ASSERT_EQ(Command("lead",
                    {"hooks", "add", "https://hooks.example.org/kv", "--events", "created,deleted"})
                .exitCode,
            0);
  const auto tables = [&] {
    return kvdata::testing::TablesText(*Connect(), {"ActionHooks", "ActionHookDeliveries"});
  };
  const std::string before = tables();
  const auto signIn = [&](const std::string& user) {
    const auto answer =
        client_->Post("/api/v1/session", Json{{"user", user}, {"password", "password1"}}.dump(),
                      "application/json");
    return web::Headers{
        {"Authorization", "Bearer " + Json::parse(answer->body)["token"].get<std::string>()}};
  };
  const auto formToken = [&](const web::Headers& cookie) {
    const std::string page = client_->Get("/", cookie)->body;
    return page.substr(page.find("name=\"csrf\" value=\"") + 19, 64);
  };

  const auto listed = Json::parse(Command("lead", {"hooks", "list"}).out);
  ASSERT_EQ(listed.size(), 1U);
  EXPECT_EQ(listed[0]["URL"], "https://hooks.example.org/kv");
  EXPECT_EQ(listed[0]["Events"], "created,deleted");
  const auto [status, hooks] = Api(signIn("lead").begin()->second.substr(7), "/api/v1/hooks");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(hooks, Json::parse(R"([{"id":1,"url":"https://hooks.example.org/kv",
      "events":["created","deleted"],"active":true,"createdBy":"lead","created":)" +
                               listed[0]["Created"].dump() + "}]"));
  const auto page = client_->Get("/admin/hooks", {{"Cookie", Cookie("lead")}});
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("https:&#x2F;&#x2F;hooks.example.org&#x2F;kv"), std::string::npos);

  for (const std::string user : {"orig", "asg", "by", "viewer"}) {
    SCOPED_TRACE(user);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"hooks", "list"},
                                               {"hooks", "add", "https://x.example.org/"},
                                               {"hooks", "edit", "1", "--active", "off"},
                                               {"hooks", "rm", "1"},
                                               {"hooks", "deliveries"},
                                               {"hooks", "deliver"}}) {
      const auto outcome = Command(user, args);
      EXPECT_EQ(outcome.exitCode, 1) << args[1];
      EXPECT_NE(outcome.err.find("Refused"), std::string::npos) << outcome.err;
    }
    const web::Headers bearer = signIn(user);
    const std::string body = Json{{"url", "https://x.example.org/"}, {"active", false}}.dump();
    for (const auto& [method, path] :
         std::vector<std::pair<std::string, std::string>>{{"GET", "/api/v1/hooks"},
                                                          {"POST", "/api/v1/hooks"},
                                                          {"PATCH", "/api/v1/hooks/1"},
                                                          {"DELETE", "/api/v1/hooks/1"},
                                                          {"GET", "/api/v1/hooks/deliveries"},
                                                          {"POST", "/api/v1/hooks/deliver"}}) {
      const auto answer = method == "GET"    ? client_->Get(path, bearer)
                          : method == "POST" ? client_->Post(path, bearer, body, "application/json")
                          : method == "PATCH"
                              ? client_->Patch(path, bearer, body, "application/json")
                              : client_->Delete(path, bearer);
      EXPECT_EQ(answer->status, 403) << method << " " << path;
    }
    const web::Headers cookie = {{"Cookie", Cookie(user)}};
    const std::string token = formToken(cookie);
    EXPECT_EQ(client_->Get("/admin/hooks", cookie)->status, 403);
    EXPECT_EQ(client_->Get("/admin/hook?id=1", cookie)->status, 403);
    for (const std::string path : {"/admin/hooks", "/admin/hook/edit", "/admin/hook/delete"}) {
      const auto answer = client_->Post(path, cookie,
                                        web::Params{{"csrf", token},
                                                    {"id", "1"},
                                                    {"url", "https://x.example.org/"},
                                                    {"events", "created"},
                                                    {"confirm", "yes"}});
      EXPECT_EQ(answer->status, 403) << path;
    }
  }
  EXPECT_EQ(tables(), before);
}

// --- Comments: who may comment through each front end, and the thread each role reads ------

// "WHO, MOVE: TEXT" per entry of a thread, mentions as "@" and the name.
std::string Thread(const Json& conversation) {
  std::string said;
  for (const auto& entry : conversation) {
    std::string text = entry["text"];
    for (const auto& mention : entry["mentions"]) {
      const std::string id = "@" + mention["user"].get<std::string>();
      text.replace(text.find(id), id.size(), "@" + mention["name"].get<std::string>());
    }
    said += fmt::format("{}, {}: {}\n", entry["who"].get<std::string>(),
                        entry["move"].get<std::string>(), text);
  }
  return said;
}
std::string PageThread(const std::string& page) {
  const std::regex entry(
      R"re(<li class="thread-entry[^>]*><p class="mb-1"><strong>([^<]*)</strong>(?: <span class="badge[^>]*>([^<]*)</span>)?.*?<p class="mb-0 prewrap">(.*?)</p></li>)re");
  const std::regex tag("<[^>]*>");
  std::string said;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), entry);
       it != std::sregex_iterator(); ++it) {
    said += fmt::format("{}, {}: {}\n", (*it)[1].str(), (*it)[2].str(),
                        std::regex_replace((*it)[3].str(), tag, ""));
  }
  return said;
}

TEST_P(FrontEndsAgree, OnCommentsForEveryRoleAndRefuseMentionsOfWhoMayNotSee) {
  const int32_t id = NewAction();
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  // Someone the database keeps as a person, who cannot sign in and so may not see actions.
  app::UserAdd(lead, {"ghost", "Gho St", "password1", "", {}});
  (void)app::Sql(lead, "update Users set PasswordHash = null where UserID = 'ghost'");
  const std::string path = fmt::format("/api/v1/actions/{}/comments", id);
  const std::string page = fmt::format("/action/{}", id);
  const auto token = [&](const std::string& user) {
    const auto signedIn =
        client_->Post("/api/v1/session", Json{{"user", user}, {"password", "password1"}}.dump(),
                      "application/json");
    return Json::parse(signedIn->body)["token"].get<std::string>();
  };
  const auto formToken = [&](const std::string& cookie) {
    const std::string body = client_->Get(page, {{"Cookie", cookie}})->body;
    return body.substr(body.find("name=\"csrf\" value=\"") + 19, 64);
  };
  // Each front end's status for one comment: 0 / 201 / 303 when taken.
  const auto comment = [&](const std::string& user, const std::string& via,
                           const std::string& text) {
    if (via == "command") {
      return Command(user, {"comment", std::to_string(id), "--id", text}).exitCode;
    }
    if (via == "api") {
      return client_
          ->Post(path, {{"Authorization", "Bearer " + token(user)}}, Json{{"comment", text}}.dump(),
                 "application/json")
          ->status;
    }
    const std::string cookie = Cookie(user);
    return client_
        ->Post(page + "/comment", {{"Cookie", cookie}},
               web::Params{{"csrf", formToken(cookie)}, {"comment", text}})
        ->status;
  };
  const std::map<std::string, int> taken = {{"command", 0}, {"api", 201}, {"page", 303}};
  const std::map<std::string, int> refused = {{"command", 1}, {"api", 403}, {"page", 403}};
  const std::map<std::string, std::string> names = {
      {"lead", "Lee Lead"}, {"orig", "orig"}, {"asg", "asg"}, {"by", "by"}, {"viewer", "Vi"}};
  std::string expected;
  for (size_t i = 0; i < kUsers.size(); ++i) {
    const std::string& user = kUsers[i];
    const std::string& next = kUsers[(i + 1) % kUsers.size()];
    for (const std::string via : {"command", "api", "page"}) {
      SCOPED_TRACE(user + " through the " + via);
      // Every role may comment, the read-only viewer too; a mention of ghost changes nothing.
      const std::string before = Snapshot();
      EXPECT_EQ(comment(user, via, "and @ghost"), refused.at(via));
      EXPECT_EQ(Snapshot(), before);
      EXPECT_EQ(comment(user, via, fmt::format("{} by {}, ask @{}", user, via, next)),
                taken.at(via));
      expected +=
          fmt::format("{}, commented: {} by {}, ask @{}\n", user, user, via, names.at(next));
    }
  }
  // Every role reads the same thread through each front end.
  for (const std::string& user : kUsers) {
    SCOPED_TRACE(user);
    const auto shown = Command(user, {"show", std::to_string(id), "--id"});
    ASSERT_EQ(shown.exitCode, 0);
    EXPECT_EQ(Thread(Json::parse(shown.out)["conversation"]), expected);
    const auto [status, action] = Api(token(user), fmt::format("/api/v1/actions/{}", id));
    EXPECT_EQ(Thread(action["conversation"]), expected);
    EXPECT_EQ(PageThread(client_->Get(page, {{"Cookie", Cookie(user)}})->body), expected);
  }
  // Nobody signed in: nothing taken.
  EXPECT_EQ(client_->Post(path, Json{{"comment", "x"}}.dump(), "application/json")->status, 401);
  EXPECT_EQ(client_->Post(page + "/comment", web::Params{{"comment", "x"}})->status, 403);
}

KV_INSTANTIATE_ENGINES(FrontEndsAgree);

}  // namespace
}  // namespace web
