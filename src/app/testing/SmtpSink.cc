#include "app/testing/SmtpSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "kvdata/Base64.h"

namespace app::testing {
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

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct SslContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

}  // namespace

/// A client connection, plain until StartTls succeeds.
class Channel {
 public:
  explicit Channel(int fd) : fd_(fd) {}
  /// Switches to TLS as the server; false when the handshake fails.
  bool StartTls(SSL_CTX* context) {
    ssl_.reset(SSL_new(context));
    if (!ssl_ || SSL_set_fd(ssl_.get(), fd_) != 1 || SSL_accept(ssl_.get()) != 1) {
      ssl_.reset();
      return false;
    }
    buffer_.clear();
    return true;
  }
  [[nodiscard]] bool Secure() const { return ssl_ != nullptr; }
  void Send(const std::string& text) {
    if (ssl_) {
      (void)SSL_write(ssl_.get(), text.data(), static_cast<int>(text.size()));
    } else {
      (void)::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    }
  }
  /// The next CRLF-terminated line without its CRLF; false when the client has gone.
  bool Next(std::string& line) {
    for (;;) {
      if (const auto end = buffer_.find("\r\n"); end != std::string::npos) {
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return true;
      }
      char chunk[4096];
      const long n =
          ssl_ ? SSL_read(ssl_.get(), chunk, sizeof chunk) : ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  std::unique_ptr<SSL, SslFree> ssl_;
  std::string buffer_;
};

namespace {

void Reply(Channel& channel, const std::string& text) { channel.Send(text + "\r\n"); }

bool StartsWithNoCase(const std::string& line, std::string_view word) {
  if (line.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(line[i])) != word[i]) return false;
  }
  return true;
}

/// The user of an AUTH PLAIN response ("\0user\0password" in base64), when the password is
/// the one expected.
std::string PlainLogin(const std::string& response, const std::string& password) {
  const auto decoded = kvdata::FromBase64(response);
  if (!decoded) return {};
  const auto first = decoded->find('\0');
  const auto second = decoded->find('\0', first + 1);
  if (first == std::string::npos || second == std::string::npos) return {};
  if (decoded->substr(second + 1) != password) return {};
  return decoded->substr(first + 1, second - first - 1);
}

}  // namespace

struct SmtpSink::Tls {
  std::unique_ptr<SSL_CTX, SslContextFree> context;
};

SelfSigned SelfSigned::Make(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  SelfSigned made{folder / "sink-cert.pem", folder / "sink-key.pem"};
  const std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1 -keyout '" +
      made.key.string() + "' -out '" + made.certificate.string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("SmtpSink: openssl failed");
  return made;
}

SmtpSink::SmtpSink(SinkOptions options)
    : options_(std::move(options)), listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
  if (listener_ < 0) throw std::runtime_error("SmtpSink: no socket");
  if (options_.tls) {
    tls_ = std::make_unique<Tls>();
    tls_->context.reset(SSL_CTX_new(TLS_server_method()));
    if (!tls_->context ||
        SSL_CTX_use_certificate_file(tls_->context.get(), options_.tls->certificate.c_str(),
                                     SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(tls_->context.get(), options_.tls->key.c_str(),
                                    SSL_FILETYPE_PEM) != 1) {
      ::close(listener_);
      throw std::runtime_error("SmtpSink: the certificate cannot be loaded");
    }
  }
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
    Channel channel(session.get());
    if (number <= options_.refuseSessions) {
      Reply(channel, "421 sink busy, try again later");
      continue;
    }
    if (options_.implicitTls && !channel.StartTls(tls_->context.get())) continue;
    Converse(channel);
  }
}

void SmtpSink::Converse(Channel& channel) {
  ReceivedMail mail;
  std::string login;
  std::string line;
  Reply(channel, "220 sink ESMTP");
  while (channel.Next(line)) {
    if (StartsWithNoCase(line, "EHLO") || StartsWithNoCase(line, "HELO")) {
      if (tls_ && !channel.Secure()) Reply(channel, "250-STARTTLS");
      if (!options_.password.empty()) Reply(channel, "250-AUTH PLAIN");
      Reply(channel, "250 sink");
    } else if (StartsWithNoCase(line, "STARTTLS") && tls_ && !channel.Secure()) {
      Reply(channel, "220 ready for TLS");
      if (!channel.StartTls(tls_->context.get())) return;
    } else if (StartsWithNoCase(line, "AUTH PLAIN")) {
      std::string response = line.size() > 11 ? line.substr(11) : std::string();
      if (response.empty()) {
        Reply(channel, "334 ");
        if (!channel.Next(response)) return;
      }
      login = PlainLogin(response, options_.password);
      Reply(channel, login.empty() ? "535 authentication failed" : "235 authenticated");
    } else if (StartsWithNoCase(line, "MAIL FROM:")) {
      mail = ReceivedMail{line.substr(10), {}, {}, channel.Secure(), login};
      Reply(channel, "250 OK");
    } else if (StartsWithNoCase(line, "RCPT TO:")) {
      mail.recipients.push_back(line.substr(8));
      Reply(channel, "250 OK");
    } else if (StartsWithNoCase(line, "DATA")) {
      Reply(channel, "354 End data with <CR><LF>.<CR><LF>");
      while (channel.Next(line) && line != ".") {
        mail.data += (line.starts_with('.') ? line.substr(1) : line) + "\r\n";
      }
      {
        const std::lock_guard lock(mutex_);
        received_.push_back(mail);
      }
      Reply(channel, "250 OK queued");
    } else if (StartsWithNoCase(line, "QUIT")) {
      Reply(channel, "221 Bye");
      return;
    } else {
      Reply(channel, "250 OK");
    }
  }
}

}  // namespace app::testing
