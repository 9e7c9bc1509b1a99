#include "kvdata/AttachmentStore.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include <filesystem>
#include <functional>

#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/AttachmentFiles.h"
#include "kvdata/Base64.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"
#include "kvdata/Errors.h"
#include "kvdata/testing/ScratchFolder.h"
#include "vb/Convert.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

namespace fs = std::filesystem;
using vb::testing::ErrorOf;

// Passes every call to the local file system, except that call number failAt fails.
class FailingFiles final : public AttachmentFiles {
 public:
  int failAt = 0;
  int calls = 0;
  void Write(const fs::path& file, std::string_view bytes) override {
    Step();
    local_->Write(file, bytes);
  }
  std::string Read(const fs::path& file) override {
    Step();
    return local_->Read(file);
  }
  void Rename(const fs::path& from, const fs::path& to) override {
    Step();
    local_->Rename(from, to);
  }
  void Remove(const fs::path& file) override {
    Step();
    local_->Remove(file);
  }
  bool IsFolder(const fs::path& folder) override { return local_->IsFolder(folder); }

 private:
  void Step() {
    if (++calls == failAt) throw vb::ComError(kAttachmentError, "test", "injected failure");
  }
  std::shared_ptr<AttachmentFiles> local_ = Local();
};

class AttachmentStoreContent : public ActionDatabaseTest {
 protected:
  void SetUp() override {
    ActionDatabaseTest::SetUp();
    server_ = OpenServer();
    server_->SetAttachmentFiles(files_);
  }
  int32_t Store(const std::string& data, std::string_view encoding = "base64") {
    return server_->Attachments()->StoreAttachment(folder_.string(), "ActionID", 5, "doc",
                                                   "doc.bin", 1, encoding, &data);
  }
  // Whether the attachment has content to read; the content goes to data.
  bool Read(int32_t id, std::string& data, std::string* encoding = nullptr) {
    return server_->Attachments()->ReadAttachment("ActionID", id, folder_.string(), encoding,
                                                  &data);
  }
  [[nodiscard]] std::size_t FileCount() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder_), {}));
  }
  [[nodiscard]] int32_t Rows() const {
    return server_->Attachments()->AttachmentList("ActionID", 5, "", "")->RecordCount();
  }

  const testing::ScratchFolder scratch_{"kvatt"};
  const fs::path& folder_ = scratch_.Path();
  std::shared_ptr<FailingFiles> files_ = std::make_shared<FailingFiles>();
  std::unique_ptr<DataServer> server_;
};

TEST_P(AttachmentStoreContent, BinaryContentRoundTripsInBothEncodings) {
  // Ten mebibytes of every byte value in a scrambled order.
  std::string binary(10 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i)
    binary[i] = static_cast<char>((i * 131) ^ (i >> 9));
  std::string base64 = "AAH//iciDQolX1w=";
  const auto a = Store(base64);
  const auto b = Store(binary, "text");
  std::string encoding;
  std::string data;
  ASSERT_TRUE(Read(a, data, &encoding));
  EXPECT_EQ(encoding, "base64");
  EXPECT_EQ(data, base64);
  ASSERT_TRUE(Read(b, data, &encoding));
  EXPECT_EQ(encoding, "text");
  EXPECT_TRUE(data == binary);
  EXPECT_EQ(FileCount(), 2u);
  const auto list = server_->Attachments()->AttachmentList("ActionID", 5, "", "http://x/att");
  ASSERT_EQ(list->RecordCount(), 2);
  EXPECT_EQ(list->Fields().Item("AttachmentID").Value(), vb::Variant(a));
  EXPECT_EQ(vb::CStr(list->Fields().Item("Link").Value()).rfind("http://x/att/att-", 0), 0u);
}

TEST_P(AttachmentStoreContent, LinksNeedNoFolderAndCarryNoContent) {
  const auto id = server_->Attachments()->StoreAttachment("", "ActionID", 5, "site",
                                                          "http://example.org", 0, "", nullptr);
  std::string data = "unchanged";
  EXPECT_FALSE(server_->Attachments()->ReadAttachment("ActionID", id, "", nullptr, &data));
  EXPECT_EQ(data, "unchanged");
  EXPECT_EQ(server_->Attachments()->AttachmentByID(id)->Fields().Item("URL").Value(),
            vb::Variant("http://example.org"));
  server_->Attachments()->RemoveAttachment("ActionID", "", id);
  EXPECT_EQ(Rows(), 0);
}

TEST_P(AttachmentStoreContent, RefusesNamesThatLeaveTheFolderAndSymbolicLinks) {
  const auto id = Store("aGVsbG8=");
  fs::create_symlink("/etc/hostname", folder_ / "link.dat");
  std::string data;
  for (const std::string name : {"../outside.dat", "/etc/passwd", "..", "a/b", "link.dat"}) {
    (void)server_->Connection()->Execute("update ActionAttachments set StoredName = " +
                                         DataUtility::SqlText(name));
    EXPECT_EQ(ErrorOf([&] { (void)Read(id, data); }).number(), kAttachmentError) << name;
  }
  EXPECT_THROW((void)Store("not base64!"), vb::ComError);
  EXPECT_THROW((void)Store("x", "uuencode"), vb::ComError);
}

// A store or a delete failing at each step in turn: a failed store leaves neither row nor file, a
// failed delete keeps both, still readable.
TEST_P(AttachmentStoreContent, AFailingStoreOrDeleteKeepsRowAndFileTogether) {
  const auto id = Store("aGVsbG8=");
  const std::function<void()> operations[] = {
      [&] { (void)Store("aGVsbG8="); },
      [&] { server_->Attachments()->RemoveAttachment("ActionID", folder_.string(), id); }};
  for (const auto& operation : operations) {
    for (files_->failAt = 1;; ++files_->failAt) {
      ASSERT_LT(files_->failAt, 10) << "the call never succeeded";
      files_->calls = 0;
      const int32_t rows = Rows();
      const std::size_t files = FileCount();
      try {
        operation();
        break;  // no call failed, or only the last clean-up of an already deleted file
      } catch (const vb::ComError& e) {
        EXPECT_EQ(e.description(), "injected failure");
        EXPECT_EQ(Rows(), rows) << files_->failAt;
        EXPECT_EQ(FileCount(), files) << files_->failAt;
        std::string data;
        EXPECT_TRUE(Read(id, data));
      }
    }
  }
  EXPECT_EQ(Rows(), 1);  // stored twice, deleted once
}

// The file in place, or what a crash or a hand can leave: the file gone, or set aside by a removal
// cut short (whose content still reads, as its row was never removed). The row is still removed,
// no file is left, and the attachment neither reads nor can be removed again.
TEST_P(AttachmentStoreContent, RemovalFinishesWhateverStateTheFileIsIn) {
  for (const std::string_view leftAs : {"in place", "", ".del"}) {
    const auto id = Store("aGVsbG8=");
    const auto stored = vb::CStr(server_->Connection()
                                     ->OpenRecordset("select StoredName from ActionAttachments")
                                     ->Fields()
                                     .Item(0)
                                     .Value());
    if (leftAs.empty()) {
      fs::remove(folder_ / stored);
    } else if (leftAs == ".del") {
      fs::rename(folder_ / stored, folder_ / (stored + std::string(leftAs)));
      std::string data;
      EXPECT_TRUE(Read(id, data));
      EXPECT_EQ(data, "aGVsbG8=");
    }
    server_->Attachments()->RemoveAttachment("ActionID", folder_.string(), id);
    EXPECT_EQ(Rows(), 0) << leftAs;
    EXPECT_EQ(FileCount(), 0u) << leftAs;
    std::string data;
    EXPECT_FALSE(Read(id, data));
    EXPECT_THROW(server_->Attachments()->RemoveAttachment("ActionID", folder_.string(), id),
                 vb::ComError);
  }
}

TEST(AttachmentFilesTest, AFailedWriteLeavesNoFile) {
  const testing::ScratchFolder scratch("kvatt-write");
  const fs::path file = scratch.Path() / "written";
  // A file-size limit makes the write fail part way, as a full disk would.
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4;
  ::setrlimit(RLIMIT_FSIZE, &small);
  const bool failed = [&] {
    try {
      AttachmentFiles::Local()->Write(file, std::string(100, 'x'));
      return false;
    } catch (const vb::ComError&) {
      return true;
    }
  }();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_TRUE(failed);
  EXPECT_FALSE(fs::exists(file));
}

KV_INSTANTIATE_ENGINES(AttachmentStoreContent);

TEST(Base64, EncodesWithPaddingOnOneLineAndDecodesPastLineBreaks) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {{"\0\xff\x10", 3}, "AP8Q"}};
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(ToBase64(bytes), text);
    EXPECT_EQ(FromBase64(text), bytes);
  }
  EXPECT_EQ(FromBase64("Zm9v\r\nYmFy"), "foobar");
  EXPECT_EQ(FromBase64(" Zg== "), "f");
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  EXPECT_EQ(FromBase64(ToBase64(bytes)), bytes);
  for (const char* refused :
       {"Zm9v!", "Zg=" /* padding cut short */, "Zm9v-_" /* URL alphabet */}) {
    EXPECT_FALSE(FromBase64(refused)) << refused;
  }
}

}  // namespace
}  // namespace kvdata
