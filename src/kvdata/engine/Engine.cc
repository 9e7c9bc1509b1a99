#include "kvdata/engine/Engine.h"

#include <algorithm>
#include <cctype>

#include "kvdata/Errors.h"
#include "kvdata/engine/EngineError.h"

namespace kvdata::engine {

EngineError::EngineError(int32_t number, std::string description, std::string code, bool transient)
    : vb::ComError(number, std::string(kConnectionSource), std::move(description)),
      code_(std::move(code)),
      transient_(transient) {}

namespace {

// Rows already read whole, handed out in order.
class HeldRows final : public ado::RowSource {
 public:
  explicit HeldRows(std::vector<std::vector<vb::Variant>> rows) : rows_(std::move(rows)) {}
  bool Next(std::vector<vb::Variant>& values) override {
    if (next_ == rows_.size()) return false;
    values = std::move(rows_[next_++]);
    return true;
  }

 private:
  std::vector<std::vector<vb::Variant>> rows_;
  std::size_t next_ = 0;
};

}  // namespace

const std::vector<Column>& Columns::None() {
  static const std::vector<Column> none;
  return none;
}

std::vector<Column>& Columns::Own() {
  if (!mine_ || shared_.use_count() > 1) {
    shared_ = std::make_shared<std::vector<Column>>(All());
    mine_ = true;
  }
  // Made (not const) by this class and held by this object alone.
  return const_cast<std::vector<Column>&>(
      *shared_);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
}

void Engine::ExecuteUnread(std::string_view sql) { (void)Execute(sql); }

StreamedResult Engine::Stream(std::string_view sql, std::span<const vb::Variant> params) {
  Result result = Execute(sql, params);
  return {std::move(result.columns), std::make_unique<HeldRows>(std::move(result.rows))};
}

void Engine::RestartTransaction() noexcept {
  Rollback();
  try {
    Begin();
  } catch (...) {  // NOLINT(bugprone-empty-catch): the next statement meets the same fault
  }
}

void Engine::HoldChangeMark(bool /*held*/) noexcept {}

void Engine::NoteStatement(std::string_view sql) {
  if (ChangesSchema(sql)) ++schemaGeneration_;
}

std::string QuoteName(std::string_view name) {
  std::string quoted;
  quoted.reserve(name.size() + 2);
  quoted += '"';
  for (const char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

std::string EqualsAnyBound(std::string_view column, std::size_t count) {
  const std::string one = QuoteName(column) + "=?";
  std::string condition;
  condition.reserve(count * (one.size() + 4));
  for (std::size_t k = 0; k < count; ++k) {
    if (k > 0) condition += " or ";
    condition += one;
  }
  return condition;
}

namespace {

// Where a statement's first word starts, after blanks and opening parentheses (sql.size() when
// there is none). Several checks per statement: a plain loop, not a character-set search.
std::size_t FirstWordAt(std::string_view sql) {
  std::size_t start = 0;
  while (start < sql.size() && (sql[start] == ' ' || sql[start] == '\t' || sql[start] == '\r' ||
                                sql[start] == '\n' || sql[start] == '(')) {
    ++start;
  }
  return start;
}

}  // namespace

bool StartsWithKeyword(std::string_view sql, std::string_view keyword) {
  // Every statement passes through here: compare in place rather than upper-casing a copy.
  const std::size_t start = FirstWordAt(sql);
  if (sql.size() - start < keyword.size()) return false;
  // Keywords are ASCII capitals: a letter matches either case (bit 0x20), without the locale.
  return std::equal(keyword.begin(), keyword.end(),
                    sql.begin() + static_cast<std::ptrdiff_t>(start), [](char upper, char c) {
                      return upper == c || (upper >= 'A' && upper <= 'Z' && (upper | 0x20) == c);
                    });
}

bool ChangesSchema(std::string_view sql) {
  // Asked of every statement, most of them queries: one look at the first letter settles those.
  const std::size_t start = FirstWordAt(sql);
  if (start == sql.size()) return false;
  switch (sql[start] | 0x20) {
    case 'c':
      return StartsWithKeyword(sql, "CREATE");
    case 'a':
      return StartsWithKeyword(sql, "ALTER");
    case 'd':
      return StartsWithKeyword(sql, "DROP");
    default:
      return false;
  }
}

}  // namespace kvdata::engine
