#include "kvdata/DataUtility.h"

#include <array>
#include <utility>

#include <fmt/format.h>

#include "vb/ComError.h"

namespace kvdata {

std::string QuotedText(std::string_view text, char quote) {
  std::string literal;
  literal.reserve(text.size() + 2);
  literal += quote;
  for (const char c : text) {
    if (c == quote) literal += quote;
    literal += c;
  }
  literal += quote;
  return literal;
}

std::string DataUtility::SqlText(std::string_view text) { return QuotedText(text, '\''); }

void DataUtility::AppendCondition(std::string& where, std::string_view condition) {
  if (!where.empty()) where += " and ";
  where += condition;
}

void DataUtility::AddToCollection(const vb::CollectionPtr& collection, std::string_view key,
                                  vb::Variant item) {
  vb::Require(collection)->Add(std::move(item), key);
}

std::string DataUtility::LinkQuery(int32_t kind, int32_t databaseNumber, int32_t actionID,
                                   int32_t p4, int32_t p5, int32_t p6) {
  std::string query =
      fmt::format("LinkType={}&DBID={}&ActionID={}", kind, databaseNumber, actionID);
  const std::array<std::pair<std::string_view, int32_t>, 3> further = {
      {{"P4", p4}, {"P5", p5}, {"P6", p6}}};
  for (const auto& [name, value] : further) {
    if (value != 0) query += fmt::format("&{}={}", name, value);
  }
  return query;
}

}  // namespace kvdata
