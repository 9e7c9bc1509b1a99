#pragma once
// A person's own settings (SettingsPages.cc): name and e-mail address, the password and the
// personal values.
#include "web/Site.h"

namespace web {

void SettingsPage(Visit& visit);
void PasswordSave(Visit& visit);
void ValuesSave(Visit& visit);
void DetailsSave(Visit& visit);

}  // namespace web
