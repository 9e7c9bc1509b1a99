#pragma once
// Files and links attached to actions. Adding and removing need the right to edit the action
// (any of its editing rights); reading needs only a session. Both are recorded in the history.
#include <cstdint>
#include <string>
#include <string_view>

#include "ado/Recordset.h"
#include "app/Session.h"

namespace app {

/// A new attachment: a link (url, no content) or content (data in encoding "base64" or "text").
struct NewAttachment {
  std::string description;
  std::string url;       ///< a link's address, or the original file name of content
  std::string encoding;  ///< "" for a link
  std::string data;
};

/// Attaches to an action; returns the AttachmentID.
int32_t AttachmentAdd(Session& session, int32_t actionID, const NewAttachment& attachment);
/// The attachments of an action (AttachmentID, Description, URL, AttachmentType, Created, …).
[[nodiscard]] ado::RecordsetPtr AttachmentList(Session& session, int32_t actionID);
/// An attachment's encoding and content; raises kNotFound (also for a link without content).
void AttachmentGet(Session& session, int32_t attachmentID, std::string& encoding,
                   std::string& data);
/// Removes an attachment's row and file.
void AttachmentRemove(Session& session, int32_t attachmentID);

}  // namespace app
