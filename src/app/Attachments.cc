// Attachments, checked and recorded in the action's history.
#include "app/Attachments.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <utility>

#include "app/Admin.h"
#include "app/Errors.h"
#include "app/Internal.h"
#include "kvdata/AttachmentStore.h"
#include "kvdata/Base64.h"
#include "kvdata/DataConnection.h"
#include "vb/Convert.h"

namespace app {
namespace {

// The action an attachment belongs to, and its description; raises kNotFound.
std::pair<int32_t, std::string> AttachmentOwner(Session& session, int32_t attachmentID) {
  const auto rs = session.action().AttachmentRecordset(0, attachmentID);
  if (!rs || rs->IsEOF()) throw NotFound("attachment", "ID", fmt::format("{}", attachmentID));
  return {vb::CLng((*rs)["ActionID"].Value()), vb::TextOf((*rs)["Description"].Value())};
}

void RequireEdit(Session& session, int32_t actionID, std::string_view what) {
  const auto rights = internal::RightsOf(session, actionID);
  if (!rights.AnyEdit()) {
    throw RefusalText(
        fmt::format("Refused: you may not {} (no editing right on this action).", what));
  }
}

}  // namespace

bool IsWebLink(std::string_view url) {
  // A browser skips leading blanks and control characters before it reads the scheme, so
  // " javascript:" and "\x01javascript:" are scripts to it; they are skipped here too.
  const auto start = std::find_if(url.begin(), url.end(),
                                  [](char c) { return static_cast<unsigned char>(c) > ' '; });
  const std::string_view rest = url.substr(static_cast<std::size_t>(start - url.begin()));
  const auto starts = [&](std::string_view prefix) {
    return rest.size() > prefix.size() && vb::EqualsText(rest.substr(0, prefix.size()), prefix);
  };
  return starts("http://") || starts("https://");
}

NewAttachment FileAttachment(std::string name, std::string description, std::string_view bytes) {
  return {std::move(description), std::move(name), std::string(kvdata::kBase64Encoding),
          kvdata::ToBase64(bytes)};
}

int32_t AttachmentAdd(Session& session, int32_t actionID, const NewAttachment& attachment) {
  RequireEdit(session, actionID, "attach to this action");
  internal::CheckSize("description", attachment.description, 255);
  internal::CheckSize("url", attachment.url, 255);
  if (attachment.encoding.empty() && attachment.url.empty()) {
    throw Invalid("url", {}, "a link's address or content is required");
  }
  // A link is followed by whoever opens the action: only a web address may be one.
  if (attachment.encoding.empty() && !IsWebLink(attachment.url)) {
    throw Invalid("url", attachment.url, kLinkForms);
  }
  const auto type = static_cast<int16_t>(attachment.encoding.empty() ? 0 : 1);
  std::string data = attachment.data;
  const int32_t id = session.action().addAttachment(
      actionID, attachment.description, attachment.url, type, attachment.encoding, &data);
  internal::Record(
      session, evAttachmentAdded, actionID,
      fmt::format("Attachment {} added: {}", id,
                  attachment.description.empty() ? attachment.url : attachment.description));
  return id;
}

ado::RecordsetPtr AttachmentList(Session& session, int32_t actionID) {
  (void)internal::Row(session, actionID);
  return session.action().AttachmentRecordset(actionID);
}

std::string_view MediaTypeOf(std::string_view fileName) {
  static const std::map<std::string, std::string_view, std::less<>> types = {
      {"txt", "text/plain; charset=utf-8"},
      {"csv", "text/csv; charset=utf-8"},
      {"log", "text/plain; charset=utf-8"},
      {"pdf", "application/pdf"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"webp", "image/webp"},
      {"zip", "application/zip"},
      {"json", "application/json"},
      {"doc", "application/msword"},
      {"xls", "application/vnd.ms-excel"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
      {"odt", "application/vnd.oasis.opendocument.text"},
      {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
  };
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return "application/octet-stream";
  const auto found = types.find(vb::LCase(fileName.substr(dot + 1)));
  return found == types.end() ? std::string_view("application/octet-stream") : found->second;
}

AttachmentFile AttachmentDownload(Session& session, int32_t attachmentID) {
  const auto rs = session.action().AttachmentRecordset(0, attachmentID);
  if (!rs || rs->IsEOF()) throw NotFound("attachment", "ID", fmt::format("{}", attachmentID));
  // Older programs stored the whole path a file came from; the name is its last part.
  std::string name = vb::TextOf((*rs)["URL"].Value());
  if (const size_t slash = name.find_last_of("/\\"); slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  if (name.empty()) name = fmt::format("attachment-{}", attachmentID);
  const std::string_view type = MediaTypeOf(name);
  return {name, std::string(type), AttachmentBytes(session, attachmentID)};
}

std::string AttachmentBytes(Session& session, int32_t attachmentID) {
  (void)AttachmentOwner(session, attachmentID);
  std::string encoding;
  std::string data;
  if (!session.action().getAttachment(attachmentID, encoding, data)) {
    throw NotFound("attachment with content", "ID", fmt::format("{}", attachmentID));
  }
  // "text" (or no encoding) holds the bytes as they are.
  if (!vb::EqualsText(encoding, kvdata::kBase64Encoding)) return data;
  auto bytes = kvdata::FromBase64(data);
  if (!bytes) throw Invalid("attachment", {}, "stored as valid base64");
  return std::move(*bytes);
}

bool IsPreviewImage(std::string_view mediaType) {
  return mediaType == "image/png" || mediaType == "image/jpeg" || mediaType == "image/gif" ||
         mediaType == "image/webp";
}

std::string SizeText(std::size_t bytes) {
  constexpr double kKilo = 1024.0;
  if (bytes < 1024) return fmt::format("{} {}", bytes, bytes == 1 ? "byte" : "bytes");
  const double kilo = static_cast<double>(bytes) / kKilo;
  if (kilo < 10) return fmt::format("{:.1f} KB", kilo);
  if (kilo < kKilo) return fmt::format("{:.0f} KB", kilo);
  const double mega = kilo / kKilo;
  return mega < 10 ? fmt::format("{:.1f} MB", mega) : fmt::format("{:.0f} MB", mega);
}

std::vector<AttachmentFacts> AttachmentFactsOf(Session& session, int32_t actionID) {
  std::vector<AttachmentFacts> facts;
  for (auto list = AttachmentList(session, actionID); list && !list->IsEOF(); list->MoveNext()) {
    AttachmentFacts fact;
    fact.attachmentID = vb::CLng((*list)["AttachmentID"].Value());
    fact.description = vb::TextOf((*list)["Description"].Value());
    fact.name = vb::TextOf((*list)["URL"].Value());
    const vb::Variant type = (*list)["AttachmentType"].Value();
    fact.content = !type.IsNull() && vb::CLng(type) != 0;
    facts.push_back(std::move(fact));
  }
  // Sizes are read after the list is done with: one statement at a time on a connection.
  for (auto& fact : facts) {
    if (!fact.content) continue;
    try {
      fact.size = AttachmentBytes(session, fact.attachmentID).size();
    } catch (const vb::ComError& error) {
      // Content that is missing or does not decode still lists; the download reports it.
      if (KindOf(error) != ErrorKind::InvalidInput) throw;
    }
    fact.mediaType = MediaTypeOf(fact.name);
    fact.image = IsPreviewImage(fact.mediaType);
  }
  return facts;
}

PreviewImage AttachmentPreview(Session& session, int32_t attachmentID) {
  const auto rs = session.action().AttachmentRecordset(0, attachmentID);
  if (!rs || rs->IsEOF()) throw NotFound("attachment", "ID", fmt::format("{}", attachmentID));
  std::string type(MediaTypeOf(vb::TextOf((*rs)["URL"].Value())));
  rs->Close();
  if (!IsPreviewImage(type)) {
    throw NotFound("picture attachment", "ID", fmt::format("{}", attachmentID));
  }
  return {std::move(type), AttachmentBytes(session, attachmentID)};
}

void AttachmentRemove(Session& session, int32_t attachmentID) {
  const auto [actionID, description] = AttachmentOwner(session, attachmentID);
  RequireEdit(session, actionID, "remove attachments of this action");
  session.action().DeleteAttachment(attachmentID);
  internal::Record(session, evAttachmentRemoved, actionID,
                   fmt::format("Attachment {} removed: {}", attachmentID, description));
}

}  // namespace app
