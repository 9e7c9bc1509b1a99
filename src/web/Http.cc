#include "web/Http.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace web {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

template <class Map>
std::string NthValue(const Map& map, const std::string& key, size_t id) {
  auto [first, last] = map.equal_range(key);
  if (static_cast<size_t>(std::distance(first, last)) <= id) return {};
  std::advance(first, static_cast<std::ptrdiff_t>(id));
  return first->second;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The value of parameter name in a header value such as `form-data; name="a"; filename="b"`.
std::string HeaderParameter(std::string_view value, std::string_view name) {
  size_t at = 0;
  while ((at = value.find(';', at)) != std::string_view::npos) {
    std::string_view rest = Trimmed(value.substr(++at));
    if (!StartsWithText(rest, name) || rest.size() <= name.size() || rest[name.size()] != '=') {
      continue;
    }
    rest.remove_prefix(name.size() + 1);
    if (!rest.empty() && rest.front() == '"') {
      const size_t end = rest.find('"', 1);
      return std::string(rest.substr(1, end == std::string_view::npos ? rest.size() : end - 1));
    }
    return std::string(Trimmed(rest.substr(0, rest.find(';'))));
  }
  return {};
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool HeaderNameLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

bool Request::has_header(const std::string& name) const { return headers.contains(name); }
std::string Request::get_header_value(const std::string& name, size_t id) const {
  return NthValue(headers, name, id);
}
bool Request::has_param(const std::string& name) const { return params.contains(name); }
std::string Request::get_param_value(const std::string& name, size_t id) const {
  return NthValue(params, name, id);
}
size_t Request::get_param_value_count(const std::string& name) const { return params.count(name); }
bool Request::is_multipart_form_data() const {
  return StartsWithText(get_header_value("Content-Type"), "multipart/form-data");
}
bool Request::has_file(const std::string& name) const { return files.contains(name); }
MultipartFormData Request::get_file_value(const std::string& name) const {
  const auto found = files.find(name);
  return found == files.end() ? MultipartFormData{} : found->second;
}

bool Response::has_header(const std::string& name) const { return headers.contains(name); }
std::string Response::get_header_value(const std::string& name, size_t id) const {
  return NthValue(headers, name, id);
}
void Response::set_header(const std::string& name, const std::string& value) {
  if (name.find_first_of("\r\n") != std::string::npos ||
      value.find_first_of("\r\n") != std::string::npos) {
    return;
  }
  headers.emplace(name, value);
}
void Response::set_content(std::string content, const std::string& contentType) {
  body = std::move(content);
  headers.erase("Content-Type");
  set_header("Content-Type", contentType);
}

std::string DecodeUrl(std::string_view text, bool plusIsSpace) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int high = HexDigit(text[i + 1]);
      const int low = HexDigit(text[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    decoded += plusIsSpace && c == '+' ? ' ' : c;
  }
  return decoded;
}

void ParseQueryText(std::string_view text, Params& params) {
  while (!text.empty()) {
    const size_t end = std::min(text.find('&'), text.size());
    const std::string_view pair = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    params.emplace(DecodeUrl(pair.substr(0, equals), true),
                   equals == std::string_view::npos ? std::string()
                                                    : DecodeUrl(pair.substr(equals + 1), true));
  }
}

bool ParseMultipart(std::string_view contentType, std::string_view body,
                    MultipartFormDataMap& files) {
  const std::string boundary = HeaderParameter(contentType, "boundary");
  if (boundary.empty()) return false;
  const std::string delimiter = "--" + boundary;
  size_t at = body.find(delimiter);
  if (at == std::string_view::npos) return false;
  at += delimiter.size();
  while (true) {
    if (body.substr(at, 2) == "--") return true;  // the closing delimiter
    if (body.substr(at, 2) != "\r\n") return false;
    at += 2;
    const size_t headEnd = body.find("\r\n\r\n", at);
    if (headEnd == std::string_view::npos) return false;
    MultipartFormData part;
    for (std::string_view head = body.substr(at, headEnd - at); !head.empty();) {
      const size_t end = std::min(head.find("\r\n"), head.size());
      const std::string_view line = head.substr(0, end);
      head.remove_prefix(std::min(end + 2, head.size()));
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos) continue;
      const std::string_view name = line.substr(0, colon);
      const std::string_view value = Trimmed(line.substr(colon + 1));
      if (SameText(name, "Content-Disposition")) {
        part.name = HeaderParameter(value, "name");
        part.filename = HeaderParameter(value, "filename");
      } else if (SameText(name, "Content-Type")) {
        part.content_type = std::string(value);
      }
    }
    const size_t contentStart = headEnd + 4;
    const size_t contentEnd = body.find("\r\n" + delimiter, contentStart);
    if (contentEnd == std::string_view::npos) return false;
    part.content = std::string(body.substr(contentStart, contentEnd - contentStart));
    std::string key = part.name;
    files.emplace(std::move(key), std::move(part));
    at = contentEnd + 2 + delimiter.size();
  }
}

bool ParseTargetAndBody(Request& request) {
  const size_t question = request.target.find('?');
  request.path = DecodeUrl(std::string_view(request.target).substr(0, question), false);
  if (question != std::string::npos) {
    ParseQueryText(std::string_view(request.target).substr(question + 1), request.params);
  }
  const std::string type = request.get_header_value("Content-Type");
  if (StartsWithText(type, "application/x-www-form-urlencoded")) {
    ParseQueryText(request.body, request.params);
  } else if (request.is_multipart_form_data()) {
    if (!ParseMultipart(type, request.body, request.files)) return false;
    // The parts hold the content now; an upload is not kept twice.
    std::string().swap(request.body);
  }
  return true;
}

}  // namespace web
