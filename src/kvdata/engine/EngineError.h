#pragma once
// The error an engine raises when a statement fails: a ComError (kEngineError) that also keeps
// the engine's own error code, so callers can tell a transient failure from a real one.
#include <string>

#include "vb/ComError.h"

namespace kvdata::engine {

class EngineError : public vb::ComError {
 public:
  /// number and description as for any ComError; source is the connection's; code is the
  /// engine's (SQLSTATE on PostgreSQL, the extended result code on SQLite).
  EngineError(int32_t number, std::string description, std::string code, bool transient);

  [[nodiscard]] const std::string& code() const noexcept { return code_; }
  /// The statement lost a race with another connection (serialization failure, deadlock) and
  /// may succeed when its whole transaction is run again.
  [[nodiscard]] bool transient() const noexcept { return transient_; }

 private:
  std::string code_;
  bool transient_;
};

}  // namespace kvdata::engine
