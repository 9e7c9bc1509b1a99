#include "app/Errors.h"

#include <fmt/format.h>

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
