#include "app/Outbox.h"

#include <fmt/format.h>
#include <sodium.h>

#include <algorithm>
#include <array>

#include "app/Errors.h"
#include "app/Internal.h"
#include "app/Replies.h"
#include "app/Session.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"
#include "vb/Convert.h"

namespace app {
namespace {

using kvdata::DataUtility;

constexpr double kMinutesPerDay = 24.0 * 60.0;

vb::Date Now(Session& session) { return internal::Connection(session).Clock().Now(); }

/// A Message-ID unique to this mail: random, and in the sender's domain when there is one.
std::string NewMessageID(std::string_view fromAddress) {
  std::array<unsigned char, 16> bytes{};
  randombytes_buf(bytes.data(), bytes.size());
  std::array<char, bytes.size() * 2 + 1> hex{};
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
  const auto at = fromAddress.rfind('@');
  const std::string domain = at == std::string_view::npos || at + 1 == fromAddress.size()
                                 ? std::string("kvaction.localhost")
                                 : std::string(fromAddress.substr(at + 1));
  return fmt::format("<{}.kvaction@{}>", hex.data(), domain);
}

std::string Joined(const std::vector<std::string>& addresses) {
  return fmt::format("{}", fmt::join(addresses, ", "));
}

std::vector<std::string> Split(std::string_view text) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    const auto comma = text.find(", ");
    parts.emplace_back(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 2);
  }
  return parts;
}

std::optional<vb::Date> DateIn(const vb::Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return std::nullopt;
  return vb::CDate(value);
}

OutboxEntry EntryOf(ado::Recordset& rs) {
  const auto text = [&](std::string_view column) { return vb::TextOf(rs[column].Value()); };
  const auto number = [&](std::string_view column) {
    const vb::Variant& value = rs[column].Value();
    return value.IsNull() ? 0 : vb::CLng(value);
  };
  OutboxEntry entry;
  entry.mailID = number("MailID");
  entry.messageID = text("MessageID");
  entry.actionID = number("ActionID");
  entry.createdBy = text("CreatedBy");
  entry.to = Split(text("Recipients"));
  entry.subject = text("Subject");
  entry.created = vb::CDate(rs["Created"].Value());
  entry.attempts = number("Attempts");
  entry.nextAttempt = vb::CDate(rs["NextAttempt"].Value());
  entry.sent = DateIn(rs["Sent"].Value());
  entry.gaveUp = DateIn(rs["GaveUp"].Value());
  entry.lastError = text("LastError");
  return entry;
}

/// The rows a person may see: a SuperUser every mail, anyone else the mail of their changes.
std::string Visible(Session& session, std::string_view where) {
  std::string sql = fmt::format("select * from ActionOutbox where {}", where);
  if (!internal::IsSuper(session)) {
    sql += " and CreatedBy = " + DataUtility::SqlText(session.userID());
  }
  return sql + " order by MailID";
}

/// Counts one more attempt and schedules the next before the relay is called, so that a
/// process stopping after the hand-over leaves a mail that is tried again once, later. False
/// when another process took this attempt first.
QueuedRow RowOf(const OutboxEntry& entry) {
  return {"ActionOutbox", "MailID", entry.mailID, entry.attempts};
}

OutgoingMail OutgoingOf(Session& session, const OutboxEntry& entry) {
  const auto rs = internal::ReadRows(
      session, fmt::format("select * from ActionOutbox where MailID = {}", entry.mailID));
  return {entry.messageID,
          vb::TextOf((*rs)["FromName"].Value()),
          vb::TextOf((*rs)["FromAddress"].Value()),
          entry.to,
          entry.subject,
          vb::TextOf((*rs)["Body"].Value()),
          vb::TextOf((*rs)["HtmlBody"].Value()),
          rs->Fields().Contains("ReplyTo") ? vb::TextOf((*rs)["ReplyTo"].Value()) : std::string()};
}

}  // namespace

vb::Date Later(const vb::Date& date, std::chrono::minutes minutes) {
  return vb::Date::FromSerial(date.Serial() +
                              static_cast<double>(minutes.count()) / kMinutesPerDay);
}

bool ClaimAttempt(Session& session, const QueuedRow& row, const vb::Date& now,
                  std::string_view condition) {
  auto& connection = internal::Connection(session);
  bool claimed = false;
  kvdata::RunInTransaction(connection, [&] {
    int32_t affected = 0;
    (void)connection.Execute(
        fmt::format("update {0} set Attempts = {1} where {2} = {3} and Attempts = {4}{5}{6}",
                    row.table, row.attempts + 1, row.key, row.id, row.attempts,
                    condition.empty() ? "" : " and ", condition),
        &affected);
    claimed = affected == 1;
    if (!claimed) return;
    MarkQueued(session, row, {"NextAttempt", "LastError"},
               {Later(now, BackOff(row.attempts + 1)),
                std::string("The delivery was interrupted; it is tried again.")});
  });
  return claimed;
}

void MarkQueued(Session& session, const QueuedRow& row, const std::vector<std::string>& fields,
                const std::vector<vb::Variant>& values) {
  const auto rs = internal::WritableRows(
      session, fmt::format("select * from {} where {} = {}", row.table, row.key, row.id));
  rs->Update(fields, values);
}

std::chrono::minutes BackOff(int32_t attempts) {
  constexpr int32_t kDoublings = 6;  // 2^6 minutes passes the longest wait
  const int32_t doublings = std::clamp(attempts - 1, 0, kDoublings);
  return std::min(std::chrono::minutes(1 << doublings), kLongestBackOff);
}

std::string_view OutboxEntry::State() const {
  if (sent) return "sent";
  if (gaveUp) return "failed";
  return "waiting";
}

namespace {

int32_t QueueOne(Session& session, const NewMail& mail) {
  auto& connection = internal::Connection(session);
  const vb::Date now = Now(session);
  const std::string messageID = NewMessageID(mail.fromAddress);
  const auto rs = internal::WritableRows(connection, "select * from ActionOutbox where MailID = 0");
  std::vector<std::string> names = {"MessageID",   "ActionID",   "CreatedBy", "FromName",
                                    "FromAddress", "Recipients", "Subject",   "Body",
                                    "HtmlBody",    "Created",    "Attempts",  "NextAttempt"};
  std::vector<vb::Variant> values = {
      messageID,
      mail.actionID,
      session.userID(),
      mail.fromName,
      mail.fromAddress,
      Joined(mail.to),
      mail.subject,
      mail.body,
      mail.html.empty() ? vb::Variant(vb::Null) : vb::Variant(mail.html),
      now,
      int32_t{0},
      now};
  // Only mail that carries one names the column, so a database not yet upgraded still queues.
  if (!mail.replyTo.empty()) {
    names.emplace_back("ReplyTo");
    values.emplace_back(mail.replyTo);
  }
  rs->AddNew(names, values);
  const auto stored =
      internal::ReadRows(connection, "select MailID from ActionOutbox where MessageID = " +
                                         DataUtility::SqlText(messageID));
  return vb::CLng((*stored)["MailID"].Value());
}

}  // namespace

int32_t Queue(Session& session, const NewMail& mail) {
  if (mail.actionID == 0 || !mail.replyTo.empty() || ReplyAddress(session).empty()) {
    return QueueOne(session, mail);
  }
  // Each recipient's reply proves who answers, so each gets a Reply-To of their own.
  int32_t first = 0;
  for (const std::string& recipient : mail.to) {
    NewMail one = mail;
    one.to = {recipient};
    one.replyTo = ReplyToFor(session, mail.actionID, recipient);
    const int32_t id = QueueOne(session, one);
    if (first == 0) first = id;
  }
  return first;
}

std::vector<OutboxEntry> OutboxList(Session& session, bool sent) {
  const auto rs = internal::ReadRows(session, Visible(session, sent ? "1 = 1" : "Sent is null"));
  std::vector<OutboxEntry> entries;
  for (; !rs->IsEOF(); rs->MoveNext()) entries.push_back(EntryOf(*rs));
  return entries;
}

DeliveryReport DeliverDue(Session& session, const Relay& relay, std::string_view createdBy,
                          const AfterHandOver& afterHandOver) {
  if (createdBy != session.userID()) internal::RequireSuper(session, "delivering everyone's mail");
  std::string where = "Sent is null and GaveUp is null";
  if (!createdBy.empty()) where += " and CreatedBy = " + DataUtility::SqlText(createdBy);
  const auto rs = internal::ReadRows(session, Visible(session, where));
  std::vector<OutboxEntry> waiting;
  for (; !rs->IsEOF(); rs->MoveNext()) waiting.push_back(EntryOf(*rs));

  DeliveryReport report;
  for (const OutboxEntry& entry : waiting) {
    const vb::Date now = Now(session);
    if (entry.nextAttempt > now || !ClaimAttempt(session, RowOf(entry), now)) continue;
    try {
      Deliver(relay, OutgoingOf(session, entry));
    } catch (const vb::ComError& e) {
      report.problems.push_back(
          fmt::format("mail {} to {}: {}", entry.mailID, Joined(entry.to), e.description()));
      const bool expired = Later(entry.created, kGiveUpAfter) <= now;
      MarkQueued(session, RowOf(entry), {"LastError", "GaveUp"},
                 {e.description(), expired ? vb::Variant(now) : vb::Variant(vb::Null)});
      ++(expired ? report.gaveUp : report.deferred);
      continue;
    }
    if (afterHandOver) afterHandOver(entry.mailID);
    MarkQueued(session, RowOf(entry), {"Sent", "LastError"}, {Now(session), vb::Null});
    ++report.delivered;
  }
  return report;
}

}  // namespace app
