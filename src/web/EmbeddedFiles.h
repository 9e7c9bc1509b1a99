#pragma once
// The templates and static files of the web front end, compiled into the program.
#include <functional>
#include <map>
#include <string>

namespace web {

/// File name ("list.mustache", "site.css") to content.
[[nodiscard]] const std::map<std::string, std::string, std::less<>>& EmbeddedFiles();

}  // namespace web
