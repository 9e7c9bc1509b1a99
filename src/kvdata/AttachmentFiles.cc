#include "kvdata/AttachmentFiles.h"

#include <fcntl.h>
#include <fmt/format.h>
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

class LocalFiles final : public AttachmentFiles {
 public:
  void Write(const std::filesystem::path& file, std::string_view bytes) override {
    Descriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640));
    if (fd.get() < 0) Fail("created", file);
    while (!bytes.empty()) {
      const auto written = ::write(fd.get(), bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) Fail("written", file);
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::fsync(fd.get()) != 0 || !fd.Close()) Fail("written", file);
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

std::shared_ptr<AttachmentFiles> AttachmentFiles::Local() { return std::make_shared<LocalFiles>(); }

}  // namespace kvdata
