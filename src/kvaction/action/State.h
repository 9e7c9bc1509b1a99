#pragma once
// The members an Action object keeps between calls, shared by the subsystem files that implement
// its operations.
#include <cstdint>
#include <memory>
#include <string>

#include "kvaction/Action.h"
#include "vb/Clock.h"
#include "vb/Locale.h"

namespace kvaction {

struct Action::State {
  DataServerPtr dataServer;
  UserPtr user;
  std::string referenceID;
  int16_t queryModifier = qmApplyReferenceID;
  std::string webURL;
  std::shared_ptr<const vb::Clock> clock = vb::SystemClock::Instance();
  vb::Locale locale = vb::Locale::EnUS();
};

}  // namespace kvaction
