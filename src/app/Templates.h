#pragma once
// Mustache templates, compiled once and rendered straight from the values a page or a mail
// gives (mstch's maps and arrays), which are read in place and never copied. Every value is
// HTML-escaped unless the template asks for it raw ({{{name}}} or {{&name}}).
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <mstch/mstch.hpp>

namespace app {

/// A set of named templates that include each other as partials ({{>name}}).
class Templates {
 public:
  /// texts: template name ("list") to its text. Throws std::invalid_argument naming the
  /// template and the place when a text is not a template of the supported kind (variables,
  /// sections, inverted sections, comments and partials), or names a partial not in the set.
  explicit Templates(const std::map<std::string, std::string, std::less<>>& texts);
  ~Templates();
  Templates(const Templates&) = delete;
  Templates& operator=(const Templates&) = delete;

  /// The ".mustache" files among files (file name to content), each under its name without
  /// the suffix: the texts the constructor takes.
  [[nodiscard]] static std::map<std::string, std::string, std::less<>> TextsOf(
      const std::map<std::string, std::string, std::less<>>& files);

  /// The template name rendered with context. Throws std::out_of_range for an unknown name.
  [[nodiscard]] std::string Render(std::string_view name, const mstch::map& context) const;

  struct Part;
  using Parts = std::vector<Part>;

 private:
  [[nodiscard]] const Parts& Compiled(std::string_view name) const;
  void Link(Parts& parts, const std::map<std::string, std::string, std::less<>>& texts, int depth);

  // Each template, and each partial as indented where it stands alone on an indented line.
  std::map<std::string, std::unique_ptr<Parts>, std::less<>> compiled_;
};

}  // namespace app
