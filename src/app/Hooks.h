#pragma once
// Webhooks: administrators register URLs that other programs listen on; each change to an action
// (created, changed, moved, commented, deleted) becomes one JSON delivery per hook that takes the
// event, written in the transaction of the change, and POSTed from there later by `serve`'s worker
// or `kvaction hooks deliver`, signed with the hook's secret (HMAC-SHA256). A delivery is claimed
// before it is sent, so any number of processes delivering at once send each attempt once;
// failed attempts are retried with the outbox's back-off (1, 2, 4 … minutes, at most an hour
// apart) until kGiveUpAfter. Only https:// addresses are taken (http:// only to this machine,
// for testing); redirects are never followed.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Outbox.h"
#include "vb/Date.h"

namespace app {

class Session;

namespace hooks {

/// What happened to an action.
enum class Event { Created, Changed, Moved, Commented, Deleted };
/// Every event by the name hooks and payloads use, in Event's order.
inline constexpr std::array<std::string_view, 5> kEventNames = {"created", "changed", "moved",
                                                                "commented", "deleted"};
[[nodiscard]] std::string_view NameOf(Event event);

/// The header names of a delivery.
inline constexpr std::string_view kEventHeader = "X-KvAction-Event";
inline constexpr std::string_view kDeliveryHeader = "X-KvAction-Delivery";
inline constexpr std::string_view kTimestampHeader = "X-KvAction-Timestamp";
inline constexpr std::string_view kSignatureHeader = "X-KvAction-Signature";

/// One field a change wrote: its column and its values before and after (JSON forms).
struct FieldChange {
  std::string field;
  nlohmann::json from;
  nlohmann::json to;
};

/// What an event carries besides the action.
struct Details {
  std::vector<FieldChange> changes;  ///< changed, moved: the fields written
  std::string move;                  ///< moved: the move in words ("completed", "reopened" …)
  std::string comment;               ///< commented: the comment's text
};

/// The deliveries one event makes, built while the action can still be read (a deletion builds
/// them before the row goes and queues them after).
struct Pending {
  Event event = Event::Changed;
  int32_t actionID = 0;
  std::vector<int32_t> hookIDs;  ///< the active hooks that take the event
  std::string payload;           ///< the JSON body (empty when no hook takes the event)
};
/// The deliveries of an event to every active hook that takes it, with the action as it is now.
[[nodiscard]] Pending Prepare(Session& session, Event event, int32_t actionID,
                              const Details& details = {});
/// Writes pending's deliveries (in the transaction open on the session's connection, if any);
/// due at once.
void Queue(Session& session, const Pending& pending);
/// Prepare and Queue in one: the one call every change to an action makes.
void Emit(Session& session, Event event, int32_t actionID, const Details& details = {});

/// A registered hook; its secret is never read back.
struct Hook {
  int32_t hookID = 0;
  std::string url;
  std::vector<std::string> events;
  bool active = true;
  std::string createdBy;
  vb::Date created;
};
/// A new hook or the changes to one (unset members stay).
struct HookSettings {
  std::optional<std::string> url;
  std::optional<std::string> secret;  ///< empty text on Add: a new random secret is made
  std::optional<std::string> events;  ///< event names separated by commas, or "all"
  std::optional<bool> active;
};
/// The least length of a secret an administrator chooses.
inline constexpr size_t kMinSecretLength = 16;

/// Checks a hook's address: https://, or http:// to 127.0.0.1 (any of 127.0.0.0/8), [::1] or
/// localhost; no user name or password in it. Raises kInvalidInput naming "URL".
void CheckURL(std::string_view url);
/// The event names of a comma-separated text ("all": every event), in Event's order. Raises
/// kInvalidInput naming "events".
[[nodiscard]] std::vector<std::string> EventsOf(std::string_view text);

/// The hooks (SuperUser), oldest first.
[[nodiscard]] std::vector<Hook> List(Session& session);
/// A hook added: its ID and its secret (the one given, or the one made).
struct Added {
  int32_t hookID = 0;
  std::string secret;
};
/// Registers a hook (SuperUser): url is required; events default to all; a secret, when given,
/// has at least kMinSecretLength characters. Recorded in the history.
Added Add(Session& session, const HookSettings& settings);
/// Changes a hook (SuperUser); raises kNotFound for an unknown one. A secret given empty is
/// replaced by a new random one, which is returned; otherwise returns "".
std::string Edit(Session& session, int32_t hookID, const HookSettings& changes);
/// Removes a hook and its deliveries (SuperUser); raises kNotFound for an unknown one.
void Remove(Session& session, int32_t hookID);

/// One delivery of an event to a hook.
struct Delivery {
  int32_t deliveryID = 0;
  std::string key;  ///< the delivery header's value: the same on every attempt
  int32_t hookID = 0;
  std::string event;
  int32_t actionID = 0;
  std::string createdBy;
  vb::Date created;
  int32_t attempts = 0;
  vb::Date nextAttempt;
  std::optional<vb::Date> delivered;
  std::optional<vb::Date> gaveUp;
  int32_t status = 0;     ///< the receiver's last HTTP status (0: no answer)
  std::string answer;     ///< the start of the last answer's body
  std::string lastError;  ///< why the last attempt failed
  std::string payload;
  /// "waiting", "delivered" or "failed" (given up).
  [[nodiscard]] std::string_view State() const;
};
/// The latest deliveries, newest first, of one hook (0: of every hook), at most limit
/// (SuperUser).
[[nodiscard]] std::vector<Delivery> Deliveries(Session& session, int32_t hookID = 0,
                                               int32_t limit = 50);

/// What one delivery run did.
/// What a round of deliveries did, as the outbox reports its mail; each problem reads "webhook
/// delivery N (event) to URL: error", never with a secret.
using DeliveryReport = app::DeliveryReport;
/// How deliveries are made.
struct DeliveryOptions {
  std::chrono::seconds connectTimeout{5};
  std::chrono::seconds timeout{15};  ///< for the whole exchange
  /// Called after the receiver answered and before the answer is stored (tests stop there).
  std::function<void(int32_t deliveryID)> afterAnswer;
};
/// Delivers what is due now to the active hooks, oldest first (SuperUser). Another process
/// delivering at the same time never sends the same attempt twice.
DeliveryReport Deliver(Session& session, const DeliveryOptions& options = {});

/// The signature header's value for a body sent at timestamp (seconds since 1970):
/// "sha256=" and the hex HMAC-SHA256, keyed with secret, of "TIMESTAMP.BODY".
[[nodiscard]] std::string Signature(std::string_view secret, std::string_view timestamp,
                                    std::string_view body);

}  // namespace hooks
}  // namespace app
