// Frame removal with re-attachment, origins, and the exception signal. This program
// replaces the global allocation functions so that a test can make the n-th
// allocation fail and see what `removeFrame` leaves behind.
#include <atomic>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// Allocations left before one fails; negative when no failure is armed.
std::atomic<long> allocations_before_failure{-1};

// Arms a failure of the n-th allocation from now for the guard's lifetime.
// Boost's add_vertex for a graph with listed vertices loses the vertex record it has
// just allocated when linking it into the list fails; that leak is the library's,
// not the manager's, so the leak checker ignores what is allocated while armed.
class FailingAllocation {
 public:
  explicit FailingAllocation(long n) {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_disable();
#endif
    allocations_before_failure = n;
  }
  ~FailingAllocation() {
    allocations_before_failure = -1;
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
  }
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
};

}  // namespace

// GCC pairs the calls of new and delete expressions with these definitions and
// takes the free() below for a mismatch; it is the matching release of the malloc().
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (allocations_before_failure.load() >= 0 && allocations_before_failure.fetch_sub(1) == 0) {
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace {

using zelvane::Pose;
using zelvane::TransformManager;
using zelvane::testing::LogCapture;
using zelvane::testing::makePose;
using zelvane::testing::managerMessages;
using zelvane::testing::samePose;
using Frames = std::vector<std::string>;

Pose lookup(TransformManager& manager, const std::string& from, const std::string& to) {
  Pose pose;
  EXPECT_EQ(manager.getTransform(from, to, pose), TransformManager::Success) << from << " " << to;
  return pose;
}

// Everything a caller can see of a manager: its frames and every lookup between
// them, newest and interpolated.
struct Snapshot {
  Frames frames;
  std::vector<TransformManager::TransformResult> results;
  std::vector<Pose> poses;

  static Snapshot of(TransformManager& manager, long time) {
    Snapshot snapshot;
    snapshot.frames = manager.getFrames();
    for (const std::string& from : snapshot.frames) {
      for (const std::string& to : snapshot.frames) {
        for (const auto method : {TransformManager::MostRecent, TransformManager::Interpolated}) {
          Pose pose;
          snapshot.results.push_back(manager.getTransform(from, to, time, method, pose));
          snapshot.poses.push_back(pose);
        }
      }
    }
    return snapshot;
  }

  void expectEqual(const Snapshot& other) const {
    ASSERT_EQ(frames, other.frames);
    ASSERT_EQ(results, other.results);
    for (std::size_t i = 0; i < poses.size(); ++i) {
      EXPECT_TRUE(samePose(poses[i], other.poses[i], 0.0f)) << i;
      EXPECT_EQ(poses[i].timestamp, other.poses[i].timestamp) << i;
    }
  }
};

TEST(TransformManagerRemoval, UnknownFrameIsNotFoundAndChangesNothing) {
  TransformManager empty;
  EXPECT_EQ(empty.removeFrame("A"), TransformManager::NotFound);
  EXPECT_TRUE(empty.getFrames().empty());

  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  const Snapshot before = Snapshot::of(manager, 0);
  EXPECT_EQ(manager.removeFrame("Q"), TransformManager::NotFound);
  Snapshot::of(manager, 0).expectEqual(before);
}

TEST(TransformManagerRemoval, MiddleOfChainLeavesOneStaticTransformBetweenItsNeighbours) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0, 0.3f), 100);
  manager.setTransform("A", "B", makePose(2, 0, 0, 0.4f), 200);
  manager.setTransform("B", "C", makePose(0, 1, 0, -0.2f), 150);
  const Pose a_in_c = lookup(manager, "A", "C");

  ASSERT_EQ(manager.removeFrame("B"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "C"}));
  EXPECT_FALSE(manager.indirectConnectionExists("A", "C"));
  // One static entry: it answers every time and method, stamped like the lookup.
  for (const long time : {0L, 50L, 175L, 1000000L}) {
    Pose pose;
    ASSERT_EQ(manager.getTransform("A", "C", time, TransformManager::Interpolated, pose),
              TransformManager::Success)
        << time;
    EXPECT_TRUE(samePose(pose, a_in_c));
  }
  EXPECT_EQ(lookup(manager, "A", "C").timestamp, 200);
}

TEST(TransformManagerRemoval, StarKeepsFirstNeighbourAndReattachesTheOthersToIt) {
  TransformManager manager;
  manager.setTransform("B", "A", makePose(1, 0, 0, 0.1f), 0);
  manager.setTransform("B", "C", makePose(0, 1, 0, 0.2f), 0);
  manager.setTransform("B", "D", makePose(0, 0, 1, 0.3f), 0);
  manager.setTransform("E", "D", makePose(1, 1, 0, 0.4f), 0);
  const Pose c_in_a = lookup(manager, "C", "A");
  const Pose d_in_c = lookup(manager, "D", "C");
  const Pose e_in_a = lookup(manager, "E", "A");

  ASSERT_EQ(manager.removeFrame("B"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "C", "D", "E"}));
  EXPECT_FALSE(manager.indirectConnectionExists("A", "C"));  // re-attached to the anchor A
  EXPECT_FALSE(manager.indirectConnectionExists("A", "D"));
  EXPECT_TRUE(manager.indirectConnectionExists("C", "D"));
  EXPECT_TRUE(samePose(lookup(manager, "C", "A"), c_in_a));
  EXPECT_TRUE(samePose(lookup(manager, "D", "C"), d_in_c));
  EXPECT_TRUE(samePose(lookup(manager, "E", "A"), e_in_a));
}

TEST(TransformManagerRemoval, LeafGoesWithoutTouchingTheRestOfTheTree) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  manager.setTransform("B", "C", makePose(0, 10, 0), 100);
  manager.setTransform("B", "C", makePose(0, 20, 0), 200);
  ASSERT_EQ(manager.removeFrame("A"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Frames{"B", "C"}));
  Pose pose;
  ASSERT_EQ(manager.getTransform("B", "C", 150, TransformManager::Interpolated, pose),
            TransformManager::Success);
  EXPECT_FLOAT_EQ(pose.position.y(), 15.0f);
  EXPECT_EQ(manager.getTransform("B", "C", 50, TransformManager::Interpolated, pose),
            TransformManager::OutOfRange);

  // Frames after the removed one moved down; new frames are appended after them.
  manager.setTransform("D", "C", makePose(0, 0, 1), 0);
  EXPECT_EQ(manager.getFrames(), (Frames{"B", "C", "D"}));
  EXPECT_TRUE(manager.indirectConnectionExists("B", "D"));
}

TEST(TransformManagerRemoval, OnlyNeighbourWithoutOtherEdgesStaysAsLoneFrame) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  manager.setTransform("C", "D", makePose(0, 1, 0), 0);
  ASSERT_EQ(manager.removeFrame("A"), TransformManager::Success);
  EXPECT_TRUE(manager.hasFrame("B"));
  Pose pose;
  EXPECT_EQ(manager.getTransform("B", "C", pose), TransformManager::NotFound);
  EXPECT_EQ(manager.getTransform("D", "B", pose), TransformManager::NotFound);
}

TEST(TransformManagerRemoval, NeighbourWithEmptyNameCanBeTheAnchor) {
  TransformManager manager;
  manager.setTransform("", "B", makePose(1, 0, 0), 0);
  manager.setTransform("C", "B", makePose(0, 1, 0), 0);
  manager.setTransform("D", "B", makePose(0, 0, 1), 0);
  const Pose c_in_empty = lookup(manager, "C", "");
  const Pose d_in_c = lookup(manager, "D", "C");
  ASSERT_EQ(manager.removeFrame("B"), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Frames{"", "C", "D"}));
  EXPECT_TRUE(samePose(lookup(manager, "C", ""), c_in_empty));
  EXPECT_TRUE(samePose(lookup(manager, "D", "C"), d_in_c));
}

TEST(TransformManagerRemoval, OriginsSurviveRemovalOfTheirFrame) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  manager.setOrigin("home", "A", makePose(3, 2, 1));
  ASSERT_EQ(manager.removeFrame("A"), TransformManager::Success);
  std::string frame;
  Pose pose;
  ASSERT_TRUE(manager.getOrigin("home", frame, pose));
  EXPECT_EQ(frame, "A");
  EXPECT_TRUE(samePose(pose, makePose(3, 2, 1)));
}

// --- Origins -------------------------------------------------------------------

TEST(TransformManagerOrigins, SecondSetReplacesBothFields) {
  TransformManager manager;
  manager.setOrigin("home", "A", makePose(1, 0, 0));
  manager.setOrigin("home", "B", makePose(0, 2, 0, 0.5f, 42));
  std::string frame;
  Pose pose;
  ASSERT_TRUE(manager.getOrigin("home", frame, pose));
  EXPECT_EQ(frame, "B");
  EXPECT_TRUE(samePose(pose, makePose(0, 2, 0, 0.5f)));
  EXPECT_EQ(pose.timestamp, 42);
}

TEST(TransformManagerOrigins, UnknownOriginLeavesOutputsAlone) {
  TransformManager manager;
  manager.setOrigin("home", "A", makePose(1, 0, 0));
  std::string frame = "untouched";
  Pose pose = makePose(7, 7, 7);
  EXPECT_FALSE(manager.getOrigin("away", frame, pose));
  EXPECT_EQ(frame, "untouched");
  EXPECT_TRUE(samePose(pose, makePose(7, 7, 7), 0.0f));
}

// --- Exceptions during removal -------------------------------------------------

TEST(TransformManagerRemovalFailure, AnyFailedAllocationLeavesManagerAsItWasAndIsSignalled) {
  // A tree where removing B re-attaches two neighbours and keeps a history elsewhere.
  const auto build = [](TransformManager& manager) {
    manager.setTransform("A", "B", makePose(1, 0, 0, 0.1f), 0);
    manager.setTransform("C", "B", makePose(0, 1, 0, 0.2f), 0);
    manager.setTransform("D", "B", makePose(0, 0, 1, 0.3f), 100);
    manager.setTransform("D", "B", makePose(0, 0, 2, 0.4f), 200);
    manager.setTransform("E", "A", makePose(2, 0, 0, 0.5f), 100);
    manager.setTransform("E", "A", makePose(3, 0, 0, 0.6f), 200);
  };
  TransformManager manager;
  build(manager);
  TransformManager reference;
  build(reference);
  ASSERT_EQ(reference.removeFrame("B"), TransformManager::Success);

  std::vector<std::string> caught;
  const zelvane::tkit::Connection connection =
      manager.connectionException([&caught](std::exception_ptr error) {
        try {
          std::rethrow_exception(error);
        } catch (const std::bad_alloc& e) {
          caught.push_back(e.what());
        }
      });
  const Snapshot before = Snapshot::of(manager, 150);

  int failures = 0;
  for (long n = 0;; ++n) {
    LogCapture capture;
    TransformManager::TransformResult result;
    {
      FailingAllocation failing(n);
      result = manager.removeFrame("B");
    }
    if (result == TransformManager::Success) break;
    ASSERT_EQ(result, TransformManager::Error) << n;
    ++failures;
    ASSERT_EQ(caught.size(), static_cast<std::size_t>(failures)) << n;
    EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL),
              (Frames{"Exception caught in TransformManager::removeFrame:" + caught.back()}));
    Snapshot::of(manager, 150).expectEqual(before);
    ASSERT_LT(n, 100000) << "removal never succeeded";
  }
  EXPECT_GT(failures, 10);
  EXPECT_EQ(caught.size(), static_cast<std::size_t>(failures));  // not on success
  Snapshot::of(manager, 150).expectEqual(Snapshot::of(reference, 150));

  EXPECT_EQ(manager.removeFrame("B"), TransformManager::NotFound);
  EXPECT_EQ(caught.size(), static_cast<std::size_t>(failures));
}

TEST(TransformManagerRemovalFailure, DisconnectedSlotIsNotCalled) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  manager.setTransform("C", "B", makePose(0, 1, 0), 0);
  int calls = 0;
  zelvane::tkit::Connection connection =
      manager.connectionException([&calls](std::exception_ptr) { ++calls; });
  connection.disconnect();
  TransformManager::TransformResult result;
  {
    FailingAllocation failing(0);
    result = manager.removeFrame("B");
  }
  EXPECT_EQ(result, TransformManager::Error);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(manager.getFrames(), (Frames{"A", "B", "C"}));
}

}  // namespace
