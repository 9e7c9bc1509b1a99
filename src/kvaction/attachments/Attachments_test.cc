#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "kvaction/action/ActionTest.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/testing/ScratchFolder.h"

namespace kvaction {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUploadRefusal =
    "Unable to upload attachment.  No attachment path specified.  Please contact your system "
    "administrator to specify a path for uploaded attachments.";
constexpr const char* kRetrieveRefusal =
    "Unable to retrieve attachment.  No attachment path specified.  Please contact your system "
    "administrator to specify a path for uploaded attachments.";

class AttachmentsTest : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    if (HasFatalFailure()) return;
    // The scratch root holds the attachment folder and a neighbour that must stay untouched.
    fs::create_directories(folder());
    fs::create_directories(root_ / "outside");
    std::ofstream(root_ / "outside" / "secret.txt") << "secret";
  }
  [[nodiscard]] fs::path folder() const { return root_ / "attachments"; }
  void UsePath() const { action_->DefaultAttachmentPath(folder().string()); }
  // The names of the files under root, relative to it.
  [[nodiscard]] std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
      if (!entry.is_directory()) names.insert(fs::relative(entry.path(), root_).string());
    }
    return names;
  }
  int32_t Upload(std::string data, std::string_view encoding = "text",
                 std::string_view description = "report.pdf") {
    return action_->addAttachment(7, description, "", 1, encoding, &data);
  }

  const kvdata::testing::ScratchFolder scratch_{"kvattach"};
  const fs::path& root_ = scratch_.Path();
};

TEST_P(AttachmentsTest, WithoutAPathLinksAreStoredAndContentIsRefused) {
  const int32_t link = action_->addAttachment(7, "Drawing", "http://intranet/drawing.html");
  EXPECT_GT(link, 0);

  const vb::ComError upload = ErrorOf([&] { Upload("data"); });
  EXPECT_EQ(upload.number(), -2147220504);
  EXPECT_EQ(upload.source(), "Action.AddAttachment");
  EXPECT_EQ(upload.description(), kUploadRefusal);

  std::string encoding = "unchanged";
  std::string data = "unchanged";
  const vb::ComError retrieve = ErrorOf([&] { action_->getAttachment(link, encoding, data); });
  EXPECT_EQ(retrieve.number(), kRefused);
  EXPECT_EQ(retrieve.source(), "Action.getAttachment");
  EXPECT_EQ(retrieve.description(), kRetrieveRefusal);
  EXPECT_EQ(data, "unchanged");

  // Deleting asks the store even without a path; its refusals reach the caller unchanged.
  const int32_t second = action_->addAttachment(7, "Plan", "http://intranet/plan.html");
  action_->DeleteAttachment(second);
  EXPECT_EQ(action_->AttachmentRecordset(7)->RecordCount(), 1);
  const vb::ComError missing = ErrorOf([&] { action_->DeleteAttachment(second); });
  EXPECT_EQ(missing.number(), kvdata::kAttachmentError);
  EXPECT_EQ(missing.source(), kvdata::kAttachmentSource);

  // A path stored as Null (a row in the database, not only a change in memory) cannot be read
  // as text. Uploads and retrievals trap that read and meet the "no path" refusals; the list and
  // the removal do not, so the failed read reaches the caller and nothing is removed.
  const auto settings = action_->DataServer()->Settings();
  settings->Value("AttachmentPath", vb::Variant(vb::Null));
  settings->Save();
  EXPECT_EQ(Count("select count(*) from ActionConfig where ConfigKey='AttachmentPath' and "
                  "ValueType=1 and ValueText is null"),
            1);
  const vb::ComError nullUpload = ErrorOf([&] { Upload("data"); });
  EXPECT_EQ(nullUpload.number(), kRefused);
  EXPECT_EQ(nullUpload.source(), "Action.AddAttachment");
  EXPECT_EQ(nullUpload.description(), kUploadRefusal);
  EXPECT_GT(action_->addAttachment(7, "Second link", "http://intranet/second.html"), 0);
  const vb::ComError nullRetrieve = ErrorOf([&] { action_->getAttachment(link, encoding, data); });
  EXPECT_EQ(nullRetrieve.number(), kRefused);
  EXPECT_EQ(nullRetrieve.source(), "Action.getAttachment");
  EXPECT_EQ(nullRetrieve.description(), kRetrieveRefusal);
  for (const auto& untrapped :
       std::vector<std::function<void()>>{[&] { (void)action_->AttachmentRecordset(7); },
                                          [&] { action_->DeleteAttachment(link); }}) {
    const vb::ComError error = ErrorOf(untrapped);
    EXPECT_EQ(error.number(), vb::kInvalidUseOfNull);
    EXPECT_EQ(error.description(), "Invalid use of Null");
  }
  EXPECT_EQ(Count("select count(*) from ActionAttachments where ActionID=7"), 2);
}

TEST_P(AttachmentsTest, ContentGoesToTheFolderUnderNamesOfTheStoresChoosing) {
  UsePath();
  // Client file names are only descriptions: they never become paths.
  const int32_t id = Upload(std::string("\0\xff", 2), "text", "../../outside/secret.txt");
  std::string encoding;
  std::string data;
  ASSERT_TRUE(action_->getAttachment(id, encoding, data));
  EXPECT_EQ(encoding, "text");
  EXPECT_EQ(data, std::string("\0\xff", 2));
  EXPECT_EQ(action_->AttachmentRecordset(0, id)->Fields().Item("Description").Value(),
            vb::Variant("../../outside/secret.txt"));
  // A description the table cannot hold is refused after the content was written: the written
  // file goes with the refusal.
  EXPECT_THROW(Upload("content", "text", std::string(300, 'n')), vb::ComError);
  const std::set<std::string> files = Files();
  EXPECT_EQ(files.size(), 2u);
  for (const std::string& name : files) {
    EXPECT_TRUE(name == "outside/secret.txt" || name.starts_with("attachments/att-")) << name;
  }
  // Once the path is cleared, the store refuses to remove content and the attachment stays.
  action_->DataServer()->Settings()->Value("AttachmentPath", vb::Variant());
  EXPECT_EQ(ErrorOf([&] { action_->DeleteAttachment(id); }).number(), kvdata::kAttachmentError);
  EXPECT_EQ(action_->AttachmentRecordset(0, id)->RecordCount(), 1);
}

TEST_P(AttachmentsTest, RecordsetByAttachmentByActionOrNoneLinkingThroughTheURL) {
  UsePath();
  const int32_t first = Upload("one");
  const int32_t second = action_->addAttachment(7, "Link", "http://x/y", 0);
  (void)action_->addAttachment(8, "Other action", "http://x/z", 0);

  const auto one = action_->AttachmentRecordset(5, second);
  ASSERT_EQ(one->RecordCount(), 1);
  EXPECT_EQ(vb::CLng(one->Fields().Item("AttachmentID").Value()), second);

  const auto list = action_->AttachmentRecordset(7);
  ASSERT_EQ(list->RecordCount(), 2);
  EXPECT_EQ(vb::CLng(list->Fields().Item("AttachmentID").Value()), first);
  EXPECT_EQ(action_->AttachmentRecordset(), nullptr);
  EXPECT_EQ(action_->AttachmentRecordset(-3), nullptr);
  // Action 0 stores nothing, and asks no one (not even an object without a database).
  std::string data = "x";
  EXPECT_EQ(NewAction()->addAttachment(0, "d", "", 1, "text", &data), 0);
  EXPECT_EQ(action_->addAttachment(0, "d", "http://x/", 0), 0);
  EXPECT_EQ(Count("select count(*) from ActionAttachments"), 3);

  // Lists link content through the URL in mode 0 only.
  action_->DefaultAttachmentURL("http://files.example.com");
  const auto link = [&] {
    return vb::CStr(action_->AttachmentRecordset(7)->Fields().Item("Link").Value());
  };
  EXPECT_TRUE(link().starts_with("http://files.example.com/att-")) << link();
  const auto settings = action_->DataServer()->Settings();
  settings->Value("AttachmentMode", vb::Variant(int16_t{1}));
  EXPECT_TRUE(link().starts_with(folder().string())) << link();
  // A mode that cannot be read gives no URL rather than a failed list.
  settings->Value("AttachmentMode", vb::Variant("not a number"));
  EXPECT_TRUE(link().starts_with(folder().string())) << link();
}

TEST_P(AttachmentsTest, DefaultPropertiesOnlySeedSettingsNeverMade) {
  const auto settings = action_->DataServer()->Settings();
  action_->DefaultAttachmentPath("");
  EXPECT_TRUE(settings->Value("AttachmentPath").IsEmpty());
  for (const char* path : {"/srv/first", "/srv/second", ""}) action_->DefaultAttachmentPath(path);
  for (const char* url : {"", "http://first", "http://second"}) action_->DefaultAttachmentURL(url);
  EXPECT_EQ(settings->Value("AttachmentPath"), vb::Variant("/srv/first"));
  EXPECT_EQ(settings->Value("AttachmentURL"), vb::Variant("http://first"));
}

KV_INSTANTIATE_ENGINES(AttachmentsTest);

}  // namespace
}  // namespace kvaction
