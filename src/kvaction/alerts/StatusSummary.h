#pragma once
// An action's state in plain English: the picture for lists, a short status, the due-date
// sentence and the review-status sentence.
#include <cstdint>
#include <string>

#include "vb/Clock.h"
#include "vb/Locale.h"

namespace kvaction {

/// The columns the summary reads, in their text forms ("" for null).
struct StatusColumns {
  std::string assignee;
  std::string originator;
  std::string dateDue;
  std::string dateCompleted;
  std::string dateClosed;
  std::string dateRejected;  ///< the day of the last review move
  int16_t reviewed = 0;      ///< a ReviewStatus value
};

/// The summary's results. StatusSummary writes only those its branch names; the others keep
/// what the caller put in (and the review sentence of rsAssigneeClarified is appended to it).
struct StatusTexts {
  int16_t image = 0;  ///< a StatusImageIndex value
  std::string status;
  std::string shortStatus;
  std::string dueText;
};

/// Summarizes an action. Date texts count when they are valid dates in locale; "today" is the
/// clock's date. Every date test is guarded, so the summary never fails on its inputs.
void StatusSummary(const StatusColumns& columns, StatusTexts& texts, const vb::Clock& clock,
                   const vb::Locale& locale);

}  // namespace kvaction
