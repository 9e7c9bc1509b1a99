// The Action object's life: creation, termination, the clock and locale it works with, and the
// accessors that hand out its collaborators.
#include "kvaction/Action.h"

#include <utility>

#include "kvaction/Version.h"
#include "kvaction/action/State.h"
#include "kvaction/action/VersionText.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "kvuser/User.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

// The schema version this release works with; OpenConnection refuses older databases.
constexpr std::string_view kRequiredDatabaseVersion = "1.003";

}  // namespace

Action::Action() : state_(std::make_unique<State>()) {}

// Termination: every step runs even when an earlier one failed, and nothing escapes, because a
// client releasing its object has no one left to report to.
Action::~Action() {
  if (!state_) return;  // moved from
  State& s = *state_;
  vb::ErrorTrap trap;
  trap.Run([&] {
    if (const auto settings = vb::Require(s.dataServer)->Settings()) settings->Save();
  });
  s.user.reset();
  trap.Run([&] { vb::Require(s.dataServer)->CloseDatabase(); });
  s.dataServer.reset();
}

Action::Action(Action&& other) noexcept = default;

Action& Action::operator=(Action&& other) noexcept {
  if (this != &other) {
    // The object given up terminates as if released.
    const Action released(std::move(*this));
    state_ = std::move(other.state_);
  }
  return *this;
}

void Action::SetClock(std::shared_ptr<const vb::Clock> clock) {
  state_->clock = std::move(clock);
  if (state_->dataServer) state_->dataServer->SetClock(state_->clock);
}

void Action::SetLocale(const vb::Locale& locale) {
  state_->locale = locale;
  if (state_->dataServer) state_->dataServer->SetLocale(locale);
}

const vb::Clock& Action::Clock() const { return *state_->clock; }

const vb::Locale& Action::Locale() const { return state_->locale; }

// Reserved for extensions: every command is accepted and the arguments stay as they were.
void Action::CallProcedure(std::string_view /*cCommand*/, vb::Variant* /*Parameters*/,
                           vb::Variant* /*Results*/) {}

std::string Action::RequiredDatabaseVersion() const {
  return std::string(kRequiredDatabaseVersion);
}

std::string Action::Version() const {
  return VersionText(build::kMajor, build::kMinor, build::kRevision);
}

DataServerPtr Action::DataServer() const { return state_->dataServer; }

UserPtr Action::User() const { return state_->user; }

UserProfilePtr Action::UserProfile() const { return vb::Require(state_->dataServer)->Profile(); }

}  // namespace kvaction
