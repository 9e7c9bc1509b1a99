#include "app/MailReader.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "app/Errors.h"
#include "vb/Convert.h"

namespace app {
namespace {

// Parts inside parts are read this deep, no deeper.
constexpr int kDeepestPart = 8;

std::string Lower(std::string_view text) { return vb::LCase(text); }

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

[[noreturn]] void Unreadable(std::string_view why) { throw Invalid("message", {}, why); }

// The lines of text with their ends (CRLF or LF) removed.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

using Headers = std::vector<std::pair<std::string, std::string>>;

// The header block and the body of an entity (a message or a part of one).
struct Entity {
  Headers headers;
  std::string_view body;
  [[nodiscard]] std::string Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
      if (vb::EqualsText(key, name)) return value;
    }
    return {};
  }
};

Entity EntityOf(std::string_view text) {
  Entity entity;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    std::string_view line = text.substr(at, end == std::string_view::npos ? text.npos : end - at);
    const size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      at = next;
      break;
    }
    if ((line[0] == ' ' || line[0] == '\t') && !entity.headers.empty()) {
      entity.headers.back().second += " " + std::string(Trimmed(line));
    } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
      entity.headers.emplace_back(std::string(Trimmed(line.substr(0, colon))),
                                  std::string(Trimmed(line.substr(colon + 1))));
    }
    at = next;
  }
  entity.body = text.substr(std::min(at, text.size()));
  return entity;
}

// A Content-Type (or Content-Disposition): its value and its parameters.
struct Typed {
  std::string value;  // lower case
  std::vector<std::pair<std::string, std::string>> parameters;
  [[nodiscard]] std::string Parameter(std::string_view name) const {
    for (const auto& [key, value] : parameters) {
      if (key == name) return value;
    }
    return {};
  }
};

Typed TypedOf(std::string_view header) {
  Typed typed;
  const size_t semicolon = header.find(';');
  typed.value = Lower(Trimmed(header.substr(0, semicolon)));
  std::string_view rest =
      semicolon == std::string_view::npos ? std::string_view() : header.substr(semicolon + 1);
  while (!rest.empty()) {
    const size_t equals = rest.find('=');
    if (equals == std::string_view::npos) break;
    const std::string name = Lower(Trimmed(rest.substr(0, equals)));
    rest.remove_prefix(equals + 1);
    rest = rest.substr(std::min(rest.size(), rest.find_first_not_of(" \t")));
    std::string value;
    if (!rest.empty() && rest[0] == '"') {
      size_t i = 1;
      for (; i < rest.size() && rest[i] != '"'; ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
        value += rest[i];
      }
      rest.remove_prefix(std::min(rest.size(), i + 1));
      const size_t next = rest.find(';');
      rest.remove_prefix(next == std::string_view::npos ? rest.size() : next + 1);
    } else {
      const size_t next = rest.find(';');
      value = std::string(Trimmed(rest.substr(0, next)));
      rest.remove_prefix(next == std::string_view::npos ? rest.size() : next + 1);
    }
    typed.parameters.emplace_back(name, std::move(value));
  }
  return typed;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string QuotedPrintable(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      bytes += text[i];
      continue;
    }
    // A soft line break: "=" at the end of a line (blanks may follow it).
    size_t j = i + 1;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
    if (j < text.size() && (text[j] == '\r' || text[j] == '\n')) {
      i = text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n' ? j + 1 : j;
      continue;
    }
    if (j == text.size()) break;
    if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      bytes += '=';
    }
  }
  return bytes;
}

std::string Base64(std::string_view text) {
  std::string bytes(text.size(), '\0');
  size_t length = 0;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                        text.size(), " \t\r\n", &length, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0) {
    Unreadable("a base64 body that decodes");
  }
  bytes.resize(length);
  return bytes;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The characters Windows-1252 puts where ISO-8859-1 has control characters (0x80-0x9F).
constexpr std::array<uint16_t, 32> kWindows1252 = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

std::string Utf8Of(std::string_view bytes, std::string_view charset) {
  const std::string name = Lower(charset);
  if (name.empty() || name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii") {
    if (!IsUtf8(bytes)) Unreadable("text in its character set (it is not valid UTF-8)");
    return std::string(bytes);
  }
  const bool windows = name == "windows-1252" || name == "cp1252";
  if (windows || name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1" ||
      name == "iso-8859-15" || name == "latin-1") {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      const uint32_t code =
          windows && byte >= 0x80 && byte < 0xA0 ? kWindows1252[byte - 0x80] : byte;
      AppendUtf8(text, code);
    }
    return text;
  }
  // A label this reader does not know is read as UTF-8 when its bytes are.
  if (IsUtf8(bytes)) return std::string(bytes);
  Unreadable(
      "in a character set this reader knows (UTF-8, US-ASCII, ISO-8859-1, Windows-1252; got " +
      std::string(charset.substr(0, 40)) + ")");
}

// The text of a single part, decoded.
std::string DecodedText(const Entity& entity, const Typed& type) {
  const std::string encoding = Lower(Trimmed(entity.Header("Content-Transfer-Encoding")));
  std::string bytes;
  if (encoding == "quoted-printable") {
    bytes = QuotedPrintable(entity.body);
  } else if (encoding == "base64") {
    bytes = Base64(entity.body);
  } else if (encoding.empty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary") {
    bytes = std::string(entity.body);
  } else {
    Unreadable("in a transfer encoding this reader knows (7bit, 8bit, quoted-printable, base64)");
  }
  return Utf8Of(bytes, type.Parameter("charset"));
}

// The parts of a multipart body.
std::vector<std::string_view> PartsOf(std::string_view body, const std::string& boundary) {
  std::vector<std::string_view> parts;
  const std::string delimiter = "--" + boundary;
  std::optional<size_t> start;
  size_t at = 0;
  while (at <= body.size()) {
    const size_t end = body.find('\n', at);
    std::string_view line = body.substr(at, end == std::string_view::npos ? body.npos : end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view bare = line.substr(0, line.find_last_not_of(" \t") + 1);
    if (bare.starts_with(delimiter)) {
      const std::string_view rest = bare.substr(delimiter.size());
      if (rest.empty() || rest == "--") {
        if (start) {
          // The line break before a delimiter belongs to the delimiter.
          size_t stop = at;
          if (stop > *start && body[stop - 1] == '\n') --stop;
          if (stop > *start && body[stop - 1] == '\r') --stop;
          parts.push_back(body.substr(*start, stop - *start));
        }
        if (rest == "--") break;
        start = end == std::string_view::npos ? body.size() : end + 1;
      }
    }
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return parts;
}

// The text of an entity: the plain part first, else the HTML part as text. Found: whether it
// was plain text (true) or HTML (false); nullopt: no text here.
struct Found {
  std::string text;
  bool plain = true;
};
std::optional<Found> TextOf(const Entity& entity, int depth) {
  const std::string header = entity.Header("Content-Type");
  const Typed type = TypedOf(header.empty() ? "text/plain" : header);
  if (Lower(TypedOf(entity.Header("Content-Disposition")).value) == "attachment") return {};
  if (type.value == "text/plain") return Found{DecodedText(entity, type), true};
  if (type.value == "text/html") return Found{HtmlText(DecodedText(entity, type)), false};
  if (!type.value.starts_with("multipart/") || depth >= kDeepestPart) return {};
  const std::string boundary = type.Parameter("boundary");
  if (boundary.empty()) Unreadable("a multipart body with a boundary");
  std::optional<Found> html;
  for (const std::string_view part : PartsOf(entity.body, boundary)) {
    auto found = TextOf(EntityOf(part), depth + 1);
    if (!found) continue;
    if (found->plain) return found;
    if (!html) html = std::move(found);
  }
  return html;
}

std::string NamedEntity(std::string_view name) {
  static const std::array<std::pair<std::string_view, std::string_view>, 12> kNames = {{
      {"amp", "&"},
      {"lt", "<"},
      {"gt", ">"},
      {"quot", "\""},
      {"apos", "'"},
      {"nbsp", " "},
      {"ndash", "\u2013"},
      {"mdash", "\u2014"},
      {"hellip", "\u2026"},
      {"rsquo", "\u2019"},
      {"lsquo", "\u2018"},
      {"euro", "\u20AC"},
  }};
  for (const auto& [key, text] : kNames) {
    if (key == name) return std::string(text);
  }
  return {};
}

bool IsBlockTag(std::string_view tag) {
  static const std::array<std::string_view, 16> kBlocks = {
      "p",  "div", "tr", "li", "h1",    "h2",  "h3", "h4",
      "h5", "h6",  "ul", "ol", "table", "pre", "hr", "blockquote"};
  return std::find(kBlocks.begin(), kBlocks.end(), tag) != kBlocks.end();
}

}  // namespace

std::string ReceivedMail::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (vb::EqualsText(key, name)) return value;
  }
  return {};
}

std::vector<std::string> ReceivedMail::HeadersNamed(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : headers) {
    if (vb::EqualsText(key, name)) values.push_back(value);
  }
  return values;
}

ReceivedMail ReadMail(std::string_view message) {
  Entity entity = EntityOf(message);
  if (entity.headers.empty()) Unreadable("an e-mail message (it has no headers)");
  auto found = TextOf(entity, 0);
  if (!found) Unreadable("a message with a text part (plain text or HTML)");
  return {std::move(entity.headers), std::move(found->text)};
}

std::vector<std::string> AddressesIn(std::string_view value) {
  std::vector<std::string> addresses;
  std::string current;
  std::string angle;
  bool inAngle = false;
  bool inQuote = false;
  int comment = 0;
  const auto flush = [&] {
    std::string address = angle.empty() ? std::string(Trimmed(current)) : angle;
    if (address.find('@') != std::string::npos) addresses.push_back(std::string(Trimmed(address)));
    current.clear();
    angle.clear();
  };
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (inQuote) {
      if (c == '\\') ++i;
      if (c == '"') inQuote = false;
      continue;
    }
    if (comment > 0) {
      if (c == '(') ++comment;
      if (c == ')') --comment;
      continue;
    }
    if (inAngle) {
      if (c == '>') {
        inAngle = false;
      } else {
        angle += c;
      }
      continue;
    }
    switch (c) {
      case '"':
        inQuote = true;
        break;
      case '(':
        comment = 1;
        break;
      case '<':
        inAngle = true;
        angle.clear();
        break;
      case ',':
        flush();
        break;
      default:
        current += c;
    }
  }
  flush();
  return addresses;
}

std::string HtmlText(std::string_view html) {
  std::string text;
  int quoted = 0;
  bool space = false;  // a blank is owed before the next word
  const auto lineStart = [&] { return text.empty() || text.back() == '\n'; };
  const auto newline = [&] {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    text += '\n';
    space = false;
  };
  const auto put = [&](std::string_view piece) {
    if (lineStart()) {
      for (int q = 0; q < quoted; ++q) text += "> ";
      space = false;
    } else if (space) {
      text += ' ';
    }
    space = false;
    text += piece;
  };
  size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '<') {
      if (html.substr(i, 4) == "<!--") {
        const size_t end = html.find("-->", i + 4);
        i = end == std::string_view::npos ? html.size() : end + 3;
        continue;
      }
      const size_t end = html.find('>', i);
      if (end == std::string_view::npos) break;
      std::string_view tag = html.substr(i + 1, end - i - 1);
      i = end + 1;
      const bool closing = !tag.empty() && tag[0] == '/';
      if (closing) tag.remove_prefix(1);
      const size_t nameEnd = std::min(tag.find_first_of(" \t\r\n/"), tag.size());
      const std::string name = Lower(tag.substr(0, nameEnd));
      if (!closing && (name == "style" || name == "script" || name == "head" || name == "title")) {
        const size_t close = Lower(html.substr(i)).find("</" + name);
        i = close == std::string::npos ? html.size() : i + close;
        continue;
      }
      if (name == "br") {
        if (lineStart() && quoted > 0) put("");
        newline();
      } else if (name == "blockquote") {
        if (!lineStart()) newline();
        quoted = std::max(0, quoted + (closing ? -1 : 1));
      } else if (IsBlockTag(name)) {
        if (!lineStart()) newline();
        if (!closing && name == "li") put("- ");
      }
      continue;
    }
    if (c == '&') {
      const size_t semi = html.find(';', i);
      if (semi != std::string_view::npos && semi - i <= 10) {
        const std::string_view entity = html.substr(i + 1, semi - i - 1);
        std::string decoded;
        if (!entity.empty() && entity[0] == '#') {
          uint32_t code = 0;
          const bool hex = entity.size() > 1 && (entity[1] == 'x' || entity[1] == 'X');
          bool digits = entity.size() > (hex ? 2u : 1u);
          for (const char d : entity.substr(hex ? 2 : 1)) {
            const int value = hex ? HexValue(d) : (d >= '0' && d <= '9' ? d - '0' : -1);
            if (value < 0 || code > 0x10FFFF) {
              digits = false;
              break;
            }
            code = code * (hex ? 16 : 10) + static_cast<uint32_t>(value);
          }
          if (digits && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
            AppendUtf8(decoded, code == 0xA0 ? ' ' : code);
          }
        } else {
          decoded = NamedEntity(entity);
        }
        if (!decoded.empty()) {
          put(decoded);
          i = semi + 1;
          continue;
        }
      }
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      space = !lineStart();
      ++i;
      continue;
    }
    size_t end = i;
    while (end < html.size() && html[end] != '<' && html[end] != '&' && html[end] != ' ' &&
           html[end] != '\t' && html[end] != '\r' && html[end] != '\n') {
      ++end;
    }
    put(html.substr(i, end - i));
    i = end;
  }
  // At most one blank line in a row.
  std::string tidy;
  int breaks = 0;
  for (const char ch : text) {
    breaks = ch == '\n' ? breaks + 1 : 0;
    if (breaks <= 2) tidy += ch;
  }
  return std::string(Trimmed(tidy));
}

std::string ReplyText(std::string_view text) {
  const std::vector<std::string_view> lines = Lines(text);
  const auto attribution = [&](size_t i) {
    const std::string_view line = Trimmed(lines[i]);
    if (line.starts_with("-----Original Message-----") ||
        line.starts_with("-------- Original Message") ||
        line.starts_with("----- Original Message")) {
      return true;
    }
    // Outlook: a rule of underscores, then "From:".
    if (line.size() >= 10 && line.find_first_not_of('_') == std::string_view::npos &&
        i + 1 < lines.size() && Trimmed(lines[i + 1]).starts_with("From:")) {
      return true;
    }
    const bool opening = line.starts_with("On ") || line.starts_with("Am ") ||
                         line.starts_with("Le ") || line.starts_with("El ");
    if (!opening) return false;
    // "On DATE, NAME <ADDRESS> wrote:", "Am DATE schrieb NAME:", "Le DATE, NAME a écrit :"
    const auto ends = [](std::string_view l) {
      return l.ends_with(':') && (l.find("wrote") != std::string_view::npos ||
                                  l.find(" schrieb") != std::string_view::npos ||
                                  l.find(" a Ã©"
                                         "crit") != std::string_view::npos ||
                                  l.find(" escribiÃ³") != std::string_view::npos);
    };
    // The attribution may be wrapped over two lines.
    return ends(line) || (i + 1 < lines.size() && ends(Trimmed(lines[i + 1])));
  };
  std::vector<std::string_view> own;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line == "-- " || line == "--") break;
    if (attribution(i)) break;
    if (line.starts_with('>')) continue;
    own.push_back(line);
  }
  while (!own.empty() && Trimmed(own.back()).empty()) own.pop_back();
  size_t first = 0;
  while (first < own.size() && Trimmed(own[first]).empty()) ++first;
  std::string result;
  for (size_t i = first; i < own.size(); ++i) {
    std::string_view line = own[i];
    line = line.substr(0, line.find_last_not_of(" \t") + 1);
    if (!result.empty()) result += '\n';
    result += line;
  }
  return result;
}

}  // namespace app
