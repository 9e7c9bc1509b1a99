#pragma once
// Library and raw side of one benchmark, run in alternation within one run: turn by turn, a few
// calls of one side, then as many of the other, the side that starts switching every turn. Both
// sides therefore see the same machine (a burst of load from elsewhere falls on both), and the
// order in which they run (whose caches the other finds) evens out. Each side's wall and CPU
// time per call are reported as the counters library_wall, library_cpu, raw_wall and raw_cpu
// (µs); scripts/bench.sh takes their medians over the repetitions.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>

namespace bench {

/// One call of a side: the operation it measures, on state it owns.
using Step = std::function<void()>;

namespace detail {

struct Clocks {
  double wall = 0;  // seconds
  double cpu = 0;
  static Clocks Now() {
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    const auto wall = std::chrono::steady_clock::now().time_since_epoch();
    return {std::chrono::duration<double>(wall).count(),
            static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) * 1e-9};
  }
};

// Times `calls` calls of step, adding to spent.
inline void Turn(const Step& step, int calls, Clocks& spent) {
  const Clocks start = Clocks::Now();
  for (int i = 0; i < calls; ++i) step();
  const Clocks end = Clocks::Now();
  spent.wall += end.wall - start.wall;
  spent.cpu += end.cpu - start.cpu;
}

}  // namespace detail

/// How many calls of step make a turn of about a third of a millisecond (1 to 64); times one.
inline int CallsPerTurn(const Step& step) {
  detail::Clocks once;
  detail::Turn(step, 1, once);
  constexpr double kTurn = 300e-6;
  return static_cast<int>(std::clamp(kTurn / std::max(once.wall, 1e-9), 1.0, 64.0));
}

/// Runs library and raw in alternation, each benchmark iteration one turn of `calls` calls per
/// side. Short operations take several calls per turn, so that reading the clocks is not part of
/// what is measured; a turn of each side should stay well under a millisecond or two.
inline void RunPaired(benchmark::State& state, const Step& library, const Step& raw,
                      int calls = 1) {
  std::array<detail::Clocks, 2> spent{};  // library, raw
  bool libraryFirst = true;
  for (auto _ : state) {
    if (libraryFirst) {
      detail::Turn(library, calls, spent[0]);
      detail::Turn(raw, calls, spent[1]);
    } else {
      detail::Turn(raw, calls, spent[1]);
      detail::Turn(library, calls, spent[0]);
    }
    libraryFirst = !libraryFirst;
  }
  const double perCall =
      1e6 / static_cast<double>(std::max<int64_t>(1, state.iterations() * calls));
  state.counters["library_wall"] = spent[0].wall * perCall;
  state.counters["library_cpu"] = spent[0].cpu * perCall;
  state.counters["raw_wall"] = spent[1].wall * perCall;
  state.counters["raw_cpu"] = spent[1].cpu * perCall;
}

}  // namespace bench
