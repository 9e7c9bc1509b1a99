#include "kvdata/RightSet.h"

#include <fmt/format.h>

#include <charconv>

#include "kvdata/Errors.h"

namespace kvdata {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

RightSet RightSet::Every() {
  RightSet set;
  set.every_ = true;
  return set;
}

RightSet RightSet::Parse(std::string_view list, std::string_view source) {
  const auto trimmed = Trim(list);
  if (trimmed == "*") return Every();
  RightSet set;
  if (trimmed.empty()) return set;
  std::string_view rest = trimmed;
  while (true) {
    const auto comma = rest.find(',');
    const auto item = Trim(rest.substr(0, comma));
    int32_t right = 0;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), right);
    if (item.empty() || ec != std::errc{} || end != item.data() + item.size()) {
      throw vb::ComError(kBadArgument, std::string(source),
                         fmt::format("The right list \"{}\" is not valid: use right numbers "
                                     "separated by commas, or * for every right.",
                                     list));
    }
    set.rights_.insert(right);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return set;
}

std::string RightSet::ToString() const {
  if (every_) return "*";
  return fmt::format("{}", fmt::join(rights_, ","));
}

}  // namespace kvdata
