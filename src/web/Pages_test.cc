// The web front end over HTTP on both engines: who may do what through each page (a refusal is a
// 403 that changes nothing), the way through sign-in, and the defences of every answer.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <map>
#include <set>
#include <thread>

#include <httplib.h>

#include "app/Actions.h"
#include "app/Admin.h"
#include "app/WebSupport.h"
#include "kvdata/testing/Fixture.h"
#include "web/ServedDatabaseTest.h"
#include "web/Server.h"

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
};

struct RoleCase {
  std::string what;
  std::string path;  // {} is the action's ID
  httplib::Params form;
  std::set<std::string> allowed;
};

TEST_P(PagesTest, EachFormIsAllowedExactlyToItsRolesAndARefusalChangesNothing) {
  const std::vector<RoleCase> cases = {
      {"edit the subject",
       "/action/{}/edit",
       {{"Subject", "New"}, {"base.Subject", "Fix the pump"}},
       {"lead", "orig"}},
      {"complete", "/action/{}/move", {{"move", "complete"}}, {"asg"}},
      {"close", "/action/{}/move", {{"move", "close"}}, {"lead", "orig"}},
      {"attach a link",
       "/action/{}/attachments",
       {{"url", "https://example.org/a"}},
       {"lead", "orig", "asg"}},
  };
  std::map<std::string, std::string> cookies;
  for (const auto& user : kUsers) cookies[user] = SignIn(user);
  for (const auto& test : cases) {
    for (const auto& user : kUsers) {
      SCOPED_TRACE(test.what + " as " + user);
      const int32_t id = NewAction();
      httplib::Params form = test.form;
      form.emplace("csrf", FormToken(cookies[user]));
      const std::string before = Snapshot();
      const auto answer = client_->Post(fmt::format(fmt::runtime(test.path), id),
                                        {{"Cookie", cookies[user]}}, form);
      if (test.allowed.count(user)) {
        EXPECT_EQ(answer->status, 303) << answer->body;
        EXPECT_NE(Snapshot(), before);
      } else {
        EXPECT_EQ(answer->status, 403);
        EXPECT_EQ(Snapshot(), before);
      }
    }
  }
}

TEST_P(PagesTest, RequestsWithoutSessionOrFormTokenAreTurnedAway) {
  const int32_t id = NewAction("<script>alert(1)</script>");
  const std::string link = fmt::format("/default.asp?LinkType=2&DBID=0&ActionID={}", id);
  auto answer = client_->Get(link);
  EXPECT_EQ(answer->status, 303);
  // (the client decodes the Location header it reads)
  EXPECT_EQ(answer->get_header_value("Location"), "/signin?next=" + link);

  const std::string cookie = SignIn("orig");
  answer = client_->Get(link, {{"Cookie", cookie}});
  EXPECT_EQ(answer->get_header_value("Location"), fmt::format("/action/{}", id));
  answer = client_->Get("/", {{"Cookie", cookie}});
  EXPECT_NE(answer->body.find("&lt;script&gt;alert(1)"), std::string::npos);
  EXPECT_EQ(answer->body.find("<script>"), std::string::npos);
  EXPECT_NE(answer->get_header_value("Content-Security-Policy").find("default-src 'none'"),
            std::string::npos);

  const std::string before = Snapshot();
  for (const std::string& token : {std::string(), std::string(64, '0')}) {
    answer = client_->Post(fmt::format("/action/{}/move", id), {{"Cookie", cookie}},
                           httplib::Params{{"move", "close"}, {"csrf", token}});
    EXPECT_EQ(answer->status, 403);
  }
  answer = client_->Post(fmt::format("/action/{}/move", id),
                         httplib::Params{{"move", "close"}, {"csrf", FormToken(cookie)}});
  EXPECT_EQ(answer->status, 403) << "a form without its session";
  EXPECT_EQ(Snapshot(), before);
}

TEST_P(PagesTest, SignInIsThrottledPerUserAndGoesOnlyToLocalPages) {
  const auto cookieHeader =
      client_->Post("/signin", {{"Cookie", "kvsignin=" + std::string(64, 'b')}},
                    httplib::Params{{"csrf", std::string(64, 'b')},
                                    {"user", "orig"},
                                    {"password", "password1"},
                                    {"next", "//evil.example/"}});
  EXPECT_EQ(cookieHeader->get_header_value("Location"), "/");
  EXPECT_NE(cookieHeader->get_header_value("Set-Cookie").find("HttpOnly; SameSite=Strict"),
            std::string::npos);
  int status = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    EXPECT_EQ(SignIn("by", "wrong-password", &status), "");
    EXPECT_EQ(status, 401);
  }
  EXPECT_EQ(SignIn("by", "password1", &status), "");
  EXPECT_EQ(status, 429);
  EXPECT_NE(SignIn("asg"), "") << "other users are not held up";
}

KV_INSTANTIATE_ENGINES(PagesTest);

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

}  // namespace
}  // namespace web
