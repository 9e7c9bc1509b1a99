#pragma once
// Watching actions: anyone who may see an action may follow it, and a workgroup may have leads
// who follow every action of its members. Watchers hear of a change as the parties do (the
// notices of app/Notify.h), never of their own changes, and only while they may still see it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/Session.h"

namespace app {

/// Whether the person userID may see the action: a person of the user directory (every signed-in
/// person reads every action; someone removed from the directory no longer does). Asked again
/// each time a notice is queued, so that a watcher who lost the right hears nothing more.
[[nodiscard]] bool MaySee(Session& session, std::string_view userID, int32_t actionID);

/// The signed-in person starts watching the action (again: nothing changes). Needs MaySee;
/// raises kNotFound for an unknown action.
void Watch(Session& session, int32_t actionID);
/// The person stops watching the action (not watching: nothing changes). A lead who watches
/// through a workgroup keeps doing so: that is the workgroup's setting.
void Unwatch(Session& session, int32_t actionID);

/// One person who hears of an action's changes besides its parties.
struct Watcher {
  std::string userID;
  std::string name;
  bool direct = false;     ///< watches the action itself
  std::string workgroups;  ///< leads these workgroups of the action's parties ("" for none)
};
/// Who watches the action, by user ID (anyone signed in may read it). Raises kNotFound.
[[nodiscard]] std::vector<Watcher> WatchersOf(Session& session, int32_t actionID);
/// The watchers as JSON, the API's and the command's --json form: [{"user", "name", "direct",
/// "leadOf"}].
[[nodiscard]] nlohmann::ordered_json WatchersJson(const std::vector<Watcher>& watchers);
/// The watchers WatchersJson wrote (a server's answer), read back.
[[nodiscard]] std::vector<Watcher> WatchersFrom(const nlohmann::json& json);
/// Whether the signed-in person watches the action itself.
[[nodiscard]] bool IsWatching(Session& session, int32_t actionID);
/// "Pat Lee (pat), Sam Roe (sam, lead of Staff)": the watchers as every front end names them.
[[nodiscard]] std::string WatcherWords(const Watcher& watcher);

/// The leads of a workgroup: they watch every action whose assignee or originator is one of its
/// members. Reading and setting need right 43 (workgroup maintenance); every lead must be a
/// user (kInvalidInput naming "leads" otherwise). Raises kNotFound for an unknown workgroup.
[[nodiscard]] std::vector<std::string> WorkgroupLeads(Session& session, int32_t groupID);
void SetWorkgroupLeads(Session& session, int32_t groupID, const std::vector<std::string>& leads);
/// A list of user IDs as people type it: separated by commas or blanks.
[[nodiscard]] std::vector<std::string> UserIDsOf(std::string_view text);

/// The addresses a notice of change to the action goes to: partyAddresses (the library's
/// assignee and originator, the person who made the change already left out), then every
/// watcher who may still see the action, each address once; never the person who made the
/// change, nor anyone without an address.
[[nodiscard]] std::vector<std::string> NoticeRecipients(Session& session, int32_t actionID,
                                                        std::vector<std::string> partyAddresses);

}  // namespace app
