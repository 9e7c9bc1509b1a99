// Adding many actions in one transaction: each row goes through Add with its checks, every row
// is tried so that all problems are reported at once, and any problem rolls everything back.
#include "app/Import.h"

#include "app/Errors.h"
#include "app/Internal.h"
#include "kvaction/Action.h"
#include "kvdata/DataConnection.h"
#include "vb/ComError.h"

namespace app {
namespace {

// Whether a spreadsheet would take the text behind its leading apostrophes for a formula.
bool FormulaBehindApostrophes(std::string_view text) {
  const auto start = text.find_first_not_of('\'');
  return start != std::string_view::npos &&
         std::string_view("=+-@\t\r").find(text[start]) != std::string_view::npos;
}

}  // namespace

std::string ToCell(std::string_view text) {
  return FormulaBehindApostrophes(text) ? "'" + std::string(text) : std::string(text);
}

std::string FromCell(std::string_view cell) {
  // Written by ToCell only when the apostrophes lead to such a character: any other cell, one
  // starting with an apostrophe included, is the text itself.
  if (cell.starts_with('\'') && FormulaBehindApostrophes(cell)) cell.remove_prefix(1);
  return std::string(cell);
}

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
