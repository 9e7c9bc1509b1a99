#include "app/Comments.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>

#include "app/Actions.h"
#include "app/Errors.h"
#include "app/Forms.h"
#include "app/Hooks.h"
#include "app/Internal.h"
#include "app/Kept.h"
#include "app/MailHtml.h"
#include "app/Notify.h"
#include "app/Outbox.h"
#include "app/Replies.h"
#include "app/View.h"
#include "app/WebSupport.h"
#include "kvdata/DataConnection.h"
#include "kvdata/DataUtility.h"
#include "vb/Convert.h"

namespace app {
namespace {

using kvdata::DataUtility;

bool IsIdCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

// Where a mention stands in a text: its "@" and the end of its user ID.
struct Place {
  size_t at = 0;
  size_t end = 0;
  [[nodiscard]] std::string_view IdIn(std::string_view text) const {
    return text.substr(at + 1, end - at - 1);
  }
};
// Every mention of text, in order.
std::vector<Place> PlacesIn(std::string_view text) {
  std::vector<Place> places;
  for (size_t at = text.find('@'); at != std::string_view::npos; at = text.find('@', at + 1)) {
    if (at > 0 && (IsIdCharacter(text[at - 1]) || text[at - 1] == '@')) continue;
    size_t end = at + 1;
    while (end < text.size() && IsIdCharacter(text[end])) ++end;
    while (end > at + 1 && (text[end - 1] == '.' || text[end - 1] == '-')) --end;
    if (end > at + 1) places.push_back({at, end});
  }
  return places;
}

// The stored row of a user by ID (letter case ignored), or nothing.
struct UserFacts {
  std::string userID;
  std::string name;
  std::string email;
  bool canSignIn = false;
};
std::optional<UserFacts> UserOf(Session& session, std::string_view userID) {
  const auto rs = internal::ReadRows(
      session, "select UserID, UserName, Email, PasswordHash from Users where UserID = " +
                   DataUtility::SqlText(userID));
  if (rs->IsEOF()) return std::nullopt;
  UserFacts user;
  user.userID = vb::TextOf((*rs)["UserID"].Value());
  user.name = vb::TextOf((*rs)["UserName"].Value());
  if (user.name.empty()) user.name = user.userID;
  user.email = vb::TextOf((*rs)["Email"].Value());
  user.canSignIn = internal::IsSet(*rs, "PasswordHash");
  return user;
}

// Line ends as the notes keep them (CRLF), blank lines and blanks around the text dropped.
std::string Tidied(std::string_view text) {
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      lines += '\n';
    } else {
      lines += text[i];
    }
  }
  const auto first = lines.find_first_not_of(" \t\n");
  if (first == std::string::npos) return {};
  lines = lines.substr(first, lines.find_last_not_of(" \t\n") - first + 1);
  std::string crlf;
  for (const char c : lines) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

// The mention notice: who drew the person in, on which action, and what was written.
NewMail MentionMail(Session& session, int32_t actionID, const UserFacts& writer,
                    const UserFacts& mentioned, std::string_view text, std::string_view words) {
  const auto row = internal::Row(session, actionID);
  const std::string action =
      fmt::format("{} {}: {}", LabelOf(session, "Action"), internal::NumberText(session, *row),
                  internal::Text(session, *row, "Subject"));
  const std::string base = WebURL(session);
  const std::string link = ActionPageLink(session, base, actionID);
  NewMail mail;
  mail.actionID = actionID;
  mail.fromName = writer.name;
  mail.fromAddress = writer.email;
  mail.to = {mentioned.email};
  mail.subject = fmt::format("{} mentioned you: {}", writer.name, action);
  std::string body =
      fmt::format("{} mentioned you in {} on {}.\r\n\r\n", writer.name, words, action);
  body += std::string(text) + "\r\n";
  if (!link.empty()) body += "\r\nTo open the action: " + link + "\r\n";
  if (!ReplyAddress(session).empty()) {
    body += "To comment, reply to this mail above the quoted text.\r\n";
  }
  mail.body = std::move(body);
  const RowState state = StateOf(session, *row);
  mail.html =
      NoticeHtml(mail.subject, link,
                 fmt::format("{}. Whose turn: {}.", state.words, state.turnRole), mail.body);
  return mail;
}

}  // namespace

bool MaySee(Session& session, int32_t actionID, std::string_view userID) {
  (void)internal::Row(session, actionID);
  const auto user = UserOf(session, userID);
  return user && user->canSignIn;
}

std::vector<std::string> MentionsIn(std::string_view text) {
  std::vector<std::string> ids;
  for (const Place& place : PlacesIn(text)) {
    std::string id(place.IdIn(text));
    const bool known = std::any_of(
        ids.begin(), ids.end(), [&](const std::string& seen) { return vb::EqualsText(seen, id); });
    if (!known) ids.push_back(std::move(id));
  }
  return ids;
}

std::vector<Mention> CheckMentions(Session& session, int32_t actionID, std::string_view text,
                                   std::string_view field) {
  std::vector<Mention> mentions;
  for (const std::string& id : MentionsIn(text)) {
    const auto user = UserOf(session, id);
    if (!user) {
      throw Invalid(field, "@" + id, "a mention of a user of this database (@ and a user ID)");
    }
    if (!MaySee(session, actionID, user->userID)) {
      const auto row = internal::Row(session, actionID);
      throw RefusalText(fmt::format(
          "Refused: {} (@{}) may not see action {}, so cannot be mentioned on it; nothing was "
          "stored.",
          user->name, user->userID, internal::NumberText(session, *row)));
    }
    mentions.push_back({user->userID, user->name});
  }
  return mentions;
}

std::vector<Mention> KnownMentions(Session& session, std::string_view text) {
  std::vector<Mention> mentions;
  for (const std::string& id : MentionsIn(text)) {
    if (const auto user = UserOf(session, id)) mentions.push_back({user->userID, user->name});
  }
  return mentions;
}

int32_t NoticeOfMentions(Session& session, int32_t actionID, const std::vector<Mention>& mentions,
                         std::string_view text, std::string_view words) {
  if (mentions.empty() || !session.options().mail || !session.action().AutoEmail()) return 0;
  const auto writer = UserOf(session, session.userID());
  if (!writer) return 0;
  int32_t queued = 0;
  for (const Mention& mention : mentions) {
    if (vb::EqualsText(mention.userID, session.userID())) continue;
    const auto person = UserOf(session, mention.userID);
    if (!person || person->email.empty()) continue;
    (void)Queue(session, MentionMail(session, actionID, *writer, *person, text, words));
    ++queued;
  }
  return queued;
}

void Comment(Session& session, int32_t actionID, std::string_view text) {
  (void)internal::Row(session, actionID);
  if (!MaySee(session, actionID, session.userID())) {
    throw RefusalText("Refused: you may not see this action, so you cannot comment on it.");
  }
  CheckControlCharacters("comment", text, true);
  const std::string comment = Tidied(text);
  if (comment.empty()) throw Invalid("comment", {}, "a comment's text (it is empty)");
  internal::CheckSize("comment", comment, kCommentSize);
  const std::vector<Mention> mentions = CheckMentions(session, actionID, comment, "comment");
  auto& connection = internal::Connection(session);
  kvdata::RunInTransaction(connection, [&] {
    // The row is locked before its notes are read, so two comments at once both stay.
    (void)connection.Execute(
        fmt::format("update actions set Reviewed = Reviewed where ActionID = {}", actionID));
    const auto row = internal::Row(session, actionID);
    std::string notes = vb::TextOf((*row)["Results"].Value());
    if (!notes.empty()) notes += "\r\n";
    notes += ResultNote(session, comment, kCommentedMove);
    internal::UpdateAction(session, actionID, {{"Results", vb::Variant(notes)}});
    (void)NoticeOfChange(session, actionID);
    (void)NoticeOfMentions(session, actionID, mentions, comment, "a comment");
    hooks::Emit(session, hooks::Event::Commented, actionID, {{}, {}, comment});
  });
}

std::vector<TextPart> PartsOf(std::string_view text, const std::vector<Mention>& mentions) {
  std::vector<TextPart> parts;
  const auto plain = [&](std::string_view piece) {
    if (piece.empty()) return;
    if (!parts.empty() && parts.back().userID.empty()) {
      parts.back().text += piece;
    } else {
      parts.push_back({std::string(piece), {}});
    }
  };
  size_t from = 0;
  for (const Place& place : PlacesIn(text)) {
    const auto mention = std::find_if(mentions.begin(), mentions.end(), [&](const Mention& m) {
      return vb::EqualsText(m.userID, place.IdIn(text));
    });
    if (mention == mentions.end()) continue;
    plain(text.substr(from, place.at - from));
    parts.push_back({mention->name, mention->userID});
    from = place.end;
  }
  plain(text.substr(from));
  return parts;
}

std::vector<Mention> PeopleToMention(Session& session, int32_t actionID) {
  (void)internal::Row(session, actionID);
  // Every action page offers them: kept between changes of the data, for each person (whom one
  // may list depends on one's rights).
  return internal::Kept<std::vector<Mention>>(
      session, "people to mention by " + session.userID(), [&] {
        // One read for everyone: who can sign in (see MaySee).
        std::vector<std::string> signIn;
        const auto rs =
            internal::ReadRows(session, "select UserID from Users where PasswordHash is not null");
        for (; !rs->IsEOF(); rs->MoveNext()) signIn.push_back(vb::TextOf((*rs)["UserID"].Value()));
        std::vector<Mention> people;
        for (const Person& person : PeopleToPick(session)) {
          if (std::any_of(signIn.begin(), signIn.end(),
                          [&](const std::string& id) { return vb::EqualsText(id, person.id); })) {
            people.push_back({person.id, person.name});
          }
        }
        return people;
      });
}

}  // namespace app
