#include "kvaction/queries/QueryFilter.h"

#include <array>

#include "kvaction/Enums.h"
#include "kvdata/DataUtility.h"
#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

using kvdata::DataUtility;
using kvdata::sql::Dialect;

vb::Variant FieldValue(ado::Recordset& definition, std::string_view name) {
  return definition.Fields().Item(name).Value();
}

/// The three switches of a definition, each read on its own: a failed read leaves its default.
struct Switches {
  int16_t assignedTo = 0;
  bool applyStatus = false;
  int16_t status = 0;
};

Switches ReadSwitches(ado::Recordset& definition, const vb::Locale& locale) {
  Switches switches;
  vb::ErrorTrap trap;
  trap.Assign(switches.assignedTo,
              [&] { return vb::CInt(FieldValue(definition, "AssignedTo"), locale); });
  trap.Assign(switches.applyStatus,
              [&] { return vb::CBool(FieldValue(definition, "ApplyStatus"), locale); });
  trap.Assign(switches.status, [&] { return vb::CInt(FieldValue(definition, "Status"), locale); });
  return switches;
}

/// The person criterion: the user's own actions (1), or fragments of the assignee's and the
/// originator's names, where the word null asks for actions without one (2).
void AppendPersonCriteria(ado::Recordset& definition, int16_t assignedTo, const std::string& q,
                          std::string& where, const vb::Locale& locale) {
  if (assignedTo == 1) {
    DataUtility::AppendCondition(where, "(OriginatorID=" + q + " or AssigneeID=" + q + ")");
    return;
  }
  if (assignedTo != 2) return;
  for (const std::string_view column : {"Assignee", "Originator"}) {
    const vb::Variant value = FieldValue(definition, column);
    if (value.IsNull()) continue;
    const std::string text = vb::CStr(value, locale);
    const std::string name(column);
    DataUtility::AppendCondition(where,
                                 vb::LCase(text) == "null"
                                     ? name + " is null"
                                     : name + " like " + DataUtility::SqlText("%" + text + "%"));
  }
}

/// A date bound: the field holding it, the column it limits and the comparison.
struct DateBound {
  std::string_view field;
  std::string_view column;
  std::string_view comparison;
};

constexpr std::array kDateBounds = {
    DateBound{"DateOpened", "DateOpened", " >= "},
    DateBound{"DateOpenedUpper", "DateOpened", " <= "},
    DateBound{"DateDue", "DateDue", " >= "},
    DateBound{"DateDueUpper", "DateDue", " <= "},
    DateBound{"DateCompleted", "DateCompleted", " >= "},
    DateBound{"DateCompletedUpper", "DateCompleted", " <= "},
    DateBound{"DateClosed", "DateClosed", " >= "},
    DateBound{"DateClosedUpper", "DateClosed", " <= "},
};

/// A date text as the dialect compares it with a date column.
std::string DateLiteral(const std::string& text, Dialect dialect) {
  const std::string literal = DataUtility::SqlText(text);
  return dialect == Dialect::Server ? literal : "DateValue(" + literal + ")";
}

/// Category and Priority by equality, Subject, Description and Result by containment, then the
/// eight date bounds; a Null field sets no criterion.
void AppendFieldCriteria(ado::Recordset& definition, std::string& where,
                         const FilterContext& context) {
  const auto each = [&](std::string_view field, const auto& condition) {
    const vb::Variant value = FieldValue(definition, field);
    if (!value.IsNull())
      DataUtility::AppendCondition(where, condition(vb::CStr(value, context.locale)));
  };
  for (const std::string_view field : {"Category", "Priority"}) {
    each(field, [&](const std::string& v) {
      return std::string(field) + " = " + DataUtility::SqlText(v);
    });
  }
  for (const std::string_view field : {"Subject", "Description", "Result"}) {
    each(field, [&](const std::string& v) {
      return std::string(field) + " like " + kvdata::QuotedText("%" + v + "%", '"');
    });
  }
  for (const DateBound& bound : kDateBounds) {
    each(bound.field, [&](const std::string& v) {
      return std::string(bound.column) + std::string(bound.comparison) +
             DateLiteral(v, context.dialect);
    });
  }
}

/// The horizon of "due within N days": the leading number of DueDays' text form (Null gives 0),
/// rounded half to even, as a 16-bit value (6 when out of range).
int16_t DueDaysHorizon(const vb::Variant& dueDays, const vb::Locale& locale) {
  return vb::CInt(vb::Variant(vb::Val(vb::TextOf(dueDays, locale))), locale);
}

std::string DueWithin(ado::Recordset& definition, const FilterContext& context) {
  const int16_t days = DueDaysHorizon(FieldValue(definition, "DueDays"), context.locale);
  const std::string limit =
      context.dialect == Dialect::Server
          ? "'" + context.locale.FormatShortDate(context.clock.Today().AddDays(days)) + "'"
          : "dateadd(\"d\"," + std::to_string(days) + ",date())";
  return "dateclosed is null and (not datedue is null) and dateDue <= " + limit;
}

/// The status criterion by code: open, closed, overdue, due within N days, completed but open.
void AppendStatusCriterion(ado::Recordset& definition, int16_t status, std::string& where,
                           const FilterContext& context) {
  const bool server = context.dialect == Dialect::Server;
  switch (status) {
    case 0:
      DataUtility::AppendCondition(where, "dateclosed is null");
      break;
    case 1:
      DataUtility::AppendCondition(where, "(not dateclosed is null)");
      break;
    case 2:
      DataUtility::AppendCondition(where, server ? "dateclosed is null and dateDue < getdate()"
                                                 : "dateclosed is null and dateDue < date()");
      break;
    case 3:
      DataUtility::AppendCondition(where, DueWithin(definition, context));
      break;
    case 4:
      DataUtility::AppendCondition(where, server
                                              ? "dateClosed is null and not dateCompleted is null"
                                              : "isnull(dateClosed) and not isnull(dateCompleted)");
      break;
    default:
      break;
  }
}

std::string DefinedCondition(ado::Recordset& definition, const std::string& q,
                             const FilterContext& context) {
  const Switches switches = ReadSwitches(definition, context.locale);
  std::string where;
  AppendPersonCriteria(definition, switches.assignedTo, q, where, context.locale);
  AppendFieldCriteria(definition, where, context);
  if (switches.applyStatus) AppendStatusCriterion(definition, switches.status, where, context);
  return where;
}

}  // namespace

std::string QueryCondition(const ado::RecordsetPtr& definition, std::string_view userID,
                           const FilterContext& context) {
  const std::string q = DataUtility::SqlText(userID);
  if (!definition || definition->IsEOF()) {
    return "(AssigneeID=" + q + " or OriginatorID=" + q + ") and dateClosed is Null";
  }
  std::string where = DefinedCondition(*definition, q, context);
  definition->Close();
  return where;
}

std::string QueriedStatement(std::string condition, std::string_view referenceID, int16_t modifier,
                             std::string_view sortClause) {
  if (!referenceID.empty() && modifier != qmIncludeAllActions) {
    const std::string reference = "ReferenceID=" + DataUtility::SqlText(referenceID);
    DataUtility::AppendCondition(condition, modifier == qmIncludeVelActions
                                                ? "(" + reference + " or ReferenceID is Null)"
                                                : reference);
  }
  std::string statement = "Select * from actions ";
  if (!condition.empty()) statement += " where " + condition;
  if (!sortClause.empty()) statement += " order by " + std::string(sortClause);
  return statement;
}

}  // namespace kvaction
