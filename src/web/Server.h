#pragma once
// `kvaction serve`: the web front end. An HTTP server whose every read and write goes through
// app/; sessions are rows of the database, so several servers can share one database.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "app/Session.h"

namespace web {

/// The deadlines and limits that keep one client from holding the server (docs/deployment.md,
/// "Limits"). A connection waiting for its next request holds no thread; these bound what it
/// may hold otherwise.
struct ServeLimits {
  std::chrono::seconds headTimeout{10};  ///< from a request's first byte to the end of its head
  /// For a body: this, plus its size at minBodyRate; the same for writing an answer.
  std::chrono::seconds bodyTimeout{10};
  size_t minBodyRate = 32 * 1024;        ///< bytes per second
  std::chrono::seconds idleTimeout{60};  ///< a kept-alive connection waiting for a request
  /// Open connections; a new one past it closes the connection idle longest first, and is
  /// refused (503) when none is idle.
  size_t maxConnections = 4096;
  /// Open connections of one client address (503 past it). Clients on this machine (a reverse
  /// proxy) are not counted unless limitLoopback.
  size_t maxConnectionsPerAddress = 64;
  bool limitLoopback = false;
  size_t maxHeadBytes = 16 * 1024;    ///< the request line and every header (431 past it)
  size_t maxFormBytes = 1024 * 1024;  ///< a URL-encoded form (413 past it)
  size_t workers = 8;                 ///< threads that run the handlers
  size_t queueLimit = 64;  ///< requests waiting for a worker; past it 503 with Retry-After
  std::chrono::seconds stopTimeout{30};  ///< how long a stop waits for requests in flight
};

/// How a server listens and what it serves.
struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;        ///< 0: any free port (see Server::Bind)
  app::OpenOptions open;  ///< the database and the people's date form
  std::string baseUrl;    ///< the address people reach the server at (https: Secure cookies)
  /// An uploaded file; the body of a multipart form or of any other request may hold this and
  /// 64 KiB more.
  size_t maxUploadBytes = 10 * 1024 * 1024;
  ServeLimits limits;
  /// What a client not on this machine sends as "Authorization: Bearer TOKEN" to read
  /// /metrics; empty: only clients on this machine may.
  std::string metricsToken;
  bool accessLog = true;  ///< one line per request on standard error
  /// Failed sign-ins allowed per user ID and per address within ten minutes.
  int userSignInLimit = 5;
  int addressSignInLimit = 20;
};

/// Splits "HOST:PORT" (or ":PORT", or "PORT") into options; raises app::kInvalidInput.
void ParseListen(const std::string& listen, ServeOptions& options);

class Server {
 public:
  explicit Server(ServeOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  /// Binds the listening socket; returns the port (the chosen one for port 0). Raises when the
  /// address cannot be bound.
  int Bind();
  /// Serves until Stop (call Bind first): the calling thread reads and writes every connection,
  /// options.limits.workers threads run the handlers.
  void Run();
  /// Stops accepting and closes the connections waiting for a request; Run returns once the
  /// requests in flight are answered (or after limits.stopTimeout). Safe from another thread
  /// and from a signal's waiter.
  void Stop();

 private:
  friend class Connection;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace web
