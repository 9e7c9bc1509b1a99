#pragma once
// The statements behind the alert count, the list of due actions and the alert flag.
#include <cstdint>
#include <string>
#include <string_view>

#include "kvdata/sql/Translator.h"
#include "vb/Date.h"

namespace kvaction {

/// The actions that need a user's attention: open and overdue for the user as assignee or
/// originator, or flagged while it is the user's turn (the user ID quoted as an SQL literal).
[[nodiscard]] std::string AttentionCondition(std::string_view userID, kvdata::sql::Dialect dialect);

/// The alert count of a user. Mode 0: open actions overdue for the user as assignee or
/// originator, or flagged while it is the user's turn (written in dialect, the user ID quoted
/// as an SQL literal). Mode 1: open actions assigned to the user (the ID inserted raw). Any other
/// mode gives an empty statement. A non-empty databaseID narrows it to that reference ID
/// (inserted raw).
[[nodiscard]] std::string AlertsStatement(std::string_view userID, std::string_view databaseID,
                                          int16_t mode, kvdata::sql::Dialect dialect);

/// The day before which open actions are listed as due: today, or today + dueDays when that is
/// greater than 0.
[[nodiscard]] vb::Date AlertCutoff(const vb::Date& today, int16_t dueDays);

/// The open actions due before the cut-off day, given in the short date form.
[[nodiscard]] std::string AlertRecordsStatement(std::string_view cutoffDate);

/// Switches the alert flag of one action on or off.
[[nodiscard]] std::string AlertFlagStatement(int32_t actionID, bool value);

}  // namespace kvaction
