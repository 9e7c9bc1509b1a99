#pragma once
// The outbox: mail is written to the table ActionOutbox in the transaction of the change it
// reports, and delivered from there later (by `kvaction mail send` or the web server), so a
// relay that is down never undoes or loses a change. Each mail keeps one Message-ID across its
// attempts. An attempt is counted and its next try scheduled before the relay is called: a
// process that stops between sending and marking the mail sent repeats that mail once, after
// the back-off, under the same Message-ID; a mail is never dropped unsent. Failed attempts are
// retried after 1, 2, 4 … minutes (at most an hour apart); a mail still undelivered
// kGiveUpAfter after it was queued is given up and stays listed with its last error.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Mailer.h"
#include "vb/Date.h"
#include "vb/Variant.h"

namespace app {

class Session;

/// How long delivery of one mail is retried.
inline constexpr std::chrono::hours kGiveUpAfter{48};
/// The longest wait between two attempts.
inline constexpr std::chrono::minutes kLongestBackOff{60};

/// The wait after attempt number attempts (1-based) failed: 1, 2, 4 … minutes, at most
/// kLongestBackOff.
[[nodiscard]] std::chrono::minutes BackOff(int32_t attempts);

/// date plus minutes.
[[nodiscard]] vb::Date Later(const vb::Date& date, std::chrono::minutes minutes);

/// A row of a delivery queue (the outbox, the webhooks' deliveries): its table, key column and
/// key, and the attempts counted so far.
struct QueuedRow {
  std::string_view table;
  std::string_view key;
  int32_t id = 0;
  int32_t attempts = 0;
};
/// Claims the row's next attempt for this process before it is made: counts it and moves its
/// next attempt past the back-off, in one transaction, only when no other process counted it
/// first (and the row still meets condition, SQL "and …" or ""). A process stopping before
/// recording the outcome thus leaves the row to be tried again later, never twice at once.
[[nodiscard]] bool ClaimAttempt(Session& session, const QueuedRow& row, const vb::Date& now,
                                std::string_view condition = {});
/// Stores fields of a queued row.
void MarkQueued(Session& session, const QueuedRow& row, const std::vector<std::string>& fields,
                const std::vector<vb::Variant>& values);

/// A mail to queue.
struct NewMail {
  int32_t actionID = 0;  ///< the action it reports; 0 for a digest
  std::string fromName;
  std::string fromAddress;
  std::vector<std::string> to;
  std::string subject;
  std::string body;
  std::string html;     ///< the HTML alternative; empty: plain text only
  std::string replyTo;  ///< the Reply-To address; empty: none (see below)
};

/// Writes mail to the outbox as the session's person (in the transaction open on the session's
/// connection, if any) with a new Message-ID; due at once. Returns its MailID. A mail about an
/// action, when replies by mail are on (app/Replies.h), is written once per recipient, each
/// with the Reply-To of that recipient; the MailID is then the first one's.
int32_t Queue(Session& session, const NewMail& mail);

/// One mail of the outbox.
struct OutboxEntry {
  int32_t mailID = 0;
  std::string messageID;
  int32_t actionID = 0;
  std::string createdBy;
  std::vector<std::string> to;
  std::string subject;
  vb::Date created;
  int32_t attempts = 0;
  vb::Date nextAttempt;
  std::optional<vb::Date> sent;
  std::optional<vb::Date> gaveUp;
  std::string lastError;
  /// "waiting", "sent" or "failed" (given up).
  [[nodiscard]] std::string_view State() const;
};

/// The mail that waits and the mail given up, oldest first; with sent also the mail delivered.
/// Needs right 43 (settings), or lists only the person's own mail.
[[nodiscard]] std::vector<OutboxEntry> OutboxList(Session& session, bool sent = false);

/// What one delivery run did.
struct DeliveryReport {
  int32_t delivered = 0;
  int32_t deferred = 0;  ///< failed, to be tried again
  int32_t gaveUp = 0;
  std::vector<std::string> problems;  ///< one line per failed attempt, e.g. "mail N to …: error"
};

/// Called after the relay accepted a mail and before it is marked sent (tests stop there).
using AfterHandOver = std::function<void(int32_t mailID)>;

/// Delivers the mail that is due now through relay, oldest first; createdBy (when not empty)
/// narrows the run to the mail that person's changes queued. Another process delivering at
/// the same time never sends the same attempt twice.
DeliveryReport DeliverDue(Session& session, const Relay& relay, std::string_view createdBy = {},
                          const AfterHandOver& afterHandOver = {});

}  // namespace app
