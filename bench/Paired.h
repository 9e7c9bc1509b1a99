#pragma once
// Library and raw side of one benchmark, run in alternation within one run: turn by turn, some
// calls of one side, then as many of the other, the side that starts switching every turn. Both
// sides therefore see the same machine (a burst of load from elsewhere falls on both), and the
// order in which they run (whose caches the other finds) evens out. Each side's wall and CPU
// time per call (the median of its turns) are reported as the counters library_wall,
// library_cpu, raw_wall and raw_cpu (µs); scripts/bench.sh takes their medians over the
// repetitions.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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

// The wall and CPU time of `calls` calls of step.
inline Clocks Turn(const Step& step, int calls) {
  const Clocks start = Clocks::Now();
  for (int i = 0; i < calls; ++i) step();
  const Clocks end = Clocks::Now();
  return {end.wall - start.wall, end.cpu - start.cpu};
}

// Each turn's times of one side.
struct Turns {
  std::vector<double> wall, cpu;
  void Add(const Clocks& turn) {
    wall.push_back(turn.wall);
    cpu.push_back(turn.cpu);
  }
};

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace detail

/// How many calls of step make a turn of about five milliseconds (1 to maxCalls); times one.
/// Long turns: the first call of a turn finds the caches as the other side left them, which
/// would otherwise weigh on the side that touches less memory.
inline int CallsPerTurn(const Step& step, int maxCalls) {
  const double once = detail::Turn(step, 1).wall;
  constexpr double kTurn = 5e-3;
  return static_cast<int>(
      std::clamp(kTurn / std::max(once, 1e-9), 1.0, static_cast<double>(maxCalls)));
}

/// Runs library and raw in alternation, each benchmark iteration one turn of `calls` calls per
/// side, and reports for each side the median of its turns, per call. The
/// median, not the sum: this machine's cores are shared, and a pause of the whole process
/// (milliseconds, where a turn takes a fraction of one) falls on whichever side's turn it
/// meets; the median of many turns leaves such turns out on both sides alike.
inline void RunPaired(benchmark::State& state, const Step& library, const Step& raw,
                      int calls = 1) {
  std::array<detail::Turns, 2> turns;  // library, raw
  bool libraryFirst = true;
  for (auto _ : state) {
    if (libraryFirst) {
      turns[0].Add(detail::Turn(library, calls));
      turns[1].Add(detail::Turn(raw, calls));
    } else {
      turns[1].Add(detail::Turn(raw, calls));
      turns[0].Add(detail::Turn(library, calls));
    }
    libraryFirst = !libraryFirst;
  }
  const double perCall = 1e6 / calls;  // µs
  for (const auto& [side, times] : {std::pair{"library", &turns[0]}, std::pair{"raw", &turns[1]}}) {
    state.counters[std::string(side) + "_wall"] = detail::Median(times->wall) * perCall;
    state.counters[std::string(side) + "_cpu"] = detail::Median(times->cpu) * perCall;
  }
}

}  // namespace bench
