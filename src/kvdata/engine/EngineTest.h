#pragma once
// A fresh database of each engine holding one table "T" (ID generated key, Name text, N integer),
// reached through the connection's engine.
#include <fmt/format.h>

#include <memory>

#include "kvdata/DataConnection.h"
#include "kvdata/engine/Engine.h"
#include "kvdata/testing/Fixture.h"

namespace kvdata::engine {

class EngineTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    connection_ = Connect();
    engine_ = &connection_->Engine();
    (void)engine_->Execute(fmt::format("CREATE TABLE \"T\" (\"ID\" {}, \"Name\" {}, \"N\" {})",
                                       engine_->ColumnType(ColumnKind::AutoKey),
                                       engine_->ColumnType(ColumnKind::Text, 50),
                                       engine_->ColumnType(ColumnKind::Integer)));
  }
  std::shared_ptr<DataConnection> connection_;
  Engine* engine_ = nullptr;
};

}  // namespace kvdata::engine
