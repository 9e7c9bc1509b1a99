#include "vb/Collection.h"

#include "vb/ComError.h"
#include "vb/Convert.h"

namespace vb {
namespace {

constexpr std::size_t kMissing = static_cast<std::size_t>(-1);

}  // namespace

void Collection::Add(Variant item, std::string_view key) {
  if (!key.empty() && IndexOf(key) != kMissing) throw ComError::Runtime(kDuplicateKey);
  items_.push_back({std::string(key), std::move(item)});
}

const Variant& Collection::Item(int32_t position) const {
  return items_[CheckedIndex(position)].item;
}

const Variant& Collection::Item(std::string_view key) const {
  return items_[CheckedIndex(key)].item;
}

void Collection::Remove(int32_t position) {
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(CheckedIndex(position)));
}

void Collection::Remove(std::string_view key) {
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(CheckedIndex(key)));
}

const std::string& Collection::KeyAt(int32_t position) const {
  return items_[CheckedIndex(position)].key;
}

bool Collection::Contains(std::string_view key) const { return IndexOf(key) != kMissing; }

std::size_t Collection::IndexOf(std::string_view key) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (!items_[i].key.empty() && EqualsText(items_[i].key, key)) return i;
  }
  return kMissing;
}

std::size_t Collection::CheckedIndex(int32_t position) const {
  if (position < 1 || position > Count()) throw ComError::Runtime(kSubscriptOutOfRange);
  return static_cast<std::size_t>(position - 1);
}

std::size_t Collection::CheckedIndex(std::string_view key) const {
  const std::size_t index = IndexOf(key);
  if (index == kMissing) throw ComError::Runtime(kInvalidProcedureCall);
  return index;
}

}  // namespace vb
