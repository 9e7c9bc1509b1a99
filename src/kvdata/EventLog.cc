#include "kvdata/EventLog.h"

#include "kvdata/ServerState.h"

namespace kvdata {

EventLog::EventLog(std::shared_ptr<const ServerState> state) : state_(std::move(state)) {}

void EventLog::AddEvent(int32_t nEventCode, int32_t nActionID, std::string_view cEventText) {
  auto& connection = state_->Open(kEventSource);
  const auto rs = connection.OpenRecordset("select * from ActionEvents where EventID=0");
  rs->AddNew(
      {"EventCode", "ActionID", "EventText", "UserID", "EventTime"},
      {nEventCode, nActionID, cEventText, state_->CurrentUserID(), connection.Clock().Now()});
}

}  // namespace kvdata
