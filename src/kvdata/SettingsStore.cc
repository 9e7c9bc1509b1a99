#include "kvdata/SettingsStore.h"

#include <fmt/format.h>
#include <vector>

#include "kvdata/DataUtility.h"
#include "kvdata/Errors.h"
#include "kvdata/ServerState.h"
#include "kvdata/StoredValue.h"

namespace kvdata {
namespace {

constexpr std::string_view kTable = "ActionConfig";

std::string Condition(std::string_view key) { return "ConfigKey=" + DataUtility::SqlText(key); }

// One statement for the rows of several keys. Each key is compared on its own ("or", not an
// "in" list), so that the keys travel as bound values and the text repeats for any keys.
std::string SelectKeys(std::span<const std::string* const> keys) {
  std::string sql = "select ConfigKey, ValueType, ValueText from ActionConfig where ";
  for (std::size_t k = 0; k < keys.size(); ++k) {
    if (k > 0) sql += " or ";
    sql += Condition(*keys[k]);
  }
  return sql;
}

// The label rule: a stored, non-empty text, else the name itself.
std::string LabelFrom(const vb::Variant& label, std::string_view name, bool* found) {
  const bool stored = label.IsString() && !vb::TextOf(label).empty();
  if (found) *found = stored;
  return stored ? vb::TextOf(label) : std::string(name);
}

}  // namespace

vb::Variant SettingsSnapshot::Value(std::string_view key) const {
  const auto entry = entries_.find(key);
  if (entry == entries_.end()) {
    throw vb::ComError(kBadArgument, std::string(kSettingsSource),
                       fmt::format("The setting \"{}\" was not among those read.", key));
  }
  const Entry& e = entry->second;
  if (e.changed) return e.value;
  if (e.type.IsEmpty()) return {};
  return FromStored(e.type, e.text);
}

std::string SettingsSnapshot::Label(std::string_view name, bool* found) const {
  return LabelFrom(Value(LabelKey(name)), name, found);
}

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
  return LabelFrom(Value(LabelKey(name)), name, found);
}

SettingsSnapshot SettingsStore::Read(std::span<const std::string> keys) const {
  SettingsSnapshot snapshot;
  std::vector<const std::string*> stored;
  for (const std::string& key : keys) {
    const auto [entry, added] = snapshot.entries_.try_emplace(key);
    if (!added) continue;
    if (const auto change = changes_.find(key); change != changes_.end()) {
      entry->second = {true, change->second, {}, {}};
    } else {
      stored.push_back(&key);
    }
  }
  if (stored.empty()) return snapshot;
  const auto rs = state_->Open(kSettingsSource)
                      .OpenRecordset(SelectKeys(stored), ado::adOpenForwardOnly, ado::adUseServer,
                                     ado::adLockReadOnly);
  ado::Fields fields = rs->Fields();
  for (; !rs->IsEOF(); rs->MoveNext()) {
    const auto entry = snapshot.entries_.find(vb::TextOf(fields.Item(0).Value()));
    if (entry == snapshot.entries_.end() || entry->second.changed) continue;
    entry->second.type = fields.Item(1).Value();
    entry->second.text = fields.Item(2).Value();
  }
  return snapshot;
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
