#pragma once
// Reading a received e-mail (RFC 5322 with MIME) as far as a reply needs it: its headers, and
// its text as UTF-8: the plain part, else the HTML part turned into text; quoted-printable and
// base64 bodies; UTF-8, US-ASCII, ISO-8859-1 and Windows-1252 texts. And the part of a reply that
// is the writer's own: without the quoted text, the "On … wrote:" line and the signature. Pure
// code over the message's bytes.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace app {

/// One received message.
struct ReceivedMail {
  std::vector<std::pair<std::string, std::string>> headers;  ///< unfolded, in order
  std::string text;                                          ///< the body as UTF-8 text
  /// The first header of that name (letter case ignored), "" when there is none.
  [[nodiscard]] std::string Header(std::string_view name) const;
  /// Every header of that name, in order.
  [[nodiscard]] std::vector<std::string> HeadersNamed(std::string_view name) const;
};

/// Reads a message (CRLF or LF line ends). Raises kInvalidInput naming "message" when it has no
/// header, no text part, an encoding or character set it cannot read, or text that is not UTF-8
/// after decoding.
[[nodiscard]] ReceivedMail ReadMail(std::string_view message);

/// The addresses of an address-list header value ("Pat <pat@example.org>, sam@example.org"),
/// without display names and comments.
[[nodiscard]] std::vector<std::string> AddressesIn(std::string_view value);

/// The text an HTML body shows: tags dropped, line breaks for blocks, entities decoded, the text
/// of blockquotes as quoted lines ("> "), style and script left out.
[[nodiscard]] std::string HtmlText(std::string_view html);

/// The writer's own part of a reply's text: up to an attribution line ("On … wrote:", also
/// wrapped over two lines, and "-----Original Message-----"), without quoted lines ("> ") and
/// without the signature (from a "-- " line on); blank lines around it dropped.
[[nodiscard]] std::string ReplyText(std::string_view text);

}  // namespace app
