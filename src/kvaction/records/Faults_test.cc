// Each writing operation with its N-th engine call failing, for N = 1, 2, … until a run meets no
// fault: every run ends in success or a ComError, and afterwards the database is whole.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "kvaction/Enums.h"
#include "kvaction/action/ActionTest.h"
#include "kvdata/DataServer.h"
#include "kvdata/WorkgroupDirectory.h"
#include "kvdata/engine/Engine.h"
#include "kvdata/testing/FaultyEngine.h"
#include "kvdata/testing/ScratchFolder.h"

namespace kvaction {
namespace {

class FaultsTest : public AdminTest {
 protected:
  // Every action has its creation event and no deletion event; history outlives its action only
  // for actions that were deleted (a deletion whose event could not be written stays done); on
  // SQLite the file passes its own check.
  void ExpectWhole(const std::string& operation, int64_t failAt,
                   const std::set<int32_t>& deleted) const {
    std::set<int32_t> actions;
    for (auto rs = action_->Recordset("select ActionID from actions"); !rs->IsEOF();
         rs->MoveNext()) {
      actions.insert(vb::CLng((*rs)["ActionID"].Value()));
    }
    std::map<int32_t, std::set<int32_t>> codes;  // by ActionID
    for (auto rs = action_->Recordset("select ActionID, EventCode from ActionEvents"); !rs->IsEOF();
         rs->MoveNext()) {
      codes[vb::CLng((*rs)["ActionID"].Value())].insert(vb::CLng((*rs)["EventCode"].Value()));
    }
    const std::string where = operation + " failing at call " + std::to_string(failAt);
    for (const int32_t id : actions) {
      EXPECT_TRUE(codes[id].contains(evRecordCreated)) << where << ": action " << id;
      EXPECT_FALSE(codes[id].contains(evRecordDeleted)) << where << ": action " << id;
    }
    for (const auto& [id, events] : codes) {
      EXPECT_TRUE(actions.contains(id) || deleted.contains(id))
          << where << ": events of missing action " << id;
    }
    // Every stored attachment still reads (the content ones from their files); no file is
    // left half-written.
    for (auto rs = action_->Recordset("select AttachmentID from ActionAttachments"); !rs->IsEOF();
         rs->MoveNext()) {
      std::string encoding;
      std::string data;
      EXPECT_NO_THROW(
          (void)action_->getAttachment(vb::CLng((*rs)["AttachmentID"].Value()), encoding, data))
          << where;
    }
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.Path())) {
      EXPECT_NE(entry.path().extension(), ".tmp") << where;
    }
    if (Kind() == kvdata::testing::EngineKind::SQLite) {
      const auto check =
          action_->DataServer()->Connection()->Engine().Execute("PRAGMA integrity_check");
      EXPECT_EQ(check.rows.at(0).at(0), vb::Variant("ok")) << where;
    }
  }

  const kvdata::testing::ScratchFolder scratch_{"kvfaults"};
};

struct Operation {
  const char* name;
  // Makes what the operation works on (through the fault-free action), returns an ID.
  std::function<int32_t(FaultsTest&, Action&)> prepare;
  std::function<void(Action&, int32_t)> run;
};

TEST_P(FaultsTest, EveryRunEndsCleanlyAndLeavesTheDatabaseWhole) {
  const auto create = [](FaultsTest&, Action& a) {
    return a.addRecord(nullptr, ActionTest::Values({{"Subject", "s"}, {"AssigneeID", "admin"}}));
  };
  const auto upload = [](Action& a, int32_t id) {
    std::string content = "content";
    return a.addAttachment(id, "d", "", 1, "text", &content);
  };
  int32_t users = 0;
  const auto addUser = [&](FaultsTest&, Action&) {
    AddUser(fmt::format("u{}", ++users), "pw");
    return users;
  };
  // Users are added to the SuperUser workgroup; SetWorkgroup moves them out of it.
  const int32_t staff = action_->DataServer()->Workgroups()->CreateWorkgroup("Staff", "50");
  // Saved, so that the acting objects store content in the folder rather than refuse it.
  action_->DefaultAttachmentPath(scratch_.Path().string());
  action_->save();
  const Operation operations[] = {
      {"addRecord", create,
       [](Action& a, int32_t) {
         (void)a.addRecord(nullptr, ActionTest::Values({{"Subject", "new"}}));
       }},
      {"updateRecord", create,
       [](Action& a, int32_t id) {
         a.updateRecord(
             ActionTest::Values({{"ActionID", id}, {"Subject", "changed"}, {"Priority", "High"}}));
       }},
      {"setStatus", create,
       [](Action& a, int32_t id) { a.setStatus(id, nullptr, true, true, "r"); }},
      {"delete_", create, [](Action& a, int32_t id) { (void)a.delete_(id); }},
      {"copyRecord", create,
       [](Action& a, int32_t id) {
         RecordsetPtr rs = a.DataRecord(id);
         (void)a.copyRecord(&rs);
       }},
      {"addAttachment", create,
       [](Action& a, int32_t id) { (void)a.addAttachment(id, "d", "http://intranet/d"); }},
      {"DeleteAttachment",
       [&](FaultsTest& t, Action& a) {
         return a.addAttachment(create(t, a), "d", "http://intranet/d");
       },
       [](Action& a, int32_t id) { a.DeleteAttachment(id); }},
      {"addAttachment content", create, [&](Action& a, int32_t id) { (void)upload(a, id); }},
      {"DeleteAttachment content",
       [&](FaultsTest& t, Action& a) { return upload(a, create(t, a)); },
       [](Action& a, int32_t id) { a.DeleteAttachment(id); }},
      {"DeleteUser", addUser, [](Action& a, int32_t n) { a.DeleteUser(fmt::format("u{}", n)); }},
      {"SetWorkgroup", addUser,
       [&](Action& a, int32_t n) { a.SetWorkgroup(fmt::format("u{}", n), staff); }},
      {"ChangeUserName", create,
       [](Action& a, int32_t) { a.ChangeUserName("admin", "Ada Renamed"); }},
  };
  std::set<int32_t> deleted;
  for (const Operation& operation : operations) {
    bool fired = true;
    int64_t failAt = 1;
    for (; fired && failAt < 200; ++failAt) {
      const int32_t id = operation.prepare(*this, *action_);
      if (std::string_view(operation.name) == "delete_") deleted.insert(id);
      const auto actor = AdminAction();
      const auto faulty =
          kvdata::testing::FaultyEngine::Install(*actor->DataServer()->Connection(), failAt);
      try {
        operation.run(*actor, id);
      } catch (const vb::ComError&) {
        // A clear error is an allowed end; what matters is what it left behind.
      }
      fired = faulty->Fired();
      ExpectWhole(operation.name, failAt, deleted);
      if (HasFailure()) return;
    }
    EXPECT_FALSE(fired) << operation.name << " never ran without a fault";
    EXPECT_GT(failAt, 2) << operation.name << " met too few engine calls to test";
  }
}

KV_INSTANTIATE_ENGINES(FaultsTest);

}  // namespace
}  // namespace kvaction
