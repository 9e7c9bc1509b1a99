#pragma once
// A second look at the lists and counts the library builds, after they are rendered for the
// engine: whatever a value did to the text, the statement may only read the actions table.
#include <string_view>

namespace kvdata::sql {

/// Checks an engine text (as Translate renders it, for either engine) that is to read the actions
/// table only: one select, from the one table actions (plain or quoted name), no join, union,
/// subquery or second table, and no function call beyond count() and what the renderer writes
/// for the dialects' date and null functions (COALESCE, datetime, CAST). Raises a vb::ComError
/// (kvdata::kSqlError) naming the statement otherwise.
void CheckReadsOnlyActions(std::string_view text);

}  // namespace kvdata::sql
