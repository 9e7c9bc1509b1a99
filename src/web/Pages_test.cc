// The web front end over HTTP on both engines: who may do what through each page (a refusal is a
// 403 that changes nothing), the way through sign-in, and the defences of every answer.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <map>
#include <set>
#include <thread>
#include <tuple>
#include <variant>

#include <httplib.h>

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/Attachments.h"
#include "app/Lists.h"
#include "app/Profile.h"
#include "app/WebSupport.h"
#include "kvdata/testing/Fixture.h"
#include "vb/ComError.h"
#include "web/Routes.h"
#include "web/Security.h"
#include "web/ServedDatabase_test.h"
#include "web/Server.h"
#include "web/Site.h"

namespace web {
namespace {

class PagesTest : public ServedDatabaseTest {
 protected:
  // Signs in through the form; returns the session cookie ("" when refused).
  std::string SignIn(const std::string& user, const std::string& password = "password1",
                     int* status = nullptr) {
    const std::string formToken(64, 'a');
    const auto answer =
        client_->Post("/signin", {{"Cookie", "kvsignin=" + formToken}},
                      httplib::Params{{"csrf", formToken}, {"user", user}, {"password", password}});
    if (status) *status = answer->status;
    const std::string cookie = answer->get_header_value("Set-Cookie");
    return cookie.rfind("kvsession=", 0) == 0 ? cookie.substr(0, cookie.find(';')) : "";
  }
  // The form token a page of the session carries.
  std::string FormToken(const std::string& cookie) {
    const std::string page = client_->Get("/", {{"Cookie", cookie}})->body;
    const size_t at = page.find("name=\"csrf\" value=\"") + 19;
    return page.substr(at, 64);
  }
  // The session cookie of user, signed in through the form on first use.
  std::string Cookie(const std::string& user) {
    auto& [cookie, token] = sessions_[user];
    if (cookie.empty()) token = FormToken(cookie = SignIn(user));
    return cookie;
  }
  // Posts a form as user, with the form token of the user's session.
  httplib::Result Post(const std::string& user, const std::string& path, httplib::Params form) {
    const std::string cookie = Cookie(user);
    form.emplace("csrf", sessions_[user].second);
    return client_->Post(path, {{"Cookie", cookie}}, form);
  }
  std::map<std::string, std::pair<std::string, std::string>> sessions_;  // cookie, form token
};

TEST_P(PagesTest, RequestsWithoutSessionOrFormTokenAreTurnedAway) {
  const int32_t id = NewAction("<script>alert(1)</script>");
  const std::string link = fmt::format("/default.asp?LinkType=2&DBID=0&ActionID={}", id);
  auto answer = client_->Get(link);
  EXPECT_EQ(answer->status, 303);
  EXPECT_EQ(answer->get_header_value("Location"), "/signin?next=" + QueryValue(link));

  const std::string cookie = SignIn("orig");
  answer = client_->Get(link, {{"Cookie", cookie}});
  EXPECT_EQ(answer->get_header_value("Location"), fmt::format("/action/{}", id));
  answer = client_->Get("/", {{"Cookie", cookie}});
  EXPECT_NE(answer->body.find("&lt;script&gt;alert(1)"), std::string::npos);
  EXPECT_EQ(answer->body.find("<script>"), std::string::npos);
  EXPECT_NE(answer->get_header_value("Content-Security-Policy").find("default-src 'none'"),
            std::string::npos);

  // A state-changing form needs its session's token in its body, and a browser's word that it
  // comes from a page of this site.
  const std::string move = fmt::format("/action/{}/move", id);
  const std::string token = FormToken(cookie);
  const std::string site = fmt::format("http://127.0.0.1:{}", port_);
  struct Forged {
    std::string path;
    httplib::Headers headers;
    std::string token;
    std::string why;
  };
  const std::vector<Forged> forged = {
      {move, {{"Cookie", cookie}}, "", "no token"},
      {move, {{"Cookie", cookie}}, std::string(64, '0'), "a wrong token"},
      {move + "?csrf=" + token, {{"Cookie", cookie}}, "", "the token in the query string"},
      {move, {}, token, "a form without its session"},
      {move, {{"Cookie", cookie}, {"Origin", "http://evil.example"}}, token, "another site"},
      {move, {{"Cookie", cookie}, {"Origin", site + ".evil.example"}}, token, "a look-alike"},
      {move, {{"Cookie", cookie}, {"Origin", "null"}}, token, "an opaque origin"},
      {move, {{"Cookie", cookie}, {"Referer", "http://evil.example/?" + site}}, token, "Referer"},
  };
  const std::string before = Snapshot();
  for (const auto& test : forged) {
    httplib::Params form{{"move", "close"}};
    if (!test.token.empty()) form.emplace("csrf", test.token);
    EXPECT_EQ(client_->Post(test.path, test.headers, form)->status, 403) << test.why;
  }
  EXPECT_EQ(Snapshot(), before);
  // This site's page by its Origin or its Referer; a program sends neither.
  const std::vector<httplib::Headers> fromHere = {
      {{"Origin", site}}, {{"Referer", site + "/settings"}}, {}};
  for (const auto& from : fromHere) {
    httplib::Headers headers = from;
    headers.emplace("Cookie", cookie);
    const httplib::Params form{{"csrf", token}, {"DefaultDueDays", "3"}, {"AlertDays", "2"}};
    EXPECT_EQ(client_->Post("/settings/values", headers, form)->status, 303);
  }
}

TEST_P(PagesTest, SignInIsThrottledPerUserAndGoesOnlyToLocalPages) {
  const std::string formToken(64, 'b');
  const auto signIn = [&](const std::string& next, httplib::Headers headers = {}) {
    headers.emplace("Cookie", "kvsignin=" + formToken);
    return client_->Post(
        "/signin", headers,
        httplib::Params{
            {"csrf", formToken}, {"user", "orig"}, {"password", "password1"}, {"next", next}});
  };
  // (the form decodes what it sends: "/%2f/x" arrives as itself)
  for (const std::string next : {"//evil.example/", "/\\evil.example", "/%2f/evil.example",
                                 "/%252f%252fevil.example", "https://evil.example", " /action/1"}) {
    const auto answer = signIn(next);
    EXPECT_EQ(answer->get_header_value("Location"), "/") << next;
    EXPECT_NE(answer->get_header_value("Set-Cookie").find("HttpOnly; SameSite=Strict"),
              std::string::npos);
  }
  EXPECT_EQ(signIn("/?grep=a%2Fb")->get_header_value("Location"), "/?grep=a%2Fb");
  EXPECT_EQ(signIn("/", {{"Origin", "http://evil.example"}})->status, 403);
  const std::string form = client_->Get("/signin?next=%2F%252F%252Fevil.example")->body;
  EXPECT_NE(form.find("name=\"next\" value=\"&#x2F;\""), std::string::npos) << form;

  int status = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    EXPECT_EQ(SignIn("by", "wrong-password", &status), "");
    EXPECT_EQ(status, 401);
  }
  EXPECT_EQ(SignIn("by", "password1", &status), "");
  EXPECT_EQ(status, 429);
  EXPECT_NE(SignIn("asg"), "") << "other users are not held up";

  // Control characters are a 400 naming the field, and each counts for the address like a failed
  // sign-in: with the five above, fifteen reach the limit of twenty.
  const std::string nul("\0", 1);
  for (int attempt = 0; attempt < 5; ++attempt) {
    EXPECT_EQ(SignIn("lead", "pass" + nul + "word", &status), "");
    EXPECT_EQ(status, 400);
    const auto next = signIn("/\t/evil.example");
    EXPECT_EQ(next->status, 400);
    EXPECT_NE(next->body.find("next: a text on one line"), std::string::npos) << next->body;
    const auto api =
        client_->Post("/api/v1/session", R"({"user": "lead\u0000"})", "application/json");
    EXPECT_EQ(api->status, 400);
    EXPECT_NE(api->body.find("user: a text"), std::string::npos) << api->body;
  }
  EXPECT_EQ(SignIn("lead", "password1", &status), "");
  EXPECT_EQ(status, 429) << "the address is held up";
}

// Behind a proxy the base URL is the site's address: its scheme, in any letter case, decides
// Secure cookies, and its origin alone may post forms.
TEST_P(PagesTest, TheBaseUrlDecidesSecureCookiesAndWhichOriginMayPost) {
  Serve("HTTPS://Actions.Example.org/kv/");
  const std::string formToken(64, 'c');
  const auto signIn = [&](const std::string& origin) {
    return client_->Post(
        "/signin", {{"Cookie", "kvsignin=" + formToken}, {"Origin", origin}},
        httplib::Params{{"csrf", formToken}, {"user", "orig"}, {"password", "password1"}});
  };
  EXPECT_EQ(signIn(fmt::format("http://127.0.0.1:{}", port_))->status, 403) << "not the base URL";
  const auto answer = signIn("https://actions.example.org");
  EXPECT_EQ(answer->status, 303);
  EXPECT_NE(answer->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
}

KV_INSTANTIATE_ENGINES(PagesTest);

TEST(Server, ASecondServerCannotListenWhereOneIsListening) {
  ServeOptions options;
  options.port = 0;
  Server first(options);
  options.port = first.Bind();
  Server second(options);
  EXPECT_THROW((void)second.Bind(), vb::ComError);
}

// A row listed twice never runs (the first match answers); an API path guarded as a page would
// read cookies, a page guarded as the API would skip the form token; a numbered page without a
// name for its number would refuse a bad one in words nobody knows.
TEST(RouteTable, EachPathIsListedOnceAndGuardedAsItsPlaceNeeds) {
  std::set<std::pair<Method, std::string>> seen;
  for (const Route& route : RouteTable()) {
    SCOPED_TRACE(route.pattern);
    EXPECT_TRUE(seen.emplace(route.method, route.pattern).second);
    const bool apiCall = std::holds_alternative<ApiHandler>(route.handler);
    const bool apiSignIn = route.pattern == std::string(kApiPrefix) + "session" &&
                           std::holds_alternative<PublicHandler>(route.handler);
    EXPECT_EQ(route.pattern.starts_with(kApiPrefix), apiCall || apiSignIn);
    EXPECT_EQ(std::holds_alternative<RowPageHandler>(route.handler), !route.idField.empty());
  }
  EXPECT_GT(seen.size(), 50u);
}

TEST(ActionIDOfLink, ReadsTheActionOfAnEmailLinkOnly) {
  const std::vector<std::pair<std::string, std::optional<int32_t>>> cases = {
      {"LinkType=2&DBID=23456&ActionID=17", 17},
      {"actionid=5&LinkType=2", 5},
      {"LinkType=2&DBID=0", std::nullopt},
      {"ActionID=17x", std::nullopt},
      {"ActionID=-3", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [query, id] : cases) EXPECT_EQ(app::ActionIDOfLink(query), id) << query;
}

TEST(IsLocalPath, AcceptsOnlyAPathOfThisSite) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"/", true},
      {"/action/5", true},
      {"/?grep=a%2Fb&sort=Subject", true},
      {"/signin?next=%2Faction%2F1", true},
      {"/admin/user?id=a%5Cb#x", true},
      {"/a//b", true},
      {"/%25", true},
      {"", false},
      {"//evil.example", false},
      {"/\\evil.example", false},
      {"/%2f/evil.example", false},
      {"/%2F%2Fevil.example", false},
      {"/%5cevil.example", false},
      {"/%09/evil.example", false},
      {"/%0d%0a/evil.example", false},
      {"/%252f..", false},
      {"/%25252F/evil.example", false},
      {"/\t/evil.example", false},
      {"/x\r\nSet-Cookie: a=b", false},
      {"/x y", false},
      {"/caf\xc3\xa9", false},
      {"https://evil.example", false},
      {" /action/5", false},
      {"action/5", false},
  };
  for (const auto& [target, local] : cases) EXPECT_EQ(IsLocalPath(target), local) << target;
}

TEST(OriginOf, IsTheSchemeAndHostInSmallLettersWithoutTheDefaultPort) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"HTTPS://Actions.Example.org:443/kv?x#y", "https://actions.example.org"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {"http://host:80/", "http://host"},
      {"https://host:80/", "https://host:80"},
      {"ftp://host/", ""},
      {"https://user@host/", ""},
      {"https:///path", ""},
      {"null", ""},
  };
  for (const auto& [url, origin] : cases) EXPECT_EQ(OriginOf(url), origin) << url;
}

void ReplaceAll(std::string& text, std::string_view from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// The administration pages: each role sees and changes exactly what its rights allow.
class AdminPagesTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    auto lead = app::Session::SignIn(open_, "lead", "password1");
    for (const auto& [user, right] :
         {std::pair{"useradmin", 41}, {"remover", 42}, {"groupadmin", 43}}) {
      const int32_t group = app::WorkgroupAdd(lead, user, {right, 70});
      app::UserAdd(lead, {user, user, "password1", "", group});
    }
  }
  const std::vector<std::string> kRoles = {"lead",   "orig",      "asg",     "by",
                                           "viewer", "useradmin", "remover", "groupadmin"};
};

// Each form posted by every role, on things made for the post: an action ({a}), its attachment
// ({t}), the lead's saved query ({q}), a user ({u}), a SuperUser ({s}) and a workgroup ({g}).
TEST_P(AdminPagesTest, EachFormIsAllowedExactlyToItsRolesAndARefusalChangesNothing) {
  struct FormCase {
    std::string path;
    httplib::Params form;
    std::set<std::string> allowed;
  };
  const std::set<std::string> staff = {"lead", "orig", "asg", "by"};
  const std::set<std::string> admins = {"lead", "useradmin", "remover", "groupadmin"};
  const std::vector<FormCase> cases = {
      {"GET /admin", {}, admins},
      {"GET /admin/users", {}, {"lead", "useradmin", "remover"}},
      {"GET /admin/user?id=by", {}, {"lead", "useradmin", "remover"}},
      {"GET /admin/workgroups", {}, {"lead", "groupadmin"}},
      {"GET /admin/workgroup?id=-1", {}, {"lead", "groupadmin"}},
      {"GET /admin/settings", {}, {"lead"}},
      {"/action/{a}/edit",
       {{"Subject", "New"}, {"base.Subject", "Fix the pump"}},
       {"lead", "orig"}},
      {"/action/{a}/move", {{"move", "complete"}}, {"asg"}},
      {"/action/{a}/move", {{"move", "close"}}, {"lead", "orig"}},
      {"/action/{a}/attachments", {{"url", "https://example.org/a"}}, {"lead", "orig", "asg"}},
      {"/action/new", {{"Subject", "Made here"}}, staff},
      {"/action/{a}/copy", {}, staff},
      {"/action/{a}/delete", {}, {"lead", "orig"}},
      {"/attachment/{t}/remove", {}, {"lead", "orig", "asg"}},
      {"/queries", {{"name", "Q"}, {"mine", "1"}}, staff},
      {"/queries", {{"name", "Q"}, {"assignee", "asg"}}, {"lead"}},
      {"/queries/{q}/share", {{"shared", "1"}}, {"lead"}},
      {"/admin/users", {{"userID", "{u}x"}, {"password", "password9"}}, {"lead", "useradmin"}},
      {"/admin/user/edit", {{"id", "{u}"}, {"userName", "Renamed"}}, {"lead", "useradmin"}},
      {"/admin/user/password",
       {{"id", "{u}"}, {"password", "password9"}, {"repeat", "password9"}},
       {"lead", "useradmin"}},
      {"/admin/user/delete", {{"id", "{u}"}, {"confirm", "yes"}}, {"lead", "remover"}},
      {"/admin/user/edit", {{"id", "{s}"}, {"userName", "Renamed"}}, {"lead"}},
      {"/admin/user/password",
       {{"id", "{s}"}, {"password", "password9"}, {"repeat", "password9"}},
       {"lead"}},
      {"/admin/user/delete", {{"id", "{s}"}, {"confirm", "yes"}}, {"lead"}},
      {"/admin/workgroups", {{"name", "{u}"}, {"right", "50"}}, {"lead", "groupadmin"}},
      {"/admin/workgroup/edit", {{"id", "{g}"}, {"name", "{u}y"}}, {"lead", "groupadmin"}},
      {"/admin/workgroup/delete", {{"id", "{g}"}, {"confirm", "yes"}}, {"lead", "groupadmin"}},
      {"/admin/settings", {{"key", "DueDays"}, {"value", "7"}}, {"lead"}},
      {"/admin/labels", {{"label.Subject", "Title"}}, {"lead"}},
  };
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  const int32_t query = app::QueryAdd(lead, {"Lead's", {}});
  int fresh = 0;
  for (const auto& test : cases) {
    for (const auto& user : kRoles) {
      SCOPED_TRACE(fmt::format("row {} ({}) as {}", &test - cases.data(), test.path, user));
      const bool allowed = test.allowed.count(user) > 0;
      if (test.path.starts_with("GET ")) {
        EXPECT_EQ(client_->Get(test.path.substr(4), {{"Cookie", Cookie(user)}})->status,
                  allowed ? 200 : 403);
        continue;
      }
      // Makes what a placeholder names, and puts its ID in the text.
      const std::string victim = fmt::format("victim{}", ++fresh);
      int32_t action = 0;
      const auto fill = [&](std::string text, bool isID) {
        if (text.find("{a}") != std::string::npos || text.find("{t}") != std::string::npos) {
          action =
              action ? action : app::Add(orig, {{"Subject", "Fix the pump"}, {"Assignee", "asg"}});
          ReplaceAll(text, "{a}", std::to_string(action));
          if (text.find("{t}") != std::string::npos) {
            ReplaceAll(text, "{t}",
                       std::to_string(
                           app::AttachmentAdd(orig, action, {"", "https://example.org/", "", ""})));
          }
        }
        ReplaceAll(text, "{q}", std::to_string(query));
        if (text == "{g}") text = std::to_string(app::WorkgroupAdd(lead, victim, {50}));
        if (isID && (text == "{u}" || text == "{s}"))
          app::UserAdd(lead, {victim, victim, "password1", "",
                              text == "{s}" ? -1 : std::optional<int32_t>()});
        ReplaceAll(text, "{u}", victim);
        ReplaceAll(text, "{s}", victim);
        return text;
      };
      httplib::Params form;
      for (const auto& [name, value] : test.form) form.emplace(name, fill(value, name == "id"));
      const std::string path = fill(test.path, false);
      const std::string before = Snapshot();
      const auto answer = Post(user, path, form);
      EXPECT_EQ(answer->status, allowed ? 303 : 403) << answer->body;
      EXPECT_EQ(Snapshot() != before, allowed);
    }
  }
  for (const auto& user : kRoles) {  // the way to the administration pages
    const std::string page = client_->Get("/", {{"Cookie", Cookie(user)}})->body;
    EXPECT_EQ(page.find("id=\"nav-admin\"") != std::string::npos, admins.contains(user)) << user;
  }
}

TEST_P(AdminPagesTest, RefusalsAndBadInputShowTheirReasonAndChangeNothing) {
  struct BadCase {
    std::string path;
    httplib::Params form;
    int status;
    std::string reason;
  };
  const std::vector<BadCase> cases = {
      {"/admin/users", {{"userID", "new"}, {"password", "short"}}, 400, "at least 8"},
      {"/admin/users", {{"userID", "by"}, {"password", "password9"}}, 400, "taken"},
      {"/admin/user/password",
       {{"id", "by"}, {"password", "password9"}, {"repeat", "password8"}},
       400,
       "both fields"},
      {"/admin/user/delete", {{"id", "by"}}, 400, "ticked"},
      {"/admin/user/delete", {{"id", "lead"}, {"confirm", "yes"}}, 403, "last SuperUser"},
      {"/admin/workgroup/delete", {{"id", "1"}, {"confirm", "yes"}}, 403, "default workgroup"},
      {"/admin/workgroup/edit", {{"id", "-1"}, {"name", "Gods"}}, 403, "SuperUser workgroup"},
      {"/admin/workgroups", {{"name", "Odd"}, {"right", "67"}}, 400, "right number"},
      {"/admin/settings", {{"key", "DueDays"}, {"value", "soon"}}, 400, "whole number"},
      {"/admin/settings", {{"key", "Version"}, {"value", "2"}}, 400, "changed"},
      {"/admin/settings",
       {{"key", "SMTPHost"}, {"value", "file:///tmp/notice"}},
       400,
       "not a relay address"},
      {"/admin/labels", {{"label.Subject", "Subject"}, {"label.Action", "Action"}}, 303, ""},
      {"/action/new", {{"Subject", std::string("a\0b", 3)}}, 400, "Subject: a text on one line"},
      {"/action/new", {{"Subject", "a\nb"}}, 400, "Subject: a text on one line"},
      {"/action/new",
       {{"Subject", "x"}, {"Description", "a\x1b[2Jb"}},
       400,
       "Description: a text without control characters other than tabs and line breaks"},
      {"/admin/users", {{"userID", "x\x7f"}, {"password", "password9"}}, 400, "userID:"},
      {"/queries?name=%01", {{"name", "Q"}, {"mine", "1"}}, 400, "name:"},
      {"/queries", {{std::string("na\0me", 5), "Q"}}, 400, "a field&#39;s name:"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.path + " " + test.reason);
    const std::string before = Snapshot();
    const auto answer = Post("lead", test.path, test.form);
    EXPECT_EQ(answer->status, test.status);
    EXPECT_NE(answer->body.find(test.reason), std::string::npos) << answer->body;
    EXPECT_EQ(Snapshot(), before);
  }
  // What people type is shown as text.
  EXPECT_EQ(Post("lead", "/admin/users",
                 {{"userID", "x1"}, {"userName", "<b>x</b>"}, {"password", "password9"}})
                ->status,
            303);
  const std::string page = client_->Get("/admin/users", {{"Cookie", Cookie("lead")}})->body;
  EXPECT_NE(page.find("&lt;b&gt;x"), std::string::npos);
  EXPECT_EQ(page.find("<b>x"), std::string::npos);
  // The value an edit started from is the stored one, whatever an older program put in it.
  const int32_t id = NewAction("Fix\tthe pump");
  EXPECT_EQ(Post("lead", fmt::format("/action/{}/edit", id),
                 {{"Subject", "Fixed"}, {"base.Subject", "Fix\tthe pump"}})
                ->status,
            303);
}

KV_INSTANTIATE_ENGINES(AdminPagesTest);

TEST_P(PagesTest, ListFiltersAndSavedQueriesChooseTheRowsAndSortingKeepsTheChoice) {
  NewAction("Pump for asg");
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  (void)app::Add(orig, {{"Subject", "Valve for by"}, {"Assignee", "by"}});
  const std::string cookie = Cookie("lead");
  struct ListCase {
    std::string path;
    int status;
    std::vector<std::string> shown, hidden;
  };
  const std::vector<ListCase> cases = {
      {"/?assignee=by", 200, {"Valve for by"}, {"Pump for asg"}},
      {"/?grep=PUMP&originator=orig", 200, {"Pump for asg"}, {"Valve for by"}},
      {"/?status=closed", 200, {"No actions match."}, {"Pump for asg", "Valve for by"}},
      {"/?status=later", 400, {"status"}, {}},
      {"/?within=soon", 400, {"within: &#39;soon&#39; is not a whole number from 0 to 32767"}, {}},
      {"/default.asp?LinkType=2&ActionID=", 400, {"a link to an action"}, {}},
      {"/action/99999999999", 400, {"a positive number"}, {}},
      {"/?grep=a%00b", 400, {"grep: a text on one line"}, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.path);
    const auto answer = client_->Get(test.path, {{"Cookie", cookie}});
    EXPECT_EQ(answer->status, test.status);
    for (const auto& text : test.shown) EXPECT_NE(answer->body.find(text), std::string::npos);
    for (const auto& text : test.hidden) EXPECT_EQ(answer->body.find(text), std::string::npos);
  }
  const auto unsaved = Post("lead", "/action/new", {{"Category", "Kept text"}});
  EXPECT_EQ(unsaved->status, 400);
  EXPECT_NE(unsaved->body.find("value=\"Kept text\""), std::string::npos) << "the form keeps it";
  const auto saved = Post("lead", "/queries", {{"name", "By's"}, {"assignee", "by"}});
  const std::string location = saved->get_header_value("Location");
  ASSERT_EQ(location.rfind("/?query=", 0), 0u) << saved->body;
  const std::string page = client_->Get(location, {{"Cookie", cookie}})->body;
  EXPECT_NE(page.find("Valve for by"), std::string::npos);
  EXPECT_EQ(page.find("Pump for asg"), std::string::npos);
  EXPECT_NE(page.find("page=1&amp;query=" + location.substr(8)), std::string::npos)
      << "the sort links keep the query";
  const auto queries = client_->Get("/queries", {{"Cookie", cookie}});
  EXPECT_EQ(queries->status, 200);
  EXPECT_NE(queries->body.find("By&#39;s"), std::string::npos) << queries->body;
}

TEST_P(PagesTest, OwnSettingsAndPasswordChangeOnlyWithValidInputAndTheCurrentPassword) {
  EXPECT_EQ(client_->Get("/action/new", {{"Cookie", SignIn("viewer")}})->status, 403);
  const auto post = [&](const std::string& path, httplib::Params form) {
    return Post("asg", path, std::move(form))->status;
  };
  EXPECT_EQ(post("/settings/values", {{"DefaultDueDays", "3"}, {"AlertDays", "2"}}), 303);
  EXPECT_EQ(post("/settings/values", {{"DefaultDueDays", "4"}, {"AlertDays", "400"}}), 400);
  auto asg = app::Session::SignIn(open_, "asg", "password1");
  const app::PersonalValues values = app::PersonalValuesOf(asg);
  EXPECT_EQ(std::tie(values.defaultDueDays, values.alertDays, values.reminders),
            std::make_tuple(3, 2, false));

  EXPECT_EQ(post("/settings/password",
                 {{"current", "wrong-one"}, {"password", "password2"}, {"repeat", "password2"}}),
            403);
  EXPECT_EQ(post("/settings/password",
                 {{"current", "password1"}, {"password", "password2"}, {"repeat", "password3"}}),
            400);
  EXPECT_NE(SignIn("asg", "password1"), "") << "the password is still the old one";
  EXPECT_EQ(post("/settings/password",
                 {{"current", "password1"}, {"password", "password2"}, {"repeat", "password2"}}),
            200);
  EXPECT_EQ(client_->Get("/settings", {{"Cookie", Cookie("asg")}})->status, 303) << "signed out";
  EXPECT_NE(SignIn("asg", "password2"), "");
}

}  // namespace
}  // namespace web
