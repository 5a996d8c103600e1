// Signal delivery to trivial slots, against Boost.Signals2.
#include <boost/signals2/signal.hpp>

#include <benchmark/benchmark.h>

#include "bench_check.h"
#include "tkit/signal.h"

namespace {

// A slot that does the least a real slot does: touch state the caller can see.
struct Counter {
  long calls = 0;
  void operator()() { ++calls; }
};

template <class Connect>
void connectSlots(int count, Counter& counter, Connect connect) {
  for (int i = 0; i < count; ++i) connect([&counter] { counter(); });
}

long zelvaneCalls(int slots, int emits) {
  Counter counter;
  zelvane::tkit::Signal<> signal;
  connectSlots(slots, counter, [&](auto f) { static_cast<void>(signal.connect(f)); });
  for (int i = 0; i < emits; ++i) signal.emit();
  return counter.calls;
}

long signals2Calls(int slots, int emits) {
  Counter counter;
  boost::signals2::signal<void()> signal;
  connectSlots(slots, counter, [&](auto f) { signal.connect(f); });
  for (int i = 0; i < emits; ++i) signal();
  return counter.calls;
}

void checkSameAnswer(int slots) {
  zelvane::bench::checkEqual("emit_" + std::to_string(slots), zelvaneCalls(slots, 3),
                             signals2Calls(slots, 3), 0.0);
}

void emitZelvane(benchmark::State& state, int slots) {
  Counter counter;
  zelvane::tkit::Signal<> signal;
  connectSlots(slots, counter, [&](auto f) { static_cast<void>(signal.connect(f)); });
  for (auto _ : state) signal.emit();
  benchmark::DoNotOptimize(counter.calls);
  if (counter.calls != static_cast<long>(state.iterations()) * slots) {
    state.SkipWithError("wrong number of slot calls");
  }
}

void emitSignals2(benchmark::State& state, int slots) {
  Counter counter;
  boost::signals2::signal<void()> signal;
  connectSlots(slots, counter, [&](auto f) { signal.connect(f); });
  for (auto _ : state) signal();
  benchmark::DoNotOptimize(counter.calls);
  if (counter.calls != static_cast<long>(state.iterations()) * slots) {
    state.SkipWithError("wrong number of slot calls");
  }
}

void registerAll() {
  for (int slots : {1, 10}) {
    checkSameAnswer(slots);
    const std::string name = slots == 1 ? "emit_1_slot" : "emit_10_slots";
    benchmark::RegisterBenchmark((name + "/zelvane").c_str(), emitZelvane, slots);
    benchmark::RegisterBenchmark((name + "/signals2").c_str(), emitSignals2, slots);
  }
}

// Registered before Google Benchmark's main runs, as its own registration macros are,
// defined last so that the other globals of this file are initialised before it runs.
[[maybe_unused]] const bool registered = (registerAll(), true);

}  // namespace
