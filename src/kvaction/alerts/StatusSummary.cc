#include "kvaction/alerts/StatusSummary.h"

#include <optional>
#include <string_view>

#include "kvaction/Enums.h"
#include "vb/Convert.h"

namespace kvaction {
namespace {

std::string TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::optional<vb::Date> DateIn(const std::string& text, const vb::Locale& locale) {
  const vb::Variant value(text);
  if (!vb::IsDate(value, locale)) return std::nullopt;
  return vb::CDate(value, locale);
}

bool IsDateText(const std::string& text, const vb::Locale& locale) {
  return vb::IsDate(vb::Variant(text), locale);
}

/// " <joint> <date>" when the date text is a valid date, nothing otherwise.
std::string WhenDate(std::string_view joint, const std::string& date, const vb::Locale& locale) {
  return IsDateText(date, locale) ? std::string(joint) + date : std::string();
}

void SummarizeClosed(const StatusColumns& c, const std::string& assignee,
                     const std::string& originator, StatusTexts& texts, const vb::Locale& locale) {
  texts.shortStatus = "Closed " + c.dateClosed;
  texts.image = siClosed;
  texts.status = "Closed on " + c.dateClosed;
  if (c.reviewed == rsClosedbyOriginator) texts.status += " by " + originator;
  if (c.reviewed == rsClosedbyAssignee) texts.status += " by " + assignee;
  texts.status += ".";
  if (IsDateText(c.dateCompleted, locale)) {
    texts.status += "  (Completed " + c.dateCompleted + ")";
  }
}

void SummarizeDue(const StatusColumns& c, StatusTexts& texts, const vb::Clock& clock,
                  const vb::Locale& locale) {
  const std::optional<vb::Date> due = DateIn(c.dateDue, locale);
  if (!due) {
    texts.dueText = "No Due Date.";
    texts.shortStatus = "Open";
    texts.image = siNotDue;
    return;
  }
  const vb::Date today = clock.Today();
  if (*due >= today) {
    const int32_t days = today.DaysUntil(*due);
    if (days == 0) {
      texts.dueText = "Due today.";
    } else if (days == 1) {
      texts.dueText = "Due tomorrow.";
    } else {
      texts.dueText = "Due in " + std::to_string(days) + " days.";
    }
    texts.shortStatus = "Open";
    texts.image = siOpen;
    return;
  }
  const int32_t late = due->DaysUntil(today);
  const std::string overdue = std::to_string(late) + " days overdue.";
  texts.dueText = late == 1 ? "Due yesterday." : overdue;
  texts.shortStatus = overdue;
  texts.image = siOverDue;
}

/// "For review by <A>", or "No Assignee." when there is no assignee.
std::string ForReviewBy(const std::string& assignee) {
  return assignee.empty() ? "No Assignee." : "For review by " + assignee;
}

void SummarizeReview(const StatusColumns& c, const std::string& assignee,
                     const std::string& originator, StatusTexts& texts, const vb::Locale& locale) {
  const std::string& rejected = c.dateRejected;
  switch (c.reviewed) {
    case rsReOpenedbyAssignee:
      texts.status = assignee.empty()
                         ? "No Assignee."
                         : "Re-opened " + rejected + ". " + assignee + " is responsible.";
      break;
    case rsReOpenedbyOriginator:
      texts.status = "Re-opened " + rejected + ". " + originator +
                     " has not yet assigned this action for review.";
      break;
    case rsReOpenedbyOther:
      texts.status = "Re-opened " + rejected + ". " + originator + " is responsible.";
      break;
    case rsOriginatorReview:
      texts.status = originator + " has not yet assigned this action for review.";
      break;
    case rsOriginatorCompleted:
      texts.status = "Action Completed. For approval by " + originator +
                     WhenDate(" since ", c.dateCompleted, locale);
      break;
    case rsOriginatorClarification:
      texts.status =
          "Clarification requested of " + originator + WhenDate(" on ", rejected, locale);
      break;
    case rsAssigneeClarified:
      texts.status += "Clarification provided. " + ForReviewBy(assignee) +
                      WhenDate(" since ", rejected, locale);
      break;
    case rsAssigneeRejected:
      texts.status =
          "Close request denied. " + ForReviewBy(assignee) + WhenDate(" since ", rejected, locale);
      break;
    default:
      texts.status = assignee.empty()
                         ? "This action does not have an assignee."
                         : "Assigned to " + assignee + WhenDate(" on ", rejected, locale);
      break;
  }
}

}  // namespace

void StatusSummary(const StatusColumns& columns, StatusTexts& texts, const vb::Clock& clock,
                   const vb::Locale& locale) {
  const std::string assignee = TrimBlanks(columns.assignee);
  const std::string originator =
      columns.originator.empty() ? "Originator" : TrimBlanks(columns.originator);
  if (IsDateText(columns.dateClosed, locale)) {
    SummarizeClosed(columns, assignee, originator, texts, locale);
    return;
  }
  SummarizeDue(columns, texts, clock, locale);
  SummarizeReview(columns, assignee, originator, texts, locale);
}

}  // namespace kvaction
