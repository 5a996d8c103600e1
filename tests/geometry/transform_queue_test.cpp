// `TransformQueue`: items released with their pose by the registration (or push) that
// makes their lookup succeed, in push order per frame, and every other way out a
// drop with its reason, counted.
#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "geometry/transform_queue.h"
#include "settings_manager.h"
#include "support/allocation_probe.h"

namespace {

using namespace zelvane::testing;
using zelvane::TransformDropReason;
using zelvane::TransformQueueCounts;
using zelvane::TransformQueueOptions;
using Queue = zelvane::TransformQueue<int>;
using Reason = TransformDropReason;

struct Out {
  int item;
  std::string frame;
  long time;
  Pose pose;
  Reason reason;
  bool released;
};

// A queue of ints into "G" that records what leaves it, and checks the count
// invariant at every step.
class Recorder {
 public:
  explicit Recorder(TransformManager& manager, TransformQueueOptions options = {},
                    bool callback = true)
      : queue_(std::make_unique<Queue>(
            manager, "G", options,
            callback ? Queue::ReleaseCallback(
                           [this](int item, const std::string& frame, long time, const Pose& pose) {
                             out.push_back({item, frame, time, pose, Reason::Full, true});
                           })
                     : nullptr,
            [this](int item, const std::string& frame, long time, Reason reason) {
              out.push_back({item, frame, time, Pose(), reason, false});
            })) {}

  Queue& queue() { return *queue_; }
  void destroy() { queue_.reset(); }

  std::vector<int> released() const { return items(true); }
  std::vector<int> dropped() const { return items(false); }

  static void expectBalanced(const TransformQueueCounts& counts) {
    EXPECT_EQ(counts.pushed, counts.released + counts.droppedTotal() + counts.pending);
  }

  std::vector<Out> out;

 private:
  std::vector<int> items(bool released) const {
    std::vector<int> found;
    for (const Out& o : out) {
      if (o.released == released) found.push_back(o.item);
    }
    return found;
  }
  std::unique_ptr<Queue> queue_;
};

void navigation(TransformManager& manager, long time, float x) {
  manager.setTransform("Body", "G", makePose(V(x, 0, 0)), time);
}

// Each released item's pose is the lookup's in G at its time now, bit for bit.
void expectPosesOfTheLookup(TransformManager& manager, const std::vector<Out>& out) {
  for (const Out& o : out) {
    Pose expected;
    ASSERT_EQ(manager.getTransform(o.frame, "G", o.time, kInter, expected),
              TransformManager::Success);
    EXPECT_TRUE(sameBits(o.pose, expected)) << o.item;
  }
}

// Items wait for the navigation sample after their time and leave with the pose of
// the lookup, on the registering thread, in push order per frame and across frames
// within one registration; an item whose transform is there leaves on its push.
TEST(TransformQueue, ReleasesOnTheRegistrationThatMakesItReady) {
  TransformManager manager;
  navigation(manager, 100, 0);
  navigation(manager, 200, 1);
  manager.setTransform("Lidar", "Body", makePose(V(0, 0, 1)), 0);
  manager.setTransform("Radar", "Body", makePose(V(0, 0, 2)), 0);
  Recorder recorder(manager);
  Queue& queue = recorder.queue();

  queue.push(1, "Lidar", 150);  // ready at once
  ASSERT_EQ(recorder.released(), (std::vector<int>{1}));
  queue.push(2, "Lidar", 250);
  queue.push(3, "Radar", 220);
  queue.push(4, "Lidar", 240);  // earlier time, later push: waits behind 2
  queue.push(5, "Radar", 390);
  EXPECT_EQ(recorder.released().size(), 1u);
  std::thread registering([&] { navigation(manager, 300, 2); });
  registering.join();
  EXPECT_EQ(recorder.released(), (std::vector<int>{1, 2, 3, 4}));
  expectPosesOfTheLookup(manager, recorder.out);
  Recorder::expectBalanced(queue.counts());
  EXPECT_EQ(queue.counts().pending, 1u);
}

// A sample older than the others of its pair extends the span up to its neighbour:
// items between the two are released, however much newer than the sample.
TEST(TransformQueue, AnOutOfOrderOldestSampleReleasesUpToItsNeighbour) {
  TransformManager manager;
  manager.setTransform("Lidar", "Body", makePose(V(0, 0, 0)), 200);
  manager.setTransform("Lidar", "Body", makePose(V(0, 0, 0)), 280);
  navigation(manager, 300, 3);  // no time common to both pairs yet
  Recorder recorder(manager);
  recorder.queue().push(1, "Lidar", 250);
  recorder.queue().push(2, "Lidar", 260);
  navigation(manager, 100, 1);  // Body's span is now [100, 300]
  EXPECT_EQ(recorder.released(), (std::vector<int>{1, 2}));
  EXPECT_FLOAT_EQ(recorder.out.back().pose.position.x(), 2.6f);
}

// Start-up: navigation has one sample and 1 kHz scans arrive past it. A lookup would
// answer each with that sample; the queue holds them until samples on both sides
// cover their times, and releases each with the pose of its own time, bit for bit the
// lookup made once the later sample is there. A scan at the sample's own time, or on a
// static path, is covered at once.
TEST(TransformQueue, ReleasesATimeOnlyOnceSamplesCoverIt) {
  TransformManager manager;
  manager.setTransform("Lidar", "Body", makePose(V(0, 0, 1)), 0);
  manager.setTransform("Mount", "G", makePose(V(0, 1, 0)), 0);
  const long start = 5000;  // in ms
  navigation(manager, start, 0);
  Recorder recorder(manager);
  recorder.queue().push(0, "Lidar", start);
  recorder.queue().push(1000, "Mount", 777);
  for (int ms = 1; ms <= 150; ++ms) recorder.queue().push(ms, "Lidar", start + ms);
  Pose stale;
  ASSERT_EQ(manager.getTransform("Lidar", "G", start + 150, kInter, stale),
            TransformManager::Success);
  EXPECT_EQ(recorder.released(), (std::vector<int>{0, 1000}));
  for (int ms = 10; ms <= 160; ms += 10) {
    navigation(manager, start + ms, 0.01f * static_cast<float>(ms));  // 10 m/s
    EXPECT_EQ(recorder.released().size(), std::min<std::size_t>(2 + ms, 152)) << ms;
  }
  expectPosesOfTheLookup(manager, recorder.out);
  EXPECT_FLOAT_EQ(recorder.out.back().pose.position.x(), 1.5f);
  Recorder::expectBalanced(recorder.queue().counts());
}

// Destroyed first, the manager ends the queue's waiting items (`ManagerDestroyed`); the
// released ones stay to be collected, and the queue, its later pushes and its
// destructor no longer touch the manager.
TEST(TransformQueue, OutlivesItsManager) {
  auto manager = std::make_unique<TransformManager>();
  navigation(*manager, 100, 0);
  navigation(*manager, 200, 1);
  Recorder recorder(*manager, {}, false);
  Queue& queue = recorder.queue();
  queue.push(1, "Body", 150);
  queue.push(2, "Body", 300);
  queue.push(3, "Other", 100);
  manager.reset();
  queue.push(4, "Body", 400);
  EXPECT_EQ(recorder.dropped(), (std::vector<int>{2, 3, 4}));
  for (const Out& o : recorder.out) EXPECT_EQ(o.reason, Reason::ManagerDestroyed);
  Queue::Released released;
  ASSERT_TRUE(queue.poll(released));
  EXPECT_EQ(released.item, 1);
  const TransformQueueCounts counts = queue.counts();
  EXPECT_EQ(counts.droppedFor(Reason::ManagerDestroyed), 3u);
  EXPECT_EQ(counts.pending, 0u);
  Recorder::expectBalanced(counts);
  queue.clear();
  recorder.destroy();
}

// A misspelt frame or target waits (it may be registered later) but is warned of once
// per name, with the closest known name, and its items are counted apart from those
// waiting for a sample.
TEST(TransformQueue, WarnsOncePerUnknownFrameAndCountsItsItemsApart) {
  TransformManager manager;
  navigation(manager, 100, 0);
  navigation(manager, 200, 1);
  LogCapture capture(Logger::WARN_LEVEL);
  Recorder recorder(manager);
  recorder.queue().push(1, "Bdoy", 150);
  recorder.queue().push(2, "Bdoy", 160);
  recorder.queue().push(3, "Body", 250);
  Queue misspelt(manager, "g");
  misspelt.push(4, "Body", 150);
  misspelt.push(5, "Bdoy", 150);
  EXPECT_EQ(recorder.queue().counts().waitingForFrame, 2u);
  EXPECT_EQ(recorder.queue().counts().pending, 3u);
  EXPECT_EQ(misspelt.counts().waitingForFrame, 2u);
  const std::string unknown = "Items queued into frame ";
  EXPECT_EQ(capture.messages(Logger::WARN_LEVEL),
            (Texts{unknown + "G wait for a frame that is not registered: there is no frame 'Bdoy' "
                             "(the closest known frame is 'Body').",
                   unknown + "g wait for a frame that is not registered: there is no frame 'g' "
                             "(the closest known frame is 'G').",
                   unknown + "g wait for a frame that is not registered: there is no frame "
                             "'Bdoy' (the closest known frame is 'Body')."}));
  manager.setTransform("Bdoy", "Body", makePose(V(0, 0, 0)), 0);
  EXPECT_EQ(recorder.released(), (std::vector<int>{1, 2}));
  EXPECT_EQ(recorder.queue().counts().waitingForFrame, 0u);
  EXPECT_EQ(misspelt.counts().waitingForFrame, 2u);
  EXPECT_EQ(capture.messages(Logger::WARN_LEVEL).size(), 3u);
}

// A frame's path is kept from one registration to the next; a rename or a removal
// changes the graph's shape, and the path is found again: a renamed frame's items wait
// for their frame, and items behind a removed frame leave through its re-link.
TEST(TransformQueue, FindsItsPathsAgainAfterTheGraphChangesShape) {
  TransformManager manager;
  navigation(manager, 100, 0);
  manager.setTransform("Lidar", "Mount", makePose(V(0, 0, 1)), 0);
  manager.setTransform("Mount", "Body", makePose(V(0, 1, 0)), 0);
  Recorder recorder(manager);
  Queue& queue = recorder.queue();
  queue.push(1, "Lidar", 150);
  ASSERT_EQ(manager.updateFrameName("Lidar", "Scanner"), TransformManager::Success);
  navigation(manager, 200, 1);
  EXPECT_TRUE(recorder.released().empty());
  EXPECT_EQ(queue.counts().waitingForFrame, 1u);
  ASSERT_EQ(manager.updateFrameName("Scanner", "Lidar"), TransformManager::Success);
  ASSERT_EQ(manager.removeFrame("Mount"), TransformManager::Success);
  queue.push(2, "Lidar", 250);
  navigation(manager, 300, 2);
  EXPECT_EQ(recorder.released(), (std::vector<int>{1, 2}));
  expectPosesOfTheLookup(manager, recorder.out);
}

// Samples replaced at their own times between releases: each item blends the
// samples there at its release, bit for bit as the lookup does then.
TEST(TransformQueue, ReleasesBlendTheSamplesReplacedAtTheirTimes) {
  TransformManager manager;
  manager.setTransform("Lidar", "Body", makePose(V(0, 0, 1), 0.3f, V(1, 0, 0)), 0);
  Recorder recorder(manager);
  const struct {
    long time;  // of the sample replaced
    float angle;
  } replacements[] = {{1000, 0.5f}, {1000, 1.5f}, {100, -0.7f}, {1000, 2.5f}, {100, 0.2f}};
  navigation(manager, 100, 0);
  navigation(manager, 1000, 1);
  int item = 0;
  for (const auto& replaced : replacements) {
    manager.setTransform("Body", "G", makePose(V(1, 2, 0), replaced.angle, V(0, 1, 1)),
                         replaced.time);
    const long time = 200 + 100 * item;
    recorder.queue().push(item, "Lidar", time);
    ASSERT_EQ(recorder.released().size(), static_cast<std::size_t>(item + 1));
    Pose expected;
    ASSERT_EQ(manager.getTransform("Lidar", "G", time, kInter, expected),
              TransformManager::Success);
    EXPECT_TRUE(sameBits(recorder.out.back().pose, expected)) << item;
    ++item;
  }
}

// With the trace level on, a release writes the records of its item's lookup, and an
// item that waits writes none, also when the edges judged first cover its time. Without
// it, the same items leave with the same poses.
TEST(TransformQueue, ReleasesWriteTheRecordsOfTheirLookupAndWaitingItemsNone) {
  for (const bool traced : {true, false}) {
    TransformManager manager;
    navigation(manager, 100, 0);  // Body - G, judged first, blends at 150
    navigation(manager, 200, 1);
    manager.setTransform("Lidar", "Body", makePose(V(0, 0, 1), 0.2f, V(0, 0, 1)), 100);
    manager.setTransform("Lidar", "Body", makePose(V(0, 0, 1), 0.6f, V(0, 0, 1)), 300);
    // One sample before 150: Radar - Body does not cover it, and its span is not over.
    manager.setTransform("Radar", "Body", makePose(V(0, 1, 0), 0.1f, V(1, 0, 0)), 120);
    Recorder recorder(manager);
    LogCapture capture(traced ? Logger::TRACE_LEVEL : Logger::WARN_LEVEL);
    recorder.queue().push(1, "Radar", 150);
    recorder.queue().push(2, "Lidar", 150);
    ASSERT_EQ(recorder.released(), (std::vector<int>{2}));
    manager.setTransform("Radar", "Body", makePose(V(0, 1, 0), 0.3f, V(1, 0, 0)), 160);
    ASSERT_EQ(recorder.released(), (std::vector<int>{2, 1}));
    const std::vector<std::string> written = managerMessages(capture, Logger::TRACE_LEVEL);
    EXPECT_EQ(written.empty(), !traced);
    capture.clear();
    expectPosesOfTheLookup(manager, recorder.out);  // the lookups write their records again
    EXPECT_EQ(written, managerMessages(capture, Logger::TRACE_LEVEL));
  }
}

// Once each frame has its index entries and the queue its lists, the steady stream of
// the usual program (an item pushed ahead of navigation, released by the next sample)
// allocates nothing: not the push, not the registration, not the release.
TEST(TransformQueue, ReleasingAllocatesNothingInSteadyState) {
  TransformManager manager;
  static_cast<void>(
      manager.setHistoryWindow(50));  // registrations reuse the nodes that pruning frees
  manager.setTransform("Lidar", "Body", makePose(V(0, 0, 1)), 0);
  std::size_t released = 0;
  Queue queue(manager, "G", {},
              [&released](int, const std::string&, long, const Pose&) { ++released; });
  const auto step = [&](long time) {
    queue.push(1, "Lidar", time);
    navigation(manager, time, 0.01f * static_cast<float>(time));
  };
  for (long time = 10; time <= 1000; time += 10) step(time);
  const zelvane::testing::AllocationCounter counter;
  for (long time = 1010; time <= 3000; time += 10) step(time);
  EXPECT_EQ(counter.count(), 0);
  EXPECT_EQ(released, 300u);
}

TEST(TransformQueue, PollAndDrainCollectWithoutCallback) {
  TransformManager manager;
  navigation(manager, 0, 0);
  navigation(manager, 100, 1);
  Recorder recorder(manager, {}, false);
  Queue& queue = recorder.queue();
  queue.push(1, "Body", 100);
  queue.push(2, "Body", 300);
  queue.push(3, "Body", 400);
  EXPECT_EQ(queue.counts().pending, 3u);
  Queue::Released released;
  ASSERT_TRUE(queue.poll(released));
  EXPECT_EQ(released.item, 1);
  EXPECT_EQ(released.frame, "Body");
  EXPECT_FALSE(queue.poll(released));
  navigation(manager, 500, 5);
  std::vector<Queue::Released> drained = queue.drain();
  ASSERT_EQ(drained.size(), 2u);
  EXPECT_EQ(drained[0].item, 2);
  EXPECT_FLOAT_EQ(drained[1].pose.position.x(), 4.0f);
  const TransformQueueCounts counts = queue.counts();
  EXPECT_EQ(counts.released, 3u);
  EXPECT_EQ(counts.pending, 0u);
  Recorder::expectBalanced(counts);
}

// Each way out without a pose, with its reason and count.
TEST(TransformQueue, DropsWithTheirReasons) {
  struct Case {
    const char* name;
    TransformQueueOptions options;
    std::function<void(TransformManager&, Recorder&)> run;
    std::vector<int> dropped;
    Reason reason;
  };
  const std::vector<Case> cases = {
      {"full: the oldest goes",
       {3, std::numeric_limits<long>::max()},
       [](TransformManager&, Recorder& r) {
         for (int i = 1; i <= 5; ++i) r.queue().push(i, i % 2 ? "Body" : "Other", 1000 + i);
       },
       {1, 2},
       Reason::Full},
      {"older than the history",
       {},
       [](TransformManager& m, Recorder& r) {
         r.queue().push(1, "Body", 50);
         r.queue().push(2, "Body", 150);
         navigation(m, 200, 1);
       },
       {1},
       Reason::TooOld},
      {"older than the history, past an edge's single sample",
       {},
       [](TransformManager& m, Recorder& r) {
         // The single sample answers on past its time; the other edge begins later.
         m.setTransform("Rig", "G", makePose(V(0, 0, 1)), 100);
         m.setTransform("Cam", "Rig", makePose(V(1, 0, 0)), 500);
         m.setTransform("Cam", "Rig", makePose(V(2, 0, 0)), 600);
         r.queue().push(1, "Cam", 300);
       },
       {1},
       Reason::TooOld},
      {"overtaken",
       {10, 60},
       [](TransformManager&, Recorder& r) {
         for (int i = 1; i <= 4; ++i) r.queue().push(i, "Body", 1000 + 40 * i);
       },
       {1, 2},
       Reason::Overtaken},
      {"frame removed",
       {},
       [](TransformManager& m, Recorder& r) {
         m.setTransform("Lidar", "Body", makePose(V(0, 0, 1)), 0);
         r.queue().push(1, "Lidar", 1000);
         r.queue().push(2, "Body", 1000);
         static_cast<void>(m.removeFrame("Lidar"));
       },
       {1},
       Reason::FrameRemoved},
      {"target removed",
       {},
       [](TransformManager& m, Recorder& r) {
         r.queue().push(1, "Body", 1000);
         static_cast<void>(m.removeFrame("G"));
       },
       {1},
       Reason::FrameRemoved},
      {"left out of a loading",
       {},
       [](TransformManager& m, Recorder& r) {
         r.queue().push(1, "Body", 1000);
         static_cast<void>(m.loadTransforms(zelvane::SettingsManager()));
       },
       {1},
       Reason::FrameRemoved},
      {"cleared",
       {},
       [](TransformManager&, Recorder& r) {
         r.queue().push(1, "Body", 1000);
         r.queue().push(2, "Unknown", 5);
         r.queue().clear();
       },
       {1, 2},
       Reason::Cleared},
      {"destroyed",
       {},
       [](TransformManager&, Recorder& r) {
         r.queue().push(1, "Body", 1000);
         r.destroy();
       },
       {1},
       Reason::Destroyed},
  };
  for (const Case& c : cases) {
    TransformManager manager;
    navigation(manager, 100, 0);
    navigation(manager, 200, 1);
    Recorder recorder(manager, c.options);
    c.run(manager, recorder);
    EXPECT_EQ(recorder.dropped(), c.dropped) << c.name;
    for (const Out& o : recorder.out) {
      if (!o.released) {
        EXPECT_EQ(o.reason, c.reason) << c.name;
      }
    }
    if (c.reason != Reason::Destroyed) {
      const TransformQueueCounts counts = recorder.queue().counts();
      EXPECT_EQ(counts.droppedFor(c.reason), c.dropped.size()) << c.name;
      EXPECT_EQ(counts.droppedTotal(), c.dropped.size()) << c.name;
      Recorder::expectBalanced(counts);
    }
  }
}

// The queue's index of its frames' oldest items against an ordered set, under random
// pushes and erasures with many equal keys.
TEST(PlacedHeap, AgreesWithAnOrderedSet) {
  struct Owner {
    std::size_t place = zelvane::detail::NOWHERE;
  };
  using Heap = zelvane::detail::PlacedHeap<long, Owner, &Owner::place>;
  std::vector<Owner> owners(40);
  Heap heap;
  std::set<std::pair<long, Owner*>> model;
  std::mt19937 rng(7);
  for (int step = 0; step < 20000; ++step) {
    Owner& owner = owners[rng() % owners.size()];
    if (owner.place == zelvane::detail::NOWHERE) {
      const long key = static_cast<long>(rng() % 20);
      heap.push(key, &owner);
      model.emplace(key, &owner);
    } else {
      model.erase(std::find_if(model.begin(), model.end(),
                               [&](const auto& entry) { return entry.second == &owner; }));
      heap.erase(&owner);
    }
    ASSERT_EQ(heap.empty(), model.empty());
    if (!model.empty()) {
      ASSERT_EQ(std::make_pair(heap.topKey(), heap.topOwner()), *model.begin()) << step;
    }
    const long limit = static_cast<long>(rng() % 22) - 1;
    std::vector<Owner*> found;
    heap.collectUpTo(limit, found);
    std::vector<Owner*> expected;
    for (auto it = model.begin(); it != model.end() && it->first <= limit; ++it) {
      expected.push_back(it->second);
    }
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(found, expected) << step;
  }
}

// Data at 1 kHz, navigation at 100 Hz arriving 50 ms after its time, a bound of 200:
// items are released late but none is dropped (times in microseconds).
TEST(TransformQueue, LaggingNavigationDropsNothingWithinTheBound) {
  TransformManager manager;
  navigation(manager, -10000, 0);
  navigation(manager, 0, 0);
  Recorder recorder(manager, {200, std::numeric_limits<long>::max()});
  std::size_t most_pending = 0;
  long next_navigation = 10000;
  for (long now = 1000; now <= 2000000; now += 1000) {
    while (next_navigation + 50000 <= now) {
      navigation(manager, next_navigation, static_cast<float>(next_navigation) * 1e-6f);
      next_navigation += 10000;
    }
    recorder.queue().push(static_cast<int>(now / 1000), "Body", now);
    most_pending = std::max(most_pending, recorder.queue().counts().pending);
  }
  const TransformQueueCounts counts = recorder.queue().counts();
  EXPECT_EQ(counts.droppedTotal(), 0u);
  EXPECT_EQ(counts.released + counts.pending, 2000u);
  EXPECT_GT(most_pending, 50u);
  EXPECT_LE(most_pending, 200u);
  const std::vector<int> released = recorder.released();
  for (std::size_t i = 0; i < released.size(); ++i) EXPECT_EQ(released[i], static_cast<int>(i) + 1);
}

// A callback may push and look up; a wait from it is refused instead of hanging.
TEST(TransformQueue, CallbacksMayPushAndLookUpButNotWait) {
  TransformManager manager;
  navigation(manager, 100, 0);
  navigation(manager, 200, 1);
  std::vector<int> released;
  Result waited = TransformManager::Success;
  std::unique_ptr<Queue> queue;
  queue = std::make_unique<Queue>(
      manager, "G", TransformQueueOptions{},
      [&](int item, const std::string& frame, long time, const Pose&) {
        released.push_back(item);
        Pose pose;
        EXPECT_EQ(manager.getTransform(frame, "G", time, kInter, pose), TransformManager::Success);
        if (item < 3) queue->push(item + 1, frame, time + 100);
        waited =
            manager.waitForTransform(frame, "G", time + 1000, kInter, std::chrono::hours(1), pose);
      });
  queue->push(1, "Body", 150);
  navigation(manager, 400, 3);
  EXPECT_EQ(released, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(waited, TransformManager::Error);
}

}  // namespace
