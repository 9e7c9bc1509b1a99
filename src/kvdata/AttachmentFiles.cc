#include "kvdata/AttachmentFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kvdata/Errors.h"

namespace kvdata {
namespace {

[[noreturn]] void Fail(std::string_view what, const std::filesystem::path& file) {
  throw vb::ComError(kAttachmentError, std::string(kAttachmentSource),
                     fmt::format("Attachment file {} could not be {}: {}.", file.string(), what,
                                 std::strerror(errno)));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  [[nodiscard]] int get() const { return fd_; }
  /// Closes now, so that a failing close is reported.
  [[nodiscard]] bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

/// Flushes the folder holding file, so that a name just linked or removed there is on disk.
void SyncFolder(const std::filesystem::path& file) {
  const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0 || ::fsync(fd.get()) != 0) Fail("flushed to disk with its folder", file);
}

class LocalHold final : public AttachmentFiles::Hold {
 public:
  explicit LocalHold(int fd) : fd_(fd) {}

 private:
  Descriptor fd_;  // the lock goes with the descriptor
};

class LocalFiles final : public AttachmentFiles {
 public:
  void Write(const std::filesystem::path& file, std::string_view bytes) override {
    Descriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640));
    if (fd.get() < 0) Fail("created", file);
    // A file that could not be written whole is removed, the reason kept for the error.
    const auto failWritten = [&] {
      const int reason = errno;
      (void)fd.Close();
      ::unlink(file.c_str());
      errno = reason;
      Fail("written", file);
    };
    while (!bytes.empty()) {
      const auto written = ::write(fd.get(), bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) failWritten();
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::fsync(fd.get()) != 0) failWritten();
    if (!fd.Close()) {
      const int reason = errno;
      ::unlink(file.c_str());
      errno = reason;
      Fail("written", file);
    }
  }

  std::string Read(const std::filesystem::path& file) override {
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) Fail("read", file);
    std::string bytes;
    char buffer[65536];
    while (true) {
      const auto got = ::read(fd.get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) Fail("read", file);
      if (got == 0) return bytes;
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
  }

  void Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    // link + unlink instead of rename: rename would silently replace an existing target.
    if (::link(from.c_str(), to.c_str()) != 0) Fail("renamed", from);
    if (::unlink(from.c_str()) != 0) Fail("renamed", from);
    SyncFolder(to);
  }

  void Link(const std::filesystem::path& from, const std::filesystem::path& to) override {
    if (::link(from.c_str(), to.c_str()) != 0) Fail("linked", from);
    SyncFolder(to);
  }

  std::vector<std::string> Names(const std::filesystem::path& folder) override {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) Fail("listed", folder);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    if (errno != 0) Fail("listed", folder);
    return names;
  }

  std::unique_ptr<Hold> HoldFolder(const std::filesystem::path& folder, bool exclusive) override {
    // flock, not fcntl locks: those of one process do not exclude each other, and serve writes
    // from several threads.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) Fail("opened", folder);
    auto hold = std::make_unique<LocalHold>(fd);
    const int operation = exclusive ? LOCK_EX | LOCK_NB : LOCK_SH;
    while (::flock(fd, operation) != 0) {
      if (errno == EINTR) continue;
      if (exclusive && errno == EWOULDBLOCK) return nullptr;
      Fail("held", folder);
    }
    return hold;
  }

  void Remove(const std::filesystem::path& file) override {
    if (::unlink(file.c_str()) != 0) Fail("removed", file);
  }

  bool IsFolder(const std::filesystem::path& folder) override {
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }
};

}  // namespace

bool AttachmentFiles::Exists(const std::filesystem::path& file) {
  std::error_code error;
  return std::filesystem::symlink_status(file, error).type() !=
         std::filesystem::file_type::not_found;
}

std::shared_ptr<AttachmentFiles> AttachmentFiles::Local() { return std::make_shared<LocalFiles>(); }

}  // namespace kvdata
