// Feeds arbitrary text to the host's readers of dates, numbers and booleans. They may refuse it
// only with a ComError, and whatever they accept must read back the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vb/ComError.h"
#include "vb/Convert.h"
#include "vb/Locale.h"

namespace {

void Expect(bool condition) {
  if (!condition) std::abort();
}

// Runs a conversion that may refuse the text; a refusal must be a ComError.
template <class Step>
void Refusable(Step step) {
  try {
    step();
  } catch (const vb::ComError&) {
  }
}

void CheckDates(const std::string& text, const vb::Locale& locale) {
  const auto parsed = locale.ParseDate(text);
  Expect(vb::IsDate(text, locale) == parsed.has_value());
  if (!parsed) {
    Refusable([&] { (void)vb::CDate(text, locale); });
    Refusable([&] { (void)vb::DateValue(text, locale); });
    return;
  }
  Expect(vb::CDate(text, locale) == *parsed);
  Expect(vb::DateValue(text, locale) == parsed->DateOnly());
  Expect(locale.ParseDate(locale.FormatShortDate(*parsed)) == parsed->DateOnly());
  Expect(locale.ParseDate(locale.FormatDate(*parsed)) == *parsed);
  Expect(vb::Date::FromIso(parsed->ToIso()) == *parsed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckDates(text, vb::Locale::EnUS());
  CheckDates(text, vb::Locale::EnGB());
  Refusable([&] { (void)vb::Val(text); });
  Refusable([&] { (void)vb::CInt(text); });
  Refusable([&] { (void)vb::CLng(text); });
  Refusable([&] { (void)vb::CBool(text); });
  Refusable([&] { (void)vb::CDbl(text); });
  Refusable([&] {
    const double value = vb::CDbl(text);
    Expect(vb::CDbl(vb::CStr(value)) == value);
  });
  return 0;
}
