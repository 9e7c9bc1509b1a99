#include "kvdata/ConnectionString.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/testing/Fixture.h"

namespace kvdata {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

/// What a connection string selects: "engine dialect path|host port database user password".
std::string Selected(std::string_view text) {
  const ConnectionSettings s = ParseConnectionString(text);
  return fmt::format("{} {} {}|{} {} {} {} {}", s.provider == Provider::SQLite ? "SQLite" : "PG",
                     s.dialect == sql::Dialect::Server ? "server" : "desktop", s.path, s.login.host,
                     s.login.port, s.login.database, s.login.user, s.login.password);
}

TEST(ConnectionStringTest, ReadsEveryProviderForm) {
  const std::pair<const char*, const char*> cases[] = {
      {"  /data/actions.kvdb ", "SQLite desktop /data/actions.kvdb|    "},
      {"provider=sqlite; DATA SOURCE = 'a;b.kvdb'", "SQLite desktop a;b.kvdb|    "},
      {"Provider=PostgreSQL;Host=db.local;Port=5433;Database=acts;User ID=kv;Password=p=w",
       "PG desktop |db.local 5433 acts kv p=w"},
      {"Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=srv, 1433;"
       "Initial Catalog=Actions;User ID=sa;Password=\"s;ecret\"",
       "PG server |srv 1433 Actions sa s;ecret"}};
  for (const auto& [text, selected] : cases) EXPECT_EQ(Selected(text), selected) << text;
  EXPECT_EQ(
      ParseConnectionString("Provider=PostgreSQL;Host=h;Database=acts;User ID=kv").DisplayName(),
      "h/acts");
}

TEST(ConnectionStringTest, RefusesClearlyAndNeverShowsThePassword) {
  const auto refusal = [](const std::string& text) {
    try {
      (void)DataConnection::Open(text);
    } catch (const vb::ComError& e) {
      EXPECT_THAT(e.description(), Not(HasSubstr("Sekr3t"))) << text;
      EXPECT_EQ(e.source(), "kvDataServer.DataConnection");
      return e;
    }
    ADD_FAILURE() << "accepted: " << text;
    return vb::ComError(0, "", "");
  };
  const auto unknown =
      refusal("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb;Password=Sekr3t");
  EXPECT_EQ(unknown.number(), kBadConnectionString);
  EXPECT_THAT(unknown.description(), HasSubstr("\"Microsoft.Jet.OLEDB.4.0\" is not known"));
  const auto missing = refusal("Provider=PostgreSQL;Host=h;User ID=u;Password=Sekr3t");
  EXPECT_EQ(missing.number(), kBadConnectionString);
  EXPECT_THAT(missing.description(), HasSubstr("\"database\""));
  EXPECT_EQ(refusal("Provider=SQLite;Data Source=x;Password=Sek;r3t").number(),
            kBadConnectionString);
  EXPECT_EQ(refusal("").number(), kBadConnectionString);

  const auto noFile = refusal("/nonexistent/dir/none.kvdb");
  EXPECT_EQ(noFile.number(), kOpenFailed);
  EXPECT_THAT(noFile.description(), HasSubstr("does not exist"));

  const auto server = ParseConnectionString(testing::ServerConnectionString()).login;
  const auto noDatabase =
      refusal("Provider=PostgreSQL;Host=" + server.host + ";Port=" + server.port +
              ";Database=kvt_missing;User ID=" + server.user + ";Password=Sekr3t");
  EXPECT_EQ(noDatabase.number(), kOpenFailed);
  EXPECT_THAT(noDatabase.description(), HasSubstr("kvt_missing"));
  const auto refusedLogin =
      refusal("Provider=PostgreSQL;Host=" + server.host + ";Port=" + server.port +
              ";Database=postgres;User ID=nobody_here;"
              "Password=Sekr3t");
  EXPECT_EQ(refusedLogin.number(), kOpenFailed);
}

}  // namespace
}  // namespace kvdata
