#include <gtest/gtest.h>

#include "kvaction/action/ActionTest.h"
#include "kvdata/engine/Engine.h"

namespace kvaction {
namespace {

class DeleteTest : public AdminTest {
 protected:
  [[nodiscard]] RecordsetPtr IdList(const std::vector<int32_t>& ids) {
    auto list = Values({{"ActionID", ids.front()}});
    for (std::size_t i = 1; i < ids.size(); ++i) AddRow(*list, {{"ActionID", ids[i]}});
    return list;
  }
  [[nodiscard]] std::vector<int32_t> DeletionOrder() {
    std::vector<int32_t> ids;
    const auto rs =
        action_->Recordset("select ActionID from ActionEvents where EventCode=9 order by EventID");
    for (; !rs->IsEOF(); rs->MoveNext()) ids.push_back(vb::CLng((*rs)["ActionID"].Value()));
    return ids;
  }
};

TEST_P(DeleteTest, ByIdDeletesTheRowAndRecordsEvenAMissingOne) {
  const int32_t id = Create("gone");
  EXPECT_TRUE(action_->delete_(id));
  EXPECT_EQ(Count("select count(*) from actions"), 0);
  EXPECT_FALSE(action_->delete_(id));  // no such action any more: still recorded
  EXPECT_EQ(Events(id), (std::vector<StoredEvent>{
                            {1, "Record Created"}, {9, "Record Deleted"}, {9, "Record Deleted"}}));
}

TEST_P(DeleteTest, CallersCurrentRowIsDeletedThroughTheirRecordSet) {
  const int32_t first = Create("first");
  const int32_t second = Create("second");
  RecordsetPtr rs = action_->Recordset("select * from actions order by ActionNumber");
  rs->MoveNext();
  EXPECT_TRUE(action_->delete_(0, &rs));
  EXPECT_EQ(rs->RecordCount(), 1);  // the caller's view lost the row at once
  EXPECT_TRUE(Stored(second, "ActionID").IsEmpty());
  EXPECT_EQ(DeletionOrder(), std::vector<int32_t>{second});

  rs->MoveLast();
  rs->MoveNext();  // at EOF: nothing to delete
  EXPECT_FALSE(action_->delete_(0, &rs));
  EXPECT_EQ(vb::CLng(Stored(first, "ActionID")), first);
}

TEST_P(DeleteTest, AListIsDeletedInItsOrderAfterTheSingleAction) {
  const int32_t a = Create("a");
  const int32_t b = Create("b");
  const int32_t c = Create("c");
  const int32_t d = Create("d");
  RecordsetPtr rs = action_->DataRecord(d);
  RecordsetPtr list = IdList({c, a, b, a});
  EXPECT_TRUE(action_->delete_(b, &rs, &list));
  EXPECT_TRUE(list->IsEOF());
  EXPECT_EQ(DeletionOrder(), (std::vector<int32_t>{b, c, a, b, a}));
  EXPECT_EQ(Count("select count(*) from actions"), 1);  // rs's own row is not touched
  EXPECT_EQ(vb::CLng(Stored(d, "ActionID")), d);
}

TEST_P(DeleteTest, AFailureInAListKeepsTheDeletionsBeforeIt) {
  const int32_t first = Create("first");
  const int32_t last = Create("last");
  // A list of IDs as texts, one of which is no number.
  auto list = Values({{"ActionID", std::to_string(first)}});
  AddRow(*list, {{"ActionID", "not a number"}});
  AddRow(*list, {{"ActionID", std::to_string(last)}});
  EXPECT_EQ(ErrorOf([&] { (void)action_->delete_(0, nullptr, &list); }).number(),
            vb::kTypeMismatch);
  EXPECT_TRUE(Stored(first, "ActionID").IsEmpty());
  EXPECT_EQ(DeletionOrder(), std::vector<int32_t>{first});
  EXPECT_EQ(vb::CLng(Stored(last, "ActionID")), last);
}

// The deletion is the transaction's first write: undoing it must leave the database's reason
// with the caller and the connection able to write on.
TEST_P(DeleteTest, ADeletionTheDatabaseRefusesReachesTheCallerWithItsReason) {
  const int32_t kept = Create("kept");
  auto& engine = action_->DataServer()->Connection()->Engine();
  if (Kind() == kvdata::testing::EngineKind::SQLite) {
    (void)engine.Execute(
        "CREATE TRIGGER keep BEFORE DELETE ON actions BEGIN SELECT RAISE(ABORT, 'kept by rule'); "
        "END");
  } else {
    (void)engine.Execute(
        "CREATE FUNCTION keep() RETURNS trigger LANGUAGE plpgsql AS "
        "$$BEGIN RAISE EXCEPTION 'kept by rule'; END$$");
    (void)engine.Execute(
        "CREATE TRIGGER keep BEFORE DELETE ON actions FOR EACH ROW EXECUTE FUNCTION keep()");
  }
  const std::string reason = ErrorOf([&] { (void)action_->delete_(kept); }).description();
  EXPECT_NE(reason.find("kept by rule"), std::string::npos) << reason;
  EXPECT_EQ(vb::CLng(Stored(kept, "ActionID")), kept);
  EXPECT_TRUE(DeletionOrder().empty());
  EXPECT_NE(action_->addRecord(), 0);
}

KV_INSTANTIATE_ENGINES(DeleteTest);

}  // namespace
}  // namespace kvaction
