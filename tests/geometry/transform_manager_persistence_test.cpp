// Storing the frame graph in the settings store and loading it back.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/property_tree/exceptions.hpp>

#include "geometry/transform_manager.h"
#include "geometry/transform_manager_support.h"
#include "settings_manager.h"

namespace {

using zelvane::Pose;
using zelvane::SettingsManager;
using zelvane::TransformManager;
using zelvane::testing::cycleWarning;
using zelvane::testing::LogCapture;
using zelvane::testing::makePose;
using zelvane::testing::managerMessages;
using zelvane::testing::samePose;
using zelvane::testing::ScratchDir;
using Texts = std::vector<std::string>;
namespace pt = boost::property_tree;

struct StoredPair {
  std::string from;
  std::string to;
  Pose pose;
};

// The "Transform" children under "Transforms" at the store's current node.
std::vector<StoredPair> storedPairs(const SettingsManager& settings) {
  SettingsManager store(settings);
  store.pathPush(TRANSFORMS_TAG);
  std::vector<StoredPair> pairs;
  for (int i = 0; i < store.getChildCount(TRANSFORM_TAG); ++i) {
    store.pathPush(TRANSFORM_TAG, i, nullptr);
    pairs.push_back(StoredPair{store.get<std::string>(FROM_FRAME_TAG),
                               store.get<std::string>(TO_FRAME_TAG), zelvane::getPose(store)});
    store.pathPop();
  }
  return pairs;
}

Texts fromTo(const std::vector<StoredPair>& pairs) {
  Texts names;
  for (const StoredPair& pair : pairs) names.push_back(pair.from + ">" + pair.to);
  return names;
}

// Stores one pair the way a settings file would carry it.
void writePair(SettingsManager& settings, int index, const std::string& from, const std::string& to,
               const Pose& pose) {
  settings.pathPush(TRANSFORMS_TAG);
  settings.pathPush(TRANSFORM_TAG, index, nullptr);
  TransformManager().storeTransform(from, to, pose, settings);
  settings.pathPop();
  settings.pathPop();
}

// --- Storing -----------------------------------------------------------------

TEST(TransformManagerStore, PairIsWrittenFromTheLaterFrameWithThePoseForThatDirection) {
  TransformManager manager;
  const Pose p = makePose({1, 2, 3}, {0, 1, 1}, 0.7f);
  manager.setTransform("A", "B", p, 0);
  SettingsManager settings;
  ASSERT_EQ(manager.storeTransforms(settings, true), TransformManager::Success);
  const std::vector<StoredPair> pairs = storedPairs(settings);
  ASSERT_EQ(fromTo(pairs), (Texts{"B>A"}));
  EXPECT_TRUE(samePose(pairs[0].pose, p.toInversePose()));
  EXPECT_EQ(settings.currentPath(), "");
}

TEST(TransformManagerStore, PairsComeInOrderOfTheLaterFrameThenOfTheEarlier) {
  TransformManager chain;
  chain.setTransform("A", "B", makePose(1, 0, 0), 0);
  chain.setTransform("B", "C", makePose(0, 1, 0), 0);
  SettingsManager settings;
  chain.storeTransforms(settings, true);
  EXPECT_EQ(fromTo(storedPairs(settings)), (Texts{"B>A", "C>B"}));

  TransformManager forest;  // frames A, B, C, D, E; E joins A's and C's trees
  forest.setTransform("A", "B", makePose(1, 0, 0), 0);
  forest.setTransform("C", "D", makePose(0, 1, 0), 0);
  forest.setTransform("E", "D", makePose(0, 0, 1), 0);
  forest.setTransform("E", "A", makePose(1, 1, 0), 0);
  SettingsManager other;
  forest.storeTransforms(other, true);
  EXPECT_EQ(fromTo(storedPairs(other)), (Texts{"B>A", "D>C", "E>A", "E>D"}));
}

TEST(TransformManagerStore, PairKeysAreWrittenInLayoutOrder) {
  SettingsManager settings;
  TransformManager().storeTransform("S", "B", makePose(1, 2, 3, 0.5f), settings);
  Texts keys;
  for (const auto& child : settings.currentNode()) keys.push_back(child.first);
  EXPECT_EQ(keys, (Texts{"fromFrameName", "toFrameName", "Position", "orientationMethod",
                         "Quaternion", "EulerYPR"}));
  EXPECT_EQ(settings.get<std::string>("fromFrameName"), "S");
  EXPECT_EQ(settings.get<std::string>("toFrameName"), "B");
  EXPECT_TRUE(samePose(zelvane::getPose(settings), makePose(1, 2, 3, 0.5f)));
}

TEST(TransformManagerStore, TimeStampedPairIsStoredWithItsNewestSampleAndLoadsStatic) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 100);
  manager.setTransform("A", "B", makePose(2, 0, 0), 200);
  SettingsManager settings;
  manager.storeTransforms(settings, true);
  const std::vector<StoredPair> pairs = storedPairs(settings);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_TRUE(samePose(pairs[0].pose, makePose(2, 0, 0).toInversePose()));

  TransformManager loaded;
  ASSERT_EQ(loaded.loadTransforms(settings), TransformManager::Success);
  Pose pose;
  ASSERT_EQ(loaded.getTransform("A", "B", 50, TransformManager::Interpolated, pose),
            TransformManager::Success);
  EXPECT_TRUE(samePose(pose, makePose(2, 0, 0)));
}

TEST(TransformManagerStore, ClearDecidesWhetherOlderChildrenStay) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(1, 0, 0), 0);
  for (const bool clear : {true, false}) {
    SettingsManager settings;
    for (int i = 0; i < 3; ++i)
      writePair(settings, i, "X" + std::to_string(i), "Y", makePose(0, 0, 0));
    ASSERT_EQ(manager.storeTransforms(settings, clear), TransformManager::Success);
    const Texts expected = clear ? Texts{"B>A"} : Texts{"B>A", "X1>Y", "X2>Y"};
    EXPECT_EQ(fromTo(storedPairs(settings)), expected);
  }
}

TEST(TransformManagerStore, ManagerWithoutFramesIsNotFoundAndTouchesNothing) {
  SettingsManager settings;
  writePair(settings, 0, "X", "Y", makePose(1, 0, 0));
  TransformManager empty;
  EXPECT_EQ(empty.storeTransforms(settings, true), TransformManager::NotFound);
  EXPECT_EQ(fromTo(storedPairs(settings)), (Texts{"X>Y"}));
  SettingsManager untouched;
  EXPECT_EQ(empty.storeTransforms(untouched, false), TransformManager::NotFound);
  EXPECT_FALSE(untouched.exists(TRANSFORMS_TAG));
}

// --- Loading -----------------------------------------------------------------

TEST(TransformManagerLoad, RecreatesFramesInStoredOrderWithTheSameLookups) {
  TransformManager original;
  original.setTransform("A", "B", makePose({1, 2, 3}, {1, 0, 0}, 0.4f), 0);
  original.setTransform("B", "C", makePose({0, -1, 2}, {0, 1, 1}, -1.3f), 0);
  SettingsManager settings;
  original.storeTransforms(settings, true);

  TransformManager loaded;
  ASSERT_EQ(loaded.loadTransforms(settings), TransformManager::Success);
  EXPECT_EQ(loaded.getFrames(), (Texts{"B", "A", "C"}));
  for (const std::string from : {"A", "B", "C"}) {
    for (const std::string to : {"A", "B", "C"}) {
      Pose expected, actual;
      original.getTransform(from, to, expected);
      ASSERT_EQ(loaded.getTransform(from, to, actual), TransformManager::Success);
      EXPECT_TRUE(samePose(actual, expected)) << from << " " << to;
    }
  }
}

TEST(TransformManagerLoad, SurvivesTheRoundTripThroughASettingsFile) {
  TransformManager original;
  original.setTransform("Sensor", "Body", makePose({0.5f, 0, 1.2f}, {0, 1, 0}, 0.1f), 0);
  original.setTransform("Body", "Global", makePose({100, 200, 0}, {0, 0, 1}, 2.0f), 0);
  SettingsManager settings;
  original.storeTransforms(settings, true);
  ScratchDir dir;
  settings.saveXML(dir.path("frames.xml"));

  SettingsManager read;
  read.addXML(dir.path("frames.xml"));
  TransformManager loaded;
  ASSERT_EQ(loaded.loadTransforms(read), TransformManager::Success);
  Pose expected, actual;
  original.getTransform("Sensor", "Global", expected);
  ASSERT_EQ(loaded.getTransform("Sensor", "Global", actual), TransformManager::Success);
  EXPECT_TRUE(samePose(actual, expected, 1e-3f));
}

TEST(TransformManagerLoad, PairClosingACycleIsRefusedAndStillLogged) {
  SettingsManager settings;
  writePair(settings, 0, "A", "B", makePose(1, 0, 0));
  writePair(settings, 1, "B", "C", makePose(0, 1, 0));
  writePair(settings, 2, "C", "A", makePose(0, 0, 1));
  TransformManager manager;
  LogCapture capture;
  ASSERT_EQ(manager.loadTransforms(settings), TransformManager::Success);
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL), (Texts{cycleWarning("C", "A")}));
  EXPECT_EQ(managerMessages(capture, Logger::DEBUG_LEVEL),
            (Texts{"Loaded transform from A to B", "Loaded transform from B to C",
                   "Loaded transform from C to A"}));
  Pose pose;
  ASSERT_EQ(manager.getTransform("A", "C", pose), TransformManager::Success);
  EXPECT_TRUE(samePose(pose, makePose(1, 1, 0)));
}

TEST(TransformManagerLoad, ReplacesFramesAndOriginsEvenWithNothingStored) {
  TransformManager manager;
  manager.setTransform("Old", "Older", makePose(1, 0, 0), 0);
  manager.setOrigin("home", "Old", makePose(1, 0, 0));

  SettingsManager nothing;
  EXPECT_EQ(manager.loadTransforms(nothing), TransformManager::Success);
  EXPECT_TRUE(manager.getFrames().empty());
  std::string frame;
  Pose pose;
  EXPECT_FALSE(manager.getOrigin("home", frame, pose));

  manager.setTransform("Old", "Older", makePose(1, 0, 0), 0);
  manager.setOrigin("home", "Old", makePose(1, 0, 0));
  SettingsManager settings;
  writePair(settings, 0, "New", "Newer", makePose(0, 1, 0));
  EXPECT_EQ(manager.loadTransforms(settings), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Texts{"New", "Newer"}));
  EXPECT_FALSE(manager.getOrigin("home", frame, pose));
}

TEST(TransformManagerLoad, ReadsAtTheCurrentNodeAndLeavesTheCallersPath) {
  SettingsManager settings;
  settings.pathPush("Robot");
  writePair(settings, 0, "A", "B", makePose(1, 0, 0));
  TransformManager manager;
  ASSERT_EQ(manager.loadTransforms(settings), TransformManager::Success);
  EXPECT_EQ(manager.getFrames(), (Texts{"A", "B"}));
  EXPECT_EQ(settings.currentPath(), "Robot");
  ASSERT_EQ(manager.storeTransforms(settings, true), TransformManager::Success);
  EXPECT_EQ(settings.currentPath(), "Robot");
  EXPECT_TRUE(settings.exists("Transforms.Transform.fromFrameName"));
}

TEST(TransformManagerLoad, BadStoredPairThrowsAndLeavesTheManagerAsItWas) {
  const auto spoilSecond = [](const std::function<void(SettingsManager&)>& spoil) {
    SettingsManager settings;
    writePair(settings, 0, "P", "Q", makePose(1, 0, 0));
    writePair(settings, 1, "Q", "R", makePose(0, 1, 0));
    writePair(settings, 2, "R", "S", makePose(0, 0, 1));
    settings.pathPush(TRANSFORMS_TAG);
    settings.pathPush(TRANSFORM_TAG, 1, nullptr);
    spoil(settings);
    settings.pathPop();
    settings.pathPop();
    return settings;
  };
  const std::vector<std::pair<std::string, std::function<void(SettingsManager&)>>> spoils = {
      {"missing toFrameName", [](SettingsManager& s) { s.deletePath(TO_FRAME_TAG); }},
      {"missing position", [](SettingsManager& s) { s.deletePath("Position"); }},
      {"text for a number", [](SettingsManager& s) { s.set<std::string>("Position.x", "east"); }},
  };
  for (const auto& [what, spoil] : spoils) {
    SCOPED_TRACE(what);
    TransformManager manager;
    manager.setTransform("A", "B", makePose(1, 0, 0, 0.2f), 100);
    manager.setTransform("A", "B", makePose(2, 0, 0, 0.3f), 200);
    manager.setOrigin("home", "A", makePose(5, 0, 0));
    const SettingsManager settings = spoilSecond(spoil);
    EXPECT_THROW(manager.loadTransforms(settings), pt::ptree_error);
    EXPECT_EQ(manager.getFrames(), (Texts{"A", "B"}));
    Pose pose;
    ASSERT_EQ(manager.getTransform("A", "B", 150, TransformManager::Interpolated, pose),
              TransformManager::Success);
    EXPECT_FLOAT_EQ(pose.position.x(), 1.5f);
    std::string frame;
    EXPECT_TRUE(manager.getOrigin("home", frame, pose));
    EXPECT_EQ(settings.currentPath(), "");
  }
}

}  // namespace
