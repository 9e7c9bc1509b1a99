#include "kvaction/queries/ListGuards.h"

#include <mutex>
#include <string>
#include <unordered_set>

#include "kvdata/DataConnection.h"
#include "kvdata/schema/Schema.h"
#include "kvdata/sql/ReadOnlyCheck.h"
#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/NeverDestroyed.h"

namespace kvaction {
namespace {

constexpr int32_t kInvalidArgument = 5;  // "Invalid procedure call or argument"

[[noreturn]] void Refuse(std::string_view sortClause, std::string_view reason) {
  throw vb::ComError(kInvalidArgument, "Action.QueriedRecordset",
                     "Invalid sort clause \"" + std::string(sortClause) +
                         "\": " + std::string(reason) +
                         ". A sort clause lists columns of the actions table, each with an "
                         "optional asc or desc, separated by commas.");
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

/// One item: a column name, then optionally one blank-separated asc or desc.
void CheckItem(std::string_view sortClause, std::string_view item) {
  item = Trim(item);
  if (item.empty()) Refuse(sortClause, "an item is empty");
  std::string_view name = item;
  std::string_view direction;
  if (item.front() == '[') {
    const auto close = item.find(']');
    if (close == std::string_view::npos) Refuse(sortClause, "a bracketed name is not closed");
    name = item.substr(1, close - 1);
    direction = Trim(item.substr(close + 1));
    if (!direction.empty() && close + 1 < item.size() && item[close + 1] != ' ' &&
        item[close + 1] != '\t') {
      Refuse(sortClause, "a name is followed by more than asc or desc");
    }
  } else if (const auto blank = item.find_first_of(" \t"); blank != std::string_view::npos) {
    name = item.substr(0, blank);
    direction = Trim(item.substr(blank));
  }
  if (!kvdata::schema::IsActionsColumn(name)) {
    Refuse(sortClause, "\"" + std::string(name) + "\" is not a column of the actions table");
  }
  const std::string word = vb::LCase(direction);
  if (!word.empty() && word != "asc" && word != "desc") {
    Refuse(sortClause, "a name is followed by more than asc or desc");
  }
}

/// Engine texts already found to read only the actions table. The verdict follows from the text
/// alone, and a person's count and list reach the engine with the same text every time (their
/// values bound), so each text is checked once per process instead of before every call. A full
/// set starts over.
class CheckedTexts {
 public:
  [[nodiscard]] bool Contains(const std::string& text) {
    const std::lock_guard lock(mutex_);
    return texts_.contains(text);
  }
  void Add(std::string text) {
    const std::lock_guard lock(mutex_);
    if (texts_.size() >= kLimit) texts_.clear();
    texts_.insert(std::move(text));
  }

 private:
  static constexpr std::size_t kLimit = 1024;
  std::mutex mutex_;
  std::unordered_set<std::string> texts_;
};

void CheckOnce(std::string text) {
  static vb::NeverDestroyed<CheckedTexts> checked;
  if (checked.Get().Contains(text)) return;
  kvdata::sql::CheckReadsOnlyActions(text);
  checked.Get().Add(std::move(text));
}

}  // namespace

void CheckSortClause(std::string_view sortClause) {
  std::size_t start = 0;
  if (Trim(sortClause).empty()) return;
  while (true) {
    const auto comma = sortClause.find(',', start);
    CheckItem(sortClause,
              sortClause.substr(
                  start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return;
    start = comma + 1;
  }
}

ado::RecordsetPtr OpenActionsList(kvdata::DataConnection& connection, std::string_view statement,
                                  int32_t cursorType, int32_t cursorLocation, int32_t lockType) {
  if (!statement.empty()) CheckOnce(connection.EngineText(statement));
  return connection.OpenRecordset(statement, cursorType, cursorLocation, lockType);
}

}  // namespace kvaction
