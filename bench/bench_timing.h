#pragma once

#include <algorithm>
#include <chrono>

namespace drovanta::bench {

// Wall-clock seconds of the fastest of `rounds` runs of `work`: the least disturbed by the
// other work of a shared machine.
template <typename Work>
double bestSeconds(int rounds, Work work) {
  using Clock = std::chrono::steady_clock;
  double best = 1e30;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

}  // namespace drovanta::bench
