// Adding many actions in one transaction: each row goes through Add with its checks, every row
// is tried so that all problems are reported at once, and any problem rolls everything back.
#include "app/Import.h"

#include "app/Errors.h"
#include "app/Internal.h"
#include "kvaction/Action.h"
#include "kvdata/DataConnection.h"
#include "vb/ComError.h"

namespace app {

ImportResult ImportActions(Session& session, const std::vector<FieldTexts>& rows) {
  internal::Require(session, kvaction::arAddActions, "adding actions");
  ImportResult result;
  kvdata::DataConnection::Transaction transaction(internal::Connection(session));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    try {
      result.added.push_back(Add(session, rows[i]));
    } catch (const vb::ComError& e) {
      result.problems.push_back({i, e.description()});
      // A failure of the database itself may have spoilt the transaction: later rows would
      // only report that, so the import stops here.
      if (KindOf(e) == ErrorKind::Other) break;
    }
  }
  if (!result.problems.empty()) {
    result.added.clear();
    return result;  // the transaction rolls back as it goes
  }
  transaction.Commit();
  return result;
}

}  // namespace app
