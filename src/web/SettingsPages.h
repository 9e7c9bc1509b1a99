#pragma once
// A person's own settings (SettingsPages.cc): name and e-mail address, the password, the
// personal values and the calendar address.
#include "web/Site.h"

namespace web {

void SettingsPage(Visit& visit);
void PasswordSave(Visit& visit);
void ValuesSave(Visit& visit);
/// A new calendar address, shown once on the settings page; ending it stops the old one.
void CalendarRenew(Visit& visit);
void CalendarEnd(Visit& visit);
/// The calendar feed at /calendar/SECRET.ics: 404, like any unknown page, for a secret that is
/// no one's.
void CalendarFile(Site& site, const web::Request& request, web::Response& response);
void DetailsSave(Visit& visit);

}  // namespace web
