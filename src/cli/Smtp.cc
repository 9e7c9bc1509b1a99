#include "cli/Smtp.h"

#include <fmt/format.h>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "cli/Base64.h"
#include "vb/ComError.h"

namespace cli {
namespace {

constexpr std::string_view kSource = "kvaction.Smtp";

[[noreturn]] void Refuse(const std::string& description) {
  throw vb::ComError(vb::kInvalidProcedureCall, std::string(kSource), description);
}

/// A line break in a header value would let it add headers or recipients of its own.
void RequireOneLine(std::string_view what, std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    Refuse("The e-mail's " + std::string(what) + " holds a line break; nothing was sent.");
  }
}

void RequireHeaderValues(const MailMessage& message) {
  RequireOneLine("sender name", message.fromName);
  RequireOneLine("sender address", message.fromAddress);
  for (const auto& address : message.to) RequireOneLine("recipient address", address);
  RequireOneLine("subject", message.subject);
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

/// A header text as is when it is ASCII, else as one RFC 2047 encoded word.
std::string HeaderText(std::string_view text) {
  return IsAscii(text) ? std::string(text) : "=?UTF-8?B?" + ToBase64(text) + "?=";
}

/// "Name" <address>, the name quoted (or encoded) so that its commas and quotes stay its own.
std::string Mailbox(std::string_view name, std::string_view address) {
  if (name.empty()) return fmt::format("<{}>", address);
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

std::string RelayURL(std::string_view host) {
  return host.find("://") == std::string_view::npos ? "smtp://" + std::string(host)
                                                    : std::string(host);
}

}  // namespace

std::string MailText(const MailMessage& message) {
  RequireHeaderValues(message);
  std::string to;
  for (const auto& address : message.to) to += (to.empty() ? "" : ", ") + address;
  std::string text = "From: " + Mailbox(message.fromName, message.fromAddress) + "\r\n";
  text += "To: " + to + "\r\n";
  text += "Subject: " + HeaderText(message.subject) + "\r\n";
  text += "MIME-Version: 1.0\r\n";
  text += "Content-Type: text/plain; charset=UTF-8\r\n";
  text += "Content-Transfer-Encoding: 8bit\r\n";
  text += "\r\n";
  text += message.body;
  return text;
}

void SendMail(std::string_view host, const MailMessage& message) {
  const std::string text = MailText(message);
  if (message.to.empty()) Refuse("The e-mail has no recipient; nothing was sent.");
  if (host.empty()) Refuse("No SMTP host is set (the setting \"SMTPHost\"); nothing was sent.");

  const std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
  if (!curl) Refuse("The mail library could not start.");
  std::unique_ptr<curl_slist, SlistCleanup> recipients;
  for (const auto& address : message.to) {
    curl_slist* grown = curl_slist_append(recipients.get(), ("<" + address + ">").c_str());
    if (grown == nullptr) Refuse("Out of memory while listing the recipients.");
    (void)recipients.release();
    recipients.reset(grown);
  }
  const std::string url = RelayURL(host);
  const std::string from = "<" + message.fromAddress + ">";
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
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) {
    Refuse("The e-mail was not delivered to " + url + ": " +
           (error[0] != '\0' ? std::string(error) : std::string(curl_easy_strerror(result))));
  }
}

}  // namespace cli
