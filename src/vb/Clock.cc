#include "vb/Clock.h"

#include <ctime>

#include "vb/NeverDestroyed.h"

namespace vb {

Date SystemClock::Now() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Date::FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec);
}

std::shared_ptr<const Clock> SystemClock::Instance() {
  static const NeverDestroyed<std::shared_ptr<const Clock>> clock(
      std::make_shared<const SystemClock>());
  return clock.Get();
}

}  // namespace vb
