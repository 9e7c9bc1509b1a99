#pragma once
// The translations a connection keeps: by statement text, and by shape, so that statements that
// differ only in a whole number (an action opened by its ID, a setting changed for one action)
// share one translation whatever the number, beyond the texts the cache can hold; so do
// statements that differ only in a text compared with a column (a user read by its ID).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvdata/engine/StatementCache.h"
#include "kvdata/sql/Translator.h"
#include "vb/Clock.h"
#include "vb/Variant.h"

namespace kvdata {

/// A statement with each whole number written in it (outside quotes and brackets, not part of a
/// name) and each text in apostrophes taken out: statements that differ only in those values
/// have the same key.
struct StatementShape {
  std::string key;
  /// In the order they are written: a number as a Long, a text as a String (its apostrophes
  /// undoubled, as the statement means it).
  std::vector<vb::Variant> values;
};

/// The shape of statement; nullopt when it has no such value or a number of more than nine
/// digits.
[[nodiscard]] std::optional<StatementShape> ShapeOf(std::string_view statement);

class TranslationCache {
 public:
  /// Renders one statement (the connection's translator with its catalog, clock and locale).
  using Translate = std::function<sql::Translation(std::string_view statement)>;

  explicit TranslationCache(std::size_t capacity) : texts_(capacity), shapes_(capacity) {}

  /// A translation the cache hands out: shared and immutable, so that it stays valid whatever
  /// the cache does next.
  using Shared = std::shared_ptr<const sql::Translation>;

  /// The translation of statement, from the cache while it holds at the clock's reading, else
  /// from translate (kept for next time). A statement whose shape was seen gets the shape's
  /// translation with its own values as the bound values, when every value of that shape is a
  /// bound value (kept by its text from then on); the first statement of a shape is translated
  /// twice (once with other values) to find out. Raises what translate raises for statement.
  [[nodiscard]] Shared Find(std::string_view statement, const vb::Clock& clock,
                            const Translate& translate);

  /// A statement written as a fixed head followed by a whole number (an action's key), as the
  /// engine runs it for every number: the translation of head followed by one number, and the
  /// position among its bound values where the number goes.
  struct Keyed {
    Shared translation;
    std::size_t position = 0;
  };

  /// The keyed translation of head, found by head alone (no scan of the statement for its
  /// values), learned from head followed by key when not known yet or no longer holding at the
  /// clock's reading; nullptr when such statements cannot share one (the number is not bound
  /// where it stands, or key is negative or of ten digits): the caller then finds the whole
  /// statement. Raises what translate raises for head followed by key.
  [[nodiscard]] const Keyed* FindKeyed(std::string_view head, int32_t key, const vb::Clock& clock,
                                       const Translate& translate);

  /// Forgets everything (the catalog or the locale changed).
  void Clear();

 private:
  // What one shape translates to: usable when each value of the shape is the bound value at
  // positions[k] and nothing else in the translation depends on the values.
  struct Shaped {
    bool usable = false;
    sql::Translation translation;
    std::vector<std::size_t> positions;
  };
  [[nodiscard]] static Shaped Learn(const StatementShape& shape,
                                    const sql::Translation& translation,
                                    const Translate& translate);

  engine::StatementCache<Shared> texts_;
  engine::StatementCache<Shaped> shapes_;
  engine::StatementCache<std::optional<Keyed>> keyed_{256};  // nullopt: heads that cannot share
};

}  // namespace kvdata
