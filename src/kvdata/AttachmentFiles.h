#pragma once
// The file system under the attachment store, behind an interface so that tests can make a
// chosen call fail. Every failure raises a vb::ComError (kAttachmentError).
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace kvdata {

class AttachmentFiles {
 public:
  virtual ~AttachmentFiles() = default;
  /// Creates file (which must not exist yet) holding bytes, flushed to disk. A failed write
  /// leaves no file behind.
  virtual void Write(const std::filesystem::path& file, std::string_view bytes) = 0;
  /// The bytes of a regular file; a symbolic link is refused.
  [[nodiscard]] virtual std::string Read(const std::filesystem::path& file) = 0;
  /// Renames within one folder, replacing nothing that exists; the folder is flushed to disk
  /// afterwards, so the new name survives a crash.
  virtual void Rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual void Remove(const std::filesystem::path& file) = 0;
  /// Whether folder is an existing folder.
  [[nodiscard]] virtual bool IsFolder(const std::filesystem::path& folder) = 0;
  /// Whether anything (a symbolic link included) exists under that name.
  [[nodiscard]] virtual bool Exists(const std::filesystem::path& file);

  /// The machine's own file system.
  [[nodiscard]] static std::shared_ptr<AttachmentFiles> Local();
};

}  // namespace kvdata
