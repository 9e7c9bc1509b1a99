#include "app/testing/HookSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

namespace app::testing {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

/// Reads one request from fd: the head, then as many body bytes as Content-Length says.
bool ReadRequest(int fd, ReceivedHook& request) {
  std::string data;
  char buffer[4096];
  size_t headEnd = std::string::npos;
  size_t length = 0;
  while (true) {
    if (headEnd == std::string::npos) {
      headEnd = data.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        const std::string head = data.substr(0, headEnd);
        size_t start = 0;
        bool first = true;
        while (start < head.size()) {
          size_t end = head.find("\r\n", start);
          if (end == std::string::npos) end = head.size();
          const std::string line = head.substr(start, end - start);
          start = end + 2;
          if (first) {
            const auto space = line.find(' ');
            request.method = line.substr(0, space);
            request.path = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
            first = false;
            continue;
          }
          const auto colon = line.find(':');
          if (colon == std::string::npos) continue;
          std::string value = line.substr(colon + 1);
          value.erase(0, value.find_first_not_of(' '));
          request.headers[Lower(line.substr(0, colon))] = value;
        }
        const auto found = request.headers.find("content-length");
        length = found == request.headers.end() ? 0 : std::stoul(found->second);
      }
    }
    if (headEnd != std::string::npos && data.size() >= headEnd + 4 + length) {
      request.body = data.substr(headEnd + 4, length);
      return true;
    }
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, 5000) <= 0) return false;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    data.append(buffer, static_cast<size_t>(got));
  }
}

}  // namespace

HookSink::HookSink(std::vector<int> statuses) : statuses_(std::move(statuses)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("The test webhook receiver cannot listen.");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

HookSink::~HookSink() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

std::string HookSink::URL(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<ReceivedHook> HookSink::Received() const {
  const std::lock_guard lock(mutex_);
  return received_;
}

void HookSink::Serve() {
  while (!stop_) {
    pollfd wait{listener_, POLLIN, 0};
    if (::poll(&wait, 1, 50) <= 0) continue;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    ReceivedHook request;
    if (ReadRequest(fd, request)) {
      int status = 200;
      {
        const std::lock_guard lock(mutex_);
        if (received_.size() < statuses_.size()) status = statuses_[received_.size()];
        received_.push_back(request);
      }
      std::string answer = "HTTP/1.1 " + std::to_string(status) + " Answer\r\n";
      if (status >= 300 && status < 400) answer += "Location: " + URL("/elsewhere") + "\r\n";
      const std::string body = status < 300 ? "thanks" : "nope: status " + std::to_string(status);
      answer += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body;
      (void)::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    ::close(fd);
  }
}

}  // namespace app::testing
