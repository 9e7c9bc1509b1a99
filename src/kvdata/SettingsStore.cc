#include "kvdata/SettingsStore.h"

#include "kvdata/DataUtility.h"
#include "kvdata/ServerState.h"
#include "kvdata/StoredValue.h"

namespace kvdata {
namespace {

constexpr std::string_view kTable = "ActionConfig";

std::string Condition(std::string_view key) { return "ConfigKey=" + DataUtility::SqlText(key); }

}  // namespace

std::string LabelKey(std::string_view name) { return "Label." + std::string(name); }

SettingsStore::SettingsStore(std::shared_ptr<const ServerState> state) : state_(std::move(state)) {}

vb::Variant SettingsStore::Value(std::string_view key) const {
  if (const auto change = changes_.find(key); change != changes_.end()) return change->second;
  return ReadStoredValue(state_->Open(kSettingsSource), kTable, Condition(key));
}

void SettingsStore::Value(std::string_view key, const vb::Variant& value) {
  changes_.insert_or_assign(std::string(key), value);
}

std::string SettingsStore::Label(std::string_view name, bool* found) const {
  const auto label = Value(LabelKey(name));
  const bool stored = label.IsString() && !vb::TextOf(label).empty();
  if (found) *found = stored;
  return stored ? vb::TextOf(label) : std::string(name);
}

void SettingsStore::Save() {
  auto& connection = state_->Open(kSettingsSource);
  DataConnection::Transaction transaction(connection);
  for (const auto& [key, value] : changes_) {
    WriteStoredValue(connection, kTable, Condition(key), {"ConfigKey"}, {key}, value);
  }
  transaction.Commit();
  changes_.clear();
}

}  // namespace kvdata
