// Several client processes on one database, each with its own Action, as separate programs
// would be: numbering under contention, and writers killed in the middle of their work.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
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
#include "kvdata/testing/ScratchFolder.h"

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
  // The rows of a table, read on a connection of its own that is closed again at once.
  [[nodiscard]] int32_t Rows(const std::string& table = "actions") const {
    const auto rs = OpenServer()->Connection()->OpenRecordset("select count(*) from " + table);
    return vb::CLng(rs->Fields().Item(0).Value());
  }
  // Waits until a writer has stored more than `before` actions, so that a kill meets work under
  // way however slowly the machine starts the writer.
  void AwaitWork(int32_t before) const {
    for (int tries = 0; tries < 1500 && Rows() <= before; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // On SQLite, the database file passes its own check (through action_).
  void ExpectIntactFile() const {
    if (Kind() != kvdata::testing::EngineKind::SQLite) return;
    const auto check =
        action_->DataServer()->Connection()->Engine().Execute("PRAGMA integrity_check");
    EXPECT_EQ(check.rows.at(0).at(0), vb::Variant("ok"));
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
    const int32_t before = Rows();
    const pid_t writer = Spawn(CreateAndUpdateForever);
    AwaitWork(before);
    std::this_thread::sleep_for(delay);
    ASSERT_EQ(kill(writer, SIGKILL), 0);
    EXPECT_EQ(ExitStatus(writer), -1);  // killed, not finished

    action_ = AdminAction();
    ExpectIntactFile();
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

// A process removing attachments is killed at varied moments; afterwards every attachment left
// reads its own content and can be removed, and no file is left half-made (only a file that a
// committed removal had set aside may remain).
TEST_P(ProcessesTest, KilledAttachmentRemoverLeavesEveryRowReadableAndRemovable) {
  const kvdata::testing::ScratchFolder scratch{"kvkill"};
  constexpr int kPool = 8;
  // A client's start costs more on the server engine: fewer runs there keep the test short.
  const int runs = Kind() == kvdata::testing::EngineKind::SQLite ? 20 : 6;
  action_ = AdminAction();
  action_->DefaultAttachmentPath(scratch.Path().string());
  const int32_t owner = action_->addRecord();
  int cutShort = 0;  // runs whose kill met a removal under way
  for (int run = 0; run < runs; ++run) {
    std::vector<int32_t> ids;
    for (int i = 0; i < kPool; ++i) {
      std::string content = fmt::format("content {}", i);
      ids.push_back(action_->addAttachment(owner, content, "", 1, "text", &content));
    }
    action_.reset();
    const pid_t remover = Spawn([&ids](Action& action) {
      for (const int32_t id : ids) action.DeleteAttachment(id);
      return 0;
    });
    for (int tries = 0; tries < 1500 && Rows("ActionAttachments") == kPool; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(run * 2711 % 15000));
    ASSERT_EQ(kill(remover, SIGKILL), 0);
    const int status = ExitStatus(remover);
    ASSERT_NE(status, 2) << "the remover failed";

    action_ = AdminAction();
    ExpectIntactFile();
    std::vector<std::pair<int32_t, std::string>> left;
    for (auto rs = action_->Recordset("select AttachmentID, Description from ActionAttachments");
         !rs->IsEOF(); rs->MoveNext()) {
      left.emplace_back(vb::CLng((*rs)["AttachmentID"].Value()),
                        vb::CStr((*rs)["Description"].Value()));
    }
    cutShort += status == -1 && !left.empty() ? 1 : 0;
    for (const auto& [id, content] : left) {
      std::string encoding;
      std::string data;
      EXPECT_TRUE(action_->getAttachment(id, encoding, data)) << "run " << run;
      EXPECT_EQ(data, content) << "run " << run;
      EXPECT_NO_THROW(action_->DeleteAttachment(id)) << "run " << run;
    }
    for (const auto& entry : std::filesystem::directory_iterator(scratch.Path())) {
      EXPECT_EQ(entry.path().extension(), ".del") << "run " << run << ": " << entry.path();
    }
  }
  EXPECT_GT(cutShort, 0) << "no kill met a removal under way";
}

KV_INSTANTIATE_ENGINES(ProcessesTest);

}  // namespace
}  // namespace kvaction
