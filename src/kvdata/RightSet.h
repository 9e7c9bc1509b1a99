#pragma once
// A workgroup's access rights, and the text form in which right lists are stored and passed:
// right numbers separated by commas ("41,42,50"), "*" for every right, "" for none.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace kvdata {

class RightSet {
 public:
  /// No rights.
  RightSet() = default;
  /// Every right (the SuperUser workgroup's list).
  [[nodiscard]] static RightSet Every();
  /// Reads a right list; blanks around numbers are allowed. Raises kBadArgument (with the given
  /// source) for anything else, naming the list.
  [[nodiscard]] static RightSet Parse(std::string_view list, std::string_view source);

  [[nodiscard]] bool IsEvery() const { return every_; }
  [[nodiscard]] bool Has(int32_t right) const { return every_ || rights_.contains(right); }
  /// The list in its stored form: "*", or the numbers in ascending order.
  [[nodiscard]] std::string ToString() const;

 private:
  bool every_ = false;
  std::set<int32_t> rights_;
};

}  // namespace kvdata
