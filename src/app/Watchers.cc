#include "app/Watchers.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "app/Admin.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Kept.h"
#include "kvaction/Enums.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"
#include "vb/Convert.h"

namespace app {
namespace {

using kvdata::DataUtility;

std::string Column(ado::Recordset& rows, std::string_view column) {
  return vb::TextOf(rows[column].Value());
}

// The workgroups of the action's assignee and originator (people no longer in the directory
// have none).
std::set<int32_t> PartyWorkgroups(Session& session, ado::Recordset& action) {
  std::set<int32_t> groups;
  for (const std::string_view column : {"AssigneeID", "OriginatorID"}) {
    const std::string userID = Column(action, column);
    if (userID.empty()) continue;
    const auto rs = internal::ReadRows(
        session, "select GroupID from Users where UserID = " + DataUtility::SqlText(userID));
    if (!rs->IsEOF() && internal::IsSet(*rs, "GroupID")) {
      groups.insert(vb::CLng((*rs)["GroupID"].Value()));
    }
  }
  return groups;
}

std::string GroupName(Session& session, int32_t groupID) {
  const auto rs = internal::ReadRows(
      session, fmt::format("select GroupName from ActionGroups where GroupID = {}", groupID));
  return rs->IsEOF() ? fmt::format("{}", groupID) : Column(*rs, "GroupName");
}

// Watchers by user ID, in the order of their IDs: those of the action itself, then the leads of
// its parties' workgroups.
std::map<std::string, Watcher> WatchersByID(Session& session, int32_t actionID) {
  const auto action = internal::Row(session, actionID);
  std::map<std::string, Watcher> watchers;
  const auto direct = internal::ReadRows(
      session, fmt::format("select UserID from ActionWatchers where ActionID = {}", actionID));
  for (; !direct->IsEOF(); direct->MoveNext()) {
    const std::string userID = Column(*direct, "UserID");
    Watcher& watcher = watchers[userID];
    watcher.userID = userID;
    watcher.direct = true;
  }
  for (const int32_t group : PartyWorkgroups(session, *action)) {
    const auto leads = internal::ReadRows(
        session, fmt::format("select UserID from ActionWatchers where GroupID = {}", group));
    for (; !leads->IsEOF(); leads->MoveNext()) {
      const std::string userID = Column(*leads, "UserID");
      Watcher& watcher = watchers[userID];
      watcher.userID = userID;
      if (!watcher.workgroups.empty()) watcher.workgroups += ", ";
      watcher.workgroups += GroupName(session, group);
    }
  }
  return watchers;
}

// The address of a user of the directory ("" for none, or for someone no longer there).
std::string AddressOf(Session& session, std::string_view userID) {
  const auto rs = internal::ReadRows(
      session, "select Email from Users where UserID = " + DataUtility::SqlText(userID));
  return rs->IsEOF() ? std::string() : internal::TrimBlanks(Column(*rs, "Email"));
}

void RequireWorkgroup(Session& session, int32_t groupID, std::string_view what) {
  internal::Require(session, kvaction::arChangeWorkgroups, what);
  if (!internal::WorkgroupExists(session, groupID)) {
    throw NotFound("workgroup", "ID", fmt::format("{}", groupID));
  }
}

}  // namespace

bool MaySee(Session& session, std::string_view userID, int32_t actionID) {
  (void)actionID;  // every person of the directory reads every action
  return internal::Count(session, "select count(*) as n from Users where UserID = " +
                                      DataUtility::SqlText(userID)) > 0;
}

void Watch(Session& session, int32_t actionID) {
  const auto row = internal::Row(session, actionID);
  if (!MaySee(session, session.userID(), actionID)) {
    throw RefusalText(
        fmt::format("Refused: you may not see action {}.", internal::NumberText(session, *row)));
  }
  if (IsWatching(session, actionID)) return;
  const auto rs = internal::WritableRows(session, "select * from ActionWatchers where WatchID = 0");
  rs->AddNew({"ActionID", "UserID", "Created"},
             {vb::Variant(actionID), vb::Variant(session.userID()),
              vb::Variant(session.options().clock->Now())});
}

void Unwatch(Session& session, int32_t actionID) {
  (void)internal::Row(session, actionID);
  (void)internal::Connection(session).Execute(
      fmt::format("delete from ActionWatchers where ActionID = {} and UserID = {}", actionID,
                  DataUtility::SqlText(session.userID())));
}

// Every action page shows both: kept between changes of the data.
bool IsWatching(Session& session, int32_t actionID) {
  return internal::Kept<bool>(
      session, fmt::format("watching {} by {}", actionID, session.userID()), [&] {
        return internal::Count(
                   session,
                   fmt::format("select count(*) as n from ActionWatchers where ActionID = {} and "
                               "UserID = {}",
                               actionID, DataUtility::SqlText(session.userID()))) > 0;
      });
}

std::vector<Watcher> WatchersOf(Session& session, int32_t actionID) {
  return internal::Kept<std::vector<Watcher>>(
      session, fmt::format("watchers of {}", actionID), [&] {
        std::vector<Watcher> watchers;
        for (auto& [userID, watcher] : WatchersByID(session, actionID)) {
          try {
            watcher.name = internal::UserName(session, userID);
          } catch (const vb::ComError&) {
            continue;  // no longer a user: no longer a watcher either
          }
          watchers.push_back(std::move(watcher));
        }
        return watchers;
      });
}

nlohmann::ordered_json WatchersJson(const std::vector<Watcher>& watchers) {
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const Watcher& watcher : watchers) {
    all.push_back({{"user", watcher.userID},
                   {"name", watcher.name},
                   {"direct", watcher.direct},
                   {"leadOf", watcher.workgroups}});
  }
  return all;
}

std::vector<Watcher> WatchersFrom(const nlohmann::json& json) {
  std::vector<Watcher> watchers;
  for (const auto& item : json) {
    watchers.push_back({item.at("user").get<std::string>(), item.at("name").get<std::string>(),
                        item.at("direct").get<bool>(), item.at("leadOf").get<std::string>()});
  }
  return watchers;
}

std::string WatcherWords(const Watcher& watcher) {
  std::string words = fmt::format("{} ({}", watcher.name, watcher.userID);
  if (!watcher.workgroups.empty()) words += ", lead of " + watcher.workgroups;
  return words + ")";
}

std::vector<std::string> WorkgroupLeads(Session& session, int32_t groupID) {
  RequireWorkgroup(session, groupID, "reading a workgroup's leads");
  std::vector<std::string> leads;
  const auto rs = internal::ReadRows(
      session,
      fmt::format("select UserID from ActionWatchers where GroupID = {} order by UserID", groupID));
  for (; !rs->IsEOF(); rs->MoveNext()) leads.push_back(Column(*rs, "UserID"));
  return leads;
}

void SetWorkgroupLeads(Session& session, int32_t groupID, const std::vector<std::string>& leads) {
  RequireWorkgroup(session, groupID, "changing a workgroup's leads");
  std::vector<std::string> wanted;
  for (const std::string& lead : leads) {
    if (internal::Count(session, "select count(*) as n from Users where UserID = " +
                                     DataUtility::SqlText(lead)) == 0) {
      throw Invalid("leads", lead, "the ID of a user");
    }
    if (std::find(wanted.begin(), wanted.end(), lead) == wanted.end()) wanted.push_back(lead);
  }
  auto& connection = internal::Connection(session);
  kvdata::RunInTransaction(connection, [&] {
    (void)connection.Execute(fmt::format("delete from ActionWatchers where GroupID = {}", groupID));
    const auto rs =
        internal::WritableRows(connection, "select * from ActionWatchers where WatchID = 0");
    for (const std::string& lead : wanted) {
      rs->AddNew({"GroupID", "UserID", "Created"}, {vb::Variant(groupID), vb::Variant(lead),
                                                    vb::Variant(session.options().clock->Now())});
    }
    internal::Record(session, evWorkgroupChanged, 0,
                     fmt::format("Workgroup {} leads set to: {}", groupID,
                                 wanted.empty() ? std::string("none")
                                                : fmt::format("{}", fmt::join(wanted, ", "))));
  });
}

std::vector<std::string> UserIDsOf(std::string_view text) {
  std::vector<std::string> ids;
  std::string current;
  for (const char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!current.empty()) ids.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) ids.push_back(std::move(current));
  return ids;
}

std::vector<std::string> NoticeRecipients(Session& session, int32_t actionID,
                                          std::vector<std::string> partyAddresses) {
  std::vector<std::string> to;
  const std::string myAddress = AddressOf(session, session.userID());
  const auto add = [&](std::string address) {
    if (address.empty() || vb::EqualsText(address, myAddress)) return;
    const bool known = std::any_of(to.begin(), to.end(), [&](const std::string& given) {
      return vb::EqualsText(given, address);
    });
    if (!known) to.push_back(std::move(address));
  };
  for (std::string& address : partyAddresses) add(std::move(address));
  for (const auto& [userID, watcher] : WatchersByID(session, actionID)) {
    if (vb::EqualsText(userID, session.userID()) || !MaySee(session, userID, actionID)) continue;
    add(AddressOf(session, userID));
  }
  return to;
}

}  // namespace app
