#include "kvaction/alerts/Email.h"

#include <algorithm>
#include <array>
#include <utility>

#include "vb/Convert.h"
#include "vb/ErrorTrap.h"

namespace kvaction {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr int16_t kLabelWidth = 21;

/// A label for the notice: looked up with the flag true; empty when the lookup fails, so that a
/// missing label never stops the notice.
std::string NoticeLabel(const LabelLookup& label, std::string_view name) {
  std::string text;
  vb::ErrorTrap trap;
  trap.Assign(text, [&] { return LabelOf(label, name, true); });
  return text;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

/// Byte length of the first count characters of text (all of it when shorter).
std::size_t PrefixBytes(std::string_view text, std::size_t count) {
  std::size_t bytes = 0;
  for (std::size_t chars = 0; bytes < text.size() && chars < count; ++chars) {
    ++bytes;
    while (bytes < text.size() && IsContinuationByte(text[bytes])) ++bytes;
  }
  return bytes;
}

std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += IsContinuationByte(c) ? 0 : 1;
  return count;
}

/// The length of a text value, 0 for any other: room to reserve for it.
std::size_t TextSize(const vb::Variant& value) {
  const auto* text = std::get_if<std::string>(&value.storage());
  return text == nullptr ? 0 : text->size();
}

}  // namespace

std::string PadText(std::string_view text, int16_t width) {
  if (width < 0) throw vb::ComError::Runtime(vb::kInvalidProcedureCall);
  const auto wanted = static_cast<std::size_t>(width);
  std::string padded(text.substr(0, PrefixBytes(text, wanted)));
  padded.append(wanted - std::min(wanted, CharacterCount(padded)), ' ');
  return padded;
}

std::string EmailSubject(const vb::Variant& actionNumber, const vb::Variant& subject,
                         const LabelLookup& label, const vb::Locale& locale) {
  return NoticeLabel(label, "Action") + " " + vb::TextOf(actionNumber, locale) + ": " +
         vb::TextOf(subject, locale);
}

int32_t DatabaseNumber(std::string_view databaseID) {
  const std::string padded = "00000" + std::string(databaseID);
  const double number = vb::Val(std::string_view(padded).substr(padded.size() - 5));
  return vb::CLng(vb::Variant(number));
}

std::string ActionLink(std::string_view baseURL, std::string_view linkQuery) {
  std::string link(baseURL);
  if (!link.ends_with('/')) link += '/';
  link += "default.asp?";
  link += linkQuery;
  return link;
}

std::string EmailBody(const EmailValues& values, std::string_view status, std::string_view dueText,
                      std::string_view link, const LabelLookup& label, const vb::Locale& locale) {
  std::string body;
  // The fixed texts, labels and short values take some 400 characters; the long texts come on top.
  body.reserve(400 + link.size() + TextSize(values.description) + TextSize(values.result));
  if (!link.empty()) {
    body = "To review this item with your browser, please click the following hyperlink: ";
    body.append(link).append(kCrLf).append(kCrLf);
  }
  body.append("__________________________________________").append(kCrLf).append(kCrLf);
  body.append("Current Status: ").append(status).append("  (").append(dueText).append(")");
  body.append(kCrLf).append(kCrLf);

  const std::array<std::pair<std::string_view, const vb::Variant*>, 6> fieldLines = {{
      {"Originator", &values.originator},
      {"Assignee", &values.assignee},
      {"DateOpened", &values.dateOpened},
      {"DateDue", &values.dateDue},
      {"DateClosed", &values.dateClosed},
      {"Reference", &values.reference},
  }};
  for (const auto& [name, value] : fieldLines) {
    body.append(PadText(NoticeLabel(label, name) + ":", kLabelWidth)).append("\t");
    body.append(vb::TextOf(*value, locale)).append(kCrLf);
  }
  body.append(kCrLf).append(NoticeLabel(label, "Description")).append(":  ").append(kCrLf);
  body.append(vb::TextOf(values.description, locale));
  body.append(kCrLf).append(kCrLf).append(kCrLf);
  body.append(NoticeLabel(label, "Result")).append(": ").append(kCrLf);
  body.append(vb::TextOf(values.result, locale));
  return body;
}

}  // namespace kvaction
