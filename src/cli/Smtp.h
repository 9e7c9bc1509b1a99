#pragma once
// Sending a notification e-mail over SMTP (libcurl): one plain-text UTF-8 message to a relay.
#include <string>
#include <string_view>
#include <vector>

namespace cli {

/// One e-mail as it goes out.
struct MailMessage {
  std::string fromName;
  std::string fromAddress;  ///< empty: the null sender "<>"
  std::vector<std::string> to;
  std::string subject;
  std::string body;
};

/// The message as handed to the relay: From, To, Subject and MIME headers, a blank line, the
/// body unchanged. Header texts beyond ASCII are written as RFC 2047 encoded words. Raises
/// ComError 5 when a header value (name, an address, the subject) holds a CR or LF.
[[nodiscard]] std::string MailText(const MailMessage& message);

/// Delivers message through the SMTP relay at host ("name", "name:port" or an smtp:// URL).
/// Raises ComError 5 before connecting when a header value holds a CR or LF or when there is no
/// recipient; a failed delivery raises ComError 5 with the relay's or libcurl's message.
void SendMail(std::string_view host, const MailMessage& message);

}  // namespace cli
