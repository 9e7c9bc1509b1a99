#pragma once
// The file system under the attachment store, behind an interface so that tests can make a
// chosen call fail. Every failure raises a vb::ComError (kAttachmentError).
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
  /// Gives the file from a second name to within one folder (from keeps its own), replacing
  /// nothing that exists; the folder is flushed to disk afterwards.
  virtual void Link(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual void Remove(const std::filesystem::path& file) = 0;
  /// Whether folder is an existing folder.
  [[nodiscard]] virtual bool IsFolder(const std::filesystem::path& folder) = 0;
  /// The names of the entries of folder.
  [[nodiscard]] virtual std::vector<std::string> Names(const std::filesystem::path& folder) = 0;

  /// A hold on a folder, released when it goes (or when its process ends, killed or not).
  class Hold {
   public:
    virtual ~Hold() = default;
  };
  /// Holds folder: shared (waiting for an exclusive hold to end) while a write is under way, so
  /// that no clean-up takes its files for leftovers; exclusive for the clean-up, not waited for:
  /// nothing is returned while any other hold, in this process or another, is on the folder.
  [[nodiscard]] virtual std::unique_ptr<Hold> HoldFolder(const std::filesystem::path& folder,
                                                         bool exclusive) = 0;

  /// Whether anything (a symbolic link included) exists under that name.
  [[nodiscard]] virtual bool Exists(const std::filesystem::path& file);

  /// The machine's own file system.
  [[nodiscard]] static std::shared_ptr<AttachmentFiles> Local();
};

}  // namespace kvdata
