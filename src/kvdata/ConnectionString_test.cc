#include "kvdata/ConnectionString.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/engine/Engine.h"
#include "kvdata/testing/Fixture.h"
#include "vb/Convert.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

using ::testing::AllOf;
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

TEST(ConnectionStringTest, KnowsEachProvidersKeys) {
  const auto pg = ParseConnectionString(
      "Provider=PostgreSQL;Host=h;Database=d;User ID=u;sslmode=verify-full;SSLROOTCERT=/ca.pem;"
      "sslcert=/c.pem;sslkey=/k.pem;Statement Timeout=5");
  EXPECT_EQ(pg.login.sslmode, "verify-full");
  EXPECT_EQ(pg.login.sslrootcert, "/ca.pem");
  EXPECT_EQ(pg.login.sslcert, "/c.pem");
  EXPECT_EQ(pg.login.sslkey, "/k.pem");
  EXPECT_EQ(pg.login.statementTimeoutSeconds, 5);
  EXPECT_EQ(ParseConnectionString("Provider=PostgreSQL;Host=h;Database=d;User ID=u")
                .login.statementTimeoutSeconds,
            30);
  EXPECT_EQ(ParseConnectionString("Data Source=a.kvdb;Dialect=SQLOLEDB").dialect,
            sql::Dialect::Server);
}

TEST(ConnectionStringTest, RefusesClearlyAndNeverShowsThePassword) {
  const auto server = ParseConnectionString(testing::ServerConnectionString()).login;
  const std::string atServer =
      "Provider=PostgreSQL;Host=" + server.host + ";Port=" + server.port + ";User ID=";
  const std::string pg = "Provider=PostgreSQL;Host=h;Database=d;User ID=u;";
  const struct {
    std::string text;
    int32_t number;
    const char* says;
  } cases[] = {
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb;Password=Sekr3t", kBadConnectionString,
       "\"Microsoft.Jet.OLEDB.4.0\" is not known"},
      {"Provider=PostgreSQL;Host=h;User ID=u;Password=Sekr3t", kBadConnectionString,
       "\"database\""},
      {"Provider=SQLite;Data Source=x;Password=Sek;r3t", kBadConnectionString, ""},
      {"", kBadConnectionString, ""},
      // A quote left open would take the rest, password and all, into one value, or drop it.
      {"Provider=\"PostgreSQL;Host=h;Database=d;User ID=u;Password=Sekr3t", kBadConnectionString,
       ""},
      {pg + "Statement Timeout='5;Password=Sekr3t", kBadConnectionString, ""},
      {"Provider=SQLite;Data Source=a.kvdb;sslmode=require", kBadConnectionString,
       "\"sslmode\" is not known"},
      {"Data Source=a.kvdb;Statement Timeout=5", kBadConnectionString,
       "\"statement timeout\" is not known"},
      {pg + "SSL Mode=require", kBadConnectionString,
       "\"ssl mode\" is not known for the provider PostgreSQL"},
      {"Provider=SQLOLEDB;Data Source=h;Initial Catalog=d;User ID=u;Host=h", kBadConnectionString,
       "\"host\" is not known"},
      // A repeated key is refused, whichever case it is written in, never the last one taken.
      {pg + "sslmode=require;SSLMode=disable", kBadConnectionString,
       "the key \"SSLMode\" is given more than once"},
      {pg + "Password=Sekr3t; password = Sekr3t", kBadConnectionString, "\"password\" is given"},
      {"Data Source=a.kvdb;Provider=SQLite;data source=b.kvdb", kBadConnectionString,
       "\"data source\" is given"},
      {pg + "Statement Timeout=-1", kBadConnectionString, "whole number of seconds"},
      {pg + "Statement Timeout=3s", kBadConnectionString, "whole number of seconds"},
      {"/nonexistent/dir/none.kvdb", kOpenFailed, "does not exist"},
      {atServer + server.user + ";Database=kvt_missing;Password=Sekr3t", kOpenFailed,
       "kvt_missing"},
      {atServer + "nobody_here;Database=postgres;Password=Sekr3t", kOpenFailed, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const vb::ComError e = vb::testing::ErrorOf([&] { (void)DataConnection::Open(c.text); });
    EXPECT_EQ(e.number(), c.number);
    EXPECT_EQ(e.source(), "kvDataServer.DataConnection");
    EXPECT_THAT(e.description(), AllOf(HasSubstr(c.says), Not(HasSubstr("Sekr3t"))));
  }
}

// What each PostgreSQL connection pins, whatever the database's own defaults say.
class PgSessionTest : public testing::DatabaseTest {};

TEST_P(PgSessionTest, PinsLiteralsAndTimeoutAndPassesTlsOn) {
  if (Kind() != testing::EngineKind::PostgreSQL) return;  // settings of the server engine
  const auto& login = ParseConnectionString(ConnectionString()).login;
  (void)Connect()->Engine().Execute("ALTER DATABASE \"" + login.database +
                                    "\" SET standard_conforming_strings = off");
  const auto connection = DataConnection::Open(ConnectionString() + ";Statement Timeout=1");
  const auto result =
      connection->Engine().Execute("select 'a\\', current_setting('statement_timeout')");
  EXPECT_EQ(vb::TextOf(result.rows.at(0).at(0)), "a\\");
  EXPECT_EQ(vb::TextOf(result.rows.at(0).at(1)), "1s");
  EXPECT_EQ(vb::testing::ErrorOf([&] {
              (void)connection->Engine().Execute("select pg_sleep(3)");
            }).number(),
            kEngineError);
  const vb::ComError tls = vb::testing::ErrorOf(
      [&] { (void)DataConnection::Open(ConnectionString() + ";sslmode=bogus"); });
  EXPECT_EQ(tls.number(), kOpenFailed);
  EXPECT_THAT(tls.description(), HasSubstr("sslmode"));
}

KV_INSTANTIATE_ENGINES(PgSessionTest);

}  // namespace
}  // namespace kvdata
