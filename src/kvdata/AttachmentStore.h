#pragma once
// Documents and links attached to actions (table ActionAttachments). Uploaded content lives
// under the attachment path in files the store names itself; a client's file name is never
// used as a path.
//
// A file and its row change together, and a process killed at any point leaves what Recover
// settles. A store writes <name>.tmp, links <name> to it in the transaction that adds the row,
// and removes <name>.tmp once that is committed; a removal renames <name> to <name>.del in the
// transaction that deletes the row, and removes <name>.del once that is committed. So while the
// fate of a row is open its name carries a marker (.tmp or .del), and a file without a marker
// always has its row (inside a caller's transaction, whose end the store does not see, the
// marker stays for the next open). Writers hold the folder shared from their first file step to
// their last; Recover runs only when it can hold it alone, so it never takes a live write for a
// leftover.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "ado/Recordset.h"

namespace kvdata {

class AttachmentFiles;
struct ServerState;

/// The encodings of attachment content: "base64" and plain text ("text" or empty: the bytes
/// as they are, binary included). Names compare without regard to letter case.
inline constexpr std::string_view kBase64Encoding = "base64";
inline constexpr std::string_view kTextEncoding = "text";

class AttachmentStore {
 public:
  AttachmentStore(std::shared_ptr<const ServerState> state, std::shared_ptr<AttachmentFiles> files);

  /// The attachments of one action, by ID, as an in-memory record set opened with the given
  /// cursor type and lock type: AttachmentID, ActionID, Description, URL, AttachmentType,
  /// EncodeType, Created and Link (a link's URL; for uploaded content cURL + "/" + the stored
  /// name, or the file's path under cPath when cURL is empty).
  [[nodiscard]] ado::RecordsetPtr AttachmentList(std::string_view cKeyColumn, int32_t nActionID,
                                                 std::string_view cPath, std::string_view cURL,
                                                 int32_t cursorType = 1, int32_t cursorLocation = 2,
                                                 int32_t lockType = 3) const;
  /// The row of one attachment (at EOF when there is none).
  [[nodiscard]] ado::RecordsetPtr AttachmentByID(int32_t nAttachmentID) const;
  /// Stores a new attachment and returns its ID. Types of 1 and above carry content (cData in
  /// the encoding cEncodeType) and need cPath, an existing folder. flag is accepted for the
  /// callers' sake and not used. Raises kAttachmentError or kBadArgument; nothing is stored then.
  int32_t StoreAttachment(std::string_view cPath, std::string_view cKeyColumn, int32_t nActionID,
                          std::string_view cDescription, std::string_view cURL,
                          int16_t nAttachmentType, std::string_view cEncodeType,
                          const std::string* cData, int16_t* flag = nullptr);
  /// Removes an attachment's row and its file together. Raises kAttachmentError when there is
  /// no such attachment or its file cannot be removed (then nothing is removed).
  void RemoveAttachment(std::string_view cKeyColumn, std::string_view cPath, int32_t nAttachmentID);
  /// Fills cEncodeType and cData with an attachment's encoding and content; returns false (and
  /// changes neither) when there is no such attachment or it is a link without content.
  bool ReadAttachment(std::string_view cKeyColumn, int32_t nAttachmentID, std::string_view cPath,
                      std::string* cEncodeType, std::string* cData) const;
  /// Settles what writes cut short left under cPath: for each marker, a name whose row exists
  /// gets its file back in place, any other loses its file; then the marker goes. Each step is
  /// one link or removal after which Recover still finds its work, so an interrupted Recover is
  /// finished by the next. Costs one listing of the folder when nothing was left; does nothing
  /// without a folder, and returns false without looking further while a write holds it. Waits
  /// (a while at most, else raises) for transactions that may still commit a marked row.
  bool Recover(std::string_view cPath);

 private:
  std::shared_ptr<const ServerState> state_;
  std::shared_ptr<AttachmentFiles> files_;
};

}  // namespace kvdata
