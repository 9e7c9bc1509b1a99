#include "app/Mailer.h"

#include <curl/curl.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/Errors.h"
#include "app/Session.h"
#include "kvaction/alerts/MailAddress.h"
#include "kvdata/Base64.h"
#include "kvdata/DataServer.h"
#include "kvdata/SettingsStore.h"
#include "vb/Convert.h"

namespace app {
namespace {

/// A line break in a header value would let it add headers or recipients of its own.
void RequireOneLine(std::string_view what, std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    throw Invalid(what, {}, "one line (it holds a line break; nothing was sent)");
  }
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

/// A header text as is when it is ASCII, else as one RFC 2047 encoded word.
std::string HeaderText(std::string_view text) {
  return IsAscii(text) ? std::string(text) : "=?UTF-8?B?" + kvdata::ToBase64(text) + "?=";
}

/// "Name" <address>, the name quoted (or encoded) so that its commas and quotes stay its own.
std::string Mailbox(std::string_view name, std::string_view address) {
  if (name.empty()) return "<" + std::string(address) + ">";
  std::string shown;
  if (IsAscii(name)) {
    shown = "\"";
    for (const char c : name) {
      if (c == '"' || c == '\\') shown += '\\';
      shown += c;
    }
    shown += "\"";
  } else {
    shown = HeaderText(name);
  }
  return shown + " <" + std::string(address) + ">";
}

/// One body part's headers and content, UTF-8 in 8 bits (the relays of today all take it).
std::string Part(std::string_view type, std::string_view content) {
  return "Content-Type: " + std::string(type) +
         "; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + std::string(content);
}

/// A boundary made from the parts' own hash: it cannot occur in them by chance, and the same
/// mail gives the same text on every attempt.
std::string BoundaryOf(const OutgoingMail& mail) {
  std::array<unsigned char, 16> hash{};
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, hash.size());
  for (const std::string* part : {&mail.body, &mail.html}) {
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(part->data()),
                              part->size());
  }
  crypto_generichash_final(&state, hash.data(), hash.size());
  std::array<char, hash.size() * 2 + 1> hex{};
  sodium_bin2hex(hex.data(), hex.size(), hash.data(), hash.size());
  return std::string("=_kvaction_") + hex.data();
}

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

/// The message text handed to libcurl piece by piece.
struct Upload {
  std::string_view rest;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* userData) {
  auto& upload = *static_cast<Upload*>(userData);
  const size_t n = std::min(size * count, upload.rest.size());
  std::memcpy(buffer, upload.rest.data(), n);
  upload.rest.remove_prefix(n);
  return n;
}

/// The URL of the relay: implicit TLS speaks smtps, everything else smtp.
std::string RelayURL(const Relay& relay) {
  if (relay.host.find("://") != std::string::npos) return relay.host;
  return (relay.security == MailSecurity::Tls ? "smtps://" : "smtp://") + relay.host;
}

bool IsHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

/// A port number from 1 to 65535, in digits.
bool IsPort(std::string_view text) {
  int port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  return error == std::errc() && end == text.data() + text.size() && port >= 1 && port <= 65535;
}

/// "name", "name:port", "[v6 address]" or "[v6 address]:port".
bool IsBareRelay(std::string_view host) {
  if (host.starts_with('[')) {
    const auto close = host.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    const std::string_view address = host.substr(1, close - 1);
    const std::string_view after = host.substr(close + 1);
    return std::all_of(address.begin(), address.end(),
                       [](char c) {
                         return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' ||
                                c == '.';
                       }) &&
           (after.empty() || (after.starts_with(':') && IsPort(after.substr(1))));
  }
  std::string_view name = host;
  if (const auto colon = host.find(':'); colon != std::string_view::npos) {
    if (!IsPort(host.substr(colon + 1))) return false;
    name = host.substr(0, colon);
  }
  return !name.empty() && std::all_of(name.begin(), name.end(), IsHostCharacter);
}

[[noreturn]] void Failed(const std::string& description) {
  throw vb::ComError(kDeliveryFailed, std::string(kSource), description);
}

std::string Setting(Session& session, std::string_view key) {
  return vb::TextOf(vb::Require(session.action().DataServer())->Settings()->Value(key));
}

}  // namespace

void RequireRelayAddress(std::string_view host) {
  // The address goes to libcurl, which speaks many protocols: any other scheme (file://, http://)
  // would hand a notice to something that is not a mail relay.
  bool relay = false;
  if (const auto scheme = host.find("://"); scheme != std::string_view::npos) {
    const std::string_view name = host.substr(0, scheme);
    const std::string_view rest = host.substr(scheme + 3);
    relay = (vb::EqualsText(name, "smtp") || vb::EqualsText(name, "smtps")) && !rest.empty() &&
            std::none_of(rest.begin(), rest.end(), [](char c) {
              return static_cast<unsigned char>(c) <= ' ' || c == '\x7f';
            });
  } else {
    relay = IsBareRelay(host);
  }
  if (!relay) throw Invalid("SMTPHost", host, kRelayForms);
}

MailSecurity SecurityOf(std::string_view word) {
  if (word.empty() || vb::EqualsText(word, "none")) return MailSecurity::None;
  if (vb::EqualsText(word, "starttls")) return MailSecurity::StartTls;
  if (vb::EqualsText(word, "tls")) return MailSecurity::Tls;
  throw Invalid("SMTPSecurity", word, "none, starttls or tls");
}

Relay RelayOf(Session& session, std::string_view password) {
  Relay relay;
  relay.host = session.action().SMTPHost();
  relay.security = SecurityOf(Setting(session, "SMTPSecurity"));
  relay.user = Setting(session, "SMTPUser");
  relay.caFile = Setting(session, "SMTPCAFile");
  if (const std::string seconds = Setting(session, "SMTPTimeout"); !seconds.empty()) {
    const auto value = vb::CLng(vb::Variant(seconds));
    if (value <= 0) throw Invalid("SMTPTimeout", seconds, "a number of seconds above 0");
    relay.timeout = std::chrono::seconds(value);
  }
  if (!password.empty()) {
    relay.password = password;
  } else if (const char* fromEnvironment = std::getenv(kSmtpPasswordVariable)) {
    relay.password = fromEnvironment;
  }
  return relay;
}

std::string MessageText(const OutgoingMail& mail) {
  RequireOneLine("sender name", mail.fromName);
  if (!mail.fromAddress.empty()) {
    kvaction::RequireMailbox("sender address", mail.fromAddress, kSource);
  }
  for (const auto& address : mail.to) {
    kvaction::RequireMailbox("recipient address", address, kSource);
  }
  if (!mail.replyTo.empty()) kvaction::RequireMailbox("reply address", mail.replyTo, kSource);
  RequireOneLine("subject", mail.subject);
  RequireOneLine("Message-ID", mail.messageID);
  std::string to;
  for (const auto& address : mail.to) to += (to.empty() ? "" : ", ") + address;
  std::string text = "From: " + Mailbox(mail.fromName, mail.fromAddress) + "\r\n";
  text += "To: " + to + "\r\n";
  if (!mail.replyTo.empty()) text += "Reply-To: " + mail.replyTo + "\r\n";
  text += "Subject: " + HeaderText(mail.subject) + "\r\n";
  if (!mail.messageID.empty()) text += "Message-ID: " + mail.messageID + "\r\n";
  text += "MIME-Version: 1.0\r\n";
  if (mail.html.empty()) return text + Part("text/plain", mail.body);
  const std::string boundary = BoundaryOf(mail);
  text += "Content-Type: multipart/alternative; boundary=\"" + boundary + "\"\r\n\r\n";
  text += "--" + boundary + "\r\n" + Part("text/plain", mail.body) + "\r\n";
  text += "--" + boundary + "\r\n" + Part("text/html", mail.html) + "\r\n";
  text += "--" + boundary + "--\r\n";
  return text;
}

void Deliver(const Relay& relay, const OutgoingMail& mail) {
  const std::string text = MessageText(mail);
  if (mail.to.empty()) throw Invalid("recipients", {}, "at least one address");
  if (relay.host.empty()) {
    throw Invalid("SMTPHost", {}, "the relay's host name (the setting is empty)");
  }
  // A value stored before addresses were checked is checked again here, before anything is sent.
  RequireRelayAddress(relay.host);
  const std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
  if (!curl) Failed("The mail library could not start.");
  std::unique_ptr<curl_slist, SlistCleanup> recipients;
  for (const auto& address : mail.to) {
    curl_slist* grown = curl_slist_append(recipients.get(), ("<" + address + ">").c_str());
    if (grown == nullptr) Failed("Out of memory while listing the recipients.");
    (void)recipients.release();
    recipients.reset(grown);
  }
  const std::string url = RelayURL(relay);
  const std::string from = "<" + mail.fromAddress + ">";
  Upload upload{text};
  char error[CURL_ERROR_SIZE] = {};
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, recipients.get());
  curl_easy_setopt(handle, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(handle, CURLOPT_READDATA, &upload);
  curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(relay.connectTimeout.count()));
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(relay.timeout.count()));
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  // Only mail protocols, on the first connection and on any libcurl might be sent on to.
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "smtp,smtps");
#else
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_SMTP | CURLPROTO_SMTPS));
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS,
                   static_cast<long>(CURLPROTO_SMTP | CURLPROTO_SMTPS));
#endif
  // STARTTLS is required, never optional: a relay that does not offer it gets nothing in clear.
  if (relay.security == MailSecurity::StartTls) {
    curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  }
  if (!relay.caFile.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, relay.caFile.c_str());
  if (!relay.user.empty()) {
    curl_easy_setopt(handle, CURLOPT_USERNAME, relay.user.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, relay.password.c_str());
  }
  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) {
    Failed("The e-mail was not delivered to " + url + ": " +
           (error[0] != '\0' ? std::string(error) : std::string(curl_easy_strerror(result))));
  }
}

}  // namespace app
