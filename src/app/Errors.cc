#include "app/Errors.h"

#include <fmt/format.h>

#include <regex>
#include <string>
#include <vector>

#include "app/Rights.h"
#include "kvaction/Enums.h"
#include "kvaction/rights/Rights.h"

namespace app {

ErrorKind KindOf(const vb::ComError& error) noexcept {
  switch (error.number()) {
    case kRefused:
    case kNotSignedIn:
    // The library's own refusals (a workgroup move it forbids, no attachment folder) are
    // refusals to every front end alike.
    case kvaction::kRefused:
      return ErrorKind::Refused;
    case kInvalidInput:
    case kNotFound:
      return ErrorKind::InvalidInput;
    default:
      return ErrorKind::Other;
  }
}

namespace {

std::string Capitalized(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

// "Refused: WHAT needs right N (NAME), M (NAME) or K (NAME)." as Refusal writes it, in words:
// the rights by their names only.
std::string RefusalSentence(const std::string& description) {
  static const std::regex kNeeds(R"(^Refused: (.+) needs right (.+)\.$)");
  static const std::regex kRight(R"((\d+) \(([^)]*)\))");
  std::smatch parts;
  if (!std::regex_match(description, parts, kNeeds)) {
    constexpr std::string_view kPrefix = "Refused: ";
    return Capitalized(description.starts_with(kPrefix) ? description.substr(kPrefix.size())
                                                        : description);
  }
  const std::string list = parts[2];
  std::vector<std::string> names;
  for (auto it = std::sregex_iterator(list.begin(), list.end(), kRight);
       it != std::sregex_iterator(); ++it) {
    names.push_back(fmt::format("“{}”", (*it)[2].str()));
  }
  if (names.empty()) return Capitalized(description.substr(9));
  std::string needed = names.front();
  for (std::size_t i = 1; i < names.size(); ++i) {
    needed += (i + 1 == names.size() ? " or " : ", ") + names[i];
  }
  return fmt::format("{} needs {} {}, which your account does not have.", Capitalized(parts[1]),
                     names.size() > 1 ? "one of the permissions" : "the permission", needed);
}

}  // namespace

ErrorWords WordsFor(const vb::ComError& error) {
  if (error.number() == kNotSignedIn) {
    return {"Please sign in again", "Your session has ended.", "Sign in, then try again."};
  }
  switch (KindOf(error)) {
    case ErrorKind::Refused:
      return {"Not allowed", RefusalSentence(error.description()),
              "If you need to do this, ask an administrator for the permission."};
    case ErrorKind::InvalidInput:
      if (error.number() == kNotFound) {
        return {"Not found", error.description(),
                "It may have been deleted, or the address is mistyped."};
      }
      return {"That did not work", error.description(),
              "Go back, correct what the sentence names and try again."};
    case ErrorKind::Other:
      break;
  }
  return {"Something went wrong", "The server could not complete this request.",
          "Try again in a moment. If it keeps happening, tell an administrator."};
}

std::string RightName(int32_t right) {
  for (const auto& entry : kvaction::RightsCatalogue()) {
    if (entry.right == right) return std::string(entry.description);
  }
  return {};
}

vb::ComError Refusal(std::string_view what, int32_t right) {
  const std::string name = RightName(right);
  return RefusalText(fmt::format("Refused: {} needs right {} ({}).", what, right,
                                 name.empty() ? std::string("SuperUser") : name));
}

vb::ComError Refusal(std::string_view what, std::span<const int32_t> rights) {
  std::string list;
  for (std::size_t i = 0; i < rights.size(); ++i) {
    if (i > 0) list += i + 1 == rights.size() ? " or " : ", ";
    const std::string name = RightName(rights[i]);
    list += fmt::format("{} ({})", rights[i], name.empty() ? std::string("SuperUser") : name);
  }
  return RefusalText(fmt::format("Refused: {} needs right {}.", what, list));
}

vb::ComError RefusalText(std::string description) {
  return {kRefused, std::string(kSource), std::move(description)};
}

vb::ComError Invalid(std::string_view field, std::string_view value, std::string_view expected) {
  if (value.empty())
    return {kInvalidInput, std::string(kSource), fmt::format("{}: {}", field, expected)};
  return {kInvalidInput, std::string(kSource),
          fmt::format("{}: '{}' is not {}", field, value, expected)};
}

vb::ComError NotFound(std::string_view what, std::string_view key, std::string_view value) {
  return {kNotFound, std::string(kSource), fmt::format("No {} has the {} {}.", what, key, value)};
}

}  // namespace app
