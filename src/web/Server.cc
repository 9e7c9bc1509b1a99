#include "web/Server.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <utility>

#include <fmt/format.h>

#include "app/Errors.h"
#include "app/Lists.h"
#include "app/WebSupport.h"
#include "kvaction/Action.h"
#include "vb/ComError.h"
#include "web/Api.h"
#include "web/EmbeddedFiles.h"
#include "web/MorePages.h"
#include "web/Site.h"

namespace web {
namespace {

constexpr std::string_view kSessionCookie = "kvsession";
constexpr std::string_view kSignInCookie = "kvsignin";
constexpr std::chrono::hours kWebSessionLifetime{12};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string CookieOf(const httplib::Request& request, std::string_view name) {
  const std::string header = request.get_header_value("Cookie");
  std::string_view rest = header;
  while (!rest.empty()) {
    const size_t end = std::min(rest.find(';'), rest.size());
    std::string_view pair = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
      return std::string(pair.substr(equals + 1));
    }
  }
  return {};
}

std::string CookieHeader(const Site& site, std::string_view name, std::string_view value,
                         bool expire = false) {
  std::string header = fmt::format("{}={}; Path=/; HttpOnly; SameSite=Strict", name, value);
  if (site.SecureCookies()) header += "; Secure";
  if (expire) header += "; Max-Age=0";
  return header;
}

}  // namespace

std::string QueryValue(std::string_view text) {
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~') {
      encoded += c;
    } else {
      encoded += fmt::format("%{:02X}", byte);
    }
  }
  return encoded;
}

namespace {

// The path and query of the request, for the way back after sign-in.
std::string TargetOf(const httplib::Request& request) {
  return request.target.empty() ? request.path : request.target;
}

void SendError(httplib::Response& response, int status, std::string_view message) {
  SendPublicPage(response, "error", "Error", {{"message", std::string(message)}}, status);
}

// A refusal or a bad request says what was wrong; anything else is logged here and reported
// without its details, so no database text reaches a browser.
void SendComError(httplib::Response& response, const vb::ComError& error) {
  switch (app::KindOf(error)) {
    case app::ErrorKind::Refused:
      return SendError(response, 403, error.description());
    case app::ErrorKind::InvalidInput:
      return SendError(response, error.number() == app::kNotFound ? 404 : 400, error.description());
    case app::ErrorKind::Other:
      break;
  }
  std::cerr << "kvaction serve: " << error.source() << ": " << error.description() << '\n';
  SendError(response, 500, "The server could not complete this request.");
}

// The form token of a POST, read from its body alone: a token in the query string would travel
// on in logs and Referer headers, so it counts for nothing.
std::string BodyFormToken(const httplib::Request& request) {
  if (request.is_multipart_form_data()) {
    return request.has_file("csrf") ? request.get_file_value("csrf").content : std::string();
  }
  if (request.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) != 0) {
    return {};
  }
  httplib::Params fields;
  httplib::detail::parse_query_text(request.body, fields);
  const auto found = fields.find("csrf");
  return found == fields.end() ? std::string() : found->second;
}

// Whether a state-changing request comes from a page of this site by what the browser says:
// its Origin, else its Referer, is the base URL's origin (without a base URL, this Host's).
// Programs send neither header; the form token alone guards their requests.
bool FromThisSite(const Site& site, const httplib::Request& request) {
  const char* header = request.has_header("Origin")    ? "Origin"
                       : request.has_header("Referer") ? "Referer"
                                                       : nullptr;
  if (!header) return true;
  const std::string origin = OriginOf(request.get_header_value(header));
  if (origin.empty()) return false;
  if (!site.options.baseUrl.empty()) return origin == OriginOf(site.options.baseUrl);
  const std::string host = request.get_header_value("Host");
  return origin == OriginOf("http://" + host) || origin == OriginOf("https://" + host);
}

}  // namespace

void CheckRequestText(Site& site, const httplib::Request& request, std::string_view field,
                      std::string_view text, bool multiLine) {
  try {
    app::CheckControlCharacters(field, text, multiLine);
  } catch (const vb::ComError&) {
    site.throttle.FailedAddress(request.remote_addr);
    throw;
  }
}

void CheckRequestFields(Site& site, const httplib::Request& request) {
  // The value an edit started from ("base.Subject") is the stored one sent back, which may hold
  // what older programs stored (a tab in a subject); it must not block the edit.
  const auto multiLine = [](std::string_view name) {
    return name.starts_with("base.") || app::IsMultiLineField(name);
  };
  const auto check = [&](const std::string& name, std::string_view text) {
    CheckRequestText(site, request, "a field's name", name, false);
    CheckRequestText(site, request, name, text, multiLine(name));
  };
  for (const auto& [name, value] : request.params) check(name, value);
  // A file's content is whatever it is; its name and the form's other parts are texts.
  for (const auto& [name, part] : request.files)
    check(name, part.filename.empty() ? part.content : part.filename);
}

Site::Site(ServeOptions serveOptions)
    : options(std::move(serveOptions)),
      throttle(options.userSignInLimit, options.addressSignInLimit, std::chrono::minutes(10)),
      bootstrapCss(ReadFile(KV_BOOTSTRAP_CSS)) {}

bool Site::SecureCookies() const { return OriginOf(options.baseUrl).starts_with("https://"); }

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

  // Runs body for a signed-in person; a visitor without a session goes to sign-in and back.
  // A state-changing request must carry the session's form token.
  template <class Body>
  void Signed(const httplib::Request& request, httplib::Response& response, Body&& body) {
    AddSecurityHeaders(response);
    if (!Readable(request, response)) return;
    std::optional<app::Session> session;
    const std::string token = CookieOf(request, kSessionCookie);
    try {
      if (!token.empty()) {
        session.emplace(app::Session::Resume(site.options.open, token, site.pool.Take()));
      }
    } catch (const vb::ComError& error) {
      if (error.number() != app::kNotSignedIn) return SendComError(response, error);
    }
    if (!session) {
      if (request.method != "GET") return SendError(response, 403, "Please sign in again.");
      return Redirect(response, "/signin?next=" + QueryValue(TargetOf(request)));
    }
    Visit visit{site, request, response, std::move(*session), FormTokenOf(token)};
    if (request.method == "POST" &&
        (!SameSecret(BodyFormToken(request), visit.formToken) || !FromThisSite(site, request))) {
      return SendError(response, 403,
                       "This form has expired or did not come from this site. Please try again.");
    }
    Guarded([&] { body(visit); }, [&](const vb::ComError& error) { SendComError(response, error); },
            [&] { SendError(response, 500, "The server could not complete this request."); });
    // A server error may have left the connection unusable: only a clean one serves again.
    if (response.status < 500) site.pool.Give(std::move(visit.session).TakeAction());
  }

  // Refuses a request with control characters in its fields (400, naming the field).
  bool Readable(const httplib::Request& request, httplib::Response& response) {
    try {
      CheckRequestFields(site, request);
      return true;
    } catch (const vb::ComError& error) {
      AddSecurityHeaders(response);
      SendComError(response, error);
      return false;
    }
  }

  void SignInForm(const httplib::Request& request, httplib::Response& response,
                  std::string_view message, int status) {
    AddSecurityHeaders(response);
    std::string formToken = CookieOf(request, kSignInCookie);
    if (formToken.size() != 64) {
      formToken = RandomToken();
      response.set_header("Set-Cookie", CookieHeader(site, kSignInCookie, formToken));
    }
    std::string next = Param(request, "next");
    if (!IsLocalPath(next)) next = "/";
    SendPublicPage(response, "signin", "Sign in",
                   {{"csrf", formToken},
                    {"next", next},
                    {"userID", Param(request, "user")},
                    {"message", std::string(message)},
                    {"hasMessage", !message.empty()}},
                   status);
  }

  void SignIn(const httplib::Request& request, httplib::Response& response) {
    if (!Readable(request, response)) return;
    if (!SameSecret(BodyFormToken(request), CookieOf(request, kSignInCookie)) ||
        !FromThisSite(site, request)) {
      return SignInForm(request, response, "The sign-in form expired. Please try again.", 403);
    }
    const std::string user = Param(request, "user");
    const int64_t wait = site.throttle.WaitSeconds(user, request.remote_addr);
    if (wait > 0) {
      return SignInForm(
          request, response,
          fmt::format("Too many failed sign-ins. Try again in {} minutes.", (wait + 59) / 60), 429);
    }
    std::string token;
    try {
      auto session = app::Session::SignIn(site.options.open, user, Param(request, "password"),
                                          token, kWebSessionLifetime);
      session.PurgeExpired();
    } catch (const vb::ComError& error) {
      if (!app::IsSignInRefused(error)) return SendComError(response, error);
      site.throttle.Failed(user, request.remote_addr);
      return SignInForm(request, response, "The user ID or the password is wrong.", 401);
    }
    site.throttle.Succeeded(user);
    AddSecurityHeaders(response);
    response.set_header("Set-Cookie", CookieHeader(site, kSessionCookie, token));
    Redirect(response, Param(request, "next"));
  }

  void SignOut(Visit& visit) {
    visit.session.SignOut();
    visit.response.set_header("Set-Cookie", CookieHeader(site, kSessionCookie, "", true));
    Redirect(visit.response, "/signin");
  }

  void Static(httplib::Response& response, const std::string& name) {
    response.set_header("Cache-Control", "public, max-age=3600");
    AddSecurityHeaders(response);
    if (name == "bootstrap.min.css") return response.set_content(site.bootstrapCss, "text/css");
    const auto& files = EmbeddedFiles();
    const auto found = files.find(name);
    if (found == files.end() || name.find(".mustache") != std::string::npos) {
      return SendError(response, 404, "No such file.");
    }
    response.set_content(found->second, "text/css");
  }

  void Routes() {
    using Request = httplib::Request;
    using Response = httplib::Response;
    http.set_payload_max_length(site.options.maxUploadBytes + 64 * 1024);
    // A page goes out as its headers and then its body; with Nagle's rule the body waits for
    // the client's delayed acknowledgement of the headers (40 ms on Linux) on every kept-alive
    // connection.
    http.set_tcp_nodelay(true);
    http.Get("/signin", [this](const Request& rq, Response& rs) {
      if (Readable(rq, rs)) SignInForm(rq, rs, {}, 200);
    });
    http.Post("/signin", [this](const Request& rq, Response& rs) { SignIn(rq, rs); });
    http.Post("/signout", [this](const Request& rq, Response& rs) {
      Signed(rq, rs, [this](Visit& visit) { SignOut(visit); });
    });
    http.Get(R"(/static/([A-Za-z0-9_.-]+))",
             [this](const Request& rq, Response& rs) { Static(rs, rq.matches[1]); });
    http.Get("/", [this](const Request& rq, Response& rs) { Signed(rq, rs, ListPage); });
    http.Get("/default.asp", [this](const Request& rq, Response& rs) {
      Signed(rq, rs, [](Visit& visit) {
        const std::string& target = visit.request.target;
        const size_t mark = target.find('?');
        const auto id = app::ActionIDOfLink(mark == std::string::npos ? std::string_view()
                                                                      : target.substr(mark + 1));
        if (!id) throw app::Invalid("link", target, "a link to an action (ActionID=N)");
        Redirect(visit.response, fmt::format("/action/{}", *id));
      });
    });
    const auto onAction = [this](auto page) {
      return [this, page](const Request& rq, Response& rs) {
        Signed(rq, rs, [&](Visit& visit) { page(visit, IdOf(rq.matches[1], "action")); });
      };
    };
    http.Get(R"(/action/(\d+))", onAction(ActionPage));
    http.Get(R"(/action/(\d+)/edit)", onAction(EditForm));
    http.Post(R"(/action/(\d+)/edit)", onAction(EditSave));
    http.Post(R"(/action/(\d+)/move)", onAction(MoveAction));
    http.Post(R"(/action/(\d+)/attachments)", onAction(AttachmentUpload));
    http.Get(R"(/attachment/(\d+))", [this](const Request& rq, Response& rs) {
      Signed(rq, rs, [&](Visit& visit) { AttachmentDownload(visit, IdOf(rq.matches[1], "id")); });
    });
    AddApiRoutes(http, site);
    for (const auto& route : AdminRoutes()) {
      const auto handler = [this, page = route.page](const Request& rq, Response& rs) {
        Signed(rq, rs, page);
      };
      if (route.post) {
        http.Post(route.path, handler);
      } else {
        http.Get(route.path, handler);
      }
    }
    // Creating, copying, deleting; lists and saved queries; alerts; one's own settings.
    const auto onID = [this](auto page, const char* field) {
      return [this, page, field](const Request& rq, Response& rs) {
        Signed(rq, rs, [&](Visit& visit) { page(visit, IdOf(rq.matches[1], field)); });
      };
    };
    const auto on = [this](auto page) {
      return [this, page](const Request& rq, Response& rs) { Signed(rq, rs, page); };
    };
    http.Get("/action/new", on(NewActionForm));
    http.Post("/action/new", on(NewActionSave));
    http.Post(R"(/action/(\d+)/copy)", onAction(CopyAction));
    http.Get(R"(/action/(\d+)/delete)", onAction(DeleteConfirm));
    http.Post(R"(/action/(\d+)/delete)", onAction(DeleteAction));
    http.Post(R"(/attachment/(\d+)/remove)", onID(AttachmentRemove, "id"));
    http.Get("/queries", on(QueriesPage));
    http.Post("/queries", on(QuerySave));
    http.Post(R"(/queries/(\d+)/share)", onID(QueryShare, "query"));
    http.Post(R"(/queries/(\d+)/delete)", onID(QueryDelete, "query"));
    http.Get("/alerts", on(AlertsPage));
    http.Get("/settings", on(SettingsPage));
    http.Post("/settings/password", on(PasswordSave));
    http.Post("/settings/values", on(ValuesSave));
    http.set_error_handler([](const Request& rq, Response& rs) {
      if (!rs.body.empty()) return;
      AddSecurityHeaders(rs);
      const int status = rs.status;
      if (IsApiPath(rq.path)) {
        return SendApiError(rs, status, status == 404 ? app::kNotFound : app::kInvalidInput,
                            ApiStatusText(status));
      }
      SendError(rs, status,
                status == 413 ? "The upload is larger than this server accepts."
                              : "There is no such page.");
    });
    http.set_exception_handler([](const Request& rq, Response& rs, std::exception_ptr) {
      AddSecurityHeaders(rs);
      if (IsApiPath(rq.path)) {
        return SendApiError(rs, 500, app::kNotStored,
                            "The server could not complete this request.");
      }
      SendError(rs, 500, "The server could not complete this request.");
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
