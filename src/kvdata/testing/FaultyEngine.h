#pragma once
// A test engine that passes every call to the engine it wraps, except that its N-th call
// (counting statements of every kind: read, streamed and unread; transaction starts and commits;
// and catalog reads) fails with an engine error before it reaches the database. Tests run an
// operation with N = 1, 2, … until a run meets no fault, and check that each run ends cleanly and
// the database stays whole.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kvdata/DataConnection.h"
#include "kvdata/Errors.h"
#include "kvdata/engine/Engine.h"
#include "kvdata/engine/EngineError.h"
#include "kvdata/testing/EngineWrapper.h"

namespace kvdata::testing {

class FaultyEngine : public EngineWrapper {
 public:
  /// Wraps inner; failAt 0 lets every call through.
  explicit FaultyEngine(std::shared_ptr<engine::Engine> inner, int64_t failAt = 0)
      : EngineWrapper(std::move(inner)), failAt_(failAt) {}

  /// Wraps connection's engine; the returned engine stays in place for the connection's life.
  static std::shared_ptr<FaultyEngine> Install(DataConnection& connection, int64_t failAt) {
    std::shared_ptr<FaultyEngine> faulty;
    connection.WrapEngine([&](std::shared_ptr<engine::Engine> inner) {
      faulty = std::make_shared<FaultyEngine>(std::move(inner), failAt);
      return faulty;
    });
    return faulty;
  }

  /// Calls counted so far, the failed one included.
  [[nodiscard]] int64_t Calls() const { return calls_; }
  /// Whether the failing call was reached.
  [[nodiscard]] bool Fired() const { return failAt_ > 0 && calls_ >= failAt_; }

  engine::Result Execute(std::string_view sql, std::span<const vb::Variant> params = {}) override {
    Count(sql);
    return EngineWrapper::Execute(sql, params);
  }
  void ExecuteUnread(std::string_view sql) override {
    Count(sql);
    EngineWrapper::ExecuteUnread(sql);
  }
  engine::StreamedResult Stream(std::string_view sql,
                                std::span<const vb::Variant> params = {}) override {
    Count(sql);
    return EngineWrapper::Stream(sql, params);
  }
  /// Nothing is known to hold: every answer is read again, through this engine.
  [[nodiscard]] std::string ChangeMark() noexcept override { return {}; }
  void Begin() override {
    Count("BEGIN");
    EngineWrapper::Begin();
  }
  void Commit() override {
    Count("COMMIT");
    EngineWrapper::Commit();
  }
  [[nodiscard]] bool TableExists(std::string_view table) override {
    Count("catalog");
    return EngineWrapper::TableExists(table);
  }
  [[nodiscard]] std::vector<engine::CatalogTable> ReadCatalog() override {
    Count("catalog");
    return EngineWrapper::ReadCatalog();
  }

 private:
  void Count(std::string_view what) {
    if (++calls_ == failAt_) {
      throw engine::EngineError(
          kEngineError,
          "injected fault at call " + std::to_string(calls_) + ": " + std::string(what), "injected",
          false);
    }
  }

  int64_t failAt_;
  int64_t calls_ = 0;
};

}  // namespace kvdata::testing
