// "My settings": a person's own password and own values. The password form asks for the
// current password, so a session left open cannot be used to take the account over; its
// failures count against the sign-in throttle.
#include "web/SettingsPages.h"

#include <fmt/format.h>

#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "app/Admin.h"
#include "app/Calendar.h"
#include "app/Errors.h"
#include "app/Notify.h"
#include "app/Profile.h"
#include "app/Reminders.h"
#include "app/WebSupport.h"

namespace web {
namespace {

int32_t DaysParam(const web::Request& request, const std::string& name, int32_t lowest,
                  int32_t highest) {
  const std::string text = Param(request, name);
  int32_t days = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || days < lowest ||
      days > highest) {
    throw app::Invalid(name, text,
                       fmt::format("a whole number of days from {} to {}", lowest, highest));
  }
  return days;
}

// Refuses unless password is the person's current one.
void CheckCurrentPassword(Visit& visit, const std::string& password) {
  const std::string& user = visit.session.userID();
  const std::string& address = visit.request.remote_addr;
  if (visit.site.throttle.WaitSeconds(user, address) > 0) {
    throw app::RefusalText("Too many wrong passwords. Try again later.");
  }
  try {
    (void)app::Session::SignIn(visit.session.options(), user, password);
  } catch (const vb::ComError& error) {
    if (!app::IsSignInRefused(error)) throw;
    visit.site.throttle.Failed(user, address);
    throw app::RefusalText("Refused: the current password is wrong.");
  }
}

}  // namespace

namespace {

// The address a calendar program reads.
std::string CalendarAddress(Visit& visit, const std::string& secret) {
  return SiteAddress(visit.site, visit.request, visit.session) + "/calendar/" + secret + ".ics";
}

// The settings page: secret is a calendar secret just made, shown this once; after refused
// details, with what was typed and each reason beside its field.
void SendSettings(Visit& visit, const std::string& secret, const app::OwnDetails* typed = nullptr,
                  const app::FieldErrors& errors = {}) {
  const app::PersonalValues values = app::PersonalValuesOf(visit.session);
  const app::OwnDetails details = typed ? *typed : app::OwnDetailsOf(visit.session);
  const auto errorOf = [&](std::string_view field) {
    for (const auto& error : errors) {
      if (error.column == field) return error.message;
    }
    return std::string();
  };
  std::vector<ShownError> shown;
  for (const auto& error : errors) {
    shown.push_back({error.column == "name" ? "userName" : error.column,
                     error.column == "name" ? "Your name" : "E-mail address", error.message});
  }
  SendPage(visit, "settings", "My settings",
           {{"hasCalendar", app::HasFeedSecret(visit.session, app::Feed::Calendar)},
            {"calendarEnded", Param(visit.request, "calendar") == "ended"},
            {"newCalendar", !secret.empty()},
            {"calendarUrl", CalendarAddress(visit, secret)},
            {"userName", details.userName},
            {"email", details.email},
            {"mayChangeDetails", app::OwnDetailsOf(visit.session).mayChange},
            {"errors", ErrorListHtml(shown)},
            {"nameError", errorOf("name")},
            {"emailError", errorOf("email")},
            {"defaultDueDays", std::to_string(values.defaultDueDays)},
            {"alertDays", std::to_string(values.alertDays)},
            {"reminders", values.reminders},
            {"leastDue", std::to_string(app::kLeastDueDays)},
            {"mostDue", std::to_string(app::kMostDueDays)},
            {"minPassword", std::to_string(app::kMinPasswordLength)}});
}

}  // namespace

void SettingsPage(Visit& visit) { SendSettings(visit, {}); }

void CalendarRenew(Visit& visit) {
  // Shown in the answer to the form, not in an address: the secret reaches no log or history.
  SendSettings(visit, app::RenewFeedSecret(visit.session, app::Feed::Calendar));
}

void CalendarEnd(Visit& visit) {
  app::EndFeedSecret(visit.session, app::Feed::Calendar);
  Redirect(visit.response, "/settings?calendar=ended");
}

void CalendarFile(Site& site, const web::Request& request, web::Response& response) {
  AddSecurityHeaders(response);
  Guarded(
      [&] {
        auto session = app::Session::OfFeed(site.options.open, app::Feed::Calendar,
                                            request.matches[1], site.pool.Take());
        response.set_header("Cache-Control", "private, max-age=900");
        response.set_content(app::CalendarFeed(session), "text/calendar; charset=utf-8");
        site.pool.Give(std::move(session).TakeAction());
      },
      [&](const vb::ComError& error) {
        if (error.number() == app::kNotFound) {
          return SendErrorPage(response, 404, "There is no such page.");
        }
        SendComErrorPage(response, error);
      },
      [&] { SendErrorPage(response, 500, "The server could not complete this request."); });
}

void PasswordSave(Visit& visit) {
  const std::string password = Param(visit.request, "password");
  if (password != Param(visit.request, "repeat")) {
    throw app::Invalid("repeat", {}, "the same new password twice");
  }
  CheckCurrentPassword(visit, Param(visit.request, "current"));
  app::UserPassword(visit.session, visit.session.userID(), password);
  // A new password ends every session of the person, this one too.
  SendPublicPage(visit.response, "password-changed", "Password changed", {});
}

// Sends only what the form changed, so saving an untouched form writes no history.
void DetailsSave(Visit& visit) {
  const app::OwnDetails now = app::OwnDetailsOf(visit.session);
  const std::string name = Param(visit.request, "userName");
  const std::string email = Param(visit.request, "email");
  std::optional<std::string> newName;
  std::optional<std::string> newEmail;
  if (name != now.userName) newName = name;
  if (email != now.email) newEmail = email;
  if (const auto errors = app::CheckOwnDetails(name, email); !errors.empty()) {
    visit.response.status = 400;
    const app::OwnDetails typed{name, email, now.mayChange};
    return SendSettings(visit, {}, &typed, errors);
  }
  if (newName || newEmail) app::OwnDetailsEdit(visit.session, newName, newEmail);
  Redirect(visit.response, Confirmed("/settings", newName || newEmail ? "details" : "unchanged"));
}

void ValuesSave(Visit& visit) {
  const int32_t due =
      DaysParam(visit.request, "DefaultDueDays", app::kLeastDueDays, app::kMostDueDays);
  const int32_t alert = DaysParam(visit.request, "AlertDays", 0, 365);
  // Every value is checked before the first is stored.
  app::SetDefaultDueDays(visit.session, due);
  app::SetAlertDays(visit.session, alert);
  app::SetReminders(visit.session, Param(visit.request, "reminders") == "1");
  Redirect(visit.response, Confirmed("/settings", "settings"));
}

}  // namespace web
