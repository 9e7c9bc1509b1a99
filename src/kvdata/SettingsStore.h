#pragma once
// The database-wide settings and display labels (table ActionConfig). Changes are kept in memory
// until Save; other data servers see them only after that.
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vb/Convert.h"
#include "vb/Variant.h"

namespace kvdata {

struct ServerState;

/// Orders keys as the settings table compares them: letter case ignored.
struct SettingsKeyLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return vb::CompareText(a, b) < 0;
  }
};

/// The values under a few keys, read together (SettingsStore::Read): what the store answered
/// at that moment, for a notice or a page that needs several settings or labels at once.
class SettingsSnapshot {
 public:
  /// As SettingsStore::Value at the time of the read. Raises kBadArgument for a key that was
  /// not read, and as the store does for a stored value that cannot be read (only that key).
  [[nodiscard]] vb::Variant Value(std::string_view key) const;
  /// As SettingsStore::Label, for a name whose LabelKey was read.
  [[nodiscard]] std::string Label(std::string_view name, bool* found = nullptr) const;

 private:
  friend class SettingsStore;
  // Per key read: the unsaved change, or the stored type code and text (both Empty when the
  // key has no row).
  struct Entry {
    std::string key;
    bool changed = false;
    vb::Variant value;
    vb::Variant type;
    vb::Variant text;
  };
  /// The entry of key (letter case ignored), or nothing. A snapshot holds a few keys: a scan
  /// that compares lengths first beats a tree ordered without regard to letter case.
  [[nodiscard]] const Entry* Find(std::string_view key) const;
  [[nodiscard]] Entry* Find(std::string_view key);
  std::vector<Entry> entries_;
};

class SettingsStore {
 public:
  explicit SettingsStore(std::shared_ptr<const ServerState> state);

  /// The value under key (letter case ignored), with the type it was stored with: this store's
  /// unsaved change when there is one, else the saved value; Empty when never set.
  [[nodiscard]] vb::Variant Value(std::string_view key) const;
  /// Sets the value under key in memory (Empty removes it on Save).
  void Value(std::string_view key, const vb::Variant& value);
  /// The display label of a field name or role word: the label stored under "Label." + name, or
  /// the name itself when none is stored. found (when given) is set to whether a stored label
  /// was found; its value on entry does not matter.
  [[nodiscard]] std::string Label(std::string_view name, bool* found = nullptr) const;
  /// The values under keys, as Value gives them, read from the database in one statement (a
  /// notice needs nine labels: one round trip instead of nine).
  [[nodiscard]] SettingsSnapshot Read(std::span<const std::string> keys) const;
  /// Writes the changes kept in memory to the database, all or none.
  void Save();

 private:
  std::shared_ptr<const ServerState> state_;
  std::map<std::string, vb::Variant, SettingsKeyLess> changes_;
};

/// The settings key under which the label of a name is kept.
[[nodiscard]] std::string LabelKey(std::string_view name);

}  // namespace kvdata
