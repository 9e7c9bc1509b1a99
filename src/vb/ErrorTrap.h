#pragma once
// Continue-on-error mode: run steps, keep the last failure as the pending error, go on.
#include <optional>
#include <string_view>
#include <utility>

#include "vb/ComError.h"

namespace vb {

/// Runs the steps of an operation in continue-on-error mode. A step that throws does not stop the
/// operation: its error becomes the pending error (the last failure wins; later successes do not
/// clear it) and whatever the step was to assign keeps its value. Any std::exception that is not a
/// ComError is kept as a runtime error 5 with its message, so nothing escapes unconverted.
/// This is the only place in the library that swallows errors.
class ErrorTrap {
 public:
  /// Runs step(); returns true when it succeeded, false when its error became the pending error.
  template <class Step>
  bool Run(Step&& step) {
    try {
      std::forward<Step>(step)();
      return true;
    } catch (const ComError& e) {
      pending_ = e;
    } catch (const std::exception& e) {
      pending_ = ComError(kInvalidProcedureCall, std::string(kRuntimeSource), e.what());
    }
    return false;
  }

  /// Assigns target = compute() when compute succeeds; target keeps its value otherwise.
  template <class T, class Compute>
  bool Assign(T& target, Compute&& compute) {
    return Run([&] { target = std::forward<Compute>(compute)(); });
  }

  [[nodiscard]] bool HasPending() const noexcept { return pending_.has_value(); }
  [[nodiscard]] const std::optional<ComError>& Pending() const noexcept { return pending_; }
  void Clear() noexcept { pending_.reset(); }

  /// Re-raises the pending error unchanged (number, source, description), if there is one.
  void RaiseIfPending() const {
    if (pending_) throw *pending_;
  }
  /// Re-raises the pending error with its source replaced by prefix + its own source.
  void RaiseIfPending(std::string_view sourcePrefix) const {
    if (pending_) throw pending_->WithSourcePrefix(sourcePrefix);
  }

 private:
  std::optional<ComError> pending_;
};

}  // namespace vb
