#pragma once
// The host's Collection: ordered items, each optionally under a unique string key.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vb/Variant.h"

namespace vb {

class Collection {
 public:
  /// Appends item under key (no key when empty). A key already present (compared without regard
  /// to letter case) raises 457.
  void Add(Variant item, std::string_view key = {});
  /// Item by 1-based position; out of range raises 9 "Subscript out of range".
  [[nodiscard]] const Variant& Item(int32_t position) const;
  /// Item by key; a missing key raises 5 "Invalid procedure call or argument".
  [[nodiscard]] const Variant& Item(std::string_view key) const;
  /// Removes by position (9 when out of range) or key (5 when missing).
  void Remove(int32_t position);
  void Remove(std::string_view key);
  [[nodiscard]] int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  /// The key of the item at a 1-based position ("" when it has none).
  [[nodiscard]] const std::string& KeyAt(int32_t position) const;
  [[nodiscard]] bool Contains(std::string_view key) const;

 private:
  struct Entry {
    std::string key;
    Variant item;
  };
  [[nodiscard]] std::size_t IndexOf(std::string_view key) const;       // size_t(-1) when missing
  [[nodiscard]] std::size_t CheckedIndex(int32_t position) const;      // raises 9 when out of range
  [[nodiscard]] std::size_t CheckedIndex(std::string_view key) const;  // raises 5 when missing
  std::vector<Entry> items_;
};

using CollectionPtr = std::shared_ptr<Collection>;

}  // namespace vb
