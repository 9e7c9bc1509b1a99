#pragma once
// Test base: a fresh action database on each engine, created at the fixture's pinned moment with
// a first user "admin" (password "secret") in the SuperUser workgroup.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kvdata/DataServer.h"
#include "kvdata/testing/Fixture.h"

namespace kvdata {

class ActionDatabaseTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    testing::DatabaseTest::SetUp();
    DataServer::CreateDatabase(
        ConnectionString(), {"admin", "Ada Admin", "secret", PasswordCost::Minimum}, pinnedClock_);
  }

  /// A data server open on the test database, with the pinned clock.
  [[nodiscard]] std::unique_ptr<DataServer> OpenServer() const {
    auto server = std::make_unique<DataServer>();
    server->SetClock(pinnedClock_);
    server->OpenDatabase(ConnectionString());
    return server;
  }

  /// Another fresh, empty database on the same engine, removed when this object goes.
  class ExtraDatabase : public testing::DatabaseTest {
   public:
    ExtraDatabase() { SetUp(); }
    ~ExtraDatabase() override { TearDown(); }
    using testing::DatabaseTest::ConnectionString;
    void TestBody() override {}
  };
};

}  // namespace kvdata
