// One queue shared by pushing threads, a registering thread, a removing thread and a
// polling thread: every item pushed is released, dropped or pending at every moment,
// and each leaves exactly once.
#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "geometry/transform_queue.h"
#include "support/run_together.h"

namespace {

using namespace zelvane::testing;
using zelvane::TransformQueueCounts;
using Queue = zelvane::TransformQueue<long>;

constexpr int kPushers = 3;
constexpr long kPushes = 1500;

void expectBalanced(const TransformQueueCounts& counts) {
  ASSERT_EQ(counts.pushed, counts.released + counts.droppedTotal() + counts.pending);
}

TEST(TransformQueueStress, CountsBalanceUnderConcurrentUse) {
  TransformManager manager;
  manager.setTransform("Body", "G", makePose(V(0, 0, 0)), 1);
  manager.setTransform("Body", "G", makePose(V(0, 0, 0)), 2);
  for (int k = 0; k < kPushers; ++k) {
    manager.setTransform("S" + std::to_string(k), "Body", makePose(V(0, 0, 1)), 0);
  }
  std::atomic<long> dropped{0};
  std::atomic<long> items_seen{0};  // sum of the item values that left
  Queue queue(manager, "G", {64, 400}, nullptr,
              [&](long item, const std::string&, long, zelvane::TransformDropReason) {
                ++dropped;
                items_seen += item;
              });
  std::atomic<int> pushing{kPushers};
  std::atomic<long> polled{0};

  std::vector<std::function<void()>> workers;
  for (int k = 0; k < kPushers; ++k) {
    workers.emplace_back([&, k] {
      const std::string frame = "S" + std::to_string(k);
      for (long i = 1; i <= kPushes; ++i) queue.push(1, frame, 10 * i + k);
      --pushing;
    });
  }
  workers.emplace_back([&] {  // navigation, a little behind the data
    for (long t = 3; pushing > 0; t += 7)
      manager.setTransform("Body", "G", makePose(V(0, 0, 0)), t);
  });
  workers.emplace_back([&] {  // a sensor goes and comes back
    while (pushing > 0) {
      static_cast<void>(manager.removeFrame("S1"));
      manager.setTransform("S1", "Body", makePose(V(0, 0, 1)), 0);
    }
  });
  workers.emplace_back([&] {
    Queue::Released released;
    while (pushing > 0) {
      expectBalanced(queue.counts());
      while (queue.poll(released)) {
        ++polled;
        items_seen += released.item;
      }
      for (const Queue::Released& drained : queue.drain()) {
        ++polled;
        items_seen += drained.item;
      }
    }
  });
  runTogether(workers);
  // Navigation passes every item left waiting; they are collected here.
  manager.setTransform("Body", "G", makePose(V(0, 0, 0)), 10 * kPushes + 10);
  for (const Queue::Released& drained : queue.drain()) {
    ++polled;
    items_seen += drained.item;
  }

  const TransformQueueCounts counts = queue.counts();
  expectBalanced(counts);
  EXPECT_EQ(counts.pushed, static_cast<std::size_t>(kPushers * kPushes));
  EXPECT_EQ(counts.released, static_cast<std::size_t>(polled.load()));
  EXPECT_EQ(counts.droppedTotal(), static_cast<std::size_t>(dropped.load()));
  EXPECT_GT(counts.released, 0u);
  queue.clear();
  EXPECT_EQ(items_seen.load(), kPushers * kPushes);  // each item left once
}

}  // namespace
