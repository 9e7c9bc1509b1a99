#pragma once
// Replies by e-mail. With the setting ReplyAddress ("actions@example.org") each mail about an
// action goes to each recipient alone, with a Reply-To of its own: the address with a token after
// a '+' ("actions+12-4f0c…@example.org"). The token names the action and carries an HMAC-SHA256
// of the action and the recipient's address under the database's secret, so it cannot be made
// up or moved to another action or sender. A mail server hands each reply to `kvaction mail
// receive`; a reply whose token holds for its sender, a user who may see the action, becomes
// that person's comment, its quoted text and signature left out. Anything else is refused with a
// reason recorded in the event log, and nothing else changes.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/Session.h"

namespace app {

/// The setting with the address replies go to ("" when replies by mail are off).
inline constexpr const char* kReplyAddressSetting = "ReplyAddress";
/// The key under which the database keeps the secret of the reply tokens (not a setting anyone
/// reads through the product; the upgrade makes it).
inline constexpr const char* kReplySecretKey = "ReplySecret";

/// Event codes of mail replies: a reply taken as a comment (on the action; the text names its
/// Message-ID), a message refused (ActionID 0; the text gives the reason).
inline constexpr int32_t evMailReplyTaken = 25;
inline constexpr int32_t evMailRefused = 26;

/// The setting ReplyAddress of the session's database ("" when unset).
[[nodiscard]] std::string ReplyAddress(Session& session);

/// Raises kInvalidInput naming the setting unless address can carry reply tokens: one '@', no
/// '+' and at most kReplyLocalSize characters before the '@', no blanks or control characters.
void RequireReplyAddress(std::string_view address);
inline constexpr size_t kReplyLocalSize = 28;

/// The token of a reply to a mail about actionID sent to recipient: "ID-MAC", the MAC 24 hex
/// digits of HMAC-SHA256 under secret (64 hex digits) of the action and the address (letter
/// case ignored). Pure; raises kInvalidInput for a secret that is not 64 hex digits.
[[nodiscard]] std::string ReplyToken(std::string_view secret, int32_t actionID,
                                     std::string_view recipient);
/// The Reply-To of a mail about actionID to recipient: ReplyAddress with "+" and the token; ""
/// when replies by mail are off or the database has no secret yet (see Upgrade).
[[nodiscard]] std::string ReplyToFor(Session& session, int32_t actionID,
                                     std::string_view recipient);

/// What became of one received message.
struct ReplyOutcome {
  enum class Kind {
    Taken,         ///< stored as a comment
    AlreadyTaken,  ///< its Message-ID was taken before: nothing stored again
    Refused,       ///< refused; reason says why, and the event log has it
  };
  Kind kind = Kind::Refused;
  int32_t actionID = 0;  ///< the action the token names (0 when none could be read)
  std::string userID;    ///< the person commenting (Taken)
  std::string reason;
};

/// The most bytes a received message may have.
inline constexpr size_t kMaxReplyBytes = 10 * 1024 * 1024;

/// Reads one RFC 5322 message and, when it is a reply to a mail about an action from the person
/// it was sent to, stores its own text as that person's comment (see Comment). The token is
/// looked for in recipient (the envelope recipient a mail server names; may be empty) and the
/// To, Cc, Delivered-To, X-Original-To and Envelope-To headers. Refusals are recorded in the
/// event log (evMailRefused) and change nothing else; raises only when the database cannot be
/// read or written (a failure the mail server should retry).
[[nodiscard]] ReplyOutcome ReceiveReply(const OpenOptions& options, std::string_view message,
                                        std::string_view recipient = {});

/// The sender of a verified reply: only ReceiveReply makes one, and only a Session of it may act
/// as that person without a password.
class VerifiedSender {
 public:
  [[nodiscard]] const std::string& userID() const { return userID_; }

 private:
  friend struct ReplyCheck;
  explicit VerifiedSender(std::string userID) : userID_(std::move(userID)) {}
  std::string userID_;
};

}  // namespace app
