#include "kvdata/Backup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "kvdata/ActionDatabaseTest.h"
#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/schema/Schema.h"
#include "kvdata/testing/ScratchFolder.h"
#include "vb/testing/ErrorOf.h"

namespace kvdata {
namespace {

namespace fs = std::filesystem;

class BackupTest : public ActionDatabaseTest {
 protected:
  void SetUp() override {
    ActionDatabaseTest::SetUp();
    SetMarker(ConnectionString(), "before");
  }

  static void SetMarker(const std::string& connection, const std::string& value) {
    DataServer server;
    server.OpenDatabase(connection);
    server.Settings()->Value("Marker", value);
    server.Settings()->Save();
  }
  // The marker as a data server that opens the database (checking its tables) reads it.
  static vb::Variant MarkerOf(const std::string& connection) {
    DataServer server;
    server.OpenDatabase(connection);
    server.VerifyTables({std::begin(schema::kActionTables), std::end(schema::kActionTables)});
    return server.Settings()->Value("Marker");
  }
  [[nodiscard]] fs::path File(const char* name) const { return scratch_.Path() / name; }

  const testing::ScratchFolder scratch_{"kvbackup"};
};

using BackupRoundTrip = BackupTest;
using EmbeddedBackup = BackupTest;

TEST_P(BackupRoundTrip, RestoreBringsBackTheCopyWhichOpensAsAnActionDatabase) {
  const fs::path copy = File("copy.kvdb");
  if (Kind() == testing::EngineKind::PostgreSQL) {
    // The server's tools do it; the message says how, without the password.
    const auto backup = vb::testing::ErrorOf([&] { BackupDatabase(ConnectionString(), copy); });
    EXPECT_EQ(backup.number(), kBackupFailed);
    EXPECT_NE(backup.description().find("pg_dump --format=custom"), std::string::npos);
    EXPECT_NE(backup.description().find(copy.string()), std::string::npos);
    const auto restore = vb::testing::ErrorOf([&] { RestoreDatabase(ConnectionString(), copy); });
    EXPECT_NE(restore.description().find("pg_restore"), std::string::npos);
    const auto settings = ParseConnectionString(ConnectionString());
    if (!settings.login.password.empty()) {
      EXPECT_EQ(backup.description().find(settings.login.password), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(copy));
    return;
  }
  BackupDatabase(ConnectionString(), copy);
  SetMarker(ConnectionString(), "after");
  EXPECT_EQ(MarkerOf("Provider=SQLite;Data Source=" + copy.string()), vb::Variant("before"));

  RestoreDatabase(ConnectionString(), copy, true);
  EXPECT_EQ(MarkerOf(ConnectionString()), vb::Variant("before"));
  // A restore into a database that is not there yet creates it.
  const fs::path fresh = File("fresh.kvdb");
  RestoreDatabase("Provider=SQLite;Data Source=" + fresh.string(), copy);
  EXPECT_EQ(MarkerOf(fresh.string()), vb::Variant("before"));
}

TEST_P(EmbeddedBackup, TheCopyHoldsWhatWasCommittedWhileAWriterIsBusy) {
  DataServer writer;
  writer.OpenDatabase(ConnectionString());
  DataConnection::Transaction open(*writer.Connection());
  writer.Settings()->Value("Marker", "uncommitted");
  writer.Settings()->Save();
  const fs::path copy = File("busy.kvdb");
  BackupDatabase(ConnectionString(), copy);
  open.Commit();
  EXPECT_EQ(MarkerOf(copy.string()), vb::Variant("before"));
  EXPECT_EQ(MarkerOf(ConnectionString()), vb::Variant("uncommitted"));
}

TEST_P(EmbeddedBackup, BadRequestsChangeNothing) {
  const std::string database = ConnectionString();
  const fs::path existing = File("existing.kvdb");
  std::ofstream(existing) << "keep me";
  const fs::path text = File("notes.txt");
  std::ofstream(text) << "not a database at all, just some words to fill a page";
  const fs::path empty = File("empty.kvdb");
  (void)DataConnection::Open("Provider=SQLite;Data Source=" + empty.string(), true);
  const fs::path good = File("good.kvdb");
  BackupDatabase(database, good);
  SetMarker(database, "current");

  struct Case {
    const char* what;
    std::function<void()> call;
    int32_t number;
    const char* says;
  };
  const Case cases[] = {
      {"backup over a file", [&] { BackupDatabase(database, existing); }, kDatabaseExists,
       "exists already"},
      {"backup of a missing database",
       [&] {
         BackupDatabase("Provider=SQLite;Data Source=" + File("none.kvdb").string(), good, true);
       },
       kOpenFailed, "none.kvdb"},
      {"restore from a missing file", [&] { RestoreDatabase(database, File("gone.kvdb"), true); },
       kOpenFailed, "does not exist"},
      {"restore from a text file", [&] { RestoreDatabase(database, text, true); }, kOpenFailed,
       "not a database"},
      {"restore from a database without action tables",
       [&] { RestoreDatabase(database, empty, true); }, kMissingTable, "ActionConfig"},
      {"restore over the database without replace", [&] { RestoreDatabase(database, good); },
       kDatabaseExists, "replaces all of it"},
      {"restore of the database onto itself",
       [&] { RestoreDatabase(database, ParseConnectionString(database).path, true); },
       kBackupFailed, "the database itself"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto error = vb::testing::ErrorOf(c.call);
    EXPECT_EQ(error.number(), c.number);
    EXPECT_NE(error.description().find(c.says), std::string::npos) << error.description();
    EXPECT_EQ(MarkerOf(database), vb::Variant("current"));
  }
  std::ifstream kept(existing);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
  for (const auto& entry : fs::directory_iterator(scratch_.Path())) {
    EXPECT_EQ(entry.path().string().find(".partial-"), std::string::npos) << entry.path();
  }
}

KV_INSTANTIATE_ENGINES(BackupRoundTrip);
// pg_dump backs a PostgreSQL database up; these cases are about the embedded file.
INSTANTIATE_TEST_SUITE_P(SQLite, EmbeddedBackup, ::testing::Values(testing::EngineKind::SQLite),
                         testing::EngineName);

}  // namespace
}  // namespace kvdata
