#pragma once
// A process-wide value built on first use and never destroyed. The library's shared defaults
// (the system clock, the standard locales, the schema tables) are kept this way so that a
// client's objects destroyed while the process exits (its own statics, atexit handlers) can
// still open connections and run statements: a function-local static made during such an
// object's life would otherwise be destroyed before it, and be used after its end.
#include <utility>

namespace vb {

template <typename T>
class NeverDestroyed {
 public:
  template <typename... Args>
  explicit NeverDestroyed(Args&&... args) : value_(std::forward<Args>(args)...) {}
  // The value's destructor is never run: a union member is not destroyed with its owner.
  ~NeverDestroyed() {}  // NOLINT(modernize-use-equals-default): "= default" would be deleted
  NeverDestroyed(const NeverDestroyed&) = delete;
  NeverDestroyed& operator=(const NeverDestroyed&) = delete;

  [[nodiscard]] const T& Get() const { return value_; }
  [[nodiscard]] T& Get() { return value_; }

 private:
  union {
    T value_;
  };
};

}  // namespace vb
