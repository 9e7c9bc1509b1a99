#include "app/Hooks.h"

#include <curl/curl.h>
#include <fmt/format.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>

#include "app/Admin.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Json.h"
#include "app/Notify.h"
#include "app/Outbox.h"
#include "app/Session.h"
#include "app/View.h"
#include "kvaction/Version.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"
#include "vb/Convert.h"

namespace app::hooks {
namespace {

using kvdata::DataUtility;

/// How much of a receiver's answer is kept for the administrator to read.
constexpr size_t kAnswerExcerpt = 200;
constexpr std::string_view kURLForm =
    "an https:// address (or http:// to this machine: 127.0.0.1, [::1] or localhost, for testing)";

vb::Date Now(Session& session) { return internal::Connection(session).Clock().Now(); }

std::string Hex(const unsigned char* bytes, size_t size) {
  std::string hex(size * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes, size);
  hex.pop_back();
  return hex;
}

std::string RandomHex(size_t bytes) {
  if (sodium_init() < 0) throw vb::ComError(kNotStored, std::string(kSource), "No random source.");
  std::vector<unsigned char> random(bytes);
  randombytes_buf(random.data(), random.size());
  return Hex(random.data(), random.size());
}

void RequireAdministrator(Session& session, std::string_view what) {
  internal::RequireSuper(session, what);
}

std::string Lower(std::string_view text) { return vb::LCase(text); }

struct CurlUrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

/// One part of a parsed address ("" when it has none).
std::string Part(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) return {};
  std::string value(text);
  curl_free(text);
  return value;
}

bool IsLoopback(std::string host) {
  host = Lower(host);
  if (host == "localhost" || host == "[::1]" || host == "::1") return true;
  // 127.0.0.0/8 written as a dotted quad, as the URL parser normalises it.
  int parts[4] = {};
  char end = 0;
  return std::sscanf(host.c_str(), "%d.%d.%d.%d%c", &parts[0], &parts[1], &parts[2], &parts[3],
                     &end) == 4 &&
         parts[0] == 127 && std::all_of(std::begin(parts), std::end(parts), [](int part) {
           return part >= 0 && part <= 255;
         });
}

/// The address without a user's password, its query and its fragment, for messages and logs: a
/// password or a token some receivers take in the query stays out of them.
std::string Shown(std::string_view url) {
  std::string shown(url.substr(0, std::min(url.find('?'), url.find('#'))));
  const auto start = shown.find("://");
  const auto at = shown.rfind('@');
  if (start != std::string::npos && at != std::string::npos && at > start &&
      shown.find('/', start + 3) > at) {
    shown.replace(start + 3, at - start - 3, "…");
  }
  return shown;
}

std::string Joined(const std::vector<std::string>& names) {
  return fmt::format("{}", fmt::join(names, ","));
}

std::vector<std::string> Split(std::string_view text) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    const auto comma = text.find(',');
    std::string part = internal::TrimBlanks(text.substr(0, comma));
    if (!part.empty()) parts.push_back(Lower(part));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return parts;
}

void CheckSecret(std::string_view secret) {
  if (secret.size() < kMinSecretLength) {
    throw Invalid("secret", {},
                  fmt::format("at least {} characters (or leave it empty for a random one)",
                              kMinSecretLength));
  }
  internal::CheckSize("secret", secret, 255);
  if (std::any_of(secret.begin(), secret.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    throw Invalid("secret", {}, "text without control characters");
  }
}

Hook HookOf(ado::Recordset& rs) {
  Hook hook;
  hook.hookID = vb::CLng(rs["HookID"].Value());
  hook.url = vb::TextOf(rs["URL"].Value());
  hook.events = Split(vb::TextOf(rs["Events"].Value()));
  const vb::Variant& active = rs["Active"].Value();
  hook.active = !internal::IsSet(active) || vb::CBool(active);
  hook.createdBy = vb::TextOf(rs["CreatedBy"].Value());
  hook.created = vb::CDate(rs["Created"].Value());
  return hook;
}

std::optional<vb::Date> DateIn(const vb::Variant& value) {
  if (!internal::IsSet(value)) return std::nullopt;
  return vb::CDate(value);
}

Delivery DeliveryOf(ado::Recordset& rs) {
  const auto text = [&](std::string_view column) { return vb::TextOf(rs[column].Value()); };
  const auto number = [&](std::string_view column) {
    const vb::Variant& value = rs[column].Value();
    return internal::IsSet(value) ? vb::CLng(value) : 0;
  };
  Delivery delivery;
  delivery.deliveryID = number("DeliveryID");
  delivery.key = text("DeliveryKey");
  delivery.hookID = number("HookID");
  delivery.event = text("Event");
  delivery.actionID = number("ActionID");
  delivery.createdBy = text("CreatedBy");
  delivery.created = vb::CDate(rs["Created"].Value());
  delivery.attempts = number("Attempts");
  delivery.nextAttempt = vb::CDate(rs["NextAttempt"].Value());
  delivery.delivered = DateIn(rs["Delivered"].Value());
  delivery.gaveUp = DateIn(rs["GaveUp"].Value());
  delivery.status = number("Status");
  delivery.answer = text("Answer");
  delivery.lastError = text("LastError");
  delivery.payload = text("Payload");
  return delivery;
}

ado::RecordsetPtr HookRow(Session& session, int32_t hookID) {
  auto rs = internal::WritableRows(
      session, fmt::format("select * from ActionHooks where HookID = {}", hookID));
  if (rs->IsEOF()) throw NotFound("webhook", "ID", fmt::format("{}", hookID));
  return rs;
}

/// The action as a payload shows it: what any front end shows of it, with its page's link.
nlohmann::ordered_json ActionJson(Session& session, int32_t actionID) {
  const ActionView view = ViewOf(session, actionID);
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
  for (const ViewField& field : view.fields) {
    if (field.visible) fields[field.column] = JsonValue(field.value);
  }
  nlohmann::ordered_json action = {{"id", view.id},
                                   {"number", view.number},
                                   {"subject", view.subject},
                                   {"state", StateCode(view.state.state)},
                                   {"stateText", view.state.words}};
  const std::string link = ActionPageLink(session, WebURL(session), actionID);
  action["url"] = link.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(link);
  action["fields"] = std::move(fields);
  return action;
}

// --- Sending -----------------------------------------------------------------------------------

struct CurlFree {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t KeepStart(char* data, size_t size, size_t count, void* answer) {
  auto& kept = *static_cast<std::string*>(answer);
  const size_t bytes = size * count;
  if (kept.size() < kAnswerExcerpt)
    kept.append(data, std::min(bytes, kAnswerExcerpt - kept.size()));
  return bytes;
}

/// An answer's start as text the database takes: printable ASCII and whole UTF-8 sequences kept,
/// anything else as '?'.
std::string Printable(std::string_view bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7f) {
      text += static_cast<char>(c);
      ++i;
      continue;
    }
    if (c == '\n' || c == '\t' || c == '\r') {
      text += ' ';
      ++i;
      continue;
    }
    const size_t length = c >= 0xf0 && c < 0xf5 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
    const bool whole =
        length > 0 && i + length <= bytes.size() &&
        std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(i + 1),
                    bytes.begin() + static_cast<std::ptrdiff_t>(i + length),
                    [](char b) { return (static_cast<unsigned char>(b) & 0xc0) == 0x80; });
    if (whole) {
      text.append(bytes.substr(i, length));
      i += length;
    } else {
      text += '?';
      ++i;
    }
  }
  return text;
}

/// What one POST came back with.
struct Answer {
  int32_t status = 0;
  std::string excerpt;
  std::string location;  ///< a redirect's target
  std::string error;     ///< empty: the receiver took it (2xx)
};

Answer Post(const Hook& hook, std::string_view secret, const Delivery& delivery,
            const DeliveryOptions& options) {
  Answer answer;
  try {
    CheckURL(hook.url);
  } catch (const vb::ComError& e) {
    answer.error = e.description();
    return answer;
  }
  const std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
  if (!curl) {
    answer.error = "The HTTP library could not start.";
    return answer;
  }
  const std::string timestamp =
      fmt::format("{}", std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count());
  std::unique_ptr<curl_slist, SlistFree> headers;
  for (const std::string& header :
       {std::string("Content-Type: application/json; charset=utf-8"),
        fmt::format("User-Agent: kvAction-Webhook/{}", KVACTION_VERSION),
        fmt::format("{}: {}", kEventHeader, delivery.event),
        fmt::format("{}: {}", kDeliveryHeader, delivery.key),
        fmt::format("{}: {}", kTimestampHeader, timestamp),
        fmt::format("{}: {}", kSignatureHeader, Signature(secret, timestamp, delivery.payload)),
        std::string("Expect:")}) {
    curl_slist* grown = curl_slist_append(headers.get(), header.c_str());
    if (grown == nullptr) {
      answer.error = "The HTTP library ran out of memory.";
      return answer;
    }
    (void)headers.release();
    headers.reset(grown);
  }
  std::array<char, CURL_ERROR_SIZE> error{};
  std::string body;
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, hook.url.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, delivery.payload.c_str());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                   static_cast<curl_off_t>(delivery.payload.size()));
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, KeepStart);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error.data());
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT,
                   static_cast<long>(options.connectTimeout.count()));
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(options.timeout.count()));
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  // A redirect is reported, never followed: the address registered is the only one posted to.
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "");
#else
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS, 0L);
#endif
  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) {
    answer.error =
        fmt::format("no answer ({})", error[0] != '\0' ? error.data() : curl_easy_strerror(result));
    return answer;
  }
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  answer.status = static_cast<int32_t>(status);
  answer.excerpt = Printable(body);
  if (status >= 200 && status < 300) return answer;
  if (status >= 300 && status < 400) {
    char* location = nullptr;
    curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location);
    answer.location = location != nullptr ? Shown(location) : std::string();
    answer.error = fmt::format(
        "the receiver answered {} (a redirect{}); redirects are not followed: register the "
        "address it names",
        status, answer.location.empty() ? "" : " to " + answer.location);
    return answer;
  }
  answer.error = fmt::format("the receiver answered {}", status);
  return answer;
}

/// Counts one more attempt and schedules the next before posting, so that a process stopping
/// after the post leaves a delivery that is tried again once, later. False when another process
/// took this attempt first.
QueuedRow RowOf(const Delivery& delivery) {
  return {"ActionHookDeliveries", "DeliveryID", delivery.deliveryID, delivery.attempts};
}

vb::Variant TextOrNull(const std::string& text) {
  return text.empty() ? vb::Variant(vb::Null) : vb::Variant(text);
}

}  // namespace

std::string_view NameOf(Event event) { return kEventNames.at(static_cast<size_t>(event)); }

std::string_view Delivery::State() const {
  if (delivered) return "delivered";
  if (gaveUp) return "failed";
  return "waiting";
}

std::string Signature(std::string_view secret, std::string_view timestamp, std::string_view body) {
  if (sodium_init() < 0) throw vb::ComError(kNotStored, std::string(kSource), "No random source.");
  crypto_auth_hmacsha256_state state;
  std::array<unsigned char, crypto_auth_hmacsha256_BYTES> mac{};
  crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char*>(secret.data()),
                              secret.size());
  crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(timestamp.data()),
                                timestamp.size());
  crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>("."), 1);
  crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(body.data()),
                                body.size());
  crypto_auth_hmacsha256_final(&state, mac.data());
  return "sha256=" + Hex(mac.data(), mac.size());
}

void CheckURL(std::string_view url) {
  internal::CheckSize("URL", url, 2000);
  const std::unique_ptr<CURLU, CurlUrlFree> parsed(curl_url());
  const std::string text(url);
  if (!parsed || text.empty() ||
      curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
    throw Invalid("URL", Shown(url), kURLForm);
  }
  const std::string scheme = Lower(Part(parsed.get(), CURLUPART_SCHEME));
  const std::string host = Part(parsed.get(), CURLUPART_HOST);
  if (host.empty() || (scheme != "https" && !(scheme == "http" && IsLoopback(host)))) {
    throw Invalid("URL", Shown(url), kURLForm);
  }
  if (!Part(parsed.get(), CURLUPART_USER).empty() ||
      !Part(parsed.get(), CURLUPART_PASSWORD).empty()) {
    throw Invalid("URL", Shown(url),
                  "an address without a user name or password (the secret signs each delivery)");
  }
}

std::vector<std::string> EventsOf(std::string_view text) {
  const std::vector<std::string> given = Split(text);
  if (given.empty() || (given.size() == 1 && given[0] == "all")) {
    return {kEventNames.begin(), kEventNames.end()};
  }
  std::vector<std::string> events;
  for (const std::string_view name : kEventNames) {
    if (std::find(given.begin(), given.end(), name) != given.end()) events.emplace_back(name);
  }
  for (const std::string& name : given) {
    if (std::find(kEventNames.begin(), kEventNames.end(), name) == kEventNames.end()) {
      throw Invalid("events", name,
                    "a list of created, changed, moved, commented and deleted separated by "
                    "commas, or all");
    }
  }
  return events;
}

std::vector<Hook> List(Session& session) {
  RequireAdministrator(session, "reading the webhooks");
  const auto rs = internal::ReadRows(session, "select * from ActionHooks order by HookID");
  std::vector<Hook> hooks;
  for (; !rs->IsEOF(); rs->MoveNext()) hooks.push_back(HookOf(*rs));
  return hooks;
}

Added Add(Session& session, const HookSettings& settings) {
  RequireAdministrator(session, "adding a webhook");
  const std::string url = internal::TrimBlanks(settings.url.value_or(""));
  if (url.empty()) throw Invalid("URL", {}, kURLForm);
  CheckURL(url);
  const std::vector<std::string> events = EventsOf(settings.events.value_or("all"));
  Added added;
  added.secret = settings.secret.value_or("");
  if (added.secret.empty()) {
    added.secret = RandomHex(32);
  } else {
    CheckSecret(added.secret);
  }
  const vb::Date now = Now(session);
  // A random key finds the row just added on both engines.
  const std::string key = RandomHex(16);
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    const auto rs = internal::WritableRows(session, "select * from ActionHooks where HookID = 0");
    rs->AddNew({"URL", "Secret", "Events", "Active", "CreatedBy", "Created"},
               {url, key, Joined(events), settings.active.value_or(true), session.userID(), now});
    const auto stored = internal::WritableRows(
        session, "select * from ActionHooks where Secret = " + DataUtility::SqlText(key));
    added.hookID = vb::CLng((*stored)["HookID"].Value());
    stored->Update({"Secret"}, {added.secret});
    internal::Record(session, evHookChanged, 0,
                     fmt::format("Webhook {} added: {}", added.hookID, Shown(url)));
  });
  return added;
}

std::string Edit(Session& session, int32_t hookID, const HookSettings& changes) {
  RequireAdministrator(session, "changing a webhook");
  const auto rs = HookRow(session, hookID);
  std::vector<std::string> fields;
  std::vector<vb::Variant> values;
  std::vector<std::string> said;
  std::string newSecret;
  if (changes.url) {
    const std::string url = internal::TrimBlanks(*changes.url);
    if (url.empty()) throw Invalid("URL", {}, kURLForm);
    CheckURL(url);
    fields.emplace_back("URL");
    values.emplace_back(url);
    said.push_back("address " + Shown(url));
  }
  if (changes.events) {
    fields.emplace_back("Events");
    const std::string events = Joined(EventsOf(*changes.events));
    values.emplace_back(events);
    said.push_back("events " + events);
  }
  if (changes.secret) {
    newSecret = changes.secret->empty() ? RandomHex(32) : std::string();
    if (newSecret.empty()) CheckSecret(*changes.secret);
    fields.emplace_back("Secret");
    values.emplace_back(newSecret.empty() ? *changes.secret : newSecret);
    said.emplace_back("a new secret");
  }
  if (changes.active) {
    fields.emplace_back("Active");
    values.emplace_back(*changes.active);
    said.emplace_back(*changes.active ? "active" : "paused");
  }
  if (fields.empty()) return {};
  kvdata::RunInTransaction(internal::Connection(session), [&] {
    rs->Update(fields, values);
    internal::Record(session, evHookChanged, 0,
                     fmt::format("Webhook {} changed: {}", hookID, fmt::join(said, ", ")));
  });
  return newSecret;
}

void Remove(Session& session, int32_t hookID) {
  RequireAdministrator(session, "removing a webhook");
  const auto rs = HookRow(session, hookID);
  const std::string url = Shown(vb::TextOf((*rs)["URL"].Value()));
  auto& connection = internal::Connection(session);
  kvdata::RunInTransaction(connection, [&] {
    (void)connection.Execute(
        fmt::format("delete from ActionHookDeliveries where HookID = {}", hookID));
    (void)connection.Execute(fmt::format("delete from ActionHooks where HookID = {}", hookID));
    internal::Record(session, evHookChanged, 0, fmt::format("Webhook {} removed: {}", hookID, url));
  });
}

Pending Prepare(Session& session, Event event, int32_t actionID, const Details& details) {
  Pending pending{event, actionID, {}, {}};
  const auto rs = internal::ReadRows(session, "select * from ActionHooks order by HookID");
  for (; !rs->IsEOF(); rs->MoveNext()) {
    const Hook hook = HookOf(*rs);
    if (hook.active &&
        std::find(hook.events.begin(), hook.events.end(), NameOf(event)) != hook.events.end()) {
      pending.hookIDs.push_back(hook.hookID);
    }
  }
  if (pending.hookIDs.empty()) return pending;
  nlohmann::ordered_json payload = {
      {"event", NameOf(event)},
      {"occurred", Iso8601(Now(session))},
      {"actor",
       {{"id", session.userID()}, {"name", internal::UserName(session, session.userID())}}},
      {"action", ActionJson(session, actionID)}};
  if (event == Event::Changed || event == Event::Moved) {
    nlohmann::ordered_json changes = nlohmann::ordered_json::array();
    for (const FieldChange& change : details.changes) {
      changes.push_back({{"field", change.field}, {"from", change.from}, {"to", change.to}});
    }
    payload["changes"] = std::move(changes);
  }
  if (event == Event::Moved) payload["move"] = details.move;
  if (event == Event::Commented) payload["comment"] = details.comment;
  pending.payload = payload.dump();
  return pending;
}

void Queue(Session& session, const Pending& pending) {
  if (pending.hookIDs.empty()) return;
  const vb::Date now = Now(session);
  const auto rs =
      internal::WritableRows(session, "select * from ActionHookDeliveries where DeliveryID = 0");
  for (const int32_t hookID : pending.hookIDs) {
    rs->AddNew({"DeliveryKey", "HookID", "Event", "ActionID", "CreatedBy", "Payload", "Created",
                "Attempts", "NextAttempt"},
               {RandomHex(16), hookID, std::string(NameOf(pending.event)), pending.actionID,
                session.userID(), pending.payload, now, int32_t{0}, now});
  }
}

void Emit(Session& session, Event event, int32_t actionID, const Details& details) {
  Queue(session, Prepare(session, event, actionID, details));
}

std::vector<Delivery> Deliveries(Session& session, int32_t hookID, int32_t limit) {
  RequireAdministrator(session, "reading the webhook deliveries");
  std::string sql = "select * from ActionHookDeliveries";
  if (hookID != 0) sql += fmt::format(" where HookID = {}", hookID);
  const auto rs = internal::ReadRows(session, sql + " order by DeliveryID desc");
  std::vector<Delivery> deliveries;
  for (; !rs->IsEOF() && static_cast<int32_t>(deliveries.size()) < limit; rs->MoveNext()) {
    deliveries.push_back(DeliveryOf(*rs));
  }
  return deliveries;
}

DeliveryReport Deliver(Session& session, const DeliveryOptions& options) {
  RequireAdministrator(session, "delivering webhooks");
  std::map<int32_t, std::pair<Hook, std::string>> hooks;  // with each one's secret
  {
    const auto rs = internal::ReadRows(session, "select * from ActionHooks");
    for (; !rs->IsEOF(); rs->MoveNext()) {
      Hook hook = HookOf(*rs);
      if (hook.active) {
        const int32_t id = hook.hookID;
        hooks.emplace(id, std::make_pair(std::move(hook), vb::TextOf((*rs)["Secret"].Value())));
      }
    }
  }
  DeliveryReport report;
  if (hooks.empty()) return report;
  std::vector<Delivery> waiting;
  {
    const auto rs = internal::ReadRows(
        session,
        "select * from ActionHookDeliveries where Delivered is null and GaveUp is null order by "
        "DeliveryID");
    for (; !rs->IsEOF(); rs->MoveNext()) waiting.push_back(DeliveryOf(*rs));
  }
  for (const Delivery& delivery : waiting) {
    const auto hook = hooks.find(delivery.hookID);
    const vb::Date now = Now(session);
    if (hook == hooks.end() || delivery.nextAttempt > now ||
        !ClaimAttempt(session, RowOf(delivery), now, "Delivered is null and GaveUp is null")) {
      continue;
    }
    const Answer answer = Post(hook->second.first, hook->second.second, delivery, options);
    if (options.afterAnswer) options.afterAnswer(delivery.deliveryID);
    const vb::Variant status =
        answer.status == 0 ? vb::Variant(vb::Null) : vb::Variant(answer.status);
    if (answer.error.empty()) {
      MarkQueued(session, RowOf(delivery), {"Delivered", "Status", "Answer", "LastError"},
                 {Now(session), status, TextOrNull(answer.excerpt), vb::Null});
      ++report.delivered;
      continue;
    }
    report.problems.push_back(fmt::format("webhook delivery {} ({}) to {}: {}", delivery.deliveryID,
                                          delivery.event, Shown(hook->second.first.url),
                                          answer.error));
    const bool expired = Later(delivery.created, kGiveUpAfter) <= now;
    MarkQueued(session, RowOf(delivery), {"Status", "Answer", "LastError", "GaveUp"},
               {status, TextOrNull(answer.excerpt), answer.error,
                expired ? vb::Variant(now) : vb::Variant(vb::Null)});
    ++(expired ? report.gaveUp : report.deferred);
  }
  return report;
}

}  // namespace app::hooks
