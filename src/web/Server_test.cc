// The HTTP core: the deadlines and limits that keep one client from holding the server (each
// refusal path with its status), connections that wait or trickle while others are served, the
// stop, health and metrics, and the reading of requests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "web/Http.h"
#include "web/Metrics.h"
#include "web/ServedDatabase_test.h"
#include "web/Server.h"

namespace web {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A connection to a port of this host, driven byte by byte.
class Raw {
 public:
  explicit Raw(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~Raw() { ::close(fd_); }
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;

  void Send(std::string_view text) const {
    (void)::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
  }
  // What the server sends until it closes the connection (closed() then) or wait has passed.
  std::string Receive(std::chrono::milliseconds wait = 3s) {
    std::string received;
    const auto end = Clock::now() + wait;
    while (!closed_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (left <= 0ms || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
      std::array<char, 4096> buffer{};
      const ssize_t size = ::recv(fd_, buffer.data(), buffer.size(), 0);
      if (size <= 0) closed_ = true;
      if (size > 0) received.append(buffer.data(), static_cast<size_t>(size));
      // A whole answer on a connection kept open: no more to come.
      if (Complete(received) && received.find("Connection: close") == std::string::npos) break;
    }
    return received;
  }
  [[nodiscard]] bool closed() const { return closed_; }

 private:
  // Whether text holds one whole answer (a head and the body its Content-Length gives).
  static bool Complete(const std::string& text) {
    const size_t head = text.find("\r\n\r\n");
    const size_t length = text.find("Content-Length: ");
    if (head == std::string::npos || length == std::string::npos || length > head) return false;
    return text.size() >= head + 4 + std::stoul(text.substr(length + 16));
  }

  int fd_;
  bool closed_ = false;
};

constexpr std::string_view kGetSignIn = "GET /signin HTTP/1.1\r\nHost: t\r\n\r\n";

class ServerTest : public ServedDatabaseTest {};
// The limits do not depend on the engine: SQLite alone.
class ServerLimitsTest : public ServerTest {};

TEST_P(ServerLimitsTest, SlowOrOversizedRequestsAreCutWithTheirStatus) {
  limits_.headTimeout = 1s;
  limits_.bodyTimeout = 1s;
  limits_.minBodyRate = 1 << 20;
  limits_.idleTimeout = 1s;
  limits_.maxHeadBytes = 2048;
  Serve();
  struct Case {
    std::string why;
    std::string sent;
    std::string answer;  ///< how the answer starts; "" for a close without one
  };
  const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
  const std::vector<Case> cases = {
      {"head too slow", "GET /signin HTTP/1.1\r\nHost: t\r\n", "HTTP/1.1 408"},
      {"body too slow",
       "POST /signin HTTP/1.1\r\nHost: t\r\n" + form + "Content-Length: 99\r\n\r\nu",
       "HTTP/1.1 408"},
      {"oversized head", "GET /signin HTTP/1.1\r\nX-Pad: " + std::string(4096, 'a') + "\r\n\r\n",
       "HTTP/1.1 431"},
      {"form too large",
       "POST /signin HTTP/1.1\r\nHost: t\r\n" + form + "Content-Length: 2097152\r\n\r\n",
       "HTTP/1.1 413"},
      {"unreadable", "NOT HTTP\r\n\r\n", "HTTP/1.1 400"},
      {"idle", "", ""},
  };
  std::vector<std::unique_ptr<Raw>> clients;
  for (const auto& test : cases) {
    clients.push_back(std::make_unique<Raw>(port_));
    clients.back()->Send(test.sent);
  }
  const auto start = Clock::now();
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string answer = clients[i]->Receive();
    EXPECT_EQ(answer.substr(0, cases[i].answer.size()), cases[i].answer) << cases[i].why;
    EXPECT_TRUE(clients[i]->closed()) << cases[i].why;
  }
  EXPECT_LT(Clock::now() - start, 2500ms) << "each deadline is a second";
}

TEST_P(ServerLimitsTest, FormsUpToTheirLimitAreReadAndLargerOnesRefused) {
  // The sign-in form finds its token and the password behind a long field only when the whole
  // form was read.
  const std::string token(64, 'c');
  for (const size_t size : {9u << 10, 900u << 10, 2u << 20}) {
    const auto answer = client_->Post("/signin", {{"Cookie", "kvsignin=" + token}},
                                      Params{{"pad", std::string(size, 'x')},
                                             {"csrf", token},
                                             {"user", "orig"},
                                             {"password", "password1"}});
    ASSERT_TRUE(answer) << size;
    if (size < (1u << 20)) {
      EXPECT_EQ(answer->status, 303) << size;
      EXPECT_EQ(answer->get_header_value("Set-Cookie").rfind("kvsession=", 0), 0u) << size;
    } else {
      EXPECT_EQ(answer->status, 413) << size;
      EXPECT_NE(answer->body.find("larger than this server accepts"), std::string::npos);
    }
  }
}

TEST_P(ServerLimitsTest, ConnectionsPastTheLimitMakeRoomOrAreRefused) {
  limits_.maxConnections = 3;
  Serve();
  client_.reset();
  std::this_thread::sleep_for(100ms);
  Raw idle(port_);
  std::this_thread::sleep_for(50ms);
  Raw reading1(port_);
  Raw reading2(port_);
  reading1.Send("GET /signin HTTP/1.1\r\n");
  reading2.Send("GET /signin HTTP/1.1\r\n");
  std::this_thread::sleep_for(50ms);
  // A fourth closes the one that waits for a request...
  Raw fourth(port_);
  EXPECT_EQ(idle.Receive(), "");
  EXPECT_TRUE(idle.closed());
  fourth.Send(kGetSignIn);
  EXPECT_EQ(fourth.Receive().substr(0, 12), "HTTP/1.1 200");
  // ...and is closed in its turn when it waits; with none waiting, a new one is refused.
  Raw fifth(port_);
  fifth.Send("GET /signin HTTP/1.1\r\n");
  (void)fourth.Receive(1s);
  EXPECT_TRUE(fourth.closed());
  Raw sixth(port_);
  EXPECT_EQ(sixth.Receive().substr(0, 12), "HTTP/1.1 503");
  EXPECT_TRUE(sixth.closed());

  // Per address (clients on this machine counted for the test).
  limits_ = {};
  limits_.maxConnectionsPerAddress = 2;
  limits_.limitLoopback = true;
  Serve();
  client_.reset();
  std::this_thread::sleep_for(100ms);
  Raw first(port_);
  Raw second(port_);
  Raw third(port_);
  EXPECT_EQ(third.Receive().substr(0, 12), "HTTP/1.1 503");
  second.Send(kGetSignIn);
  EXPECT_EQ(second.Receive().substr(0, 12), "HTTP/1.1 200");
}

TEST_P(ServerLimitsTest, AFullQueueIsAnswered503AtOnceAndAHungDatabaseIsUnhealthy) {
  // A database server that takes connections and never answers holds a worker for the health
  // check's second.
  const int hung = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(hung, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(hung, 16), 0);
  ASSERT_EQ(::getsockname(hung, reinterpret_cast<sockaddr*>(&address), &length), 0);
  ServeOptions options;
  options.port = 0;
  options.open = open_;
  options.open.connection =
      fmt::format("Provider=PostgreSQL;Host=127.0.0.1;Port={};Database=none;User ID=none",
                  ntohs(address.sin_port));
  options.limits.workers = 1;
  options.limits.queueLimit = 1;
  Server server(options);
  const int port = server.Bind();
  std::thread running([&] { server.Run(); });
  const std::string health = "GET /healthz HTTP/1.1\r\nHost: t\r\n\r\n";
  Raw running1(port), waiting(port), refused(port);
  running1.Send(health);
  std::this_thread::sleep_for(200ms);
  waiting.Send(health);
  std::this_thread::sleep_for(100ms);
  const auto start = Clock::now();
  refused.Send(health);
  const std::string answer = refused.Receive();
  EXPECT_LT(Clock::now() - start, 500ms);
  EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 503");
  EXPECT_NE(answer.find("Retry-After: 1\r\n"), std::string::npos) << answer;
  const std::string unhealthy = running1.Receive();
  EXPECT_EQ(unhealthy.substr(0, 12), "HTTP/1.1 503");
  EXPECT_NE(unhealthy.find("\r\n\r\nunavailable\n"), std::string::npos) << unhealthy;
  EXPECT_EQ(waiting.Receive().substr(0, 12), "HTTP/1.1 503");
  server.Stop();
  running.join();
  ::close(hung);
}

TEST_P(ServerLimitsTest, IdleAndTricklingConnectionsDoNotHoldUpOthers) {
  std::vector<std::unique_ptr<Raw>> idle;
  for (int i = 0; i < 200; ++i) idle.push_back(std::make_unique<Raw>(port_));
  std::vector<std::unique_ptr<Raw>> trickling;
  for (int i = 0; i < 20; ++i) trickling.push_back(std::make_unique<Raw>(port_));
  std::atomic<bool> done = false;
  std::thread trickle([&] {
    const std::string head = "GET /signin HTTP/1.1\r\nHost: t\r\nX-Slow: aaaaaaaaaaaaaaaaaaaaaa";
    for (size_t at = 0; !done; at = (at + 1) % head.size()) {
      for (const auto& client : trickling) client->Send(head.substr(at, 1));
      std::this_thread::sleep_for(100ms);
    }
  });
  std::this_thread::sleep_for(300ms);
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    Client fresh("127.0.0.1", port_);
    const auto answer = fresh.Get("/signin");
    EXPECT_LT(Clock::now() - start, 1s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
  }
  done = true;
  trickle.join();
}

TEST_P(ServerLimitsTest, StopFinishesRequestsInFlightAndClosesIdleConnections) {
  Raw idle(port_);
  Raw sending(port_);
  const std::string body = "user=orig&password=password1";
  sending.Send(fmt::format(
      "POST /signin HTTP/1.1\r\nHost: t\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: {}\r\n\r\nuser=",
      body.size()));
  std::this_thread::sleep_for(100ms);
  server_->Stop();
  EXPECT_EQ(idle.Receive(), "");
  EXPECT_TRUE(idle.closed());
  sending.Send(body.substr(5));
  const std::string answer = sending.Receive();
  EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 403") << "the sign-in form without its token";
  EXPECT_NE(answer.find("Connection: close"), std::string::npos);
  thread_.join();  // Run has returned
  thread_ = std::thread([] {});
}

TEST_P(ServerTest, HealthAndMetricsTellTheOperatorWhatTheProcessDoes) {
  const auto health = client_->Get("/healthz");
  EXPECT_EQ(health->status, 200);
  EXPECT_EQ(health->body, "ok\n");
  (void)client_->Get("/signin");
  (void)client_->Get("/action/1");
  // A call refused or of a missing action leaves its database clean: it is kept for the next.
  const auto signedIn = client_->Post(
      "/api/v1/session", R"({"user": "orig", "password": "password1"})", "application/json");
  ASSERT_EQ(signedIn->status, 201) << signedIn->body;
  const std::string token = nlohmann::json::parse(signedIn->body)["token"].get<std::string>();
  for (const char* path : {"/api/v1/actions/999999", "/api/v1/actions/999998"}) {
    EXPECT_EQ(client_->Get(path, {{"Authorization", "Bearer " + token}})->status, 404);
  }
  const auto metrics = client_->Get("/metrics");
  EXPECT_EQ(metrics->status, 200);
  for (const std::string line :
       {"kvaction_http_requests_total{route=\"/signin\",method=\"GET\",status=\"200\"} ",
        "kvaction_http_requests_total{route=\"/action/(\\\\d+)\",method=\"GET\",status=\"303\"} 1",
        "kvaction_http_request_duration_seconds_bucket{le=\"+Inf\"} ",
        "kvaction_http_connections_open 1", "kvaction_worker_queue_depth 0",
        "kvaction_outbox_waiting 0", "kvaction_sessions 1", "kvaction_database_up 1",
        "kvaction_database_connections_idle 1"}) {
    EXPECT_NE(metrics->body.find("\n" + line), std::string::npos) << line << "\n" << metrics->body;
  }
}

TEST(ServerRules, MetricsAreForThisMachineOrTheToken) {
  const std::string token(40, 't');
  EXPECT_TRUE(MayReadMetrics("127.0.0.1", "", ""));
  EXPECT_TRUE(MayReadMetrics("::1", "", token));
  EXPECT_TRUE(MayReadMetrics("192.0.2.7", "Bearer " + token, token));
  EXPECT_FALSE(MayReadMetrics("192.0.2.7", "", token));
  EXPECT_FALSE(MayReadMetrics("192.0.2.7", "Bearer " + std::string(40, 'u'), token));
  EXPECT_FALSE(MayReadMetrics("192.0.2.7", "Bearer ", "")) << "no token: none matches";
  EXPECT_FALSE(MayReadMetrics("::ffff:192.0.2.7", "", token));
}

TEST(ServerRules, TheAccessLogKeepsNoQueryValueAndOneLine) {
  const std::string line = AccessLogLine("GET", "/?grep=secret&page=2&flag", 200, 512,
                                         std::chrono::microseconds(1234), "lead");
  EXPECT_NE(line.find(" GET /?grep&page&flag 200 512 1234us lead\n"), std::string::npos) << line;
  EXPECT_EQ(line.find("secret"), std::string::npos);
  const std::string odd = AccessLogLine("GET", "/a b\n\x01", 404, 0, {}, "");
  EXPECT_NE(odd.find(" /a%20b%0A%01 404 0 0us -\n"), std::string::npos) << odd;
}

TEST(ServerRules, RequestsAreReadIntoFieldsAndParts) {
  Request form;
  form.target = "/a%2Fb?x=1+2&y=%26&x=3&empty";
  form.headers.emplace("content-type", "application/x-www-form-urlencoded; charset=utf-8");
  form.body = "z=%E2%82%AC&x=4";
  ASSERT_TRUE(ParseTargetAndBody(form));
  EXPECT_EQ(form.path, "/a/b");
  EXPECT_EQ(form.get_param_value("x"), "1 2");
  EXPECT_EQ(form.get_param_value("x", 2), "4");
  EXPECT_EQ(form.get_param_value_count("x"), 3u);
  EXPECT_EQ(form.get_param_value("y"), "&");
  EXPECT_TRUE(form.has_param("empty"));
  EXPECT_EQ(form.get_param_value("z"), "\xE2\x82\xAC");
  EXPECT_EQ(form.get_header_value("Content-Type").substr(0, 11), "application");

  Request upload;
  upload.target = "/action/1/attachments";
  upload.headers.emplace("Content-Type", "multipart/form-data; boundary=\"XyZ\"");
  const std::string content("\r\n--Xy\0z", 8);  // what looks like a delimiter, and a NUL
  upload.body =
      "--XyZ\r\nContent-Disposition: form-data; name=\"csrf\"\r\n\r\ntok\r\n"
      "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.bin\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\n" +
      content + "\r\n--XyZ--\r\n";
  ASSERT_TRUE(ParseTargetAndBody(upload));
  EXPECT_TRUE(upload.is_multipart_form_data());
  EXPECT_EQ(upload.get_file_value("csrf").content, "tok");
  EXPECT_EQ(upload.get_file_value("file").filename, "a.bin");
  EXPECT_EQ(upload.get_file_value("file").content, content);
  EXPECT_TRUE(upload.body.empty()) << "the parts hold the content";

  for (const std::string broken : {"--XyZ\r\nno end", "no delimiter", "--XyZ\r\n\r\nx\r\n--XyZ"}) {
    Request bad = upload;
    bad.files.clear();
    bad.body = broken;
    EXPECT_FALSE(ParseTargetAndBody(bad)) << broken;
  }
}

INSTANTIATE_TEST_SUITE_P(SQLite, ServerLimitsTest,
                         ::testing::Values(::kvdata::testing::EngineKind::SQLite),
                         ::kvdata::testing::EngineName);
KV_INSTANTIATE_ENGINES(ServerTest);

}  // namespace
}  // namespace web
