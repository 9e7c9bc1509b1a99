#pragma once
// The data server's global utility object: SQL literals, search-condition joining, collection
// filling and the query text of links into the web front end. Pure functions, no state.
#include <cstdint>
#include <string>
#include <string_view>

#include "vb/Collection.h"
#include "vb/Variant.h"

namespace kvdata {

class DataUtility {
 public:
  DataUtility() = delete;

  /// text as a complete SQL string literal: an apostrophe, the text with every apostrophe
  /// doubled, an apostrophe. Standard SQL, read alike by both dialects on both engines (no
  /// backslash escapes).
  [[nodiscard]] static std::string SqlText(std::string_view text);

  /// Joins condition to the search condition where: where becomes condition when it is empty,
  /// otherwise where + " and " + condition. A condition holding an "or" brings its own
  /// parentheses.
  static void AppendCondition(std::string& where, std::string_view condition);

  /// Adds item under key to collection (nothing raises 91; a key already present raises 457).
  static void AddToCollection(const vb::CollectionPtr& collection, std::string_view key,
                              vb::Variant item);

  /// The query part of a link into the web front end (what follows "default.asp?"):
  /// "LinkType=<kind>&DBID=<databaseNumber>&ActionID=<actionID>", then "&P4=<p4>", "&P5=<p5>",
  /// "&P6=<p6>" for those of the three further values that are not 0. Numbers in decimal.
  [[nodiscard]] static std::string LinkQuery(int32_t kind, int32_t databaseNumber, int32_t actionID,
                                             int32_t p4 = 0, int32_t p5 = 0, int32_t p6 = 0);
};

/// text between two quote characters, every quote inside doubled: the form in which both legacy
/// dialects read a value as data. quote is '\'' (SqlText) or '"' (the desktop dialect's texts).
[[nodiscard]] std::string QuotedText(std::string_view text, char quote);

}  // namespace kvdata
