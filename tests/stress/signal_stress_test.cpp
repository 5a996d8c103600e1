// One signal connected, disconnected and emitted from several threads at once: every
// emission reaches every slot that stays connected, and a disconnected slot is never
// called once a delivery that began after the disconnection is over.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tkit/signal.h"

namespace {

using zelvane::tkit::Connection;
using zelvane::tkit::Signal;

constexpr int kChurners = 3;
constexpr int kEmitters = 2;
constexpr int kRounds = 1500;

TEST(SignalStress, ConnectDisconnectAndEmitFromSeveralThreads) {
  Signal<int> signal;
  std::atomic<long> persistent{0};
  signal.connect([&persistent](int value) { persistent += value; });
  std::atomic<long> emitted{0};
  std::atomic<int> late_calls{0};
  std::atomic<bool> go{false};

  std::vector<std::thread> threads;
  for (int t = 0; t < kChurners; ++t) {
    threads.emplace_back([&] {
      while (!go) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) {
        auto calls = std::make_shared<std::atomic<int>>(0);
        auto cut = std::make_shared<std::atomic<bool>>(false);
        Connection connection = signal.connect([calls, cut, &late_calls](int) {
          ++*calls;
          if (*cut) ++late_calls;
        });
        EXPECT_TRUE(connection.connected());
        signal.emit(1);  // delivered on this thread, so this slot has run by now
        ++emitted;
        EXPECT_GE(calls->load(), 1);
        connection.disconnect();
        // A delivery that began before the cut may still be running it; one of ours
        // begins after it, and once it is over the slot must never run again.
        signal.emit(1);
        ++emitted;
        *cut = true;
        EXPECT_FALSE(connection.connected());
      }
    });
  }
  for (int t = 0; t < kEmitters; ++t) {
    threads.emplace_back([&] {
      while (!go) std::this_thread::yield();
      for (int round = 0; round < 2 * kRounds; ++round) {
        signal(1);
        ++emitted;
      }
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(late_calls.load(), 0);
  EXPECT_EQ(persistent.load(), emitted.load());
  signal.emit(2);
  EXPECT_EQ(persistent.load(), emitted.load() + 2);
}

}  // namespace
