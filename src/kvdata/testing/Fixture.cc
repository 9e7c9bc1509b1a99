#include "kvdata/testing/Fixture.h"

#include <fmt/format.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "kvdata/ConnectionString.h"
#include "kvdata/engine/Engine.h"
#include "vb/Convert.h"

namespace kvdata::testing {
namespace {

std::string RandomName(std::string_view prefix) {
  std::random_device device;
  std::mt19937_64 generator(device());
  return fmt::format("{}{:016x}", prefix, generator());
}

std::string WithDatabase(const ConnectionSettings& server, const std::string& database) {
  const auto& login = server.login;
  std::string text = fmt::format("Provider=PostgreSQL;Host={};Port={};Database={};User ID={}",
                                 login.host, login.port, database, login.user);
  if (!login.password.empty()) text += ";Password=" + login.password;
  return text;
}

void RunOnServer(const std::string& statement) {
  auto server = DataConnection::Open(ServerConnectionString());
  (void)server->Engine().Execute(statement);
}

}  // namespace

std::string EngineName(const ::testing::TestParamInfo<EngineKind>& info) {
  return info.param == EngineKind::SQLite ? "SQLite" : "PostgreSQL";
}

std::string TablesText(DataConnection& connection, std::initializer_list<std::string_view> tables) {
  std::string text;
  for (const std::string_view table : tables) {
    auto rs = connection.OpenRecordset(fmt::format("select * from {} order by 1", table), 0, 2, 1);
    for (; !rs->IsEOF(); rs->MoveNext()) {
      for (int32_t i = 0; i < rs->Fields().Count(); ++i) {
        text += vb::TextOf(rs->Fields().Item(i).Value()) + "|";
      }
      text += "\n";
    }
  }
  return text;
}

std::string ServerConnectionString() {
  const char* server = std::getenv("KV_TEST_PG");
  if (server == nullptr || *server == '\0') {
    ADD_FAILURE() << "KV_TEST_PG is not set: start a server with scripts/pg.sh (scripts/test.sh "
                     "does it) and export its connection string.";
    return {};
  }
  return server;
}

void DatabaseTest::SetUp() {
  if (Kind() == EngineKind::SQLite) {
    path_ = (std::filesystem::temp_directory_path() / RandomName("kvt_")).string() + ".kvdb";
    connectionString_ = "Provider=SQLite;Data Source=" + path_;
    (void)DataConnection::Open(connectionString_, true);
    return;
  }
  const std::string server = ServerConnectionString();
  ASSERT_FALSE(server.empty());
  database_ = RandomName("kvt_");
  RunOnServer(fmt::format("CREATE DATABASE {}", database_));
  connectionString_ = WithDatabase(ParseConnectionString(server), database_);
}

DatabaseTest::~DatabaseTest() {
  if (path_.empty()) return;
  std::error_code ignored;  // a file that is already gone is fine
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix, ignored);
}

void DatabaseTest::TearDown() {
  // FORCE ends connections a failed test may have left open.
  if (!database_.empty()) RunOnServer(fmt::format("DROP DATABASE {} WITH (FORCE)", database_));
}

std::shared_ptr<DataConnection> DatabaseTest::Connect() const {
  auto connection = DataConnection::Open(connectionString_);
  connection->SetClock(pinnedClock_);
  connection->SetLocale(vb::Locale::EnUS());
  return connection;
}

}  // namespace kvdata::testing
