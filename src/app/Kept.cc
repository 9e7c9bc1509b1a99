#include "app/Kept.h"

#include "app/Session.h"
#include "kvaction/Action.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/sql/Translator.h"

namespace app::internal {

std::optional<KeptKey> KeyOf(kvdata::DataConnection& connection, std::string what) {
  if (connection.InTransaction()) return std::nullopt;
  const vb::Clock& clock = connection.Clock();
  const bool serverDialect = connection.Dialect() == kvdata::sql::Dialect::Server;
  return KeptKey{connection.ChangeStamp(), (serverDialect ? clock.Now() : clock.Today()).Serial(),
                 std::move(what)};
}

kvdata::DataConnection* ConnectionOf(Session& session) {
  const auto server = session.action().DataServer();
  return server ? server->Connection().get() : nullptr;
}

}  // namespace app::internal
