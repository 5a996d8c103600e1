// Test helper: workers run on threads of their own, released at the same moment.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace zelvane::testing {

/// Runs every worker on a thread of its own, all released at once so that they overlap
/// as much as the machine allows, and returns when all have finished.
inline void runTogether(const std::vector<std::function<void()>>& workers) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  threads.reserve(workers.size());
  for (const std::function<void()>& worker : workers) {
    threads.emplace_back([&go, &worker] {
      while (!go) std::this_thread::yield();
      worker();
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
}

}  // namespace zelvane::testing
