// One signal connected, disconnected and emitted from several threads at once: every
// emission reaches every slot that stays connected, and a disconnected slot is never
// called once a delivery that began after the disconnection is over.
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_together.h"
#include "tkit/signal.h"

namespace {

using zelvane::testing::runTogether;
using zelvane::tkit::Connection;
using zelvane::tkit::Signal;

constexpr int kChurners = 3;
constexpr int kEmitters = 2;
constexpr int kRounds = 1500;

// One signal with a slot that stays connected and counts what reaches it, and the
// threads that use the signal at once.
class SharedSignal {
 public:
  SharedSignal() {
    static_cast<void>(signal_.connect([this](int value) { persistent_ += value; }));
  }

  // Connects a slot, emits, disconnects it and emits again, over and over: once a
  // delivery that began after the cut is over, the slot never runs again.
  void churn() {
    for (int round = 0; round < kRounds; ++round) {
      auto calls = std::make_shared<std::atomic<int>>(0);
      auto cut = std::make_shared<std::atomic<bool>>(false);
      Connection connection = signal_.connect([calls, cut, this](int) {
        ++*calls;
        if (*cut) ++late_calls_;
      });
      EXPECT_TRUE(connection.connected());
      signal_.emit(1);  // delivered on this thread, so this slot has run by now
      ++emitted_;
      EXPECT_GE(calls->load(), 1);
      connection.disconnect();
      // A delivery that began before the cut may still be running it; one of ours
      // begins after it, and once it is over the slot must never run again.
      signal_.emit(1);
      ++emitted_;
      *cut = true;
      EXPECT_FALSE(connection.connected());
    }
  }

  // Emits through the call operator.
  void emit() {
    for (int round = 0; round < 2 * kRounds; ++round) {
      signal_(1);
      ++emitted_;
    }
  }

  Signal<int>& signal() { return signal_; }
  long persistent() const { return persistent_; }
  long emitted() const { return emitted_; }
  int lateCalls() const { return late_calls_; }

 private:
  Signal<int> signal_;
  std::atomic<long> persistent_{0};
  std::atomic<long> emitted_{0};
  std::atomic<int> late_calls_{0};
};

TEST(SignalStress, ConnectDisconnectAndEmitFromSeveralThreads) {
  SharedSignal shared;
  std::vector<std::function<void()>> workers;
  for (int t = 0; t < kChurners; ++t) workers.emplace_back([&] { shared.churn(); });
  for (int t = 0; t < kEmitters; ++t) workers.emplace_back([&] { shared.emit(); });
  runTogether(workers);

  EXPECT_EQ(shared.lateCalls(), 0);
  EXPECT_EQ(shared.persistent(), shared.emitted());
  shared.signal().emit(2);
  EXPECT_EQ(shared.persistent(), shared.emitted() + 2);
}

}  // namespace
