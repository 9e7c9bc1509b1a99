// Prints the connection string of the benchmark database with ROWS actions on ENGINE, making it
// first when it does not exist yet (the same databases the library benchmarks use):
//
//   web_bench_db ROWS sqlite|postgresql
//
// SQLite files go to KV_BENCH_DIR; PostgreSQL databases to the server KV_TEST_PG names.
#include <fmt/format.h>

#include <charconv>
#include <cstring>
#include <exception>

#include "BenchDatabase.h"

int main(int argc, char** argv) {
  int64_t rows = 0;
  const char* text = argc == 3 ? argv[1] : "";
  const auto [end, error] = std::from_chars(text, text + std::strlen(text), rows);
  const bool sqlite = argc == 3 && std::strcmp(argv[2], "sqlite") == 0;
  const bool postgresql = argc == 3 && std::strcmp(argv[2], "postgresql") == 0;
  if (error != std::errc() || *end != '\0' || rows < 40 || !(sqlite || postgresql)) {
    fmt::print(stderr, "usage: web_bench_db ROWS sqlite|postgresql   (ROWS at least 40)\n");
    return 2;
  }
  try {
    fmt::print("{}\n", bench::ConnectionString(rows, sqlite ? bench::kSQLite : bench::kPostgreSQL));
  } catch (const std::exception& e) {
    fmt::print(stderr, "web_bench_db: {}\n", e.what());
    return 1;
  }
  return 0;
}
