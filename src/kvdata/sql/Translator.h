#pragma once
// Renders the library's two legacy SQL dialects for the engine a connection runs on.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vb/Clock.h"
#include "vb/Locale.h"
#include "vb/Variant.h"

namespace kvdata::sql {

/// The dialect a statement is written in: the desktop database's (isnull(), date(),
/// DateValue('…'), dateadd("d",n,…), top n, True/False, double-quoted strings) or the server
/// database's (getdate(), quoted date texts compared with date columns).
enum class Dialect { Desktop, Server };

/// The engine a statement is rendered for.
enum class Target { SQLite, PostgreSQL };

struct Context {
  /// Today and now (date(), getdate()) come from here, so tests can pin them.
  const vb::Clock& clock;
  /// Date texts in statements (DateValue('…'), quoted texts compared with date columns) are read
  /// in this locale's short date form.
  const vb::Locale& locale;
  /// Whether a column (name without regard to letter case) holds dates.
  std::function<bool(std::string_view column)> isDateColumn;
  /// The canonical spelling of a known table or column name given in any letter case (nullopt
  /// for other words). PostgreSQL names are created quoted in this spelling, so the renderer
  /// writes known names quoted; unset, every name is written as it was given.
  std::function<std::optional<std::string>(std::string_view name)> canonicalName;
};

/// Translates one statement. Raises a vb::ComError (kvdata::kSqlError, source
/// "kvDataServer.DataConnection") naming the statement when it holds a second statement, is not
/// valid UTF-8, or cannot be translated without changing its meaning.
[[nodiscard]] std::string Translate(std::string_view statement, Dialect dialect, Target target,
                                    const Context& context);

/// A statement rendered with its literals lifted out into bound values, so that one prepared
/// statement serves every key it is run with.
struct Translation {
  /// The engine's text, each lifted literal written as `?` (on PostgreSQL a whole number as
  /// "CAST(? AS integer)", the type its literal had).
  std::string text;
  /// The lifted values in the order of their `?`: whole numbers as Long, texts as String.
  std::vector<vb::Variant> values;
  /// What the rendering read from the clock: today (date()) and now (now(), getdate()).
  std::optional<vb::Date> today;
  std::optional<vb::Date> now;

  /// Whether the text still says what the statement means at the clock's present reading.
  [[nodiscard]] bool HoldsAt(const vb::Clock& clock) const;
};

/// Translates one statement as Translate does, lifting out the whole numbers (that fit 32 bits)
/// and texts compared with a known column ("col = 5", "'x' <> col", "set col = 'x'"). Literals
/// anywhere else (top n, like patterns, function arguments, arithmetic, date texts) stay in the
/// text: there a bound value could change the statement's meaning or plan. Raises as Translate.
[[nodiscard]] Translation TranslateBound(std::string_view statement, Dialect dialect, Target target,
                                         const Context& context);

}  // namespace kvdata::sql
