#include "kvdata/engine/postgres/PgErrors.h"

#include <fmt/format.h>

#include <string>

#include "kvdata/Errors.h"
#include "kvdata/engine/EngineError.h"

namespace kvdata::engine::postgres {
namespace {

constexpr std::string_view kSerializationFailure = "40001";
constexpr std::string_view kDeadlockDetected = "40P01";

std::string_view Trimmed(const char* text) {
  std::string_view view = text != nullptr ? text : "";
  while (!view.empty() && (view.back() == '\n' || view.back() == ' ')) view.remove_suffix(1);
  return view;
}

}  // namespace

void RaiseStatementError(PGconn* conn, const PGresult* result, std::string_view sql) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const std::string code = state != nullptr ? state : "";
  const char* primary =
      result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  const std::string_view message = Trimmed(primary != nullptr ? primary : PQerrorMessage(conn));
  const bool transient = code == kSerializationFailure || code == kDeadlockDetected;
  throw EngineError(kEngineError, fmt::format("{} (SQLSTATE {}) Statement: {}", message, code, sql),
                    code, transient);
}

void RaiseOpenError(std::string_view host, std::string_view database, std::string_view reason) {
  throw vb::ComError(kOpenFailed, std::string(kConnectionSource),
                     fmt::format("Cannot open the PostgreSQL database \"{}\" on \"{}\": {}",
                                 database, host, Trimmed(std::string(reason).c_str())));
}

}  // namespace kvdata::engine::postgres
