#include "kvdata/AttachmentStore.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/AttachmentFiles.h"
#include "kvdata/Base64.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/testing/ScratchFolder.h"
#include "vb/Convert.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

namespace fs = std::filesystem;
using vb::testing::ErrorOf;

// Passes every call to the local file system, except that call number failAt fails, and that
// the process is killed before call number killAt.
class FailingFiles final : public AttachmentFiles {
 public:
  int failAt = 0;
  int killAt = 0;
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
  void Link(const fs::path& from, const fs::path& to) override {
    Step();
    local_->Link(from, to);
  }
  void Remove(const fs::path& file) override {
    Step();
    local_->Remove(file);
  }
  bool IsFolder(const fs::path& folder) override { return local_->IsFolder(folder); }
  std::vector<std::string> Names(const fs::path& folder) override { return local_->Names(folder); }
  std::unique_ptr<Hold> HoldFolder(const fs::path& folder, bool exclusive) override {
    return local_->HoldFolder(folder, exclusive);
  }

 private:
  void Step() {
    if (++calls == killAt) ::raise(SIGKILL);
    if (calls == failAt) throw vb::ComError(kAttachmentError, "test", "injected failure");
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
  // The folder becomes the database's attachment path, which an open settles.
  void SetPath() {
    server_->Settings()->Value("AttachmentPath", vb::Variant(folder_.string()));
    server_->Settings()->Save();
  }
  [[nodiscard]] std::set<std::string> FileNames() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
      names.insert(entry.path().filename().string());
    return names;
  }
  [[nodiscard]] std::set<std::string> StoredNames() const {
    std::set<std::string> names;
    const auto rs = server_->Connection()->OpenRecordset(
        "select StoredName from ActionAttachments where StoredName is not null");
    for (; !rs->IsEOF(); rs->MoveNext()) names.insert(vb::CStr(rs->Fields().Item(0).Value()));
    return names;
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

// What a store or a removal cut short can leave, as file names (N the stored name) and whether
// the row was committed. The next open puts the file of a committed row in place and removes
// every other file of the name, markers included; files the store did not name stay.
TEST_P(AttachmentStoreContent, OpeningSettlesWhatAnInterruptedWriteLeft) {
  SetPath();
  struct Case {
    std::vector<std::string_view> left;
    bool row;
  };
  const Case cases[] = {
      {{"N.tmp"}, false},          // a store before its row
      {{"N.tmp", "N"}, false},     // a store between its link and its commit
      {{"N.tmp", "N"}, true},      // a store after its commit
      {{"N.del"}, true},           // a removal before its commit
      {{"N.del", "N"}, true},      // a removal inside its rename
      {{"N.del"}, false},          // a removal after its commit
      {{"N.tmp", "N.del"}, true},  // a removal cut short, of a store cut short after its commit
      {{"N.tmp", "N.del"}, false}, {{"N.tmp", "N", "N.del"}, true},
  };
  const std::set<std::string> foreign = {"notes.tmp", "att-x.dat.del"};
  for (const auto& name : foreign) std::ofstream(folder_ / name) << "kept";
  for (const auto& c : cases) {
    const auto id = Store("aGVsbG8=");
    const auto stored = *StoredNames().begin();
    for (const auto& left : c.left) {
      if (left != "N")
        fs::create_hard_link(folder_ / stored, folder_ / (stored + std::string(left.substr(1))));
    }
    if (std::find(c.left.begin(), c.left.end(), "N") == c.left.end()) fs::remove(folder_ / stored);
    if (!c.row) {
      (void)server_->Connection()->Execute(
          fmt::format("delete from ActionAttachments where AttachmentID={}", id));
    }
    server_ = OpenServer();
    auto expected = foreign;
    if (c.row) expected.insert(stored);
    EXPECT_EQ(FileNames(), expected) << fmt::format("{}", fmt::join(c.left, " ")) << c.row;
    std::string data;
    if (c.row) {
      EXPECT_TRUE(Read(id, data));
      EXPECT_EQ(data, "aGVsbG8=");
      server_->Attachments()->RemoveAttachment("ActionID", folder_.string(), id);
    }
    ASSERT_EQ(FileNames(), foreign);
  }
  // While a write holds the folder, an open leaves its files alone; the next open settles them.
  const auto id = Store("aGVsbG8=");
  const auto stored = *StoredNames().begin();
  fs::create_hard_link(folder_ / stored, folder_ / (stored + ".del"));
  (void)server_->Connection()->Execute(
      fmt::format("delete from ActionAttachments where AttachmentID={}", id));
  {
    const auto writing = AttachmentFiles::Local()->HoldFolder(folder_, /*exclusive=*/false);
    EXPECT_FALSE(server_->Attachments()->Recover(folder_.string()));
    server_ = OpenServer();
    EXPECT_EQ(FileNames().size(), foreign.size() + 2);
  }
  server_ = OpenServer();
  EXPECT_EQ(FileNames(), foreign);
  // A writer whose transaction is still open (a caller's transaction around it, or a commit
  // still with the server after its client died): the settling waits for it and keeps its file.
  {
    const auto writer = OpenServer();
    std::optional<DataConnection::Transaction> open(std::in_place, *writer->Connection());
    const std::string data = "aGVsbG8=";
    (void)writer->Attachments()->StoreAttachment(folder_.string(), "ActionID", 5, "doc", "doc.bin",
                                                 1, "base64", &data);
    std::thread commit([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      open->Commit();
    });
    EXPECT_TRUE(server_->Attachments()->Recover(folder_.string()));
    commit.join();
  }
  ASSERT_EQ(StoredNames().size(), 1u);
  auto expected = foreign;
  expected.insert(*StoredNames().begin());
  EXPECT_EQ(FileNames(), expected);
}

// Writers killed before each file step of their open, stores and removals, and at moments in
// between: after every death the next open, itself killed at times while it settles what the
// last one left, ends with a file for every row, a row for every file, and no marker.
TEST_P(AttachmentStoreContent, KilledWritersLeaveNothingTheNextOpenDoesNotSettle) {
  SetPath();
  server_.reset();  // no connection of the test's crosses into the writers
  constexpr int kKills = 30;
  for (int round = 0; round < kKills; ++round) {
    const bool timed = round % 2 == 1;
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      const auto files = std::make_shared<FailingFiles>();
      files->killAt = timed ? 0 : round / 2 % 9 + 1;
      try {
        DataServer server;
        server.SetClock(pinnedClock_);
        server.SetAttachmentFiles(files);
        server.OpenDatabase(ConnectionString());
        const auto store = server.Attachments();
        const std::string data = "aGVsbG8=";
        for (int32_t last = 0;;) {
          const auto id = store->StoreAttachment(folder_.string(), "ActionID", 5, "doc", "doc.bin",
                                                 1, "base64", &data);
          if (last != 0) store->RemoveAttachment("ActionID", folder_.string(), last);
          last = id;
        }
      } catch (...) {
      }
      std::_Exit(1);  // a writer that fails instead of dying fails the test
    }
    if (timed) {
      std::this_thread::sleep_for(std::chrono::microseconds(500 + round * 997 % 15000));
      ::kill(writer, SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "round " << round;
    // Most deaths are left to the next writer's open to settle.
    if (round % 4 == 3 || round == kKills - 1) {
      server_ = OpenServer();
      EXPECT_EQ(FileNames(), StoredNames()) << "round " << round;
      server_.reset();
    }
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
