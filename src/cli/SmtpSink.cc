#include "cli/SmtpSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace cli::testing {
namespace {

/// A socket closed when it goes.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

/// Reads CRLF-terminated lines from a client.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  /// The next line without its CRLF; false when the client has gone.
  bool Next(std::string& line) {
    for (;;) {
      if (const auto end = buffer_.find("\r\n"); end != std::string::npos) {
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return true;
      }
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffer_;
};

void Reply(int fd, const std::string& text) {
  const std::string line = text + "\r\n";
  (void)::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
}

bool StartsWithNoCase(const std::string& line, std::string_view word) {
  if (line.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(line[i])) != word[i]) return false;
  }
  return true;
}

}  // namespace

SmtpSink::SmtpSink(SinkOptions options)
    : options_(options), listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
  if (listener_ < 0) throw std::runtime_error("SmtpSink: no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 4) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener_);
    throw std::runtime_error("SmtpSink: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

SmtpSink::~SmtpSink() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

std::string SmtpSink::Address() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<ReceivedMail> SmtpSink::Received() const {
  const std::lock_guard lock(mutex_);
  return received_;
}

int SmtpSink::Sessions() const {
  const std::lock_guard lock(mutex_);
  return sessions_;
}

void SmtpSink::Serve() {
  // Polls in short steps so that the destructor's stop request is seen soon.
  while (!stop_) {
    pollfd waiting{listener_, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, 50);
    if (ready < 0) return;
    if (ready == 0) continue;
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    const Socket session(client);
    int number = 0;
    {
      const std::lock_guard lock(mutex_);
      number = ++sessions_;
    }
    if (number <= options_.refuseSessions) {
      Reply(session.get(), "421 sink busy, try again later");
      continue;
    }
    Converse(session.get());
  }
}

void SmtpSink::Converse(int client) {
  LineReader lines(client);
  ReceivedMail mail;
  std::string line;
  Reply(client, "220 sink ESMTP");
  while (lines.Next(line)) {
    if (StartsWithNoCase(line, "EHLO") || StartsWithNoCase(line, "HELO")) {
      Reply(client, "250 sink");
    } else if (StartsWithNoCase(line, "MAIL FROM:")) {
      mail = ReceivedMail{line.substr(10), {}, {}};
      Reply(client, "250 OK");
    } else if (StartsWithNoCase(line, "RCPT TO:")) {
      mail.recipients.push_back(line.substr(8));
      Reply(client, "250 OK");
    } else if (StartsWithNoCase(line, "DATA")) {
      Reply(client, "354 End data with <CR><LF>.<CR><LF>");
      while (lines.Next(line) && line != ".") {
        mail.data += (line.starts_with('.') ? line.substr(1) : line) + "\r\n";
      }
      {
        const std::lock_guard lock(mutex_);
        received_.push_back(mail);
      }
      Reply(client, "250 OK queued");
    } else if (StartsWithNoCase(line, "QUIT")) {
      Reply(client, "221 Bye");
      return;
    } else {
      Reply(client, "250 OK");
    }
  }
}

}  // namespace cli::testing
