// The web front end over HTTP on both engines: who may do what through each page (a refusal is a
// 403 that changes nothing), the way through sign-in, and the defences of every answer.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <tuple>
#include <variant>

#include "web/Http.h"

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/Attachments.h"
#include "app/Forms.h"
#include "app/Import.h"
#include "app/Lists.h"
#include "app/Profile.h"
#include "app/WebSupport.h"
#include "kvdata/testing/Fixture.h"
#include "kvdata/testing/ScratchFolder.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
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
                      web::Params{{"csrf", formToken}, {"user", user}, {"password", password}});
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
  web::Result Post(const std::string& user, const std::string& path, web::Params form) {
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
    web::Headers headers;
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
    web::Params form{{"move", "close"}};
    if (!test.token.empty()) form.emplace("csrf", test.token);
    EXPECT_EQ(client_->Post(test.path, test.headers, form)->status, 403) << test.why;
  }
  EXPECT_EQ(Snapshot(), before);
  // This site's page by its Origin or its Referer; a program sends neither.
  const std::vector<web::Headers> fromHere = {
      {{"Origin", site}}, {{"Referer", site + "/settings"}}, {}};
  for (const auto& from : fromHere) {
    web::Headers headers = from;
    headers.emplace("Cookie", cookie);
    const web::Params form{{"csrf", token}, {"DefaultDueDays", "3"}, {"AlertDays", "2"}};
    EXPECT_EQ(client_->Post("/settings/values", headers, form)->status, 303);
  }
}

TEST_P(PagesTest, SignInIsThrottledPerUserAndGoesOnlyToLocalPages) {
  const std::string formToken(64, 'b');
  const auto signIn = [&](const std::string& next, web::Headers headers = {}) {
    headers.emplace("Cookie", "kvsignin=" + formToken);
    return client_->Post(
        "/signin", headers,
        web::Params{
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
        web::Params{{"csrf", formToken}, {"user", "orig"}, {"password", "password1"}});
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
    // Reads the history, and may change nothing of its own account either.
    app::UserAdd(lead,
                 {"reader", "Rea", "password1", "", app::WorkgroupAdd(lead, "Readers", {82})});
  }
  const std::vector<std::string> kRoles = {"lead",      "orig",    "asg",        "by",    "viewer",
                                           "useradmin", "remover", "groupadmin", "reader"};
};

// Each form posted by every role, on things made for the post: an action ({a}), its attachment
// ({t}), the lead's saved query ({q}), a user ({u}), a SuperUser ({s}) and a workgroup ({g}).
TEST_P(AdminPagesTest, EachFormIsAllowedExactlyToItsRolesAndARefusalChangesNothing) {
  struct FormCase {
    std::string path;
    web::Params form;
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
      {"/queries/{q}/update", {{"name", "Lead's open"}, {"status", "active"}}, {"lead"}},
      {"GET /list.csv?status=open", {}, {kRoles.begin(), kRoles.end()}},
      {"GET /?page=2&sort=state&dir=desc", {}, {kRoles.begin(), kRoles.end()}},
      {"GET /alerts?apage=2&dpage=3", {}, {kRoles.begin(), kRoles.end()}},
      // The activity is the histories' (right 82); text and date bounds save with a query.
      {"GET /activity?since=2026-01-01", {}, {"lead", "orig", "asg", "by", "reader"}},
      {"/queries",
       {{"name", "Q"}, {"mine", "1"}, {"grep", "pump' --"}, {"dueTo", "2030-01-31"}},
       staff},
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
      {"/admin/settings",
       {{"setting.DueDays", "7"}, {"setting.AutoEmail", "true"}, {"setting.SMTPTimeout", ""}},
       {"lead"}},
      {"/admin/valid-values", {{"valid.Priority", "High\nLow"}}, {"lead"}},
      {"/admin/labels", {{"label.Subject", "Title"}}, {"lead"}},
      {"/settings/details",
       {{"userName", "Renamed"}, {"email", "me@example.org"}},
       {"lead", "orig", "asg", "by", "viewer", "useradmin", "remover", "groupadmin"}},
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
      web::Params form;
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
    web::Params form;
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
      {"/admin/settings",
       {{"setting.DueDays", "soon"}, {"setting.SMTPHost", "file:///tmp/notice"}},
       400,
       "id=\"s-DueDays-error\">&#39;soon&#39; is not a whole number"},
      {"/admin/settings",
       {{"setting.DueDays", "soon"}, {"setting.SMTPHost", "file:///tmp/notice"}},
       400,
       "id=\"s-SMTPHost-error\">&#39;file:&#x2F;&#x2F;&#x2F;tmp&#x2F;notice&#39; is not a relay"},
      {"/admin/settings", {{"setting.AutoEmail", "maybe"}}, 400, "id=\"s-AutoEmail-error\""},
      {"/admin/valid-values", {{"valid.Category", std::string(101, 'x')}}, 400, "Category:"},
      {"/settings/details",
       {{"userName", ""}, {"email", "no-at"}},
       400,
       "id=\"e-email\">&#39;no-at&#39; is not an e-mail address"},
      {"/settings/details",
       {{"userName", ""}, {"email", "no-at"}},
       400,
       "id=\"e-userName\">a name is required"},
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
  const std::string query = location.substr(8, location.find('&') - 8);
  EXPECT_NE(page.find("page=1&amp;from=" + query), std::string::npos)
      << "the sort links keep the query the filters came from";
  EXPECT_NE(page.find("id=\"notice\">The query was saved."), std::string::npos);
  const auto queries = client_->Get("/queries", {{"Cookie", cookie}});
  EXPECT_EQ(queries->status, 200);
  EXPECT_NE(queries->body.find("By&#39;s"), std::string::npos) << queries->body;
}

// A long list is paged: the total, numbered pages with the first and the last, every column
// sortable, and the CSV of the whole list in the page's order.
TEST_P(PagesTest, ListsArePagedCountedSortedAndExportedAsShown) {
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  std::vector<app::FieldTexts> rows;
  for (int i = 1; i <= 120; ++i) {
    rows.push_back({{"Subject", fmt::format("Task {:03}{}", i, i == 7 ? ", \"quoted\"" : "")},
                    {"Assignee", i % 2 ? "asg" : "by"}});
  }
  ASSERT_TRUE(app::ImportActions(orig, rows).problems.empty());
  const std::string cookie = Cookie("orig");
  const auto get = [&](const std::string& path) {
    return client_->Get(path, {{"Cookie", cookie}});
  };
  std::string page = get("/")->body;
  EXPECT_NE(page.find("1–50 of 120"), std::string::npos);
  EXPECT_NE(page.find("aria-label=\"Page 3\""), std::string::npos) << "the last page";
  EXPECT_NE(page.find("Task 050"), std::string::npos);
  EXPECT_EQ(page.find("Task 051"), std::string::npos);
  page = get("/?page=3")->body;
  EXPECT_NE(page.find("101–120 of 120"), std::string::npos);
  EXPECT_NE(page.find("Task 120"), std::string::npos);
  EXPECT_EQ(page.find("Task 100"), std::string::npos);
  EXPECT_NE(get("/?page=999")->body.find("101–120 of 120"), std::string::npos) << "the last";
  page = get("/?sort=Subject&dir=desc")->body;
  EXPECT_LT(page.find("Task 120"), page.find("Task 119"));
  page = get("/?sort=Assignee&assignee=by&page=2")->body;
  EXPECT_NE(page.find("51–60 of 60"), std::string::npos);
  EXPECT_NE(page.find("page=1&amp;assignee=by"), std::string::npos) << "pages keep the filter";
  // The quick search carries the other filters; the criteria are named above the list.
  page = get("/?grep=Task%2011&assignee=asg")->body;
  EXPECT_NE(page.find("1–5 of 5"), std::string::npos) << "Task 111, 113, … 119";
  EXPECT_NE(page.find("<input type=\"hidden\" name=\"assignee\" value=\"asg\">"),
            std::string::npos);
  EXPECT_NE(page.find("Assignee (user ID): asg"), std::string::npos);

  const auto csv = get("/list.csv?assignee=by&sort=ActionNumber&dir=desc");
  EXPECT_EQ(csv->status, 200);
  EXPECT_EQ(csv->get_header_value("Content-Type"), "text/csv; charset=utf-8");
  EXPECT_NE(csv->get_header_value("Content-Disposition").find("actions.csv"), std::string::npos);
  const std::string& text = csv->body;
  EXPECT_EQ(text.substr(0, text.find("\r\n")),
            "ActionNumber,Subject,Assignee,Originator,DateDue,State,Turn");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 61) << "every row, not one page";
  EXPECT_LT(text.find("\r\n120,Task 120,"), text.find("\r\n2,Task 002,"));
  // Pages read from the start or from the end add up to the whole list in its order, ties and all.
  const auto numbers = [](const std::string& text, const std::regex& pattern) {
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
      found.push_back((*it)[1]);
    }
    return found;
  };
  // Each row: its tick box for a bulk change, then the number.
  const std::regex row(R"(<tr[^>]*><td><input[^>]*></td><td><a href="[^"]*">(\d+)</a>)");
  const std::regex line(R"(\r\n(\d+),)");
  for (const std::string sort : {"Subject&dir=desc", "Assignee&dir=asc", "state&dir=desc",
                                 "turn&dir=asc", "DateDue&dir=asc", "ActionNumber&dir=desc"}) {
    std::vector<std::string> paged;
    for (int number = 1; number <= 3; ++number) {
      const auto more = numbers(get(fmt::format("/?sort={}&page={}", sort, number))->body, row);
      paged.insert(paged.end(), more.begin(), more.end());
    }
    EXPECT_EQ(paged, numbers(get("/list.csv?sort=" + sort)->body, line)) << sort;
    // The next and previous pages' links read on from the rows shown: the same pages.
    const std::regex next(R"re(href="([^"]*)" rel="next")re");
    const std::regex previous(R"re(href="([^"]*)" rel="prev")re");
    const auto unescaped = [](std::string href) {
      for (const auto& [escaped, plain] : {std::pair{"&amp;", "&"}, std::pair{"&#x2F;", "/"}}) {
        for (std::size_t at; (at = href.find(escaped)) != std::string::npos;) {
          href.replace(at, std::string_view(escaped).size(), plain);
        }
      }
      return href;
    };
    std::vector<std::string> walked;
    std::string body = get("/?sort=" + sort)->body;
    for (int pages = 0; pages < 5; ++pages) {
      const auto more = numbers(body, row);
      walked.insert(walked.end(), more.begin(), more.end());
      const auto link = numbers(body, next);
      if (link.empty()) break;
      EXPECT_NE(link[0].find("after="), std::string::npos) << link[0];
      body = get(unescaped(link[0]))->body;
    }
    EXPECT_EQ(walked, paged) << sort;
    EXPECT_NE(body.find("101–120 of 120"), std::string::npos);
    std::vector<std::string> back = numbers(body, row);
    for (auto link = numbers(body, previous); !link.empty(); link = numbers(body, previous)) {
      EXPECT_NE(link[0].find("before="), std::string::npos) << link[0];
      body = get(unescaped(link[0]))->body;
      const auto more = numbers(body, row);
      back.insert(back.begin(), more.begin(), more.end());
    }
    EXPECT_EQ(back, paged) << sort;
  }
  EXPECT_EQ(get("/?after=nonsense")->status, 400);
  const auto all = get("/list.csv?grep=quoted");
  EXPECT_NE(all->body.find("\r\n7,\"Task 007, \"\"quoted\"\"\",asg,"), std::string::npos)
      << all->body;
}

// A saved query opens as filters that can be changed in place and saved back, by its owner.
TEST_P(PagesTest, ASavedQueryOpensAsEditableFiltersAndItsOwnerUpdatesIt) {
  NewAction("Pump for asg");
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  (void)app::Add(orig, {{"Subject", "Valve for by"}, {"Assignee", "by"}});
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  const int32_t query = app::QueryAdd(lead, {"By's", app::FilterOf({{"assignee", "by"}})});
  app::QueryShare(lead, query, true);
  const std::string cookie = Cookie("lead");
  std::string page = client_->Get(fmt::format("/?query={}", query), {{"Cookie", cookie}})->body;
  EXPECT_NE(page.find(fmt::format("name=\"from\" value=\"{}\"", query)), std::string::npos);
  EXPECT_NE(page.find("id=\"q-assignee\" name=\"assignee\" value=\"by\""), std::string::npos);
  EXPECT_NE(page.find("From saved query <strong>By&#39;s</strong>"), std::string::npos) << page;
  EXPECT_NE(page.find("Valve for by"), std::string::npos);
  EXPECT_EQ(page.find("Pump for asg"), std::string::npos);
  EXPECT_NE(page.find("id=\"update-query\""), std::string::npos);
  // Changed in place, then saved back under a new name.
  page = client_->Get(fmt::format("/?from={}&assignee=asg", query), {{"Cookie", cookie}})->body;
  EXPECT_NE(page.find("Pump for asg"), std::string::npos);
  EXPECT_EQ(page.find("Valve for by"), std::string::npos);
  const auto updated = Post("lead", fmt::format("/queries/{}/update", query),
                            {{"name", "Asg's"}, {"assignee", "asg"}});
  EXPECT_EQ(updated->status, 303);
  const app::SavedQuery saved = app::QueryOf(lead, query);
  EXPECT_EQ(std::tie(saved.definition.name, saved.definition.filter.assignee),
            std::make_tuple(std::string("Asg's"), std::string("asg")));
  // Others may run a shared query, not update it; the update form is not offered to them.
  page = client_->Get(fmt::format("/?query={}", query), {{"Cookie", Cookie("orig")}})->body;
  EXPECT_NE(page.find("Pump for asg"), std::string::npos);
  EXPECT_EQ(page.find("id=\"update-query\""), std::string::npos);
  // Saving is offered where it would be allowed: others' actions need right 68.
  const std::string others = client_->Get("/?assignee=by", {{"Cookie", Cookie("orig")}})->body;
  EXPECT_EQ(others.find("id=\"save-query\""), std::string::npos);
  const std::string own = client_->Get("/?mine=1", {{"Cookie", Cookie("orig")}})->body;
  EXPECT_NE(own.find("id=\"save-query\""), std::string::npos);
}

// Error pages speak to people: in the site's frame, a permission by its name, a way back; the old
// program's addresses lead to the list.
TEST_P(PagesTest, ErrorPagesNamePermissionsInWordsInsideTheSiteFrame) {
  const std::string viewer = Cookie("viewer");
  auto answer = client_->Get("/action/new", {{"Cookie", viewer}});
  EXPECT_EQ(answer->status, 403);
  EXPECT_NE(answer->body.find("needs the permission “Add Actions”"), std::string::npos)
      << answer->body;
  EXPECT_EQ(answer->body.find("right 50"), std::string::npos);
  EXPECT_NE(answer->body.find("href=\"/settings\""), std::string::npos) << "the navigation";
  EXPECT_NE(answer->body.find("id=\"back-link\""), std::string::npos);
  EXPECT_NE(answer->body.find("class=\"skip-link\" href=\"#main\""), std::string::npos);
  answer = client_->Get("/admin/users", {{"Cookie", Cookie("by")}});
  EXPECT_EQ(answer->status, 403);
  EXPECT_NE(answer->body.find("one of the permissions “Add users and edit user information”"),
            std::string::npos)
      << answer->body;
  EXPECT_EQ(answer->body.find(" 41"), std::string::npos);
  answer = client_->Get("/action/424242", {{"Cookie", viewer}});
  EXPECT_EQ(answer->status, 404);
  EXPECT_NE(answer->body.find("<h1 class=\"h3\">Not found</h1>"), std::string::npos);
  for (const std::string old :
       {"/default.asp", "/default.asp?LinkType=2&ActionID=", "/list.asp", "/admin/Users.ASP"}) {
    answer = client_->Get(old, {{"Cookie", viewer}});
    EXPECT_EQ(answer->status, 303) << old;
    EXPECT_EQ(answer->get_header_value("Location"), "/") << old;
  }
  answer = client_->Get("/no/such/page");
  EXPECT_EQ(answer->status, 404);
  EXPECT_NE(answer->body.find("There is no such page."), std::string::npos);
}

// The activity: each change under its day, linked to its action, newest first, a page at a time;
// its Atom feed at an address of its own, answered without signing in only while the person may
// read the histories.
TEST_P(PagesTest, TheActivityShowsChangesByDayAndItsFeedFollowsTheRightToReadThem) {
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  auto asg = app::Session::SignIn(open_, "asg", "password1");
  const int32_t pump = app::Add(orig, {{"Subject", "Pump <b>&</b> seal"}, {"Assignee", "asg"}});
  app::Move(asg, pump, "complete", "done");
  app::Delete(orig, app::Add(orig, {{"Subject", "Gone again"}}));
  const std::string asgCookie = Cookie("asg");
  const auto page = client_->Get("/activity", {{"Cookie", asgCookie}});
  ASSERT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Today"), std::string::npos);
  EXPECT_NE(page->body.find("Pump &lt;b&gt;&amp;&lt;&#x2F;b&gt; seal"), std::string::npos);
  EXPECT_NE(page->body.find("Created the action"), std::string::npos);
  EXPECT_EQ(page->body.find("Gone again"), std::string::npos) << "a deleted action is no one's";
  const std::regex event(R"re(id="event-(\d+)")re");
  std::smatch newest;
  ASSERT_TRUE(std::regex_search(page->body, newest, event));
  // The page before the newest change holds the older ones only.
  const auto older = client_->Get("/activity?before=" + newest[1].str(), {{"Cookie", asgCookie}});
  EXPECT_EQ(older->body.find("id=\"event-" + newest[1].str() + "\""), std::string::npos);
  EXPECT_NE(older->body.find("id=\"event-"), std::string::npos);
  EXPECT_NE(client_->Get("/activity?since=2030-01-01", {{"Cookie", asgCookie}})
                ->body.find("id=\"activity-empty\""),
            std::string::npos);
  const auto bad = client_->Get("/activity?since=%27%3Bdrop", {{"Cookie", asgCookie}});
  EXPECT_EQ(bad->status, 400);
  EXPECT_NE(bad->body.find("since"), std::string::npos);

  const auto secretOf = [&](const std::string& user) {
    const auto answer = Post(user, "/activity/feed", {});
    EXPECT_EQ(answer->status, 200);
    const std::string mark = "&#x2F;activity&#x2F;";
    const size_t at = answer->body.find(mark);
    EXPECT_NE(at, std::string::npos) << answer->body;
    return answer->body.substr(at + mark.size(), 64);
  };
  const std::string secret = secretOf("asg");
  const auto feed = client_->Get("/activity/" + secret + ".atom");
  ASSERT_EQ(feed->status, 200);
  EXPECT_EQ(feed->get_header_value("Content-Type"), "application/atom+xml; charset=utf-8");
  EXPECT_NE(feed->body.find("<feed xmlns=\"http://www.w3.org/2005/Atom\">"), std::string::npos);
  EXPECT_NE(feed->body.find("No. 1: Pump &lt;b&gt;&amp;&lt;/b&gt; seal"), std::string::npos)
      << feed->body;
  EXPECT_EQ(feed->body.find("Gone again"), std::string::npos);
  // The calendar's address is not the feed's, nor the other way round.
  EXPECT_EQ(client_->Get("/calendar/" + secret + ".ics")->status, 404);
  const std::string renewed = secretOf("asg");
  EXPECT_EQ(client_->Get("/activity/" + secret + ".atom")->status, 404);
  EXPECT_EQ(client_->Get("/activity/" + renewed + ".atom")->status, 200);
  // Without the right to read histories: no activity, no address, and an address made before
  // answers nothing.
  const std::string before = Snapshot();
  EXPECT_EQ(client_->Get("/activity", {{"Cookie", Cookie("viewer")}})->status, 403);
  EXPECT_EQ(Post("viewer", "/activity/feed", {})->status, 403);
  EXPECT_EQ(Snapshot(), before);
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  const auto groupOf = [&](const std::string& user) {
    return vb::CLng(
        (*app::Sql(lead, "select GroupID from Users where UserID = '" + user + "'"))["GroupID"]
            .Value());
  };
  const int32_t staff = groupOf("asg");
  app::UserChanges move;
  move.group = groupOf("viewer");
  app::UserEdit(lead, "asg", move);
  EXPECT_EQ(client_->Get("/activity/" + renewed + ".atom")->status, 404);
  move.group = staff;
  app::UserEdit(lead, "asg", move);
  EXPECT_EQ(client_->Get("/activity/" + renewed + ".atom")->status, 200);
  EXPECT_EQ(Post("asg", "/activity/feed/end", {})->status, 303);
  EXPECT_EQ(client_->Get("/activity/" + renewed + ".atom")->status, 404);
}

// The calendar address: made and renewed in "My settings", shown once, answered without signing
// in with the person's open actions only; a renewed, ended or unknown secret is a 404.
TEST_P(PagesTest, TheCalendarFeedServesItsPersonsActionsUntilItsAddressIsRenewed) {
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  (void)app::Add(
      orig, {{"Subject", "Pump; valve, seal"}, {"Assignee", "asg"}, {"DateDue", "12/24/2026"}});
  (void)app::Add(orig, {{"Subject", "Not asg's"}, {"Assignee", "by"}, {"DateDue", "12/24/2026"}});
  const auto secretOf = [&] {
    const auto answer = Post("asg", "/settings/calendar", {});
    EXPECT_EQ(answer->status, 200);
    const std::string mark = "&#x2F;calendar&#x2F;";
    const size_t at = answer->body.find(mark);
    EXPECT_NE(at, std::string::npos) << answer->body;
    return answer->body.substr(at + mark.size(), 64);
  };
  const std::string secret = secretOf();
  const auto feed = client_->Get("/calendar/" + secret + ".ics");
  EXPECT_EQ(feed->status, 200);
  EXPECT_EQ(feed->get_header_value("Content-Type"), "text/calendar; charset=utf-8");
  EXPECT_NE(feed->body.find("SUMMARY:No. 1: Pump\\; valve\\, seal\r\n"), std::string::npos)
      << feed->body;
  EXPECT_NE(feed->body.find("DTSTART;VALUE=DATE:20261224\r\n"), std::string::npos);
  EXPECT_EQ(feed->body.find("Not asg"), std::string::npos);
  const std::string page = client_->Get("/settings", {{"Cookie", Cookie("asg")}})->body;
  EXPECT_EQ(page.find(secret), std::string::npos) << "shown only once";
  EXPECT_NE(page.find("id=\"calendar-state\""), std::string::npos);

  const std::string renewed = secretOf();
  EXPECT_EQ(client_->Get("/calendar/" + secret + ".ics")->status, 404);
  EXPECT_EQ(client_->Get("/calendar/" + renewed + ".ics")->status, 200);
  for (const std::string& path :
       {"/calendar/" + std::string(64, 'a') + ".ics", "/calendar/" + renewed.substr(1) + ".ics",
        std::string("/calendar/.ics")}) {
    EXPECT_EQ(client_->Get(path)->status, 404) << path;
  }
  EXPECT_EQ(Post("asg", "/settings/calendar/end", {})->status, 303);
  EXPECT_EQ(client_->Get("/calendar/" + renewed + ".ics")->status, 404);
  // A form without its session's token makes no address.
  EXPECT_EQ(client_->Post("/settings/calendar", {{"Cookie", Cookie("asg")}}, web::Params{})->status,
            403);
}

// Attachments list with their names, sizes and types; pictures are previewed, other files never
// shown inline.
TEST_P(PagesTest, AttachmentsShowNameSizeTypeAndPicturesArePreviewed) {
  const kvdata::testing::ScratchFolder scratch("kvpages");
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  app::SettingSet(lead, "AttachmentPath", scratch.Path().string());
  const int32_t id = NewAction();
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  const int32_t text =
      app::AttachmentAdd(orig, id, app::FileAttachment("quote.txt", "The quote", "hello"));
  const int32_t picture = app::AttachmentAdd(orig, id, app::FileAttachment("pump.PNG", "", png));
  const int32_t svg = app::AttachmentAdd(
      orig, id, app::FileAttachment("x.svg", "", "<svg><script>alert(1)</script></svg>"));
  const std::string cookie = Cookie("by");
  const std::string page = client_->Get(fmt::format("/action/{}", id), {{"Cookie", cookie}})->body;
  EXPECT_NE(page.find("quote.txt</span> · <span class=\"attachment-size\">5 bytes</span> · "
                      "<span class=\"attachment-type\">text&#x2F;plain; charset=utf-8</span>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find(fmt::format("src=\"&#x2F;attachment&#x2F;{}&#x2F;preview\"", picture)),
            std::string::npos);
  EXPECT_EQ(page.find(fmt::format("src=\"&#x2F;attachment&#x2F;{}&#x2F;preview\"", text)),
            std::string::npos);
  EXPECT_EQ(page.find(fmt::format("src=\"&#x2F;attachment&#x2F;{}&#x2F;preview\"", svg)),
            std::string::npos);
  const auto preview =
      client_->Get(fmt::format("/attachment/{}/preview", picture), {{"Cookie", cookie}});
  EXPECT_EQ(preview->status, 200);
  EXPECT_EQ(preview->get_header_value("Content-Type"), "image/png");
  EXPECT_EQ(preview->body, png);
  for (const int32_t other : {text, svg, 99999}) {
    EXPECT_EQ(
        client_->Get(fmt::format("/attachment/{}/preview", other), {{"Cookie", cookie}})->status,
        404)
        << other;
  }
  EXPECT_EQ(client_->Get(fmt::format("/attachment/{}/preview", picture))->status, 303)
      << "signed in only";
}

// The text between the first occurrence of from (after at) and the next quote.
std::string ValueAfter(const std::string& page, const std::string& from) {
  const size_t at = page.find(from);
  if (at == std::string::npos) return {};
  const size_t start = at + from.size();
  return page.substr(start, page.find('"', start) - start);
}

TEST_P(PagesTest, FormsOfferPeopleAndValidValuesAndShowEveryErrorBesideItsField) {
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  app::SetValidValues(lead, "Priority", {" High", "Low", "high", ""});
  EXPECT_EQ(app::ValidValues(lead, "priority"), (std::vector<std::string>{"High", "Low"}));
  const std::string cookie = Cookie("orig");
  const std::string form = client_->Get("/action/new", {{"Cookie", cookie}})->body;
  // People by name, sending their IDs; Priority from its list; a date input; Category free.
  for (const std::string shown :
       {"list=\"l-AssigneeID\"", "<option value=\"asg\">asg</option>",
        "<option value=\"viewer\">Vi</option>", "<select class=\"form-select\" id=\"f-Priority\"",
        "<option value=\"Low\">Low</option>",
        "type=\"date\" class=\"form-control\" id=\"f-DateDue\"",
        "type=\"text\" class=\"form-control\" id=\"f-Category\""}) {
    EXPECT_NE(form.find(shown), std::string::npos) << shown;
  }

  // Every mistake at once, each beside its field, everything typed kept; nothing stored.
  const std::string before = Snapshot();
  auto answer = Post("orig", "/action/new",
                     {{"AssigneeID", "nobody"},
                      {"DateDue", "2030-13-45"},
                      {"Priority", "Urgent"},
                      {"Description", "Kept text"}});
  EXPECT_EQ(answer->status, 400);
  for (const std::string shown :
       {"id=\"e-Subject\">a subject is required", "id=\"e-AssigneeID\">No user has the ID nobody",
        "id=\"e-DateDue\">&#39;2030-13-45&#39; is not a date",
        "id=\"e-Priority\">&#39;Urgent&#39; is not one of High, Low", "value=\"nobody\"",
        ">Kept text</textarea>", "Please correct these fields", "href=\"#f-DateDue\""}) {
    EXPECT_NE(answer->body.find(shown), std::string::npos) << shown << answer->body;
  }
  EXPECT_EQ(Snapshot(), before);

  // A date comes as ISO and is stored as a date; the list's spelling is kept; the page that
  // follows confirms, and only with its own words.
  answer = Post("orig", "/action/new",
                {{"Subject", "Seals"}, {"DateDue", "2030-01-20"}, {"Priority", "low"}});
  ASSERT_EQ(answer->status, 303) << answer->body;
  const std::string location = answer->get_header_value("Location");
  EXPECT_NE(location.find("?saved=created"), std::string::npos);
  EXPECT_NE(client_->Get(location, {{"Cookie", cookie}})->body.find("The action was created."),
            std::string::npos);
  const int32_t id = IdOf(location.substr(8, location.find('?') - 8), "id");
  const auto row = app::Show(lead, id);
  EXPECT_EQ(app::ValueText(lead, (*row)["DateDue"].Value()), "1/20/2030");
  EXPECT_EQ(app::ValueText(lead, (*row)["Priority"].Value()), "Low");
  const std::string edit =
      client_->Get(location.substr(0, location.find('?')) + "/edit", {{"Cookie", cookie}})->body;
  EXPECT_NE(edit.find("type=\"date\" class=\"form-control\" id=\"f-DateDue\" value=\"2030-01-20\""),
            std::string::npos);
  EXPECT_EQ(client_->Get("/?saved=%3Cscript%3E", {{"Cookie", cookie}})->body.find("id=\"notice\""),
            std::string::npos);

  // An edit's mistakes come back the same way; a SuperUser (right 51) adds a value to the list.
  const std::string path = fmt::format("/action/{}/edit", id);
  answer = Post("orig", path,
                {{"Subject", ""},
                 {"base.Subject", "Seals"},
                 {"Priority", "Urgent"},
                 {"base.Priority", "Low"}});
  EXPECT_EQ(answer->status, 400);
  EXPECT_NE(answer->body.find("id=\"e-Subject\""), std::string::npos);
  EXPECT_NE(answer->body.find("id=\"e-Priority\""), std::string::npos);
  EXPECT_EQ(ValueAfter(answer->body, "name=\"since\" value=\""),
            ValueAfter(edit, "name=\"since\" value=\""))
      << "the edit stays based on what was first shown";
  answer = Post("lead", path, {{"Priority", "Urgent"}, {"base.Priority", "Low"}});
  EXPECT_EQ(answer->get_header_value("Location"),
            path.substr(0, path.size() - 5) + "?saved=edited");
  EXPECT_EQ(app::ValidValues(lead, "Priority"),
            (std::vector<std::string>{"High", "Low", "Urgent"}));
  const std::string superForm = client_->Get(path, {{"Cookie", Cookie("lead")}})->body;
  EXPECT_NE(superForm.find("list=\"l-Priority\""), std::string::npos) << "may type a new value";

  // A copy opens in its edit form, confirmed.
  answer = Post("orig", fmt::format("/action/{}/copy", id), {});
  EXPECT_NE(answer->get_header_value("Location").find("/edit?saved=copied"), std::string::npos);
}

TEST_P(PagesTest, AConflictSaysWhoChangedTheActionAndKeepsTheOtherChangesWhicheverIsChosen) {
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  const int32_t id = app::Add(orig, {{"Subject", "Fix the pump"}, {"Description", "Old words"}});
  const std::string path = fmt::format("/action/{}/edit", id);
  const std::string form = client_->Get(path, {{"Cookie", Cookie("orig")}})->body;
  const std::string since = ValueAfter(form, "name=\"since\" value=\"");
  ASSERT_FALSE(since.empty());
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  (void)app::Edit(lead, id, {{"Description", "Lead's words"}});

  const web::Params edit = {{"since", since},
                            {"Subject", "Fix the big pump"},
                            {"base.Subject", "Fix the pump"},
                            {"Description", "Orig's words"},
                            {"base.Description", "Old words"}};
  const std::string before = Snapshot();
  auto answer = Post("orig", path, edit);
  EXPECT_EQ(answer->status, 200);
  EXPECT_EQ(Snapshot(), before) << "nothing is stored before the choice";
  for (const std::string shown :
       {"<strong>Lee Lead</strong>, last at ", "id=\"mine-Description\" value=\"Orig&#39;s words\"",
        "id=\"theirs-Description\" value=\"Lead&#39;s words\"", "saved either way",
        "name=\"Subject\" value=\"Fix the big pump\""}) {
    EXPECT_NE(answer->body.find(shown), std::string::npos) << shown << answer->body;
  }
  // Choosing theirs keeps the subject changed all the same; choosing mine stores both.
  const std::string next = ValueAfter(answer->body, "name=\"since\" value=\"");
  for (const std::string choice : {"Lead's words", "Orig's words"}) {
    SCOPED_TRACE(choice);
    answer = Post("orig", path,
                  {{"since", next},
                   {"Subject", "Fix the big pump"},
                   {"base.Subject", "Fix the pump"},
                   {"Description", choice},
                   {"base.Description", "Lead's words"}});
    EXPECT_EQ(answer->status, 303) << answer->body;
    const auto row = app::Show(lead, id);
    EXPECT_EQ(app::ValueText(lead, (*row)["Subject"].Value()), "Fix the big pump");
    EXPECT_EQ(app::ValueText(lead, (*row)["Description"].Value()), choice);
    (void)app::Edit(lead, id, {{"Subject", "Fix the pump"}, {"Description", "Lead's words"}});
  }
}

TEST_P(PagesTest, DownloadsCarryTheirFileNameAndAMediaTypeThatIsNeverAPage) {
  const kvdata::testing::ScratchFolder folder("kvpages");
  auto lead = app::Session::SignIn(open_, "lead", "password1");
  app::SettingSet(lead, "AttachmentPath", folder.Path().string());
  const int32_t id = NewAction();
  auto orig = app::Session::SignIn(open_, "orig", "password1");
  struct Download {
    std::string name;
    std::string type;
    std::string disposition;
  };
  const std::vector<Download> cases = {
      {"quote.txt", "text/plain; charset=utf-8",
       "attachment; filename=\"quote.txt\"; filename*=UTF-8''quote.txt"},
      {"C:\\Reports\\Q1 \"final\".PDF", "application/pdf",
       "attachment; filename=\"Q1 _final_.PDF\"; filename*=UTF-8''Q1%20%22final%22.PDF"},
      {"page.html", "application/octet-stream",
       "attachment; filename=\"page.html\"; filename*=UTF-8''page.html"},
      {"drawing.svg", "application/octet-stream",
       "attachment; filename=\"drawing.svg\"; filename*=UTF-8''drawing.svg"},
      {"Fotó.png", "image/png", "inline; filename=\"Fot__.png\"; filename*=UTF-8''Fot%C3%B3.png"},
      {"README", "application/octet-stream",
       "attachment; filename=\"README\"; filename*=UTF-8''README"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const int32_t attachment =
        app::AttachmentAdd(orig, id, app::FileAttachment(test.name, "", "bytes\r\n"));
    const auto answer =
        client_->Get(fmt::format("/attachment/{}", attachment), {{"Cookie", Cookie("asg")}});
    ASSERT_EQ(answer->status, 200);
    EXPECT_EQ(answer->body, "bytes\r\n");
    EXPECT_EQ(answer->get_header_value("Content-Type"), test.type);
    // (the client decodes what it reads: the name in full is compared below)
    const std::string disposition = answer->get_header_value("Content-Disposition");
    EXPECT_EQ(disposition.substr(0, disposition.find("; filename*")),
              test.disposition.substr(0, test.disposition.find("; filename*")));
    const std::string name = test.name.substr(test.name.find_last_of('\\') + 1);
    EXPECT_EQ(ContentDisposition(name, test.disposition.starts_with("inline")), test.disposition);
    EXPECT_EQ(answer->get_header_value("X-Content-Type-Options"), "nosniff");
  }
  // No name can end the header or start another.
  EXPECT_EQ(ContentDisposition("a\r\nSet-Cookie: x=1\".txt", false),
            "attachment; filename=\"a__Set-Cookie: x=1_.txt\"; "
            "filename*=UTF-8''a%0D%0ASet-Cookie%3A%20x%3D1%22.txt");
}

TEST_P(PagesTest, OwnSettingsAndPasswordChangeOnlyWithValidInputAndTheCurrentPassword) {
  EXPECT_EQ(client_->Get("/action/new", {{"Cookie", SignIn("viewer")}})->status, 403);
  const auto post = [&](const std::string& path, web::Params form) {
    return Post("asg", path, std::move(form))->status;
  };
  EXPECT_EQ(post("/settings/values", {{"DefaultDueDays", "3"}, {"AlertDays", "2"}}), 303);
  EXPECT_EQ(post("/settings/values", {{"DefaultDueDays", "4"}, {"AlertDays", "400"}}), 400);
  auto asg = app::Session::SignIn(open_, "asg", "password1");
  const app::PersonalValues values = app::PersonalValuesOf(asg);
  EXPECT_EQ(std::tie(values.defaultDueDays, values.alertDays, values.reminders),
            std::make_tuple(3, 2, false));

  // One's own name and address; the name follows into the actions.
  const int32_t id = NewAction();
  EXPECT_EQ(post("/settings/details", {{"userName", "Ash Assignee"}, {"email", "ash@example.org"}}),
            303);
  EXPECT_EQ(app::OwnDetailsOf(asg).userName, "Ash Assignee");
  EXPECT_EQ(app::OwnDetailsOf(asg).email, "ash@example.org");
  EXPECT_EQ(app::ValueText(asg, (*app::Show(asg, id))["Assignee"].Value()), "Ash Assignee");
  const std::string page =
      client_->Get("/settings?saved=details", {{"Cookie", Cookie("asg")}})->body;
  EXPECT_NE(page.find("value=\"Ash Assignee\""), std::string::npos);
  EXPECT_NE(page.find("Your name and e-mail address were saved."), std::string::npos);

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
