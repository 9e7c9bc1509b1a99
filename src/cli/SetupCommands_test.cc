// The kvaction command end to end: the setup commands on a fresh database of each engine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
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

// The built program itself, as a user runs it: arguments, standard input, output, exit status.
TEST_P(KvactionCommand, TheProgramRunsInitUserAddInfoAndSql) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::string input = (dir / ("kvaction-in-" + std::to_string(getpid()))).string();
  const std::string output = (dir / ("kvaction-out-" + std::to_string(getpid()))).string();
  std::string options;
  for (const auto& option : Database()) options += " '" + option + "'";
  const auto run = [&](const std::string& arguments, const std::string& lines) {
    std::ofstream(input) << lines;
    const int status = std::system((std::string(KVACTION_BINARY) + options + " " + arguments +
                                    " <" + input + " >" + output + " 2>&1")
                                       .c_str());
    std::ifstream in(output);
    const std::string printed{std::istreambuf_iterator<char>(in), {}};
    return std::pair{WEXITSTATUS(status), printed};
  };
  EXPECT_EQ(run("init --admin boss --password-stdin", "bosspw\n").first, 0);
  EXPECT_EQ(
      run("--user boss --password-stdin user add ann --name 'Ann Lee'", "bosspw\nannpw\n").first,
      0);
  const auto info = run("--user ann --password-stdin info", "annpw\n");
  EXPECT_EQ(info.first, 0);
  EXPECT_THAT(info.second, HasSubstr("User: ann\nUser name: Ann Lee\n"));
  const auto sql =
      run("--user ann --password-stdin sql 'select UserID from Users order by 1'", "annpw\n");
  EXPECT_EQ(sql, (std::pair<int, std::string>{0, "UserID\nann\nboss\n(2 rows)\n"}));
  const auto refused = run("--user ann --password-stdin info", "wrong\n");
  EXPECT_EQ(refused.first, 1);
  EXPECT_THAT(refused.second, HasSubstr("kvaction: error "));
  std::filesystem::remove(input);
  std::filesystem::remove(output);
}

KV_INSTANTIATE_ENGINES(KvactionCommand);

}  // namespace
