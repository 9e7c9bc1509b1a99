#pragma once
// An engine that passes every call to the engine it wraps. Test engines derive from it and
// override only the calls they watch or change, so that everything else reaches the real engine
// as it would without them. Every virtual of the engine interface is pure: one added there does
// not compile here until it is forwarded, and no wrapper quietly takes a default in place of the
// wrapped engine's own behaviour.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "kvdata/engine/Engine.h"
#include "vb/Variant.h"

namespace kvdata::testing {

class EngineWrapper : public engine::Engine {
 public:
  explicit EngineWrapper(std::shared_ptr<engine::Engine> inner) : inner_(std::move(inner)) {}

  [[nodiscard]] sql::Target Target() const override { return inner_->Target(); }
  engine::Result Execute(std::string_view sql, std::span<const vb::Variant> params = {}) override {
    return inner_->Execute(sql, params);
  }
  void ExecuteUnread(std::string_view sql) override { inner_->ExecuteUnread(sql); }
  engine::StreamedResult Stream(std::string_view sql,
                                std::span<const vb::Variant> params = {}) override {
    return inner_->Stream(sql, params);
  }
  void Begin() override { inner_->Begin(); }
  void Commit() override { inner_->Commit(); }
  void Rollback() noexcept override { inner_->Rollback(); }
  [[nodiscard]] bool InTransaction() const override { return inner_->InTransaction(); }
  [[nodiscard]] bool TransactionUntouched() const override {
    return inner_->TransactionUntouched();
  }
  void RestartTransaction() noexcept override { inner_->RestartTransaction(); }
  [[nodiscard]] bool TableExists(std::string_view table) override {
    return inner_->TableExists(table);
  }
  [[nodiscard]] std::vector<engine::CatalogTable> ReadCatalog() override {
    return inner_->ReadCatalog();
  }
  [[nodiscard]] std::string ColumnType(engine::ColumnKind kind, int32_t size = 0) override {
    return inner_->ColumnType(kind, size);
  }
  /// The wrapped engine's: a catalog read before the wrapper came stays valid, and a schema
  /// change through it is seen.
  [[nodiscard]] uint64_t SchemaGeneration() const override { return inner_->SchemaGeneration(); }
  [[nodiscard]] std::string ChangeMark() noexcept override { return inner_->ChangeMark(); }
  void HoldChangeMark(bool held) noexcept override { inner_->HoldChangeMark(held); }

 private:
  std::shared_ptr<engine::Engine> inner_;
};

static_assert(!std::is_abstract_v<EngineWrapper>,
              "EngineWrapper passes on every virtual of the engine interface");

}  // namespace kvdata::testing
