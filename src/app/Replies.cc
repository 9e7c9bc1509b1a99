#include "app/Replies.h"

#include <fmt/format.h>
#include <sodium.h>

#include <array>
#include <optional>
#include <vector>

#include "app/Comments.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "app/MailReader.h"
#include "kvaction/Action.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataServer.h"
#include "kvdata/DataUtility.h"
#include "kvdata/EventLog.h"
#include "kvdata/SettingsStore.h"
#include "vb/Convert.h"

namespace app {

// Builds the VerifiedSender of a reply whose token and sender hold.
struct ReplyCheck {
  static VerifiedSender Sender(std::string userID) { return VerifiedSender(std::move(userID)); }
};

namespace {

using kvdata::DataUtility;

constexpr size_t kMacBytes = 12;  // 96 bits: 24 hex digits in the address

std::string Lower(std::string_view text) { return vb::LCase(text); }

std::string Setting(kvdata::DataServer& server, std::string_view key) {
  return vb::TextOf(server.Settings()->Value(key));
}

// The local part and the domain of an address, split at its last '@'.
std::pair<std::string_view, std::string_view> Split(std::string_view address) {
  const size_t at = address.rfind('@');
  if (at == std::string_view::npos) return {address, {}};
  return {address.substr(0, at), address.substr(at + 1)};
}

// The token in one of addresses sent to the reply address (its local part with "+TOKEN").
std::optional<std::string> TokenIn(const std::vector<std::string>& addresses,
                                   std::string_view replyAddress) {
  const auto [replyLocal, replyDomain] = Split(replyAddress);
  for (const std::string& address : addresses) {
    const auto [local, domain] = Split(address);
    const size_t plus = local.find('+');
    if (plus == std::string_view::npos || !vb::EqualsText(domain, replyDomain) ||
        !vb::EqualsText(local.substr(0, plus), replyLocal)) {
      continue;
    }
    return std::string(local.substr(plus + 1));
  }
  return std::nullopt;
}

// The action a token names, when it has the form "ID-MAC".
std::optional<int32_t> ActionOfToken(std::string_view token) {
  const size_t dash = token.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9) return std::nullopt;
  int32_t id = 0;
  for (const char c : token.substr(0, dash)) {
    if (c < '0' || c > '9') return std::nullopt;
    id = id * 10 + (c - '0');
  }
  if (token.size() - dash - 1 != kMacBytes * 2 || id <= 0) return std::nullopt;
  return id;
}

// A refusal: its reason in the event log (ActionID 0, so a forged mail writes nothing into an
// action's history), and as the outcome.
ReplyOutcome Refused(kvdata::DataServer& server, int32_t actionID, std::string reason) {
  server.Events()->AddEvent(evMailRefused, 0, "Mail refused: " + reason);
  ReplyOutcome outcome;
  outcome.kind = ReplyOutcome::Kind::Refused;
  outcome.actionID = actionID;
  outcome.reason = std::move(reason);
  return outcome;
}

// A header value as a log line shows it: one line, at most 200 characters.
std::string Shown(std::string_view value) {
  std::string shown;
  for (const char c : value.substr(0, 200)) {
    shown += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  }
  return shown;
}

struct Sender {
  std::string userID;
  int32_t count = 0;
};
Sender UserOfAddress(kvdata::DataConnection& connection, std::string_view address) {
  const auto rs = internal::ReadRows(
      connection, "select UserID from Users where Email = " + DataUtility::SqlText(address));
  Sender sender;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    if (sender.count++ == 0) sender.userID = vb::TextOf((*rs)["UserID"].Value());
  }
  return sender;
}

}  // namespace

std::string ReplyAddress(Session& session) {
  return Setting(*vb::Require(session.action().DataServer()), kReplyAddressSetting);
}

void RequireReplyAddress(std::string_view address) {
  const auto [local, domain] = Split(address);
  const bool plain = std::none_of(address.begin(), address.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == '<' || c == '>' || c == ',' || c == '"';
  });
  if (!plain || local.empty() || domain.empty() || domain.find('@') != std::string_view::npos ||
      local.find('+') != std::string_view::npos || local.size() > kReplyLocalSize ||
      address.find('@') != local.size()) {
    throw Invalid(kReplyAddressSetting, address,
                  fmt::format("an address such as actions@example.org (no '+', at most {} "
                              "characters before the '@')",
                              kReplyLocalSize));
  }
}

std::string ReplyToken(std::string_view secret, int32_t actionID, std::string_view recipient) {
  std::array<unsigned char, crypto_auth_hmacsha256_KEYBYTES> key{};
  size_t length = 0;
  if (secret.size() != key.size() * 2 ||
      sodium_hex2bin(key.data(), key.size(), secret.data(), secret.size(), nullptr, &length,
                     nullptr) != 0 ||
      length != key.size()) {
    throw Invalid(kReplySecretKey, {}, "64 hexadecimal digits");
  }
  const std::string signed_ = fmt::format("{}\n{}", actionID, Lower(recipient));
  std::array<unsigned char, crypto_auth_hmacsha256_BYTES> mac{};
  crypto_auth_hmacsha256(mac.data(), reinterpret_cast<const unsigned char*>(signed_.data()),
                         signed_.size(), key.data());
  std::array<char, kMacBytes * 2 + 1> hex{};
  sodium_bin2hex(hex.data(), hex.size(), mac.data(), kMacBytes);
  return fmt::format("{}-{}", actionID, hex.data());
}

std::string ReplyToFor(Session& session, int32_t actionID, std::string_view recipient) {
  auto& server = *vb::Require(session.action().DataServer());
  const std::string address = Setting(server, kReplyAddressSetting);
  const std::string secret = Setting(server, kReplySecretKey);
  if (address.empty() || secret.empty()) return {};
  const auto [local, domain] = Split(address);
  return fmt::format("{}+{}@{}", local, ReplyToken(secret, actionID, recipient), domain);
}

ReplyOutcome ReceiveReply(const OpenOptions& options, std::string_view message,
                          std::string_view recipient) {
  auto action = std::make_unique<kvaction::Action>();
  if (options.clock) action->SetClock(options.clock);
  action->SetLocale(options.locale);
  action->OpenConnection(options.connection);
  auto& server = *vb::Require(action->DataServer());
  auto& connection = *vb::Require(server.Connection());

  if (message.size() > kMaxReplyBytes) {
    return Refused(server, 0, fmt::format("the message is larger than {} bytes", kMaxReplyBytes));
  }
  ReceivedMail mail;
  try {
    mail = ReadMail(message);
  } catch (const vb::ComError& error) {
    if (KindOf(error) != ErrorKind::InvalidInput) throw;
    return Refused(server, 0, error.description());
  }
  const std::string messageID = Shown(mail.Header("Message-ID"));
  const std::string about = messageID.empty() ? std::string("(no Message-ID)") : messageID;
  // Out-of-office answers and list traffic are no one's comment, and answering them would loop.
  const std::string automatic = Lower(mail.Header("Auto-Submitted"));
  const std::string precedence = Lower(mail.Header("Precedence"));
  if ((!automatic.empty() && automatic != "no") || precedence == "bulk" || precedence == "junk" ||
      precedence == "list" || precedence == "auto_reply") {
    return Refused(server, 0, fmt::format("an automatic message {}", about));
  }
  const std::string replyAddress = Setting(server, kReplyAddressSetting);
  const std::string secret = Setting(server, kReplySecretKey);
  if (replyAddress.empty() || secret.empty()) {
    return Refused(server, 0,
                   fmt::format("replies by mail are not set up (setting {}; run upgrade for the "
                               "secret) {}",
                               kReplyAddressSetting, about));
  }
  std::vector<std::string> addresses;
  if (!recipient.empty()) addresses.emplace_back(recipient);
  for (const char* header : {"Delivered-To", "X-Original-To", "Envelope-To", "To", "Cc"}) {
    for (const std::string& value : mail.HeadersNamed(header)) {
      for (std::string& address : AddressesIn(value)) addresses.push_back(std::move(address));
    }
  }
  const auto token = TokenIn(addresses, replyAddress);
  if (!token) {
    return Refused(
        server, 0,
        fmt::format("no reply token: not sent to {} with a '+' part {}", replyAddress, about));
  }
  const auto actionID = ActionOfToken(*token);
  if (!actionID) {
    return Refused(server, 0, fmt::format("a forged or damaged reply token {}", about));
  }
  const std::vector<std::string> from = AddressesIn(mail.Header("From"));
  if (from.size() != 1) {
    return Refused(server, *actionID, fmt::format("not one sender address in From {}", about));
  }
  const std::string& address = from.front();
  const Sender sender = UserOfAddress(connection, address);
  if (sender.count == 0) {
    return Refused(
        server, *actionID,
        fmt::format("unknown sender {} (no user has this address) {}", Shown(address), about));
  }
  const std::string expected = ReplyToken(secret, *actionID, address);
  if (expected.size() != token->size() ||
      sodium_memcmp(expected.data(), Lower(*token).data(), expected.size()) != 0) {
    return Refused(server, *actionID,
                   fmt::format("a forged reply token: not one issued to {} for action {} {}",
                               Shown(address), *actionID, about));
  }
  if (sender.count > 1) {
    return Refused(
        server, *actionID,
        fmt::format("the address {} belongs to several users {}", Shown(address), about));
  }
  Session session =
      Session::OfVerifiedSender(options, ReplyCheck::Sender(sender.userID), std::move(action));
  const auto gone = internal::ReadRows(
      session, fmt::format("select ActionID from actions where ActionID = {}", *actionID));
  if (gone->IsEOF()) {
    return Refused(server, *actionID,
                   fmt::format("action {} no longer exists {}", *actionID, about));
  }
  if (!MaySee(session, *actionID, sender.userID)) {
    return Refused(server, *actionID,
                   fmt::format("{} may not see action {}, so may not comment {}", sender.userID,
                               *actionID, about));
  }
  const std::string taken = "Comment by mail, Message-ID " + messageID;
  if (!messageID.empty() &&
      internal::Count(session,
                      fmt::format("select count(*) as n from ActionEvents where "
                                  "ActionID = {} and EventCode = {} and EventText = {}",
                                  *actionID, evMailReplyTaken, DataUtility::SqlText(taken))) > 0) {
    return {ReplyOutcome::Kind::AlreadyTaken, *actionID, sender.userID, "taken before"};
  }
  const std::string text = ReplyText(mail.text);
  if (text.empty()) {
    return Refused(
        server, *actionID,
        fmt::format("the reply from {} holds no text of its own {}", sender.userID, about));
  }
  try {
    kvdata::RunInTransaction(internal::Connection(session), [&] {
      Comment(session, *actionID, text);
      if (!messageID.empty()) internal::Record(session, evMailReplyTaken, *actionID, taken);
    });
  } catch (const vb::ComError& error) {
    if (KindOf(error) == ErrorKind::Other) throw;
    return Refused(server, *actionID,
                   fmt::format("the reply from {} was not stored: {} {}", sender.userID,
                               error.description(), about));
  }
  return {ReplyOutcome::Kind::Taken, *actionID, sender.userID, {}};
}

}  // namespace app
