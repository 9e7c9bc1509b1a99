// The rights questions a client asks the Action object: the catalogue, the access test, the
// editing rights of one action, the delete permission and workgroup changes. The rules themselves
// live in Rights.cc; this file gathers what they need from the profile and the directory.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kvaction/Action.h"
#include "kvaction/action/MemoryRecord.h"
#include "kvaction/action/State.h"
#include "kvaction/rights/Rights.h"
#include "kvdata/DataServer.h"
#include "kvdata/UserProfile.h"
#include "kvdata/WorkgroupDirectory.h"
#include "vb/ComError.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

// The access test: a profile with every right holds any, else the rights of its list.
bool ProfileHolds(const kvdata::UserProfile& profile, int16_t right) {
  return profile.AllRights() || profile.HasRight(right);
}

// The logged-in user as the rights rules see him or her, from the profile read once. Each fact
// is read as a trapped step: without a profile the user has no ID and holds no right.
UserFacts FactsOf(Action& action, vb::ErrorTrap& trap) {
  UserFacts user;
  UserProfilePtr profile;
  trap.Assign(profile, [&] { return vb::Require(action.UserProfile()); });
  if (profile) {
    user.super = ProfileHolds(*profile, arSuperUser);
    user.userID = profile->UserID();
  }
  user.holds = [profile](int16_t right) { return profile && ProfileHolds(*profile, right); };
  return user;
}

// The one-record set of editingRights: 17 boolean fields, CloseAction left without a value
// (Null). Built in one step: clients ask before every edit form they show.
RecordsetPtr EditingRightsRecord(const EditingRights& rights, vb::ErrorTrap& trap) {
  static const ado::FieldList kFields = [] {
    auto fields = std::make_shared<std::vector<ado::FieldInfo>>();
    for (const std::string_view name : EditingRights::kFieldNames) {
      fields->push_back({std::string(name), ado::adBoolean, 0, ado::adFldUnspecified});
    }
    return fields;
  }();
  std::vector<vb::Variant> values;
  values.reserve(kFields->size());
  for (const std::optional<bool>& value : rights.InOrder()) {
    if (value) {
      values.emplace_back(*value);
    } else {
      values.emplace_back(vb::Null);
    }
  }
  RecordsetPtr rs;
  trap.Assign(rs, [&] { return MemoryRecord(kFields, std::move(values)); });
  return rs;
}

}  // namespace

vb::CollectionPtr Action::WorkgroupRights() { return WorkgroupRightsCollection(); }

bool Action::HasAccess(int16_t nAccessRight) {
  return ProfileHolds(*vb::Require(UserProfile()), nAccessRight);
}

RecordsetPtr Action::editingRights(std::string_view cDateClosed, std::string_view cDateCompleted,
                                   std::string_view cAssigneeID, std::string_view cOriginatorID,
                                   std::string_view cReferenceID) {
  vb::ErrorTrap trap;
  UserFacts user = FactsOf(*this, trap);
  trap.Assign(user.groupID, [&] { return vb::Require(UserProfile())->GroupID(); });
  const ActionFacts action{cDateClosed, cDateCompleted, cAssigneeID, cOriginatorID, cReferenceID};
  // The delete permission as PermitDeleteAction decides it, from the facts already read.
  const EditingRights rights = DecideEditingRights(
      user, action, state_->referenceID, PermitDelete(user, cOriginatorID), state_->locale);
  return EditingRightsRecord(rights, trap);
}

bool Action::PermitDeleteAction(std::string_view /*cAssigneeID*/, std::string_view cOriginatorID) {
  vb::ErrorTrap trap;
  return PermitDelete(FactsOf(*this, trap), cOriginatorID);
}

void Action::SetWorkgroup(std::string_view cUserID, int32_t nWorkgroupID) {
  vb::ErrorTrap trap;
  bool super = false;
  trap.Assign(super, [&] { return HasAccess(arSuperUser); });
  const auto workgroups = [&] {
    return vb::Require(vb::Require(state_->dataServer)->Workgroups());
  };
  int32_t current = 0;
  trap.Assign(current, [&] { return workgroups()->UserWorkgroup(cUserID); });
  if (nWorkgroupID == current) return;
  if (auto refusal = WorkgroupChangeRefusal(super, current, nWorkgroupID)) throw *refusal;

  trap.Run([&] { workgroups()->SetUserWorkgroup(cUserID, nWorkgroupID); });
  // The logged-in user's own move takes effect at once: the profile takes the new rights.
  bool own = false;
  trap.Assign(own, [&] { return vb::Require(UserProfile())->UserID() == cUserID; });
  if (own) {
    trap.Run([&] {
      vb::Require(UserProfile())->RightList(workgroups()->WorkgroupRightList(nWorkgroupID));
    });
  }
}

}  // namespace kvaction
