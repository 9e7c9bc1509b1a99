#pragma once
// Saved queries turned into search conditions over the actions table, in the desktop or the
// server dialect, and the statement that lists the actions of a saved query.
#include <cstdint>
#include <string>
#include <string_view>

#include "ado/Recordset.h"
#include "kvdata/sql/Translator.h"
#include "vb/Clock.h"
#include "vb/Locale.h"

namespace kvaction {

/// Where a saved query's dates and today come from.
struct FilterContext {
  kvdata::sql::Dialect dialect;
  const vb::Clock& clock;    ///< today, for the server dialect's "due within N days"
  const vb::Locale& locale;  ///< text forms of values and dates
};

/// The search condition (without "where") of a saved query for the user userID. definition is the
/// query's definition record set; when it is nothing or at EOF the condition is the user's open
/// actions. AssignedTo, ApplyStatus and Status are read tolerantly (a missing, Null or
/// unconvertible value counts as 0, false, 0); any other failure (a missing field, a DueDays
/// outside the 16-bit range: 6) is passed on and leaves the definition open. After a successful
/// read the definition is closed. The result may be empty (a query without criteria).
[[nodiscard]] std::string QueryCondition(const ado::RecordsetPtr& definition,
                                         std::string_view userID, const FilterContext& context);

/// The statement that lists the actions matching condition, narrowed to referenceID by the query
/// modifier (an EnumQueryModifier value; the reference is a quoted literal), sorted by sortClause
/// when it is not empty.
[[nodiscard]] std::string QueriedStatement(std::string condition, std::string_view referenceID,
                                           int16_t modifier, std::string_view sortClause);

}  // namespace kvaction
