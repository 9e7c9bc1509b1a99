#pragma once
// Files and links attached to actions. Adding and removing need the right to edit the action
// (any of its editing rights); reading needs only a session. Both are recorded in the history.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

/// A new attachment of a file: its original name, a description and its bytes as they are
/// (binary included), encoded as every front end stores files (base64).
[[nodiscard]] NewAttachment FileAttachment(std::string name, std::string description,
                                           std::string_view bytes);

/// The forms a link may take, as a refusal names them.
inline constexpr std::string_view kLinkForms = "an http:// or https:// address";

/// Whether url is a web address (http or https, in any letter case), read as a browser reads an
/// address: leading blanks and control characters do not count. Only such links are stored, and
/// only they are offered for following.
[[nodiscard]] bool IsWebLink(std::string_view url);

/// Attaches to an action; returns the AttachmentID. A link (no encoding) must be a web address:
/// any other (javascript:, data:, vbscript:, file:) raises kInvalidInput naming "url".
int32_t AttachmentAdd(Session& session, int32_t actionID, const NewAttachment& attachment);
/// The attachments of an action (AttachmentID, Description, URL, AttachmentType, Created, …).
[[nodiscard]] ado::RecordsetPtr AttachmentList(Session& session, int32_t actionID);
/// An attachment's content as the bytes that were attached, whatever encoding stores them;
/// raises kNotFound (also for a link without content), kInvalidInput when the stored content
/// does not decode.
[[nodiscard]] std::string AttachmentBytes(Session& session, int32_t attachmentID);
/// The media type of a file by its name's extension (letter case ignored), from a short list of
/// common types; "application/octet-stream" for any other. Never a type a browser runs as a page
/// (HTML, SVG, XML): those are read as text/plain or octet-stream.
[[nodiscard]] std::string_view MediaTypeOf(std::string_view fileName);
/// Whether a media type is an image a browser shows safely (PNG, JPEG, GIF, WebP).
[[nodiscard]] bool IsPreviewImage(std::string_view mediaType);
/// A file attachment as it is downloaded: the name it was attached under (without any folder),
/// its media type and its bytes (AttachmentBytes).
struct AttachmentFile {
  std::string name;
  std::string mediaType;
  std::string bytes;
};
[[nodiscard]] AttachmentFile AttachmentDownload(Session& session, int32_t attachmentID);
/// A size in bytes as people read it: "512 bytes", "12 KB", "3.4 MB".
[[nodiscard]] std::string SizeText(std::size_t bytes);

/// What a page shows of one attachment.
struct AttachmentFacts {
  int32_t attachmentID = 0;
  std::string description;
  std::string name;       ///< the original file name, or a link's address
  bool content = false;   ///< false for a link
  std::size_t size = 0;   ///< bytes of content
  std::string mediaType;  ///< of content, by its name
  bool image = false;     ///< IsPreviewImage(mediaType)
};
/// The attachments of an action as a page lists them, in the order AttachmentList gives.
[[nodiscard]] std::vector<AttachmentFacts> AttachmentFactsOf(Session& session, int32_t actionID);
/// A picture attachment's bytes and media type, for showing inline; raises kNotFound for an
/// attachment that is not a picture IsPreviewImage accepts.
struct PreviewImage {
  std::string mediaType;
  std::string bytes;
};
[[nodiscard]] PreviewImage AttachmentPreview(Session& session, int32_t attachmentID);

/// Removes an attachment's row and file.
void AttachmentRemove(Session& session, int32_t attachmentID);

}  // namespace app
