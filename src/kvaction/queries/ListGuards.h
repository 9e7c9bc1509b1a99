#pragma once
// Guards on the lists and counts of actions: the sort clause a client hands over is checked to be
// what its name says, and the statement built is checked to read only the actions table.
#include <cstdint>
#include <string_view>

#include "ado/Recordset.h"

namespace kvdata {
class DataConnection;
}

namespace kvaction {

/// Checks that sortClause is a comma-separated list of columns of the actions table (a plain or
/// [bracketed] name, any letter case), each followed by an optional asc or desc; blanks around
/// the parts are free. An empty clause passes. Anything else (expressions, function calls,
/// subqueries, numbers, quotes, a second statement) raises error 5 ("Invalid procedure call or
/// argument") with source "Action.QueriedRecordset" and a description saying what a sort clause may
/// hold.
void CheckSortClause(std::string_view sortClause);

/// Opens a list or count the library built, after checking that its engine text reads only the
/// actions table (kvdata::sql::CheckReadsOnlyActions). An empty statement is passed on as it is.
[[nodiscard]] ado::RecordsetPtr OpenActionsList(kvdata::DataConnection& connection,
                                                std::string_view statement, int32_t cursorType,
                                                int32_t cursorLocation, int32_t lockType);

}  // namespace kvaction
