#pragma once
// The history of actions (table ActionEvents): what happened, to which action, by whom, when.
#include <cstdint>
#include <memory>
#include <string_view>

namespace kvdata {

struct ServerState;

class EventLog {
 public:
  explicit EventLog(std::shared_ptr<const ServerState> state);

  /// Writes one event with the current profile's user ID (Null when no one is logged in) and
  /// the connection clock's present moment.
  void AddEvent(int32_t nEventCode, int32_t nActionID, std::string_view cEventText);

 private:
  std::shared_ptr<const ServerState> state_;
};

}  // namespace kvdata
