#include "kvdata/engine/Engine.h"

#include "kvdata/Errors.h"
#include "kvdata/engine/EngineError.h"
#include "vb/Convert.h"

namespace kvdata::engine {

EngineError::EngineError(int32_t number, std::string description, std::string code, bool transient)
    : vb::ComError(number, std::string(kConnectionSource), std::move(description)),
      code_(std::move(code)),
      transient_(transient) {}

void Engine::NoteStatement(std::string_view sql) {
  if (ChangesSchema(sql)) ++schemaGeneration_;
}

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

bool ChangesSchema(std::string_view sql) {
  const auto start = sql.find_first_not_of(" \t\r\n(");
  if (start == std::string_view::npos) return false;
  const std::string word = vb::UCase(sql.substr(start, 6));
  return word.starts_with("CREATE") || word.starts_with("ALTER") || word.starts_with("DROP");
}

}  // namespace kvdata::engine
