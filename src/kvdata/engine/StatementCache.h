#pragma once
// A bounded cache of prepared statements keyed by their text: the most recently used stay.
#include <cstddef>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace kvdata::engine {

/// Hashes texts and views alike, so that a lookup by view builds no string.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

template <class Statement>
class StatementCache {
 public:
  explicit StatementCache(std::size_t capacity) : capacity_(capacity) {}

  /// The statement prepared for text, or nullptr; a hit becomes the most recently used.
  [[nodiscard]] Statement* Find(std::string_view text) {
    const auto it = index_.find(text);
    if (it == index_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, it->second);
    return &it->second->second;
  }

  /// Adds a statement, replacing one kept for the same text; returns the least recently used
  /// one when the cache was full (or the one replaced), so that the caller can release what the
  /// engine holds for it.
  std::optional<Statement> Add(std::string text, Statement statement, Statement** added) {
    if (const auto it = index_.find(text); it != index_.end()) {
      auto replaced = std::move(it->second->second);
      it->second->second = std::move(statement);
      entries_.splice(entries_.begin(), entries_, it->second);
      *added = &entries_.front().second;
      return replaced;
    }
    entries_.emplace_front(text, std::move(statement));
    index_[std::move(text)] = entries_.begin();
    *added = &entries_.front().second;
    if (entries_.size() <= capacity_) return std::nullopt;
    auto evicted = std::move(entries_.back());
    index_.erase(evicted.first);
    entries_.pop_back();
    return std::move(evicted.second);
  }

  /// Drops every statement (after a schema change). Returns them for release.
  std::list<std::pair<std::string, Statement>> TakeAll() {
    index_.clear();
    return std::exchange(entries_, {});
  }

 private:
  std::size_t capacity_;
  std::list<std::pair<std::string, Statement>> entries_;
  std::unordered_map<std::string, typename std::list<std::pair<std::string, Statement>>::iterator,
                     TextHash, std::equal_to<>>
      index_;
};

}  // namespace kvdata::engine
