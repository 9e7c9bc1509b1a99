#include "kvdata/ConnectionString.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/testing/Fixture.h"

namespace kvdata {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(ConnectionStringTest, ReadsEveryProviderForm) {
  const auto bare = ParseConnectionString("  /data/actions.kvdb ");
  EXPECT_EQ(bare.provider, Provider::SQLite);
  EXPECT_EQ(bare.path, "/data/actions.kvdb");
  EXPECT_EQ(bare.dialect, sql::Dialect::Desktop);

  const auto sqlite = ParseConnectionString("provider=sqlite; DATA SOURCE = 'a;b.kvdb'");
  EXPECT_EQ(sqlite.path, "a;b.kvdb");

  const auto pg = ParseConnectionString(
      "Provider=PostgreSQL;Host=db.local;Port=5433;Database=acts;User ID=kv;Password=p=w");
  EXPECT_EQ(pg.provider, Provider::PostgreSQL);
  EXPECT_EQ(pg.dialect, sql::Dialect::Desktop);
  EXPECT_EQ(pg.login.host, "db.local");
  EXPECT_EQ(pg.login.port, "5433");
  EXPECT_EQ(pg.login.database, "acts");
  EXPECT_EQ(pg.login.user, "kv");
  EXPECT_EQ(pg.DisplayName(), "db.local/acts");

  const auto legacy = ParseConnectionString(
      "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=srv, 1433;"
      "Initial Catalog=Actions;User ID=sa;Password=\"s;ecret\"");
  EXPECT_EQ(legacy.provider, Provider::PostgreSQL);
  EXPECT_EQ(legacy.dialect, sql::Dialect::Server);
  EXPECT_EQ(legacy.login.host, "srv");
  EXPECT_EQ(legacy.login.port, "1433");
  EXPECT_EQ(legacy.login.database, "Actions");
  EXPECT_EQ(legacy.login.password, "s;ecret");
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
