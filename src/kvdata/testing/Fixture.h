#pragma once
// The database test fixture: every test that takes it runs once on each engine, each time on a
// fresh, empty database (SQLite: a new temporary file; PostgreSQL: a new database on the server
// named by the environment variable KV_TEST_PG, dropped afterwards). Without KV_TEST_PG the
// PostgreSQL cases fail; they never skip.
//
//   class MyTest : public kvdata::testing::DatabaseTest {};
//   TEST_P(MyTest, Something) { auto connection = Connect(); … }
//   KV_INSTANTIATE_ENGINES(MyTest);
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "kvdata/DataConnection.h"
#include "vb/Clock.h"
#include "vb/Locale.h"

namespace kvdata::testing {

enum class EngineKind { SQLite, PostgreSQL };

/// "SQLite" or "PostgreSQL": the name of a case in test output.
[[nodiscard]] std::string EngineName(const ::testing::TestParamInfo<EngineKind>& info);

/// The server the PostgreSQL cases use (KV_TEST_PG); fails the current test when it is unset.
[[nodiscard]] std::string ServerConnectionString();

/// Every row of the tables, one line a row, each value in its text form followed by "|": what
/// a test compares before and after a refused request to show that nothing changed.
[[nodiscard]] std::string TablesText(DataConnection& connection,
                                     std::initializer_list<std::string_view> tables);

class DatabaseTest : public ::testing::TestWithParam<EngineKind> {
 protected:
  /// Removes the SQLite file, after the connections of derived fixtures are gone.
  ~DatabaseTest() override;
  void SetUp() override;
  void TearDown() override;

  /// The fresh database's connection string.
  [[nodiscard]] const std::string& ConnectionString() const { return connectionString_; }
  /// A new connection to it, with the pinned clock and the en-US locale.
  [[nodiscard]] std::shared_ptr<DataConnection> Connect() const;
  [[nodiscard]] EngineKind Kind() const { return GetParam(); }

  /// The moment tests run at: 15 Mar 2024 09:30:05.
  const std::shared_ptr<const vb::Clock> pinnedClock_ =
      std::make_shared<vb::FixedClock>(vb::Date::FromParts(2024, 3, 15, 9, 30, 5));

 private:
  std::string connectionString_;
  std::string path_;      // SQLite
  std::string database_;  // PostgreSQL
};

}  // namespace kvdata::testing

/// Runs every TEST_P of a DatabaseTest suite on both engines.
#define KV_INSTANTIATE_ENGINES(Suite)                                                    \
  INSTANTIATE_TEST_SUITE_P(Engines, Suite,                                               \
                           ::testing::Values(::kvdata::testing::EngineKind::SQLite,      \
                                             ::kvdata::testing::EngineKind::PostgreSQL), \
                           ::kvdata::testing::EngineName)
