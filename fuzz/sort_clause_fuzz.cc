// Arbitrary bytes as the sort clause of a list: the check either refuses them with its own error
// or passes a clause that, put after "order by", is nothing but names, commas and asc/desc.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kvaction/queries/ListGuards.h"
#include "kvdata/sql/ReadOnlyCheck.h"
#include "vb/ComError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view clause(reinterpret_cast<const char*>(data), size);
  try {
    kvaction::CheckSortClause(clause);
  } catch (const vb::ComError& e) {
    if (e.number() != 5) std::abort();
    return 0;
  }
  for (const char c : clause) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ',' || c == ' ' ||
                         c == '\t' || c == '[' || c == ']';
    if (!allowed) std::abort();
  }
  // A passed clause keeps a list statement reading the actions table alone.
  try {
    kvdata::sql::CheckReadsOnlyActions("select * from actions order by " + std::string(clause));
  } catch (const vb::ComError&) {
    std::abort();
  }
  return 0;
}
