#pragma once
// A console reporter that also prints, after the run, each library benchmark's time against the
// raw driver doing the same work: "name  library  raw  ratio".
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  /// Pairs of full benchmark names: the library's run and the raw driver's, under a label.
  struct Pair {
    std::string label;
    std::string library;
    std::string raw;
  };
  explicit RatioReporter(std::vector<Pair> pairs) : pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  /// Prints one line per pair whose two runs both completed (times in microseconds).
  void PrintRatios() const {
    fmt::print("\n{:<28} {:>12} {:>12} {:>7}\n", "operation", "library us", "raw us", "ratio");
    for (const Pair& pair : pairs_) {
      const auto library = times_.find(pair.library);
      const auto raw = times_.find(pair.raw);
      if (library == times_.end() || raw == times_.end()) continue;
      fmt::print("{:<28} {:>12.1f} {:>12.1f} {:>6.2f}x\n", pair.label, library->second, raw->second,
                 library->second / raw->second);
    }
  }

 private:
  std::vector<Pair> pairs_;
  std::map<std::string, double> times_;
};

/// Runs the registered benchmarks with a RatioReporter and prints the ratios.
inline int RunWithRatios(int argc, char** argv, std::vector<RatioReporter::Pair> pairs) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(std::move(pairs));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
