#include "kvdata/EventLog.h"

#include "kvdata/DataConnection.h"
#include "kvdata/ServerState.h"
#include "kvdata/engine/Engine.h"

namespace kvdata {
namespace {

// One insert with bound values: a history row needs no record set to be added through, and the
// statement is prepared once for every event.
constexpr std::string_view kInsertEvent =
    R"(INSERT INTO "ActionEvents" ("EventCode", "ActionID", "EventText", "UserID", "EventTime") )"
    "VALUES (?, ?, ?, ?, ?)";

}  // namespace

EventLog::EventLog(std::shared_ptr<const ServerState> state) : state_(std::move(state)) {}

void EventLog::AddEvent(int32_t nEventCode, int32_t nActionID, std::string_view cEventText) {
  auto& connection = state_->Open(kEventSource);
  const vb::Variant values[] = {nEventCode, nActionID, cEventText, state_->CurrentUserID(),
                                connection.Clock().Now()};
  (void)connection.Engine().Execute(kInsertEvent, values);
}

}  // namespace kvdata
