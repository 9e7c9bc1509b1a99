#pragma once
// One HTTP request as the handlers read it and the answer they fill in, apart from how the
// server reads and writes them: the path and its matches, the query and form fields, the
// uploaded parts of a multipart form and the headers, each under the name the handlers use.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace web {

/// Orders header names without regard to case, as HTTP compares them.
struct HeaderNameLess {
  using is_transparent = void;
  [[nodiscard]] bool operator()(std::string_view a, std::string_view b) const;
};
using Headers = std::multimap<std::string, std::string, HeaderNameLess>;
/// Query and form fields by name; a name may come more than once.
using Params = std::multimap<std::string, std::string>;

/// One part of a multipart form: a file (filename given) or a field.
struct MultipartFormData {
  std::string name;
  std::string content;
  std::string filename;
  std::string content_type;
};
using MultipartFormDataMap = std::multimap<std::string, MultipartFormData>;

struct Request {
  std::string method;
  std::string target;  ///< as sent: the path and the query, still encoded
  std::string path;    ///< the target's path, decoded
  Headers headers;
  std::string body;  ///< empty for a multipart form, whose parts are in files
  Params params;     ///< the query's fields, then a URL-encoded form's
  MultipartFormDataMap files;
  std::vector<std::string> matches;  ///< the route's whole match and its groups
  std::string remote_addr;

  [[nodiscard]] bool has_header(const std::string& name) const;
  /// The id-th value of header name ("" when missing).
  [[nodiscard]] std::string get_header_value(const std::string& name, size_t id = 0) const;
  [[nodiscard]] bool has_param(const std::string& name) const;
  /// The id-th value of field name ("" when missing).
  [[nodiscard]] std::string get_param_value(const std::string& name, size_t id = 0) const;
  [[nodiscard]] size_t get_param_value_count(const std::string& name) const;
  [[nodiscard]] bool is_multipart_form_data() const;
  [[nodiscard]] bool has_file(const std::string& name) const;
  /// The first part called name (an empty one when missing).
  [[nodiscard]] MultipartFormData get_file_value(const std::string& name) const;
};

struct Response {
  int status = 200;
  Headers headers;
  std::string body;
  /// Who the request ran for, when someone signed in: the access log's user, never sent.
  std::string userID;

  [[nodiscard]] bool has_header(const std::string& name) const;
  [[nodiscard]] std::string get_header_value(const std::string& name, size_t id = 0) const;
  /// Adds a header; a value with a line break is dropped, so no text can add a header of its own.
  void set_header(const std::string& name, const std::string& value);
  void set_content(std::string content, const std::string& contentType);
};

/// Decodes %XX escapes (an invalid one stays as it is); with plusIsSpace, "+" is a blank, as in
/// a query or a URL-encoded form.
[[nodiscard]] std::string DecodeUrl(std::string_view text, bool plusIsSpace);
/// Adds the fields of a query or a URL-encoded form ("a=1&b=2") to params.
void ParseQueryText(std::string_view text, Params& params);
/// Splits a multipart body by the boundary of contentType into files; false when the body is
/// not such a form.
[[nodiscard]] bool ParseMultipart(std::string_view contentType, std::string_view body,
                                  MultipartFormDataMap& files);
/// Fills request's path and query fields from its target, and its form fields from its body by
/// its Content-Type. False when a multipart body does not parse.
[[nodiscard]] bool ParseTargetAndBody(Request& request);

}  // namespace web
