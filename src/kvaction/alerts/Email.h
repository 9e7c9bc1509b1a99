#pragma once
// The texts of a notification e-mail: subject, body, the link into the web front end, and the
// database number that the link carries.
#include <cstdint>
#include <string>
#include <string_view>

#include "kvaction/Labels.h"
#include "vb/Locale.h"
#include "vb/Variant.h"

namespace kvaction {

/// text cut or padded with blanks to exactly width characters (UTF-8 characters, not bytes).
/// A negative width raises 5.
[[nodiscard]] std::string PadText(std::string_view text, int16_t width);

/// label of "Action" + " " + number + ": " + subject, the values in their text forms (null gives
/// nothing). Labels are looked up with the flag true; a failing lookup leaves its label empty.
[[nodiscard]] std::string EmailSubject(const vb::Variant& actionNumber, const vb::Variant& subject,
                                       const LabelLookup& label, const vb::Locale& locale);

/// The database number a link carries: the last five characters of "00000" + databaseID read as
/// a number (0 when they hold no digits). Raises 6 when that number is not a 32-bit integer.
[[nodiscard]] int32_t DatabaseNumber(std::string_view databaseID);

/// baseURL, a "/" unless it ends in one, "default.asp?" and the link query text.
[[nodiscard]] std::string ActionLink(std::string_view baseURL, std::string_view linkQuery);

/// The action's columns that the body shows.
struct EmailValues {
  vb::Variant originator;
  vb::Variant assignee;
  vb::Variant dateOpened;
  vb::Variant dateDue;
  vb::Variant dateClosed;
  vb::Variant reference;
  vb::Variant description;
  vb::Variant result;
};

/// The plain-text body: the link line when link is not empty, the underscore rule, the current
/// status with the due text, six labelled field lines, the description and the result. Lines end
/// in CRLF; values appear in their text forms in locale (null gives nothing). Labels are looked
/// up with the flag true; a failing lookup leaves its label empty and the rest is still built.
[[nodiscard]] std::string EmailBody(const EmailValues& values, std::string_view status,
                                    std::string_view dueText, std::string_view link,
                                    const LabelLookup& label, const vb::Locale& locale);

}  // namespace kvaction
