#include "kvdata/SettingsStore.h"

#include <fmt/format.h>
#include <vector>

#include "kvdata/DataUtility.h"
#include "kvdata/Errors.h"
#include "kvdata/ServerState.h"
#include "kvdata/StoredValue.h"
#include "kvdata/engine/Engine.h"

namespace kvdata {
namespace {

constexpr std::string_view kTable = "ActionConfig";

std::string Condition(std::string_view key) { return "ConfigKey=" + DataUtility::SqlText(key); }

// One statement for the rows of several keys, sent to the engine with the keys bound: the
// answer is a few short rows, read at once, with no record set around them.
std::string SelectKeysText(std::size_t count) {
  return R"(select "ConfigKey", "ValueType", "ValueText" from "ActionConfig" where )" +
         engine::EqualsAnyBound("ConfigKey", count);
}

// The statement for count keys: built once for up to a dozen (a notice's labels), else into
// storage.
std::string_view SelectKeys(std::size_t count, std::string& storage) {
  constexpr std::size_t kKept = 12;
  static const std::vector<std::string> kTexts = [] {
    std::vector<std::string> texts(kKept + 1);
    for (std::size_t n = 1; n <= kKept; ++n) texts[n] = SelectKeysText(n);
    return texts;
  }();
  if (count <= kKept) return kTexts[count];
  storage = SelectKeysText(count);
  return storage;
}

// The label rule: a stored, non-empty text, else the name itself.
std::string LabelFrom(const vb::Variant& label, std::string_view name, bool* found) {
  const bool stored = label.IsString() && !std::get<std::string>(label.storage()).empty();
  if (found) *found = stored;
  if (!stored) return std::string(name);
  return std::get<std::string>(label.storage());
}

}  // namespace

const SettingsSnapshot::Entry* SettingsSnapshot::Find(std::string_view key) const {
  for (const Entry& entry : entries_) {
    if (entry.key.size() == key.size() && vb::EqualsText(entry.key, key)) return &entry;
  }
  return nullptr;
}

SettingsSnapshot::Entry* SettingsSnapshot::Find(std::string_view key) {
  return const_cast<Entry*>(std::as_const(*this).Find(key));
}

vb::Variant SettingsSnapshot::Value(std::string_view key) const {
  const Entry* entry = Find(key);
  if (entry == nullptr) {
    throw vb::ComError(kBadArgument, std::string(kSettingsSource),
                       fmt::format("The setting \"{}\" was not among those read.", key));
  }
  const Entry& e = *entry;
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
  snapshot.entries_.reserve(keys.size());
  std::vector<vb::Variant> stored;
  for (const std::string& key : keys) {
    if (snapshot.Find(key) != nullptr) continue;
    SettingsSnapshot::Entry& entry = snapshot.entries_.emplace_back();
    entry.key = key;
    if (const auto change = changes_.find(key); change != changes_.end()) {
      entry.changed = true;
      entry.value = change->second;
    } else {
      stored.emplace_back(key);
    }
  }
  if (stored.empty()) return snapshot;
  auto& engine = state_->Open(kSettingsSource).Engine();
  std::string text;
  for (auto& row : engine.Execute(SelectKeys(stored.size(), text), stored).rows) {
    SettingsSnapshot::Entry* entry = row[0].IsString()
                                         ? snapshot.Find(std::get<std::string>(row[0].storage()))
                                         : snapshot.Find(vb::TextOf(row[0]));
    if (entry == nullptr || entry->changed) continue;
    entry->type = std::move(row[1]);
    entry->text = std::move(row[2]);
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
