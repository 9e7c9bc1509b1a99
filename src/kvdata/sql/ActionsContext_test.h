#pragma once
// The statement context the translation tests use: the actions table's names and date columns,
// as a connection to an action database describes them.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "kvdata/sql/Translator.h"
#include "vb/Convert.h"

namespace kvdata::sql {

inline constexpr std::array<std::string_view, 28> kKnownNames = {
    "actions",      "ActionProfiles", "ActionID",   "ActionNumber", "Subject",     "Originator",
    "OriginatorID", "Assignee",       "AssigneeID", "DateOpened",   "DateDue",     "DateCompleted",
    "DateClosed",   "DateRejected",   "Reviewed",   "Alert",        "Flags",       "ActionType",
    "Category",     "Priority",       "Reference",  "ReferenceID",  "Description", "Result",
    "Results",      "UserID",         "Users",      "UserName"};

inline Context ActionsContext(const vb::Clock& clock, const vb::Locale& locale) {
  return Context{clock, locale,
                 [](std::string_view column) {
                   return vb::EqualsText(column.substr(0, 4), "date") && column.size() > 4;
                 },
                 [](std::string_view name) -> std::optional<std::string> {
                   for (const std::string_view known : kKnownNames) {
                     if (vb::EqualsText(known, name)) return std::string(known);
                   }
                   return std::nullopt;
                 }};
}

}  // namespace kvdata::sql
