// The kvaction command end to end: the setup commands on a fresh database of each engine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CommandTest.h"
#include "kvdata/testing/Fixture.h"

namespace {

using ::testing::HasSubstr;

using cli::testing::Executed;
using cli::testing::Outcome;

class KvactionCommand : public kvdata::testing::DatabaseTest {
 protected:
  /// The options naming the test database: --db FILE on SQLite, --connection on PostgreSQL.
  [[nodiscard]] std::vector<std::string> Database() const {
    constexpr std::string_view kPrefix = "Provider=SQLite;Data Source=";
    if (Kind() == kvdata::testing::EngineKind::SQLite) {
      return {"--db", ConnectionString().substr(kPrefix.size())};
    }
    return {"--connection", ConnectionString()};
  }
  /// Runs a command as user (password on the first line of input) on the test database.
  [[nodiscard]] Outcome As(const std::string& user, const std::vector<std::string>& command,
                           const std::string& input) const {
    auto args = Database();
    args.insert(args.end(), {"--user", user, "--password-stdin"});
    args.insert(args.end(), command.begin(), command.end());
    return Executed(args, input);
  }
  void Init() const {
    auto args = Database();
    args.insert(args.end(), {"init", "--admin", "boss", "--name", "The Boss", "--password-stdin"});
    const auto outcome = Executed(args, "bosspw\n");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  }
};

TEST_P(KvactionCommand, InitCreatesDatabaseOnceAndItsSuperUserCanLogIn) {
  Init();
  auto again = Database();
  again.insert(again.end(), {"init", "--admin", "x", "--password-stdin"});
  const auto refused = Executed(again, "pw\n");
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_THAT(refused.err, HasSubstr("kvaction: error -2147219499 (kvDataServer.DataServer): "));

  const auto info = As("boss", {"info"}, "bosspw\n");
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_THAT(info.out, HasSubstr("Database version: 1.003\n"));
  EXPECT_THAT(info.out, HasSubstr("User: boss\nUser name: The Boss\nWorkgroup: -1 SuperUser\n"));
  EXPECT_THAT(info.out, HasSubstr("AutoEmail: False\n"));
}

TEST_P(KvactionCommand, WrongPasswordFailsWithTheDirectoryError) {
  Init();
  const auto outcome = As("boss", {"info"}, "nope\n");
  EXPECT_NE(outcome.exitCode, 0);
  EXPECT_EQ(outcome.err,
            "kvaction: error -2147218503 (kvUser.User): Login failed: unknown user name or wrong "
            "password.\n");
}

TEST_P(KvactionCommand, AddedUserLogsInAndSqlPrintsRows) {
  Init();
  const auto added =
      As("boss", {"user", "add", "ann", "--name", "Ann Lee", "--email", "ann@example.com"},
         "bosspw\nannpw\n");
  ASSERT_EQ(added.exitCode, 0) << added.err;

  const auto info = As("ann", {"info"}, "annpw\n");
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_THAT(info.out, HasSubstr("User: ann\nUser name: Ann Lee\n"));

  const auto table =
      As("ann", {"sql", "select UserID, Email from Users where UserID='ann'"}, "annpw\n");
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_EQ(table.out, "UserID  Email\nann     ann@example.com\n(1 row)\n");

  const auto json =
      As("ann", {"--json", "sql", "select UserID, UserName from Users order by UserID"}, "annpw\n");
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(nlohmann::json::parse(json.out),
            nlohmann::json::parse(R"([{"UserID": "ann", "UserName": "Ann Lee"},
                                      {"UserID": "boss", "UserName": "The Boss"}])"));
}

TEST_P(KvactionCommand, SettingsSetIsSavedAndReadBack) {
  Init();
  ASSERT_EQ(As("boss", {"settings", "set", "AutoEmail", "true"}, "bosspw\n").exitCode, 0);
  ASSERT_EQ(As("boss", {"settings", "set", "SMTPHost", "mail.example.com"}, "bosspw\n").exitCode,
            0);
  EXPECT_EQ(As("boss", {"settings", "get", "AutoEmail"}, "bosspw\n").out, "True\n");
  EXPECT_THAT(As("boss", {"info"}, "bosspw\n").out,
              HasSubstr("SMTPHost: mail.example.com\nSMTPDefault: False\nAutoEmail: True\n"));
}

KV_INSTANTIATE_ENGINES(KvactionCommand);

}  // namespace
