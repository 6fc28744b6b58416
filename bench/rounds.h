// Side-by-side timing on a machine shared with other work: every contender runs once per round,
// the order rotating from round to round, so that a busy spell slows all of them alike. The
// results are the median time of each contender and, for each peer, the median of its per-round
// ratios to our time (a ratio above 1 means ours is faster). Single thread; the time is the
// processor time of the process (std::clock), which waiting for a shared core does not inflate.
//
// Every benchmark takes the same options: --rounds N (default 9) and --only TEXT (run only the
// workloads whose name holds TEXT); the other arguments are left to the benchmark.
#pragma once

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Options {
  int rounds = 9;
  std::string only;
  std::vector<std::string> args;  // the arguments that are not options

  bool Wants(const std::string& workload) const {
    return only.empty() || workload.find(only) != std::string::npos;
  }
};

inline Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
      options.rounds = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
      options.only = argv[++i];
    else
      options.args.emplace_back(argv[i]);
  }
  return options;
}

// One contender: its name and one pass of its work; prepare, when given, runs before every pass
// outside the timing (to give a pass that works in place a fresh input).
struct Contender {
  std::string name;
  std::function<void()> pass;
  std::function<void()> prepare = {};
};

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Seconds per pass, times[contender][round]. A contender whose pass is short repeats it within a
// round until the round's measurement lasts at least minSeconds (the count is fixed by a warm-up
// pass, the same in every round).
inline std::vector<std::vector<double>> RunRounds(const std::vector<Contender>& contenders,
                                                  int rounds, double minSeconds = 0.05) {
  // The seconds of `count` passes; a contender that prepares is timed pass by pass.
  auto time = [](const Contender& c, int count) {
    double total = 0;
    std::clock_t start = std::clock();
    for (int i = 0; i < count; ++i) {
      if (c.prepare) {
        c.prepare();
        start = std::clock();
      }
      c.pass();
      if (c.prepare) total += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    }
    if (!c.prepare) total = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    return total;
  };
  const std::size_t n = contenders.size();
  std::vector<int> repeats(n);
  for (std::size_t c = 0; c < n; ++c) {
    const double once = std::max(time(contenders[c], 1), 1e-7);
    repeats[c] = std::clamp(static_cast<int>(minSeconds / once) + 1, 1, 100000);
  }
  std::vector<std::vector<double>> times(n, std::vector<double>(static_cast<std::size_t>(rounds)));
  for (int r = 0; r < rounds; ++r)
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t c = (k + static_cast<std::size_t>(r)) % n;
      times[c][static_cast<std::size_t>(r)] = time(contenders[c], repeats[c]) / repeats[c];
    }
  return times;
}

// The median over rounds of other[r] / base[r]: how many times faster base was than other.
inline double MedianRatio(const std::vector<double>& base, const std::vector<double>& other) {
  std::vector<double> ratios;
  for (std::size_t r = 0; r < base.size() && r < other.size(); ++r)
    ratios.push_back(other[r] / base[r]);
  return Median(ratios);
}

// The smallest and largest per-round ratio, to show how much the machine moved.
inline std::pair<double, double> RatioRange(const std::vector<double>& base,
                                            const std::vector<double>& other) {
  double low = 1e30, high = 0;
  for (std::size_t r = 0; r < base.size() && r < other.size(); ++r) {
    low = std::min(low, other[r] / base[r]);
    high = std::max(high, other[r] / base[r]);
  }
  return {low, high};
}

}  // namespace bench
