#pragma once
// The database-wide settings and display labels (table ActionConfig). Changes are kept in memory
// until Save; other data servers see them only after that.
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "vb/Convert.h"
#include "vb/Variant.h"

namespace kvdata {

struct ServerState;

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
  /// Writes the changes kept in memory to the database, all or none.
  void Save();

 private:
  struct NoCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
      return vb::CompareText(a, b) < 0;
    }
  };
  std::shared_ptr<const ServerState> state_;
  std::map<std::string, vb::Variant, NoCase> changes_;
};

/// The settings key under which the label of a name is kept.
[[nodiscard]] std::string LabelKey(std::string_view name);

}  // namespace kvdata
