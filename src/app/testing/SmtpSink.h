#pragma once
// A test SMTP relay: listens on 127.0.0.1 at a port the system picks, accepts one session at a
// time on its own thread, answers every command with success and records what arrived.
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace app::testing {

/// One delivered message: the envelope and the data, dot-stuffing undone.
struct ReceivedMail {
  std::string mailFrom;                 ///< the MAIL FROM argument, e.g. "<a@b>"
  std::vector<std::string> recipients;  ///< the RCPT TO arguments
  std::string data;                     ///< the message text, without the final ".\r\n"
  bool secure = false;                  ///< whether it arrived over TLS
  std::string login;                    ///< the user who logged in, if anyone did
};

/// A certificate for 127.0.0.1 and its key, made with the openssl command for one test run.
struct SelfSigned {
  std::filesystem::path certificate;
  std::filesystem::path key;
  [[nodiscard]] static SelfSigned Make(const std::filesystem::path& folder);
};

/// How the sink behaves.
struct SinkOptions {
  /// The first this many sessions are turned away with "421" (a relay that is down).
  int refuseSessions = 0;
  /// With a certificate the sink offers STARTTLS (or, with implicitTls, speaks TLS at once).
  std::optional<SelfSigned> tls;
  bool implicitTls = false;
  /// Not empty: the sink offers AUTH PLAIN and accepts this password for any user.
  std::string password;
};

class Channel;

class SmtpSink {
 public:
  explicit SmtpSink(SinkOptions options = {});
  ~SmtpSink();
  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  /// "127.0.0.1:PORT", the relay's address for SMTPHost.
  [[nodiscard]] std::string Address() const;
  /// The messages delivered so far, oldest first.
  [[nodiscard]] std::vector<ReceivedMail> Received() const;
  /// How many sessions connected so far.
  [[nodiscard]] int Sessions() const;

 private:
  void Serve();
  void Converse(Channel& channel);

  struct Tls;
  SinkOptions options_;
  std::unique_ptr<Tls> tls_;
  int listener_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<ReceivedMail> received_;
  int sessions_ = 0;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

}  // namespace app::testing
