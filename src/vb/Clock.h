#pragma once
// Where "now" and "today" come from: the system clock, or a fixed one that tests pin.
#include <memory>

#include "vb/Date.h"

namespace vb {

class Clock {
 public:
  virtual ~Clock() = default;
  /// The current local date and time.
  [[nodiscard]] virtual Date Now() const = 0;
  /// Today's date without time of day.
  [[nodiscard]] Date Today() const { return Now().DateOnly(); }
};

/// The machine's local time.
class SystemClock final : public Clock {
 public:
  [[nodiscard]] Date Now() const override;
  /// The shared system clock, the default of every object that needs one.
  [[nodiscard]] static std::shared_ptr<const Clock> Instance();
};

/// A clock that always says the same moment.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(Date now) : now_(now) {}
  [[nodiscard]] Date Now() const override { return now_; }

 private:
  Date now_;
};

}  // namespace vb
