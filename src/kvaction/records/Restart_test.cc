// A PostgreSQL server restarted under a connected client: the call that meets the lost session
// reports it, the next call opens a new session, and nothing is left half-written. The server is
// this test's own (a private cluster started through scripts/pg.sh), so the shared server of the
// other tests is never restarted.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "kvaction/action/ActionTest.h"

namespace kvaction {
namespace {

namespace fs = std::filesystem;

/// Runs `pg.sh <command> <folder>` and returns what it printed; a failure fails the test.
std::string PgScript(const std::string& command, const fs::path& folder) {
  const std::string line = std::string(KV_PG_SCRIPT) + " " + command + " '" + folder.string() + "'";
  std::string out;
  if (FILE* pipe = popen(line.c_str(), "r")) {
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) out += buffer.data();
    EXPECT_EQ(pclose(pipe), 0) << line << ": " << out;
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

class RestartTest : public AdminTest {
 public:
  // One private cluster for the suite; its connection string replaces the shared server's.
  static void SetUpTestSuite() {
    folder_ = fs::temp_directory_path() / ("kvaction-restart-" + std::to_string(getpid()));
    setenv("KV_TEST_PG", PgScript("start", folder_).c_str(), 1);
  }
  static void TearDownTestSuite() { (void)PgScript("stop", folder_); }

 protected:
  static void Restart() { (void)PgScript("restart", folder_); }

  // Every action has exactly its creation event; returns how many actions there are.
  [[nodiscard]] int32_t WholeActions() const {
    EXPECT_EQ(Count("select count(*) from actions a where (select count(*) from ActionEvents e "
                    "where e.ActionID = a.ActionID and e.EventCode = 1) <> 1"),
              0);
    EXPECT_EQ(Count("select count(*) from ActionEvents e where not exists "
                    "(select 1 from actions a where a.ActionID = e.ActionID)"),
              0);
    return Count("select count(*) from actions");
  }

  static inline fs::path folder_;
};

// Each call meets a session the restart ended. Most report it; addRecord's first reads are ones
// whose failure it ignores (a user's default due days), so the lost session is met there, silently,
// and the call's own statements already run in a new session: it must then do its work whole,
// never return 0 without an error.
TEST_P(RestartTest, TheCallMeetingARestartFailsClearlyAndTheNextOneReconnects) {
  struct Channel {
    const char* name;
    std::function<bool(Action&)> run;  // whether the call did its work
    bool ignoresFirstRead;
  };
  const std::vector<Channel> channels = {
      {"addRecord", [](Action& a) { return a.addRecord() != 0; }, true},
      {"Recordset", [](Action& a) { return !a.Recordset("select * from actions")->IsEOF(); },
       false},
      {"setStatus",
       [](Action& a) {
         a.setStatus(1, nullptr, true);
         return true;
       },
       false},
  };
  ASSERT_NE(action_->addRecord(), 0);
  int32_t created = 1;
  for (const Channel& channel : channels) {
    Restart();
    bool firstDidItsWork = false;
    try {
      firstDidItsWork = channel.run(*action_);
      EXPECT_TRUE(channel.ignoresFirstRead) << channel.name << " met the restart without an error";
      EXPECT_TRUE(firstDidItsWork) << channel.name << " failed without an error";
    } catch (const vb::ComError& e) {
      EXPECT_NE(e.number(), 0) << channel.name;
      EXPECT_FALSE(e.description().empty()) << channel.name;
    }
    EXPECT_TRUE(channel.run(*action_)) << channel.name << " after reconnecting";
    if (std::string_view(channel.name) == "addRecord") created += firstDidItsWork ? 2 : 1;
    EXPECT_EQ(WholeActions(), created) << channel.name;
  }
}

INSTANTIATE_TEST_SUITE_P(PrivateServer, RestartTest,
                         ::testing::Values(kvdata::testing::EngineKind::PostgreSQL),
                         kvdata::testing::EngineName);

}  // namespace
}  // namespace kvaction
