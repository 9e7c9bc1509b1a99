// Several client processes on one database, each with its own Action, as separate programs
// would be: numbering under contention, and writers killed in the middle of their work (what a
// removal of an attachment cut short leaves is pinned beside AttachmentStore.h).
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kvaction/action/ActionTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/engine/Engine.h"

namespace kvaction {
namespace {

// The parent holds no open database while children start: a connection must not cross fork().
class ProcessesTest : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    action_.reset();  // admin's profile now exists, so children's logins write nothing
  }

  // Runs body in a child process with its own Action (admin logged in); the child's exit status
  // is body's result, 2 when an error escaped.
  [[nodiscard]] pid_t Spawn(const std::function<int(Action&)>& body) const {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    int status = 2;
    try {
      const auto action = AdminAction();
      status = body(*action);
    } catch (...) {
    }
    _exit(status);
  }
  [[nodiscard]] static int ExitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The number of stored actions, read on a connection of its own that is closed again at once.
  [[nodiscard]] int32_t StoredActions() const {
    const auto rs = OpenServer()->Connection()->OpenRecordset("select count(*) from actions");
    return vb::CLng(rs->Fields().Item(0).Value());
  }
  // Waits until a writer has stored more than `before` actions, so that a kill meets work under
  // way however slowly the machine starts the writer.
  void AwaitWork(int32_t before) const {
    for (int tries = 0; tries < 1500 && StoredActions() <= before; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // The writer's work: actions whose subject counts the updates made to it ("v0", "v1", …).
  static int CreateAndUpdateForever(Action& action) {
    for (;;) {
      const int32_t id = action.addRecord(nullptr, Values({{"Subject", "v0"}}));
      if (id == 0) return 1;
      for (int k = 1; k <= 3; ++k) {
        action.updateRecord(Values({{"ActionID", id}, {"Subject", fmt::format("v{}", k)}}));
      }
    }
  }
};

constexpr int kClients = 8;
constexpr int kCreatesPerClient = 500;

TEST_P(ProcessesTest, ConcurrentClientsNeverShareOrLoseANumber) {
  std::vector<pid_t> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(Spawn([](Action& action) {
      int failures = 0;
      for (int n = 0; n < kCreatesPerClient; ++n) failures += action.addRecord() == 0 ? 1 : 0;
      return failures == 0 ? 0 : 1;
    }));
  }
  for (const pid_t pid : clients) EXPECT_EQ(ExitStatus(pid), 0);

  action_ = AdminAction();
  constexpr int kTotal = kClients * kCreatesPerClient;
  EXPECT_EQ(Count("select count(*) from actions"), kTotal);
  EXPECT_EQ(Count("select count(*) from (select distinct ActionNumber from actions) n"), kTotal);
  EXPECT_EQ(Count("select min(ActionNumber) from actions"), 1);
  EXPECT_EQ(Count("select max(ActionNumber) from actions"), kTotal);
  EXPECT_EQ(Count("select count(*) from ActionEvents where EventCode=1"), kTotal);
}

TEST_P(ProcessesTest, KilledWriterLeavesEveryActionWithItsEvents) {
  using namespace std::chrono_literals;
  for (const auto delay : {20ms, 70ms, 150ms}) {
    const int32_t before = StoredActions();
    const pid_t writer = Spawn(CreateAndUpdateForever);
    AwaitWork(before);
    std::this_thread::sleep_for(delay);
    ASSERT_EQ(kill(writer, SIGKILL), 0);
    EXPECT_EQ(ExitStatus(writer), -1);  // killed, not finished

    action_ = AdminAction();
    if (Kind() == kvdata::testing::EngineKind::SQLite) {  // the file passes its own check
      const auto check =
          action_->DataServer()->Connection()->Engine().Execute("PRAGMA integrity_check");
      EXPECT_EQ(check.rows.at(0).at(0), vb::Variant("ok"));
    }
    // Per action: its creation events and its subject changes.
    std::map<int32_t, std::pair<int, int>> history;
    const auto events = action_->Recordset("select ActionID, EventCode from ActionEvents");
    for (; !events->IsEOF(); events->MoveNext()) {
      auto& [created, changed] = history[vb::CLng((*events)["ActionID"].Value())];
      (vb::CLng((*events)["EventCode"].Value()) == 1 ? created : changed) += 1;
    }
    const auto actions = action_->Recordset("select ActionID, Subject from actions");
    ASSERT_FALSE(actions->IsEOF());
    int32_t stored = 0;
    for (; !actions->IsEOF(); actions->MoveNext(), ++stored) {
      const int32_t id = vb::CLng((*actions)["ActionID"].Value());
      const auto [created, changed] = history[id];
      EXPECT_EQ(created, 1) << id;
      EXPECT_EQ((*actions)["Subject"].Value(), vb::Variant(fmt::format("v{}", changed))) << id;
    }
    EXPECT_EQ(static_cast<std::size_t>(stored), history.size());  // no event without its action
    action_.reset();
  }
}

KV_INSTANTIATE_ENGINES(ProcessesTest);

}  // namespace
}  // namespace kvaction
