#include "web/Server.h"

#include <charconv>
#include <utility>
#include <variant>

#include <fmt/format.h>

#include "app/Errors.h"
#include "web/Api.h"
#include "web/Routes.h"
#include "web/SignInPages.h"
#include "web/Site.h"

namespace web {

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

struct Server::Impl {
  Site site;
  httplib::Server http;
  explicit Impl(ServeOptions options) : site(std::move(options)) {
    // The listening socket may take over an address a closed server left waiting, but not share
    // one a running server holds: shared, each connection would go to either server at random.
    http.set_socket_options([](socket_t sock) {
      const int yes = 1;
      (void)setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    Routes();
  }

  // The handler that guards route's kind of handler and then runs it.
  httplib::Server::Handler HandlerOf(const Route& route) {
    using Request = httplib::Request;
    using Response = httplib::Response;
    struct Guard {
      Impl& impl;
      std::string_view idField;
      httplib::Server::Handler operator()(PublicHandler page) const {
        return [&site = impl.site, page](const Request& rq, Response& rs) { page(site, rq, rs); };
      }
      httplib::Server::Handler operator()(PageHandler page) const {
        return [&site = impl.site, page](const Request& rq, Response& rs) {
          ServeSignedIn(site, rq, rs, page);
        };
      }
      httplib::Server::Handler operator()(RowPageHandler page) const {
        return [&site = impl.site, page, field = idField](const Request& rq, Response& rs) {
          ServeSignedIn(site, rq, rs,
                        [&](Visit& visit) { page(visit, IdOf(rq.matches[1], field)); });
        };
      }
      httplib::Server::Handler operator()(ApiHandler call) const {
        return [&site = impl.site, call](const Request& rq, Response& rs) {
          ServeApiCall(site, rq, rs, call);
        };
      }
    };
    return std::visit(Guard{*this, route.idField}, route.handler);
  }

  void Routes() {
    using Request = httplib::Request;
    using Response = httplib::Response;
    http.set_payload_max_length(site.options.maxUploadBytes + 64 * 1024);
    // A page goes out as its headers and then its body; with Nagle's rule the body waits for
    // the client's delayed acknowledgement of the headers (40 ms on Linux) on every kept-alive
    // connection.
    http.set_tcp_nodelay(true);
    for (const Route& route : RouteTable()) {
      switch (route.method) {
        case Method::Get:
          http.Get(route.pattern, HandlerOf(route));
          break;
        case Method::Post:
          http.Post(route.pattern, HandlerOf(route));
          break;
        case Method::Patch:
          http.Patch(route.pattern, HandlerOf(route));
          break;
        case Method::Delete:
          http.Delete(route.pattern, HandlerOf(route));
          break;
      }
    }
    http.set_error_handler([](const Request& rq, Response& rs) {
      if (!rs.body.empty()) return;
      AddSecurityHeaders(rs);
      const int status = rs.status;
      if (IsApiPath(rq.path)) {
        return SendApiError(rs, status, status == 404 ? app::kNotFound : app::kInvalidInput,
                            ApiStatusText(status));
      }
      SendErrorPage(rs, status,
                    status == 413 ? "The upload is larger than this server accepts."
                                  : "There is no such page.");
    });
    http.set_exception_handler([](const Request& rq, Response& rs, std::exception_ptr) {
      AddSecurityHeaders(rs);
      if (IsApiPath(rq.path)) {
        return SendApiError(rs, 500, app::kNotStored,
                            "The server could not complete this request.");
      }
      SendErrorPage(rs, 500, "The server could not complete this request.");
    });
  }
};

Server::Server(ServeOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Server::~Server() = default;

int Server::Bind() {
  const auto& options = impl_->site.options;
  const int port = options.port == 0
                       ? impl_->http.bind_to_any_port(options.host)
                       : (impl_->http.bind_to_port(options.host, options.port) ? options.port : -1);
  if (port < 0) {
    throw app::Invalid("--listen", fmt::format("{}:{}", options.host, options.port),
                       "an address this machine can listen on (is the port in use?)");
  }
  return port;
}

void Server::Run() { impl_->http.listen_after_bind(); }
void Server::Stop() { impl_->http.stop(); }

}  // namespace web
