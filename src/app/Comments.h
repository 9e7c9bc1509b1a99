#pragma once
// Comments and mentions. Anyone who may see an action may comment on it without a review move.
// A comment is one more note of the action's notes, written as a review move's note is
// ("[M/d/yyyy user, commented] text"), so the library's own clients read it among the notes;
// it is stored through the library's update, which records it in the action's history, and it
// queues the notice of the change as every change does. "@userid" in a comment or in a review
// move's note draws that person in: everyone mentioned must be a person who may see the action
// (else nothing at all is stored), and each gets a notice of the mention through the outbox.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/Session.h"

namespace app {

/// The most characters one comment may hold.
inline constexpr int32_t kCommentSize = 10000;
/// The words a comment's note carries where a review note carries its move.
inline constexpr std::string_view kCommentedMove = "commented";

/// Whether userID names a person who may see actionID: a user of this database who can sign
/// in (one with a password). Reading an action needs nothing beyond being signed in, so this is
/// the one rule, decided here for comments, mentions and replies by mail. Letter case of the ID
/// is ignored, as the sign-in ignores it.
[[nodiscard]] bool MaySee(Session& session, int32_t actionID, std::string_view userID);

/// The user IDs text mentions, each once, in the order they first appear: "@" followed by
/// letters, digits, '.', '_' or '-', where the "@" does not follow a letter, digit or one of
/// those (so an e-mail address is no mention); a '.' or '-' ending the ID is punctuation.
[[nodiscard]] std::vector<std::string> MentionsIn(std::string_view text);

/// A person a text mentions: the user ID as stored and the name shown in its place.
struct Mention {
  std::string userID;
  std::string name;
};

/// The people text mentions, every one checked before anything is stored: a mention of no user
/// raises kInvalidInput naming field, a mention of someone who may not see the action kRefused.
[[nodiscard]] std::vector<Mention> CheckMentions(Session& session, int32_t actionID,
                                                 std::string_view text, std::string_view field);

/// The known people text mentions (an unknown "@word" is text), for showing names in a thread.
[[nodiscard]] std::vector<Mention> KnownMentions(Session& session, std::string_view text);

/// Queues in the open transaction, when notices are sent (AutoEmail on and the session sends
/// mail), one notice per person mentioned who has an address, never to the writer; words say
/// where ("a comment", "a note"). Returns the number queued.
int32_t NoticeOfMentions(Session& session, int32_t actionID, const std::vector<Mention>& mentions,
                         std::string_view text, std::string_view words);

/// Comments on an action as the person. text: not empty, at most kCommentSize characters,
/// lines and tabs allowed, no other control characters. Raises kNotFound for no such action,
/// kInvalidInput for the text, and what CheckMentions raises; nothing is stored then.
void Comment(Session& session, int32_t actionID, std::string_view text);

/// A piece of a note's text as a thread shows it: plain text, or a mention shown by the name.
struct TextPart {
  std::string text;    ///< the text, or the mentioned person's name
  std::string userID;  ///< the person mentioned; empty for plain text
};
/// text cut into plain pieces and the mentions of people (the known ones only).
[[nodiscard]] std::vector<TextPart> PartsOf(std::string_view text,
                                            const std::vector<Mention>& mentions);

/// The people the person may mention on an action: those he or she may pick for a role (see
/// PeopleToPick) who may see it.
[[nodiscard]] std::vector<Mention> PeopleToMention(Session& session, int32_t actionID);

}  // namespace app
