#pragma once
// The tests' HTTP client: one kept-alive connection to a server on this host, opened again when
// the server closed it. Answers come back as a web::Response; header values as sent.
#include <cctype>
#include <limits>
#include <optional>
#include <string>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "web/Http.h"

namespace web {

using Result = std::optional<Response>;

class Client {
 public:
  Client(std::string host, int port) : host_(std::move(host)), port_(port) {}

  Result Get(const std::string& path, const Headers& headers = {}) {
    return Send("GET", path, headers, {}, {});
  }
  Result Post(const std::string& path, const Headers& headers, const Params& form) {
    return Send("POST", path, headers, FormText(form), "application/x-www-form-urlencoded");
  }
  Result Post(const std::string& path, const Params& form) { return Post(path, {}, form); }
  Result Post(const std::string& path, const std::string& body, const std::string& type) {
    return Send("POST", path, {}, body, type);
  }
  Result Post(const std::string& path, const Headers& headers, const std::string& body,
              const std::string& type) {
    return Send("POST", path, headers, body, type);
  }
  Result Patch(const std::string& path, const Headers& headers, const std::string& body,
               const std::string& type) {
    return Send("PATCH", path, headers, body, type);
  }
  Result Delete(const std::string& path, const Headers& headers = {}) {
    return Send("DELETE", path, headers, {}, {});
  }

  /// Sends one request; nullopt when no answer came (after one new connection).
  Result Send(const std::string& method, const std::string& target, const Headers& headers,
              const std::string& body, const std::string& type) {
    namespace http = boost::beast::http;
    http::request<http::string_body> request(http::string_to_verb(method), target, 11);
    request.set(http::field::host, host_ + ":" + std::to_string(port_));
    for (const auto& [name, value] : headers) request.insert(name, value);
    if (!type.empty()) request.set(http::field::content_type, type);
    request.body() = body;
    request.prepare_payload();
    for (int attempt = 0; attempt < 2; ++attempt) {
      boost::beast::error_code error;
      if (!stream_) {
        stream_.emplace(io_);
        stream_->connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address(host_),
                                                        static_cast<unsigned short>(port_)),
                         error);
        if (error) return std::nullopt;
      }
      http::write(*stream_, request, error);
      http::response_parser<http::string_body> parser;
      parser.body_limit(std::numeric_limits<std::uint64_t>::max());
      if (!error) http::read(*stream_, buffer_, parser, error);
      if (error) {
        // A kept-alive connection the server has closed meanwhile: once more on a new one.
        stream_.reset();
        buffer_.clear();
        continue;
      }
      auto message = parser.release();
      Response response;
      response.status = static_cast<int>(message.result_int());
      for (const auto& field : message) {
        response.headers.emplace(std::string(field.name_string()), std::string(field.value()));
      }
      response.body = std::move(message.body());
      if (!message.keep_alive()) stream_.reset();
      return response;
    }
    return std::nullopt;
  }

 private:
  static std::string FormText(const Params& form) {
    std::string text;
    const auto encode = [&](const std::string& part) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      for (const char c : part) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::string_view("-_.!~*'()").find(c) != std::string::npos) {
          text += c;
        } else {
          text += {'%', kHex[byte >> 4], kHex[byte & 15]};
        }
      }
    };
    for (const auto& [name, value] : form) {
      if (!text.empty()) text += '&';
      encode(name);
      text += '=';
      encode(value);
    }
    return text;
  }

  std::string host_;
  int port_;
  boost::asio::io_context io_;
  std::optional<boost::beast::tcp_stream> stream_;
  boost::beast::flat_buffer buffer_;
};

}  // namespace web
