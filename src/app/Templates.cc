// The templates are parsed once into parts; rendering walks the parts with a stack of pointers
// into the values given, so a page's rows are read where they are rather than copied into
// nodes of the renderer's own (a list page's values are most of its work otherwise).
#include "app/Templates.h"

#include <fmt/format.h>

#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace app {

struct Templates::Part {
  enum class Kind { Text, Escaped, Raw, Section, Inverted, Partial };
  Part(Kind kind, std::string text) : kind(kind), text(std::move(text)) {}
  Kind kind;
  std::string text;    // the literal text, or the name a tag looks up
  std::string indent;  // a partial alone on its line: the blanks before it
  Parts children;      // a section's parts
  const Parts* partial = nullptr;
};

namespace {

using Part = Templates::Part;
using Parts = Templates::Parts;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One template's text into parts. A section, inverted section, closing, comment or partial tag
// alone on its line (blanks aside) takes the line with it, so templates can be laid out as
// HTML is without leaving blank lines in the page.
class Parser {
 public:
  Parser(std::string_view name, std::string_view text) : name_(name), text_(text) {}

  [[nodiscard]] Parts Parse() { return Until(""); }

 private:
  struct Tag {
    char sigil = 0;  // '#', '^', '/', '>', '&', '!', '{' or 0 for a variable
    std::string name;
    size_t start = 0;
    size_t end = 0;
  };

  [[noreturn]] void Fail(size_t at, std::string_view what) const {
    size_t line = 1;
    for (size_t i = 0; i < at && i < text_.size(); ++i) line += text_[i] == '\n' ? 1 : 0;
    throw std::invalid_argument(fmt::format("template {}, line {}: {}", name_, line, what));
  }

  // The parts up to the closing tag of section (the whole text when section is empty).
  Parts Until(const std::string& section) {
    Parts parts;
    while (true) {
      const size_t open = text_.find("{{", position_);
      if (open == std::string_view::npos) {
        if (!section.empty()) Fail(text_.size(), fmt::format("section {} is not closed", section));
        AddText(parts, text_.substr(position_));
        return parts;
      }
      const Tag tag = Read(open);
      const auto line = LineOfTagsOnly(tag);
      const size_t textEnd = line ? line->lineStart : tag.start;
      if (textEnd > position_) AddText(parts, text_.substr(position_, textEnd - position_));
      // On a line of tags only, the blanks between the tags and the line's end go with them.
      position_ = line && Blank(tag.end, line->next) ? line->next : tag.end;
      switch (tag.sigil) {
        case '!':
          break;
        case '/':
          if (tag.name != section) {
            Fail(tag.start, section.empty()
                                ? fmt::format("{{{{/{}}}}} closes nothing", tag.name)
                                : fmt::format("{{{{/{}}}}} closes {}", tag.name, section));
          }
          return parts;
        case '#':
        case '^': {
          Part part{tag.sigil == '#' ? Part::Kind::Section : Part::Kind::Inverted, tag.name};
          part.children = Until(tag.name);
          parts.push_back(std::move(part));
          break;
        }
        case '>': {
          Part part{Part::Kind::Partial, tag.name};
          // Alone on its line, a partial's lines take the line's indentation.
          if (line && Blank(line->lineStart, tag.start) && Blank(tag.end, line->next)) {
            part.indent = text_.substr(line->lineStart, tag.start - line->lineStart);
          }
          parts.push_back(std::move(part));
          break;
        }
        default:
          parts.push_back(Part{tag.sigil == 0 ? Part::Kind::Escaped : Part::Kind::Raw, tag.name});
      }
    }
  }

  Tag Read(size_t open) const {
    Tag tag;
    tag.start = open;
    const bool triple = text_.compare(open, 3, "{{{") == 0;
    const std::string_view closing = triple ? "}}}" : "}}";
    const size_t inner = open + (triple ? 3 : 2);
    const size_t close = text_.find(closing, inner);
    if (close == std::string_view::npos) Fail(open, "a tag is not closed");
    tag.end = close + closing.size();
    std::string_view body = text_.substr(inner, close - inner);
    if (triple) {
      tag.sigil = '{';
    } else if (!body.empty() && std::string_view("#^/>&!=").find(body.front()) != npos) {
      tag.sigil = body.front();
      body.remove_prefix(1);
    }
    if (tag.sigil == '!') return tag;
    if (tag.sigil == '=') Fail(open, "changing the delimiters is not supported");
    const std::string_view name = Trimmed(body);
    if (name.empty() || name.find_first_of(" \t\r\n.{}") != std::string_view::npos) {
      Fail(open, fmt::format("\"{}\" is not a name", name));
    }
    tag.name = std::string(name);
    return tag;
  }

  struct Line {
    size_t lineStart = 0;  // where the tag's line starts
    size_t next = 0;       // where the next line starts
  };
  // The line of a tag that makes no text of its own, when the line holds nothing else but blanks
  // and such tags; nothing for a variable or a tag that shares its line with text.
  [[nodiscard]] std::optional<Line> LineOfTagsOnly(const Tag& tag) const {
    if (!MakesNoText(tag)) return std::nullopt;
    const size_t newline = tag.start == 0 ? npos : text_.rfind('\n', tag.start - 1);
    const size_t lineStart = newline == npos ? 0 : newline + 1;
    size_t at = lineStart;
    while (true) {
      while (at < text_.size() && IsBlank(text_[at])) ++at;
      if (at == text_.size()) return Line{lineStart, at};
      if (text_[at] == '\n') return Line{lineStart, at + 1};
      if (text_.compare(at, 2, "\r\n") == 0) return Line{lineStart, at + 2};
      if (text_.compare(at, 2, "{{") != 0) return std::nullopt;
      const Tag other = at == tag.start ? tag : Read(at);
      if (!MakesNoText(other)) return std::nullopt;
      at = other.end;
    }
  }

  static bool MakesNoText(const Tag& tag) {
    return std::string_view("#^/>!").find(tag.sigil) != npos;
  }

  // Whether the text from..to is blanks and line ends only.
  [[nodiscard]] bool Blank(size_t from, size_t to) const {
    for (size_t at = from; at < to; ++at) {
      if (!IsBlank(text_[at]) && text_[at] != '\r' && text_[at] != '\n') return false;
    }
    return true;
  }

  static void AddText(Parts& parts, std::string_view text) {
    if (text.empty()) return;
    if (!parts.empty() && parts.back().kind == Part::Kind::Text) {
      parts.back().text += text;
    } else {
      parts.push_back(Part{Part::Kind::Text, std::string(text)});
    }
  }

  static constexpr size_t npos = std::string_view::npos;
  std::string_view name_;
  std::string_view text_;
  size_t position_ = 0;
};

// The HTML-escaped form of text, as a variable renders it.
void AppendEscaped(std::string& out, std::string_view text) {
  size_t plain = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    std::string_view entity;
    switch (text[at]) {
      case '&':
        entity = "&amp;";
        break;
      case '\'':
        entity = "&#39;";
        break;
      case '"':
        entity = "&quot;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '/':
        entity = "&#x2F;";
        break;
      default:
        continue;
    }
    out.append(text, plain, at - plain);
    out += entity;
    plain = at + 1;
  }
  out.append(text, plain);
}

// A partial placed alone on an indented line: each of its lines indented alike.
std::string Indented(std::string_view text, std::string_view indent) {
  std::string out;
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart) out += indent;
    out += c;
    lineStart = c == '\n';
  }
  return out;
}

// The rendering of one template: the values in use, innermost last.
class Renderer {
 public:
  explicit Renderer(std::string& out) : out_(out) {}

  // Only maps hold names: other values (a list's texts) leave the scope as it is.
  void Render(const Parts& parts, const mstch::node& value) {
    const auto* map = boost::get<mstch::map>(&value);
    if (!map) return Render(parts);
    Render(parts, *map);
  }

  void Render(const Parts& parts, const mstch::map& scope) {
    scopes_.push_back(&scope);
    Render(parts);
    scopes_.pop_back();
  }

 private:
  void Render(const Parts& parts) {
    for (const Part& part : parts) {
      switch (part.kind) {
        case Part::Kind::Text:
          out_ += part.text;
          break;
        case Part::Kind::Escaped:
        case Part::Kind::Raw:
          if (const mstch::node* value = Find(part.text)) {
            AppendValue(*value, part.kind == Part::Kind::Escaped);
          }
          break;
        case Part::Kind::Section:
          if (const mstch::node* value = Find(part.text); value && !IsEmpty(*value)) {
            if (const auto* items = boost::get<mstch::array>(value)) {
              for (const mstch::node& item : *items) Render(part.children, item);
            } else {
              Render(part.children, *value);
            }
          }
          break;
        case Part::Kind::Inverted:
          if (const mstch::node* value = Find(part.text); !value || IsEmpty(*value)) {
            Render(part.children);
          }
          break;
        case Part::Kind::Partial:
          Render(*part.partial);
          break;
      }
    }
  }

  // The innermost value that has name.
  [[nodiscard]] const mstch::node* Find(const std::string& name) const {
    for (auto scope = scopes_.rbegin(); scope != scopes_.rend(); ++scope) {
      if (const auto found = (*scope)->find(name); found != (*scope)->end()) return &found->second;
    }
    return nullptr;
  }

  // What a section skips and an inverted section shows: nothing, false, zero, an empty text
  // or an empty list.
  static bool IsEmpty(const mstch::node& value) {
    if (const auto* text = boost::get<std::string>(&value)) return text->empty();
    if (const auto* number = boost::get<int>(&value)) return *number == 0;
    if (const auto* real = boost::get<double>(&value)) return *real == 0;
    if (const auto* flag = boost::get<bool>(&value)) return !*flag;
    if (const auto* items = boost::get<mstch::array>(&value)) return items->empty();
    RefuseCode(value);
    return boost::get<std::nullptr_t>(&value) != nullptr;
  }

  void AppendValue(const mstch::node& value, bool escaped) {
    if (const auto* text = boost::get<std::string>(&value)) {
      if (!escaped) {
        out_ += *text;
        return;
      }
      AppendEscaped(out_, *text);
      return;
    }
    if (const auto* number = boost::get<int>(&value)) {
      out_ += std::to_string(*number);
    } else if (const auto* real = boost::get<double>(&value)) {
      std::ostringstream text;
      text << *real;
      out_ += text.str();
    } else if (const auto* flag = boost::get<bool>(&value)) {
      out_ += *flag ? "true" : "false";
    }
    RefuseCode(value);
  }

  // Values that run code while a page renders are not taken: what a page shows is data.
  static void RefuseCode(const mstch::node& value) {
    if (boost::get<mstch::lambda>(&value) || boost::get<std::shared_ptr<mstch::object>>(&value)) {
      throw std::invalid_argument("templates render data, not lambdas or objects");
    }
  }

  std::string& out_;
  std::vector<const mstch::map*> scopes_;
};

}  // namespace

Templates::Templates(const std::map<std::string, std::string, std::less<>>& texts) {
  for (const auto& [name, text] : texts) {
    compiled_.emplace(name, std::make_unique<Parts>(Parser(name, text).Parse()));
  }
  for (const auto& [name, text] : texts) Link(*compiled_.at(name), texts, 0);
}

// Finds each partial, making an indented copy where one stands alone on an indented line, and
// follows it: a template that includes itself would go on without end.
void Templates::Link(Parts& parts, const std::map<std::string, std::string, std::less<>>& texts,
                     int depth) {
  constexpr int kDeepest = 16;
  for (Part& part : parts) {
    if (part.kind != Part::Kind::Partial) {
      Link(part.children, texts, depth);
      continue;
    }
    const auto text = texts.find(part.text);
    if (text == texts.end()) {
      throw std::invalid_argument(fmt::format("no template {} to include", part.text));
    }
    if (depth >= kDeepest) {
      throw std::invalid_argument(fmt::format("template {} includes itself", part.text));
    }
    // Not a template name: names have no line breaks.
    const std::string key = part.indent.empty() ? part.text : part.text + "\n" + part.indent;
    auto found = compiled_.find(key);
    if (found == compiled_.end()) {
      found = compiled_
                  .emplace(key, std::make_unique<Parts>(
                                    Parser(part.text, Indented(text->second, part.indent)).Parse()))
                  .first;
    }
    part.partial = found->second.get();
    Link(*found->second, texts, depth + 1);
  }
}

Templates::~Templates() = default;

std::map<std::string, std::string, std::less<>> Templates::TextsOf(
    const std::map<std::string, std::string, std::less<>>& files) {
  constexpr std::string_view kSuffix = ".mustache";
  std::map<std::string, std::string, std::less<>> texts;
  for (const auto& [file, text] : files) {
    if (file.ends_with(kSuffix)) texts.emplace(file.substr(0, file.size() - kSuffix.size()), text);
  }
  return texts;
}

const Templates::Parts& Templates::Compiled(std::string_view name) const {
  const auto found = compiled_.find(name);
  if (found == compiled_.end() || found->first.find('\n') != std::string::npos) {
    throw std::out_of_range(fmt::format("no template {}", name));
  }
  return *found->second;
}

// Room for a page of a list at once, so the text grows without being moved time and again.
constexpr size_t kExpectedSize = 64 * 1024;

std::string Templates::Render(std::string_view name, const mstch::map& context) const {
  std::string out;
  out.reserve(kExpectedSize);
  Renderer(out).Render(Compiled(name), context);
  return out;
}

}  // namespace app
