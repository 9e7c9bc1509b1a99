#include "app/Reminders.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <tuple>

#include "app/Errors.h"
#include "app/Internal.h"
#include "app/MailHtml.h"
#include "app/Notify.h"
#include "app/Outbox.h"
#include "app/Session.h"
#include "app/TimeZone.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/SettingsStore.h"
#include "kvdata/UserProfile.h"
#include "vb/Convert.h"

namespace app {
namespace {

using kvdata::DataUtility;

constexpr std::string_view kCrLf = "\r\n";
/// The Reviewed value from which it is the originator's turn.
constexpr int32_t kOriginatorsTurn = 10;

std::string Setting(Session& session, std::string_view key) {
  return vb::TextOf(vb::Require(session.action().DataServer())->Settings()->Value(key));
}

int32_t AlertDaysOf(const kvdata::UserProfile& profile) {
  const vb::Variant value = profile.Value("AlertDays");
  if (value.IsEmpty() || value.IsNull()) return kDefaultAlertDays;
  return std::max(0, vb::CLng(value));
}

bool RemindersOn(const kvdata::UserProfile& profile) {
  const vb::Variant value = profile.Value(kRemindersKey);
  return value.IsEmpty() || value.IsNull() || vb::CBool(value);
}

std::string DueText(const Session& session, const std::optional<vb::Date>& due,
                    const vb::Date& day) {
  if (!due) return "no due date";
  const std::string date = "due " + session.locale().FormatShortDate(*due);
  const int32_t days = day.DaysUntil(*due);
  if (days == 0) return date + ", today";
  if (days > 0) return fmt::format("{}, in {} day{}", date, days, days == 1 ? "" : "s");
  return fmt::format("{}, {} day{} overdue", date, -days, days == -1 ? "" : "s");
}

std::optional<ReminderReason> ReasonOf(ado::Recordset& row, std::string_view userID,
                                       const std::optional<vb::Date>& due, const vb::Date& day,
                                       int32_t alertDays) {
  if (due && *due < day) return ReminderReason::Overdue;
  if (due && day.DaysUntil(*due) <= alertDays) return ReminderReason::DueSoon;
  const vb::Variant& alert = row["Alert"].Value();
  const vb::Variant& reviewed = row["Reviewed"].Value();
  if (alert.IsNull() || !vb::CBool(alert) || reviewed.IsNull()) return std::nullopt;
  const bool originatorsTurn = vb::CLng(reviewed) >= kOriginatorsTurn;
  const std::string whose = originatorsTurn ? "OriginatorID" : "AssigneeID";
  if (vb::TextOf(row[whose].Value()) == userID) return ReminderReason::YourTurn;
  return std::nullopt;
}

std::vector<ReminderLine> LinesOf(Session& session, std::string_view userID, const vb::Date& day,
                                  int32_t alertDays) {
  const std::string who = DataUtility::SqlText(userID);
  const auto rs = internal::ReadRows(
      session, "select * from actions where DateClosed is null and (AssigneeID = " + who +
                   " or OriginatorID = " + who + ")");
  const std::string base = WebURL(session);
  std::vector<std::pair<std::optional<vb::Date>, ReminderLine>> found;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    const vb::Variant& dueValue = (*rs)["DateDue"].Value();
    const std::optional<vb::Date> due =
        dueValue.IsNull() ? std::nullopt : std::optional(vb::CDate(dueValue).DateOnly());
    const auto reason = ReasonOf(*rs, userID, due, day, alertDays);
    if (!reason) continue;
    ReminderLine line;
    line.actionID = vb::CLng((*rs)["ActionID"].Value());
    line.number = vb::CLng((*rs)["ActionNumber"].Value());
    line.subject = vb::TextOf((*rs)["Subject"].Value());
    line.reason = *reason;
    line.dueText = DueText(session, due, day);
    line.link = ActionPageLink(session, base, line.actionID);
    found.emplace_back(due, std::move(line));
  }
  // By reason, then the earliest due first (no due date last), then by number.
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    const auto key = [](const auto& entry) {
      return std::tuple(entry.second.reason, !entry.first.has_value(),
                        entry.first.value_or(vb::Date()), entry.second.number);
    };
    return key(a) < key(b);
  });
  std::vector<ReminderLine> lines;
  for (auto& [due, line] : found) lines.push_back(std::move(line));
  return lines;
}

std::string HeadingOf(ReminderReason reason, int32_t alertDays) {
  switch (reason) {
    case ReminderReason::Overdue:
      return "Overdue";
    case ReminderReason::DueSoon:
      return fmt::format("Due within {} day{}", alertDays, alertDays == 1 ? "" : "s");
    case ReminderReason::YourTurn:
      return "Waiting for your turn";
  }
  return {};
}

constexpr std::string_view kStopLine =
    "You get this reminder once a day. To stop it: kvaction remind --mine off";

/// The digest's HTML alternative: the same greeting, sections and lines as the plain text.
std::string DigestHtml(const Digest& digest, int32_t alertDays, const std::string& dayText) {
  mstch::array sections;
  std::optional<ReminderReason> section;
  mstch::array lines;
  const auto close = [&] {
    if (section) {
      sections.emplace_back(
          mstch::map{{"heading", HeadingOf(*section, alertDays)}, {"lines", std::move(lines)}});
    }
    lines = mstch::array{};
  };
  for (const ReminderLine& line : digest.lines) {
    if (section != line.reason) {
      close();
      section = line.reason;
    }
    mstch::map item{{"number", std::to_string(line.number)},
                    {"subject", line.subject},
                    {"dueText", line.dueText}};
    if (!line.link.empty()) item.emplace("link", line.link);
    lines.emplace_back(std::move(item));
  }
  close();
  return RenderMail(
      "mail-digest", digest.subject,
      mstch::map{{"greeting", fmt::format("{}, these open actions need your attention on {}.",
                                          digest.userName, dayText)},
                 {"sections", std::move(sections)}},
      kStopLine);
}

void Compose(Session& session, Digest& digest, const vb::Date& day, int32_t alertDays) {
  const std::string dayText = session.locale().FormatShortDate(day);
  const auto count = digest.lines.size();
  digest.subject = fmt::format("Reminder for {}: {} action{} need{} you", dayText, count,
                               count == 1 ? "" : "s", count == 1 ? "s" : "");
  std::string body =
      fmt::format("{}, these open actions need your attention on {}.", digest.userName, dayText);
  body += kCrLf;
  std::optional<ReminderReason> section;
  for (const ReminderLine& line : digest.lines) {
    if (section != line.reason) {
      section = line.reason;
      body += fmt::format("{}{}{}", kCrLf, HeadingOf(line.reason, alertDays), kCrLf);
    }
    body += fmt::format("  Action {}: {} ({}){}", line.number, line.subject, line.dueText, kCrLf);
    if (!line.link.empty()) body += fmt::format("    {}{}", line.link, kCrLf);
  }
  body += kCrLf;
  body += kStopLine;
  body += kCrLf;
  digest.body = std::move(body);
  digest.html = DigestHtml(digest, alertDays, dayText);
}

bool SentBefore(Session& session, std::string_view userID, const vb::Date& day) {
  const auto rs = internal::ReadRows(
      session, "select Day from ActionReminders where UserID = " + DataUtility::SqlText(userID));
  for (; !rs->IsEOF(); rs->MoveNext()) {
    if (vb::CDate((*rs)["Day"].Value()).DateOnly() == day) return true;
  }
  return false;
}

/// The setting ReminderFrom, else the address of the person who runs the reminders.
std::string SenderAddress(Session& session) {
  if (std::string from = Setting(session, "ReminderFrom"); !from.empty()) return from;
  const auto rs = internal::ReadRows(
      session, "select Email from Users where UserID = " + DataUtility::SqlText(session.userID()));
  return rs->IsEOF() ? std::string() : vb::TextOf((*rs)["Email"].Value());
}

void QueueAndLog(Session& session, const Digest& digest, const vb::Date& day) {
  auto& connection = internal::Connection(session);
  kvdata::RunInTransaction(connection, [&] {
    const int32_t mailID = Queue(session, {0,
                                           "kvAction reminders",
                                           SenderAddress(session),
                                           {digest.address},
                                           digest.subject,
                                           digest.body,
                                           digest.html,
                                           {}});
    const auto log =
        internal::WritableRows(connection, "select * from ActionReminders where ReminderID = 0");
    log->AddNew({"UserID", "Day", "MailID", "Lines"},
                {digest.userID, day, mailID, static_cast<int32_t>(digest.lines.size())});
  });
}

}  // namespace

vb::Date ReminderNow(Session& session) {
  const vb::Date now = internal::Connection(session).Clock().Now();
  const std::string zone = Setting(session, kTimeZoneSetting);
  if (zone.empty()) return now;
  return TimeZone::Load(zone).LocalTime(InstantOfServerTime(now));
}

vb::Date ReminderDay(Session& session) { return ReminderNow(session).DateOnly(); }

RemindReport Remind(Session& session, const vb::Date& day, bool dryRun) {
  internal::RequireSuper(session, "sending reminders");
  const auto connection = vb::Require(session.action().DataServer())->Connection();
  const auto users =
      internal::ReadRows(*connection, "select UserID, UserName, Email from Users order by UserID");
  RemindReport report;
  for (; !users->IsEOF(); users->MoveNext()) {
    Digest digest;
    digest.userID = vb::TextOf((*users)["UserID"].Value());
    digest.userName = vb::TextOf((*users)["UserName"].Value());
    digest.address = vb::TextOf((*users)["Email"].Value());
    if (digest.address.empty()) continue;
    const auto profile = kvdata::UserProfile::ForUser(connection, digest.userID);
    if (!RemindersOn(*profile)) continue;
    if (SentBefore(session, digest.userID, day)) {
      report.alreadySent.push_back(digest.userID);
      continue;
    }
    const int32_t alertDays = AlertDaysOf(*profile);
    digest.lines = LinesOf(session, digest.userID, day, alertDays);
    if (digest.lines.empty()) continue;
    if (digest.userName.empty()) digest.userName = digest.userID;
    Compose(session, digest, day, alertDays);
    if (!dryRun) QueueAndLog(session, digest, day);
    report.digests.push_back(std::move(digest));
  }
  return report;
}

void SetReminders(Session& session, bool on) {
  const auto connection = vb::Require(session.action().DataServer())->Connection();
  kvdata::UserProfile::ForUser(connection, session.userID())->Value(kRemindersKey, on);
}

void SetAlertDays(Session& session, int32_t days) {
  constexpr int32_t kLongestLead = 365;
  if (days < 0 || days > kLongestLead) {
    throw Invalid("AlertDays", std::to_string(days), "a number of days from 0 to 365");
  }
  const auto connection = vb::Require(session.action().DataServer())->Connection();
  kvdata::UserProfile::ForUser(connection, session.userID())
      ->Value("AlertDays", static_cast<int16_t>(days));
}

}  // namespace app
