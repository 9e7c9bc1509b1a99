// The HTTP core: one thread reads and writes every connection without blocking, so a connection
// that is idle, kept alive or slow holds no thread; the handlers (which wait for the database)
// run on a fixed pool of workers behind a bounded queue. Every request has deadlines for its
// head and its body and limits on its size; the connections have limits in all and per address.
#include "web/Server.h"

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "app/Errors.h"
#include "web/Routes.h"
#include "web/Site.h"

namespace web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

void ParseListen(const std::string& listen, ServeOptions& options) {
  const size_t colon = listen.rfind(':');
  const std::string host = colon == std::string::npos ? std::string() : listen.substr(0, colon);
  const std::string port = colon == std::string::npos ? listen : listen.substr(colon + 1);
  int number = -1;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (error != std::errc() || end != port.data() + port.size() || number < 0 || number > 65535) {
    throw app::Invalid("--listen", listen, "HOST:PORT with a port of 0-65535");
  }
  if (!host.empty()) options.host = host;
  options.port = number;
}

namespace {

// The threads that run handlers, and the requests waiting for one of them.
class WorkerPool {
 public:
  WorkerPool(size_t queueLimit, Metrics& metrics) : limit_(queueLimit), metrics_(metrics) {}
  ~WorkerPool() { Join(); }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void Start(size_t threads) {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Loop(); });
  }
  // Queues job; false when limit_ jobs wait already for a worker.
  [[nodiscard]] bool TrySubmit(std::function<void()> job) {
    {
      const std::lock_guard lock(mutex_);
      if (jobs_.size() >= limit_ + idle_) return false;
      jobs_.push_back(std::move(job));
      metrics_.queueDepth = static_cast<int64_t>(jobs_.size());
    }
    wake_.notify_one();
    return true;
  }
  // Runs the jobs queued and ends the threads.
  void Join() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
    threads_.clear();
  }

 private:
  void Loop() {
    while (true) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        ++idle_;
        wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
        --idle_;
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
        metrics_.queueDepth = static_cast<int64_t>(jobs_.size());
      }
      ++metrics_.busyWorkers;
      job();
      --metrics_.busyWorkers;
    }
  }

  const size_t limit_;
  Metrics& metrics_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  size_t idle_ = 0;  ///< workers waiting for a job
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

bool IsForm(std::string_view contentType) {
  return contentType.substr(0, 33) == "application/x-www-form-urlencoded";
}

}  // namespace

class Connection;

struct Server::Impl {
  explicit Impl(ServeOptions options)
      : site(std::move(options)),
        router(site),
        limits(site.options.limits),
        pool(limits.queueLimit, site.metrics) {}

  Site site;
  Router router;
  const ServeLimits& limits;
  // Every connection, those waiting for a request in the order they began to wait, and the
  // count per address; only the I/O thread touches them. They outlive the I/O context, whose
  // end may end the last connections.
  std::unordered_set<Connection*> connections;
  std::list<Connection*> idle;
  std::unordered_map<std::string, size_t> perAddress;
  size_t closing = 0;  ///< connections closed that have not ended yet
  bool stopping = false;
  asio::io_context io{1};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{io.get_executor()};
  tcp::acceptor acceptor{io};
  asio::steady_timer stopTimer{io};
  asio::steady_timer acceptRetry{io};
  WorkerPool pool;

  void Accept();
  void OnAccepted(tcp::socket socket);
  void BeginStop();
  void Forget(Connection& connection);
  void Log(const std::string& line) const {
    if (site.options.accessLog) (void)!::write(STDERR_FILENO, line.data(), line.size());
  }
};

// One client connection, from accept to close. Its steps run on the I/O thread; the handler of
// its request runs on a worker, which hands the answer back.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  enum class State { Idle, Head, Body, Working, Writing, Closed };

  Connection(Server::Impl& core, tcp::socket socket, std::string address)
      : core_(core), stream_(std::move(socket)), address_(std::move(address)) {
    core_.connections.insert(this);
    ++core_.perAddress[address_];
    ++core_.site.metrics.openConnections;
  }
  ~Connection() {
    if (idleMarked_) Unidle();
    if (state_ == State::Closed) --core_.closing;
    --core_.site.metrics.openConnections;
    if (--core_.perAddress[address_] == 0) core_.perAddress.erase(address_);
    core_.Forget(*this);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  [[nodiscard]] State state() const { return state_; }
  [[nodiscard]] const std::string& address() const { return address_; }

  void Start() { WaitForRequest(); }

  // Answers 503 at once and closes: the server has no room for this connection.
  void Refuse() {
    core_.site.metrics.Refused(Refusal::Connections);
    Response response;
    SendServerError("", response, 503);
    response.set_header("Retry-After", "1");
    Send(std::move(response), {}, false);
  }

  // Closes the connection now; what it waits for ends with an error.
  void Cut() {
    if (idleMarked_) Unidle();
    Close();
  }

 private:
  // The facts about a request that its answer and the log need.
  struct Exchange {
    std::string method;
    std::string target;
    std::string route;
    Clock::time_point start = Clock::now();
  };

  void WaitForRequest() {
    if (core_.stopping) return Close();
    if (buffer_.size() > 0) return ReadHead();  // the next request came with the last one
    state_ = State::Idle;
    idleAt_ = core_.idle.insert(core_.idle.end(), this);
    idleMarked_ = true;
    ++core_.site.metrics.idleConnections;
    stream_.expires_after(core_.limits.idleTimeout);
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](beast::error_code error, size_t size) {
                              if (self->idleMarked_) self->Unidle();
                              if (error) return self->Close();
                              self->buffer_.commit(size);
                              self->ReadHead();
                            });
  }

  void Unidle() {
    core_.idle.erase(idleAt_);
    idleMarked_ = false;
    --core_.site.metrics.idleConnections;
  }

  void ReadHead() {
    state_ = State::Head;
    parser_.emplace();
    parser_->header_limit(static_cast<uint32_t>(core_.limits.maxHeadBytes));
    // The body's limit depends on its type, decided once the head is read (OnHead). (Not
    // boost::none: Boost 1.74 compares a length with it as more than any.)
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    Deadline(core_.limits.headTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code error, size_t) {
                              self->OnHead(self->Expired(error));
                            });
  }

  void OnHead(beast::error_code error) {
    if (error == beast::error::timeout) return Refused(Refusal::HeadTimeout, 408, "");
    if (error == http::error::header_limit) return Refused(Refusal::HeadTooLarge, 431, "");
    if (error == http::error::end_of_stream || error == asio::error::operation_aborted ||
        error == asio::error::connection_reset || core_.stopping) {
      return Close();
    }
    if (error) return Refused(std::nullopt, 400, "");
    const auto& head = parser_->get();
    const std::string path(head.target().substr(0, head.target().find('?')));
    const size_t limit = IsForm(head[http::field::content_type])
                             ? core_.limits.maxFormBytes
                             : core_.site.options.maxUploadBytes + static_cast<size_t>(64 * 1024);
    const auto length = parser_->content_length();
    if (length && *length > limit) return Refused(Refusal::BodyTooLarge, 413, path);
    if (parser_->is_done()) return Dispatch();
    parser_->body_limit(limit);
    if (beast::iequals(head[http::field::expect], "100-continue")) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      beast::error_code ignored;
      asio::write(stream_.socket(), asio::buffer(kContinue), ignored);
    }
    state_ = State::Body;
    Deadline(core_.limits.bodyTimeout + AtLeastRate(length ? *length : limit));
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this(), path](beast::error_code error, size_t) {
                       error = self->Expired(error);
                       if (error == beast::error::timeout) {
                         return self->Refused(Refusal::BodyTimeout, 408, path);
                       }
                       if (error == http::error::body_limit) {
                         return self->Refused(Refusal::BodyTooLarge, 413, path);
                       }
                       if (error) return self->Close();
                       self->Dispatch();
                     });
  }

  // Reading a request's head or body ends with beast::error::timeout after time. (The stream's
  // own deadline would close the connection, leaving no way to say why.)
  void Deadline(std::chrono::steady_clock::duration time) {
    stream_.expires_never();
    expired_ = false;
    deadline_.expires_after(time);
    deadline_.async_wait([weak = weak_from_this()](beast::error_code error) {
      const auto self = weak.lock();
      if (error || !self) return;
      self->expired_ = true;
      beast::error_code ignored;
      self->stream_.socket().cancel(ignored);
    });
  }
  // The error a read under a Deadline ended with: timeout if that passed first.
  beast::error_code Expired(beast::error_code error) {
    deadline_.cancel();
    return expired_ ? beast::error_code(beast::error::timeout) : error;
  }

  // The time size bytes take at the least rate a client must keep.
  [[nodiscard]] std::chrono::seconds AtLeastRate(size_t size) const {
    return std::chrono::seconds(size / std::max<size_t>(core_.limits.minBodyRate, 1));
  }

  // Answers status by itself and closes: what the client sent is not read to its end.
  void Refused(std::optional<Refusal> why, int status, std::string_view path) {
    if (why) core_.site.metrics.Refused(*why);
    linger_ = true;
    Response response;
    SendServerError(path, response, status);
    Exchange exchange;
    if (parser_ && parser_->is_header_done()) {
      exchange.method = std::string(parser_->get().method_string());
      exchange.target = std::string(parser_->get().target());
    }
    Send(std::move(response), std::move(exchange), false);
  }

  void Dispatch() {
    state_ = State::Working;
    auto message = parser_->release();
    parser_.reset();
    const bool keepAlive = message.keep_alive();
    auto request = std::make_shared<Request>();
    request->method = std::string(message.method_string());
    request->target = std::string(message.target());
    request->remote_addr = address_;
    for (const auto& field : message) {
      request->headers.emplace(std::string(field.name_string()), std::string(field.value()));
    }
    request->body = std::move(message.body());
    Exchange exchange{request->method, request->target, {}, Clock::now()};
    auto job = [self = shared_from_this(), request, exchange, keepAlive]() mutable {
      Response response;
      exchange.route = std::string(self->core_.router.Answer(*request, response));
      if (request->method == "HEAD") response.body.clear();
      auto& io = self->core_.io;
      asio::post(io, [self = std::move(self), response = std::move(response),
                      exchange = std::move(exchange), keepAlive]() mutable {
        self->Send(std::move(response), std::move(exchange), keepAlive);
      });
    };
    if (core_.pool.TrySubmit(std::move(job))) return;
    // Every worker busy and the queue full: say so at once rather than keep the client waiting.
    core_.site.metrics.Refused(Refusal::Queue);
    Response response;
    SendServerError(request->path.empty() ? request->target : request->path, response, 503);
    response.set_header("Retry-After", "1");
    Send(std::move(response), std::move(exchange), keepAlive);
  }

  void Send(Response response, Exchange exchange, bool keepAlive) {
    if (state_ == State::Closed) return;
    state_ = State::Writing;
    answer_.emplace();
    auto& answer = *answer_;
    answer.version(11);
    answer.result(static_cast<unsigned>(response.status));
    for (const auto& [name, value] : response.headers) answer.insert(name, value);
    const size_t bytes = response.body.size();
    answer.body() = std::move(response.body);
    answer.keep_alive(keepAlive && !core_.stopping);
    answer.prepare_payload();
    stream_.expires_after(core_.limits.bodyTimeout + AtLeastRate(bytes));
    http::async_write(
        stream_, answer,
        [self = shared_from_this(), exchange = std::move(exchange), bytes,
         user = std::move(response.userID),
         status = response.status](beast::error_code error, size_t) {
          const auto time =
              std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - exchange.start);
          self->core_.site.metrics.Count(exchange.route, exchange.method, status, time);
          self->core_.Log(AccessLogLine(exchange.method.empty() ? "-" : exchange.method,
                                        exchange.target.empty() ? "-" : exchange.target, status,
                                        bytes, time, user));
          const bool again = !error && self->answer_->keep_alive();
          self->answer_.reset();
          if (!again && !error && self->linger_) return self->Linger();
          if (!again) return self->Close();
          self->WaitForRequest();
        });
  }

  // A client that is still sending what was refused would have its answer destroyed by a reset
  // if the connection closed now: what it sends is read and dropped for a few seconds more.
  void Linger() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    buffer_.clear();
    if (!lingerUntil_) lingerUntil_ = Clock::now() + kLingerTime;
    stream_.expires_at(*lingerUntil_);
    stream_.async_read_some(buffer_.prepare(64 * 1024),
                            [self = shared_from_this()](beast::error_code error, size_t) {
                              if (error || self->core_.stopping) return self->Close();
                              self->Linger();
                            });
  }

  void Close() {
    if (state_ == State::Closed) return;
    state_ = State::Closed;
    ++core_.closing;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  Server::Impl& core_;
  beast::tcp_stream stream_;
  asio::steady_timer deadline_{stream_.get_executor()};
  bool expired_ = false;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::optional<http::response<http::string_body>> answer_;
  std::string address_;
  State state_ = State::Head;
  std::list<Connection*>::iterator idleAt_;
  bool idleMarked_ = false;
  bool linger_ = false;
  std::optional<Clock::time_point> lingerUntil_;
  static constexpr std::chrono::seconds kLingerTime{5};
};

void Server::Impl::Accept() {
  acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
    if (stopping || !acceptor.is_open()) return;
    if (error) {
      // Out of file descriptors, most likely: try again shortly rather than spin.
      std::cerr << "kvaction serve: accepting a connection: " << error.message() << '\n';
      acceptRetry.expires_after(std::chrono::milliseconds(100));
      return acceptRetry.async_wait([this](beast::error_code waited) {
        if (!waited) Accept();
      });
    }
    OnAccepted(std::move(socket));
    Accept();
  });
}

void Server::Impl::OnAccepted(tcp::socket socket) {
  beast::error_code error;
  // An answer goes out as its head and then its body; with Nagle's rule the body waits for the
  // client's delayed acknowledgement of the head (40 ms on Linux) on every kept-alive connection.
  socket.set_option(tcp::no_delay(true), error);
  const auto peer = socket.remote_endpoint(error);
  if (error) return;
  auto address = peer.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  // Past the limit, the connection that has waited longest for a request makes room.
  bool room = connections.size() - closing < limits.maxConnections;
  if (!room && !idle.empty()) {
    idle.front()->Cut();
    room = true;
  }
  auto connection = std::make_shared<Connection>(*this, std::move(socket), address.to_string());
  const bool counted = !address.is_loopback() || limits.limitLoopback;
  if (!room || (counted && perAddress[connection->address()] > limits.maxConnectionsPerAddress)) {
    return connection->Refuse();
  }
  connection->Start();
}

void Server::Impl::BeginStop() {
  if (stopping) return;
  stopping = true;
  beast::error_code ignored;
  acceptor.close(ignored);
  acceptRetry.cancel();
  // Waiting for a request (or still reading its head): nothing in flight to finish.
  std::vector<Connection*> waiting;
  for (Connection* connection : connections) {
    if (connection->state() == Connection::State::Idle ||
        connection->state() == Connection::State::Head) {
      waiting.push_back(connection);
    }
  }
  for (Connection* connection : waiting) connection->Cut();
  if (connections.empty()) {
    work.reset();
    return;
  }
  stopTimer.expires_after(limits.stopTimeout);
  stopTimer.async_wait([this](beast::error_code error) {
    if (error) return;
    for (Connection* connection : connections) connection->Cut();
  });
}

void Server::Impl::Forget(Connection& connection) {
  connections.erase(&connection);
  if (stopping && connections.empty()) {
    stopTimer.cancel();
    work.reset();
  }
}

Server::Server(ServeOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Server::~Server() = default;

int Server::Bind() {
  const auto& options = impl_->site.options;
  // Every connection is a file descriptor; the soft limit (often 1,024) is raised to the hard one.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    (void)setrlimit(RLIMIT_NOFILE, &files);
  }
  beast::error_code error;
  tcp::resolver resolver(impl_->io);
  const auto endpoints =
      resolver.resolve(options.host, std::to_string(options.port), tcp::resolver::passive, error);
  auto& acceptor = impl_->acceptor;
  for (const auto& entry : endpoints) {
    if (error) break;
    acceptor.open(entry.endpoint().protocol(), error);
    // The listening socket may take over an address a closed server left waiting, but not share
    // one a running server holds: shared, each connection would go to either server at random.
    if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor.bind(entry.endpoint(), error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (!error) return acceptor.local_endpoint().port();
    beast::error_code ignored;
    acceptor.close(ignored);
  }
  throw app::Invalid("--listen", fmt::format("{}:{}", options.host, options.port),
                     "an address this machine can listen on (is the port in use?)");
}

void Server::Run() {
  impl_->pool.Start(impl_->limits.workers);
  impl_->Accept();
  impl_->io.run();
  impl_->pool.Join();
  // Answers the workers handed back while the loop was ending are closed, not sent.
  impl_->io.restart();
  impl_->io.poll();
}

void Server::Stop() {
  asio::post(impl_->io, [impl = impl_.get()] { impl->BeginStop(); });
}

}  // namespace web
