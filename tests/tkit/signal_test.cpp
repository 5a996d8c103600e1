#include "tkit/signal.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/allocation_probe.h"

namespace zelvane {
namespace tkit {
namespace {

using ::testing::ElementsAre;

// A slot that appends its name to a shared log when called.
std::function<void()> recorder(std::vector<std::string>& log, const std::string& name) {
  return [&log, name] { log.push_back(name); };
}

// Records how the value a slot received was made: copied somewhere along the way
// from the caller's object, or only ever moved.
struct Tracked {
  Tracked() = default;
  Tracked(const Tracked&) : copied(true) { ++copies; }
  Tracked(Tracked&& other) noexcept : copied(other.copied) {}
  Tracked& operator=(const Tracked&) = delete;
  Tracked& operator=(Tracked&&) = delete;

  bool copied = false;
  static int copies;
};
int Tracked::copies = 0;

TEST(SignalTest, DeliversToEverySlotInConnectionOrder) {
  Signal<> signal;
  signal.emit();  // nothing connected: nothing happens

  // The connections are dropped at once; that leaves the slots connected.
  std::vector<std::string> log;
  static_cast<void>(signal.connect(recorder(log, "A")));
  static_cast<void>(signal.connect(recorder(log, "B")));
  static_cast<void>(signal.connect(recorder(log, "C")));
  signal.emit();
  signal();
  EXPECT_THAT(log, ElementsAre("A", "B", "C", "A", "B", "C"));

  // A reference parameter reaches every slot as the caller's object.
  Signal<int&> reference;
  static_cast<void>(reference.connect([](int& value) { value += 1; }));
  static_cast<void>(reference.connect([](int& value) { value *= 10; }));
  int value = 1;
  reference.emit(value);
  EXPECT_EQ(value, 20);
}

TEST(SignalTest, DeliverRunsUnderTheCallersLockAndEmitHoldsTheLockDuringSlots) {
  Signal<> signal;
  bool locked_during_slot = false;
  static_cast<void>(signal.connect([&] {
    locked_during_slot = !signal.mutex().try_lock();
    if (!locked_during_slot) {
      signal.mutex().unlock();
    }
  }));
  signal.emit();
  EXPECT_TRUE(locked_during_slot);

  int calls = 0;
  static_cast<void>(signal.connect([&calls] { ++calls; }));
  {
    std::lock_guard<std::mutex> lock(signal.mutex());
    signal.deliver();
  }
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(signal.mutex().try_lock());  // released after emit and after deliver
  signal.mutex().unlock();
}

// The scan is one step ahead of the calls: when a slot runs, the next live slot has
// already been examined, so cutting it takes effect only from the next delivery,
// while cutting one further on takes effect at once. A slot cutting itself runs to
// its end and is not called again.
TEST(SignalTest, CuttingASlotFromACallbackSparesOnlyTheRunningAndTheNextOne) {
  enum class Cut { kDisconnect, kBlock };
  struct Case {
    const char* name;
    Cut cut;
    int target;  // index of the slot that slot 0 cuts
    std::vector<std::string> first_delivery;
    std::vector<std::string> second_delivery;
  };
  const std::vector<Case> cases = {
      {"disconnect itself", Cut::kDisconnect, 0, {"A", "B", "C"}, {"B", "C"}},
      {"block itself", Cut::kBlock, 0, {"A", "B", "C"}, {"B", "C"}},
      {"disconnect next", Cut::kDisconnect, 1, {"A", "B", "C"}, {"A", "C"}},
      {"disconnect one further", Cut::kDisconnect, 2, {"A", "B"}, {"A", "B"}},
      {"block next", Cut::kBlock, 1, {"A", "B", "C"}, {"A", "C"}},
      {"block one further", Cut::kBlock, 2, {"A", "B"}, {"A", "B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Signal<> signal;
    std::vector<std::string> log;
    std::vector<Connection> connections(3);
    connections[0] = signal.connect([&] {
      log.push_back("A");
      if (c.cut == Cut::kDisconnect) {
        connections[c.target].disconnect();
      } else {
        connections[c.target].block();
      }
    });
    connections[1] = signal.connect(recorder(log, "B"));
    connections[2] = signal.connect(recorder(log, "C"));

    signal.emit();
    EXPECT_EQ(log, c.first_delivery);
    log.clear();
    signal.emit();
    EXPECT_EQ(log, c.second_delivery);
    EXPECT_EQ(signal.size(), c.cut == Cut::kDisconnect ? 2u : 3u);
  }
}

TEST(SignalTest, EveryLiveSlotButTheLastReceivesACopyOfAByValueArgument) {
  Signal<Tracked> signal;
  std::vector<bool> copied;
  for (int i = 0; i < 3; ++i) {
    static_cast<void>(signal.connect([&copied](Tracked t) { copied.push_back(t.copied); }));
  }
  Tracked::copies = 0;
  signal.emit(Tracked());
  EXPECT_THAT(copied, ElementsAre(true, true, false));
  EXPECT_EQ(Tracked::copies, 2);

  // A slot that delivery skips still lets the last live one receive the moved value.
  Connection last = signal.connect([&copied](Tracked t) { copied.push_back(t.copied); });
  last.block();
  copied.clear();
  signal.emit(Tracked());
  EXPECT_THAT(copied, ElementsAre(true, true, false));
}

TEST(SignalTest, LastSlotReceivesTheExceptionPointerMovedFromTheCaller) {
  Signal<std::exception_ptr> signal;
  std::vector<std::exception_ptr> received;
  static_cast<void>(signal.connect([&received](std::exception_ptr e) { received.push_back(e); }));
  static_cast<void>(
      signal.connect([&received](std::exception_ptr e) { received.push_back(std::move(e)); }));

  std::exception_ptr error = std::make_exception_ptr(std::runtime_error("boom"));
  const std::exception_ptr original = error;
  signal.emit(std::move(error));
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0], original);
  EXPECT_EQ(received[1], original);
  // The caller's value went to the last slot (a moved-from exception_ptr is null).
  EXPECT_EQ(error, nullptr);  // NOLINT(bugprone-use-after-move)

  // An lvalue argument is copied for every slot and stays with the caller.
  std::exception_ptr kept = original;
  signal.emit(kept);
  EXPECT_EQ(kept, original);
}

TEST(SignalTest, DisconnectedSlotKeepsItsCapturesUntilRemovedByTheNextDeliveryOrConnect) {
  Signal<> signal;
  std::vector<std::string> log;
  auto captured = std::make_shared<int>(0);
  Connection a = signal.connect([&log, captured] { log.push_back("A"); });
  static_cast<void>(signal.connect(recorder(log, "B")));
  a.disconnect();
  EXPECT_FALSE(a.connected());
  EXPECT_EQ(signal.size(), 2u);  // disconnect never touches the list
  EXPECT_EQ(captured.use_count(), 2);
  signal.emit();
  EXPECT_THAT(log, ElementsAre("B"));
  EXPECT_EQ(signal.size(), 1u);
  EXPECT_EQ(captured.use_count(), 1);

  Connection c = signal.connect(recorder(log, "C"));
  Connection d = signal.connect(recorder(log, "D"));
  c.disconnect();
  EXPECT_EQ(signal.size(), 3u);
  static_cast<void>(signal.connect(recorder(log, "E")));
  EXPECT_EQ(signal.size(), 3u);  // B, D, E: connect swept C
  d.disconnect();
  log.clear();
  signal.emit();
  EXPECT_THAT(log, ElementsAre("B", "E"));
}

TEST(SignalTest, DisconnectIsHarmlessWhenRepeatedNothingToCutOrTheSignalIsGone) {
  Connection never_connected;
  never_connected.disconnect();
  never_connected.block();
  never_connected.unblock();
  EXPECT_FALSE(never_connected.connected());
  EXPECT_FALSE(never_connected.blocked());

  Signal<> signal;
  int calls = 0;
  Connection connection = signal.connect([&calls] { ++calls; });
  Connection copy = connection;
  EXPECT_TRUE(copy.connected());
  connection.disconnect();
  connection.disconnect();
  EXPECT_FALSE(copy.connected());  // copies observe the same slot
  copy.disconnect();
  signal.emit();  // removes the slot
  connection.disconnect();
  connection.block();
  EXPECT_FALSE(connection.connected());
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(signal.size(), 0u);

  // Connections outliving their signal become inert, and the captures are released.
  auto captured = std::make_shared<int>(0);
  {
    Signal<> gone;
    connection = gone.connect([captured] {});
    EXPECT_TRUE(connection.connected());
  }
  EXPECT_EQ(captured.use_count(), 1);
  EXPECT_FALSE(connection.connected());
  EXPECT_FALSE(connection.blocked());
  connection.disconnect();
  connection.block();
  connection.unblock();
  EXPECT_FALSE(connection.blocked());
}

TEST(ScopedConnectionTest, CutsItsSlotWhenDestroyedReassignedOrToldAndNotWhenReleased) {
  static_assert(!std::is_copy_constructible_v<ScopedConnection>);
  static_assert(std::is_nothrow_move_constructible_v<ScopedConnection>);
  Signal<> signal;
  std::vector<std::string> log;
  Connection released;
  {
    ScopedConnection a = signal.connect(recorder(log, "A"));
    ScopedConnection b = signal.connect(recorder(log, "B"));
    ScopedConnection c = signal.connect(recorder(log, "C"));
    ScopedConnection d = signal.connect(recorder(log, "D"));
    ScopedConnection moved(std::move(a));    // a owns nothing now: its end cuts nothing
    b = signal.connect(recorder(log, "E"));  // cuts B
    c.disconnect();
    released = d.release();
    signal.emit();
    EXPECT_THAT(log, ElementsAre("A", "D", "E"));
  }  // cuts A and E, not D
  log.clear();
  signal.emit();
  EXPECT_THAT(log, ElementsAre("D"));
  EXPECT_TRUE(released.connected());
}

TEST(SignalTest, BlockedSlotStaysInTheListAndIsSkippedUntilUnblocked) {
  Signal<> signal;
  std::vector<std::string> log;
  static_cast<void>(signal.connect(recorder(log, "A")));
  Connection b = signal.connect(recorder(log, "B"));
  static_cast<void>(signal.connect(recorder(log, "C")));

  b.block();
  EXPECT_TRUE(b.blocked());
  EXPECT_TRUE(b.connected());
  signal.emit();
  EXPECT_EQ(signal.size(), 3u);
  b.unblock();
  EXPECT_FALSE(b.blocked());
  signal.emit();
  EXPECT_THAT(log, ElementsAre("A", "C", "A", "B", "C"));

  b.block();
  b.disconnect();  // a blocked slot can still be cut
  signal.emit();
  EXPECT_EQ(signal.size(), 2u);
}

TEST(SignalTest, ThrowingSlotEndsTheDeliveryAndLeavesTheSignalUsable) {
  Signal<> signal;
  std::vector<std::string> log;
  bool fail = true;
  static_cast<void>(signal.connect(recorder(log, "A")));
  static_cast<void>(signal.connect([&] {
    log.push_back("B");
    if (fail) {
      throw std::runtime_error("B failed");
    }
  }));
  static_cast<void>(signal.connect(recorder(log, "C")));
  Connection dead = signal.connect(recorder(log, "D"));
  dead.disconnect();

  EXPECT_THROW(signal.emit(), std::runtime_error);
  EXPECT_THAT(log, ElementsAre("A", "B"));
  EXPECT_EQ(signal.size(), 4u);  // the pass stopped before reaching D

  fail = false;
  log.clear();
  static_cast<void>(signal.connect(recorder(log, "E")));  // the lock was released
  signal.emit();
  EXPECT_THAT(log, ElementsAre("A", "B", "C", "E"));
}

TEST(SignalTest, EmptySlotThrowsBadFunctionCallWhenReached) {
  for (const bool empty_is_last : {false, true}) {
    SCOPED_TRACE(empty_is_last ? "empty slot last" : "empty slot in the middle");
    Signal<std::exception_ptr> signal;
    std::vector<std::string> log;
    static_cast<void>(signal.connect([&log](std::exception_ptr) { log.push_back("A"); }));
    static_cast<void>(signal.connect(Signal<std::exception_ptr>::Slot()));
    Connection after = signal.connect([&log](std::exception_ptr) { log.push_back("C"); });
    if (empty_is_last) {
      after.disconnect();
    }

    EXPECT_THROW(signal.emit(std::exception_ptr()), std::bad_function_call);
    EXPECT_THROW(signal.emit(std::exception_ptr()), std::bad_function_call);
    EXPECT_THAT(log, ElementsAre("A", "A"));
  }
}

TEST(SignalTest, DeliveryAllocatesNothing) {
  Signal<std::exception_ptr> signal;
  for (int i = 0; i < 10; ++i) {
    static_cast<void>(signal.connect([](std::exception_ptr) {}));
  }
  signal.connect([](std::exception_ptr) {}).disconnect();
  const std::exception_ptr error = std::make_exception_ptr(std::runtime_error("x"));

  const zelvane::testing::AllocationCounter counter;
  signal.emit(error);
  signal.emit(std::exception_ptr(error));
  const long allocations = counter.count();
  EXPECT_EQ(allocations, 0);
}

TEST(SignalTest, DisconnectDoesNotWaitForADeliveryInProgress) {
  Signal<> signal;
  std::promise<void> cut;
  std::future<void> cut_done = cut.get_future();
  std::vector<std::string> log;
  Connection c;
  std::thread cutter;
  static_cast<void>(signal.connect([&] {
    log.push_back("A");
    // If disconnect took the signal's lock this would time out instead.
    cutter = std::thread([&] {
      c.disconnect();
      cut.set_value();
    });
    EXPECT_EQ(cut_done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  }));
  static_cast<void>(signal.connect(recorder(log, "B")));
  c = signal.connect(recorder(log, "C"));
  signal.emit();
  cutter.join();
  EXPECT_THAT(log, ElementsAre("A", "B"));
}

}  // namespace
}  // namespace tkit
}  // namespace zelvane
