// The database-wide mail settings, the per-user version-sensing flag and the web front end's URL.
#include "kvaction/Action.h"
#include "kvaction/action/State.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "vb/ComError.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

// The settings store of the object's data server; 91 without one.
kvdata::SettingsStore& Settings(const DataServerPtr& server) {
  return *vb::Require(vb::Require(server)->Settings());
}

}  // namespace

std::string Action::SMTPHost() const {
  return vb::CStr(Settings(state_->dataServer).Value("SMTPHost"), state_->locale);
}
void Action::SMTPHost(std::string_view value) {
  Settings(state_->dataServer).Value("SMTPHost", vb::Variant(value));
}

bool Action::SMTPDefault() const {
  return vb::CBool(Settings(state_->dataServer).Value("SMTPDefault"), state_->locale);
}
void Action::SMTPDefault(bool value) {
  Settings(state_->dataServer).Value("SMTPDefault", vb::Variant(value));
}

bool Action::AutoEmail() const {
  return vb::CBool(Settings(state_->dataServer).Value("AutoEmail"), state_->locale);
}
void Action::AutoEmail(bool value) {
  Settings(state_->dataServer).Value("AutoEmail", vb::Variant(value));
}

bool Action::VersionSensing() const {
  return vb::CBool(vb::Require(UserProfile())->Value("VersionSensing"), state_->locale);
}
void Action::VersionSensing(bool value) {
  vb::Require(UserProfile())->Value("VersionSensing", vb::Variant(value));
}

std::string Action::twWebURL() const { return state_->webURL; }
void Action::twWebURL(std::string_view value) { state_->webURL = value; }

}  // namespace kvaction
