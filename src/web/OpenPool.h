#pragma once
// Databases kept open between requests. Resuming a session on one costs a token check and a
// profile read instead of an open (on PostgreSQL, a new server process per request). Sessions stay
// rows of the database, checked on every request, so several servers still share them.
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "kvaction/Action.h"

namespace web {

/// Idle open databases of one server; safe to use from every thread. Each request takes one
/// (or opens a new one) and gives it back when it ended cleanly.
class OpenPool {
 public:
  explicit OpenPool(size_t capacity) : capacity_(capacity) {}

  /// An idle open database, or nullptr when none is kept.
  [[nodiscard]] std::unique_ptr<kvaction::Action> Take() {
    const std::lock_guard lock(mutex_);
    if (idle_.empty()) return nullptr;
    auto action = std::move(idle_.back());
    idle_.pop_back();
    return action;
  }

  /// How many open databases wait for a request.
  [[nodiscard]] size_t Idle() {
    const std::lock_guard lock(mutex_);
    return idle_.size();
  }

  /// Keeps action for a later request; closes it when capacity idle ones are kept already.
  void Give(std::unique_ptr<kvaction::Action> action) {
    if (!action) return;
    const std::lock_guard lock(mutex_);
    if (idle_.size() < capacity_) idle_.push_back(std::move(action));
  }

 private:
  const size_t capacity_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<kvaction::Action>> idle_;
};

}  // namespace web
