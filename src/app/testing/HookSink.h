#pragma once
// A test webhook receiver: an HTTP/1.1 listener on 127.0.0.1 at a port the system picks. It
// takes one request per connection on its own thread, records it, and answers with the statuses
// it was given in turn (then 200), so tests can see signatures, once-only delivery, back-off and
// that a redirect is not followed.
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace app::testing {

/// One request as it arrived; header names in lower case.
struct ReceivedHook {
  std::string method;
  std::string path;
  std::map<std::string, std::string> headers;
  std::string body;
};

class HookSink {
 public:
  /// statuses: the answers to the first requests, in turn (a 3xx one names "/elsewhere" in its
  /// Location header); every later request gets 200.
  explicit HookSink(std::vector<int> statuses = {});
  ~HookSink();
  HookSink(const HookSink&) = delete;
  HookSink& operator=(const HookSink&) = delete;

  /// "http://127.0.0.1:PORT/path"
  [[nodiscard]] std::string URL(const std::string& path = "/hook") const;
  [[nodiscard]] std::vector<ReceivedHook> Received() const;

 private:
  void Serve();

  int listener_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<int> statuses_;
  std::vector<ReceivedHook> received_;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

}  // namespace app::testing
