#pragma once
// Handing one e-mail to an SMTP relay (libcurl): plain SMTP, STARTTLS or implicit TLS, an
// optional login, and timeouts, so that a real relay can be used. The relay is described by the
// database's settings; its password never is (see RelayOf).
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "vb/ComError.h"

namespace app {

class Session;

/// A relay refused a message or could not be reached (source kvAction.app).
inline constexpr int32_t kDeliveryFailed = vb::kObjectError + 1110;

/// How the connection to the relay is protected.
enum class MailSecurity {
  None,      ///< plain SMTP (a relay on the same machine or network)
  StartTls,  ///< SMTP, then STARTTLS before anything else; refused when the relay lacks it
  Tls,       ///< TLS from the first byte (smtps, usually port 465)
};

/// Where and how mail is delivered.
struct Relay {
  std::string host;  ///< "name", "name:port" or an smtp:// or smtps:// URL (setting "SMTPHost")
  MailSecurity security = MailSecurity::None;
  std::string user;      ///< login name; empty: no login (setting "SMTPUser")
  std::string password;  ///< from the environment or the server's configuration, never stored
  std::string caFile;    ///< extra trusted certificates (PEM); empty: the system's
  std::chrono::seconds connectTimeout{10};
  std::chrono::seconds timeout{60};
};

/// The forms of "SMTPHost", as a refusal names them.
inline constexpr std::string_view kRelayForms =
    "a relay address: a host name, host:port, [IPv6 address]:port, or an smtp:// or smtps:// URL";

/// Raises kInvalidInput naming "SMTPHost" unless host has one of the forms of kRelayForms.
void RequireRelayAddress(std::string_view host);

/// The environment variable that holds the relay's password.
inline constexpr const char* kSmtpPasswordVariable = "KVACTION_SMTP_PASSWORD";

/// The relay of the database's settings: "SMTPHost", "SMTPSecurity" (none, starttls or tls),
/// "SMTPUser", "SMTPCAFile", "SMTPTimeout" (seconds). The password is password when given, else
/// the environment's KVACTION_SMTP_PASSWORD. Raises kInvalidInput for an unknown security word.
[[nodiscard]] Relay RelayOf(Session& session, std::string_view password = {});
/// The security a settings word names; raises kInvalidInput naming the setting.
[[nodiscard]] MailSecurity SecurityOf(std::string_view word);

/// One e-mail as it leaves.
struct OutgoingMail {
  std::string messageID;  ///< "<…@…>", the same on every attempt so readers drop a repeat
  std::string fromName;
  std::string fromAddress;  ///< empty: the null sender "<>"
  std::vector<std::string> to;
  std::string subject;
  std::string body;     ///< plain text, lines ending in CRLF
  std::string html;     ///< the HTML alternative, lines ending in CRLF; empty: plain text only
  std::string replyTo;  ///< where replies go (Reply-To); empty: to the sender
};

/// The message text: From, To, Subject, Message-ID and MIME headers, a blank line, the body;
/// with an HTML alternative a multipart/alternative body of the plain text, then the HTML.
/// Header texts beyond ASCII are RFC 2047 encoded words. Raises kInvalidInput when a header
/// value holds a line break.
[[nodiscard]] std::string MessageText(const OutgoingMail& mail);

/// Delivers mail through relay; raises kDeliveryFailed with the relay's or libcurl's message.
void Deliver(const Relay& relay, const OutgoingMail& mail);

}  // namespace app
