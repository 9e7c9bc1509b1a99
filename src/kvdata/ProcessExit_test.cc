// A client's objects that end while the process exits (its own statics, atexit handlers) may
// still open a database and run statements, even when the library first made its process-wide
// values (clock, locale, schema) during their life, so that those end before them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "vb/Convert.h"

namespace kvdata {
namespace {

std::string SQLite(const std::filesystem::path& path) {
  return "Provider=SQLite;Data Source=" + path.string();
}

void Create(const std::filesystem::path& path) {
  DataServer::CreateDatabase(SQLite(path), {"admin", "Admin", "pw", PasswordCost::Minimum});
}

// Makes and reads a database when it ends; the process fails unless it reads what it wrote.
struct LastWords {
  std::filesystem::path folder;
  ~LastWords() {
    const auto path = folder / "late.kvdb";
    Create(path);
    const auto rows = DataConnection::Open(SQLite(path))->Execute("select count(*) from actions");
    const bool read = vb::CLng(rows->Fields().Item(0).Value()) == 0;
    std::filesystem::remove_all(folder);
    if (!read) std::_Exit(3);
  }
};

TEST(ProcessExit, AClientsObjectEndingAtExitStillOpensAndReadsADatabase) {
  // A fresh process, so that the library's values are first made below, after the object.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const auto folder =
            std::filesystem::temp_directory_path() / ("kv-exit-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        static const LastWords last{folder};
        Create(folder / "first.kvdb");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kvdata
