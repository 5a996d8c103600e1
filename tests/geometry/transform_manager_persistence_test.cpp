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

using namespace zelvane::testing;
using zelvane::SettingsManager;

// "from>to" of every stored pair under "Transforms", and their poses.
Texts storedPairs(const SettingsManager& settings, std::vector<Pose>* poses = nullptr) {
  SettingsManager store(settings);
  store.pathPush("Transforms");
  Texts pairs;
  for (int i = 0; i < store.getChildCount("Transform"); ++i) {
    store.pathPush("Transform", i, nullptr);
    pairs.push_back(store.get<std::string>("fromFrameName") + ">" +
                    store.get<std::string>("toFrameName"));
    if (poses != nullptr) poses->push_back(zelvane::getPose(store));
    store.pathPop();
  }
  return pairs;
}

void writePair(SettingsManager& settings, int index, const std::string& from, const std::string& to,
               const Pose& pose) {
  settings.pathPush(TRANSFORMS_TAG);
  settings.pathPush(TRANSFORM_TAG, index, nullptr);
  TransformManager().storeTransform(from, to, pose, settings);
  settings.pathPop();
  settings.pathPop();
}

TEST(TransformManagerStore, EachEdgeIsWrittenOnceFromItsLaterFrameInFrameOrder) {
  TransformManager manager;  // frames A, B, C, D, E; E joins A's and C's trees
  const Pose a_in_b = makePose(V(1, 2, 3), 0.7f, V(0, 1, 1));
  manager.setTransform("A", "B", a_in_b, 0);
  manager.setTransform("C", "D", makePose(V(0, 1, 0)), 0);
  manager.setTransform("E", "D", makePose(V(0, 0, 1)), 0);
  manager.setTransform("A", "E", makePose(V(1, 1, 0)), 100);
  manager.setTransform("A", "E", makePose(V(2, 1, 0)), 200);  // the newest sample is stored
  SettingsManager settings;
  settings.pathPush("Robot");
  ASSERT_EQ(manager.storeTransforms(settings, true), TransformManager::Success);
  EXPECT_EQ(settings.currentPath(), "Robot");
  std::vector<Pose> poses;
  ASSERT_EQ(storedPairs(settings, &poses), (Texts{"B>A", "D>C", "E>A", "E>D"}));
  EXPECT_TRUE(samePose(poses[0], a_in_b.toInversePose()));  // registered the other way
  EXPECT_TRUE(samePose(poses[2], makePose(V(2, 1, 0)).toInversePose()));
  EXPECT_TRUE(samePose(poses[3], makePose(V(0, 0, 1))));  // registered this way

  Texts keys;  // the layout of one stored pair
  settings.pathPush("Transforms");
  settings.pathPush("Transform");
  for (const auto& child : settings.currentNode()) keys.push_back(child.first);
  EXPECT_EQ(keys, (Texts{"fromFrameName", "toFrameName", "Position", "orientationMethod",
                         "Quaternion", "EulerYPR"}));
}

TEST(TransformManagerStore, ClearDecidesWhetherOlderChildrenStay) {
  TransformManager manager;
  manager.setTransform("A", "B", makePose(V(1, 0, 0)), 0);
  for (const bool clear : {true, false}) {
    SettingsManager settings;
    for (int i = 0; i < 3; ++i) writePair(settings, i, "X" + std::to_string(i), "Y", Pose());
    ASSERT_EQ(manager.storeTransforms(settings, clear), TransformManager::Success);
    const Texts expected = clear ? Texts{"B>A"} : Texts{"B>A", "X1>Y", "X2>Y"};
    EXPECT_EQ(storedPairs(settings), expected);
    // Without frames nothing is written, not even the clearing.
    EXPECT_EQ(TransformManager().storeTransforms(settings, true), TransformManager::NotFound);
    EXPECT_EQ(storedPairs(settings), expected);
  }
}

// Through a settings file, names with blanks around them included.
TEST(TransformManagerLoad, RecreatesFramesInStoredOrderWithTheSameLookupsAllStatic) {
  TransformManager original;
  original.setTransform(" cam ", "body\t", makePose(V(1, 2, 3), 0.4f, V(1, 0, 0)), 0);
  original.setTransform("body\t", " ", makePose(V(0, -1, 2), -1.3f, V(0, 1, 1)), 100);
  SettingsManager settings;
  ASSERT_EQ(original.storeTransforms(settings, true), TransformManager::Success);
  ScratchDir dir;
  settings.saveXML(dir.path("graph.xml"));
  SettingsManager read;
  read.addXML(dir.path("graph.xml"));
  TransformManager loaded;
  ASSERT_EQ(loaded.loadTransforms(read), TransformManager::Success);
  EXPECT_EQ(loaded.getFrames(), (Texts{"body\t", " cam ", " "}));
  for (const std::string from : {" cam ", "body\t", " "}) {
    for (const std::string to : {" cam ", "body\t", " "}) {
      Pose expected, actual;
      static_cast<void>(original.getTransform(from, to, expected));
      ASSERT_EQ(loaded.getTransform(from, to, 5, kInter, actual), TransformManager::Success);
      EXPECT_TRUE(samePose(actual, expected)) << from << " " << to;
    }
  }
}

TEST(TransformManagerLoad, ReplacesEverythingRefusingAndStillLoggingPairsThatCloseACycle) {
  SettingsManager settings;
  settings.pathPush("Robot");
  writePair(settings, 0, "A", "B", makePose(V(1, 0, 0)));
  writePair(settings, 1, "B", "C", makePose(V(0, 1, 0)));
  writePair(settings, 2, "C", "A", makePose(V(0, 0, 1)));
  TransformManager manager;
  manager.setTransform("Old", "Older", makePose(V(1, 0, 0)), 0);
  manager.setOrigin("home", "Old", Pose());
  LogCapture capture;
  ASSERT_EQ(manager.loadTransforms(settings), TransformManager::Success);
  EXPECT_EQ(settings.currentPath(), "Robot");
  EXPECT_EQ(managerMessages(capture, Logger::WARN_LEVEL), (Texts{cycleWarning("C", "A")}));
  EXPECT_EQ(managerMessages(capture, Logger::DEBUG_LEVEL),
            (Texts{"Loaded transform from A to B", "Loaded transform from B to C",
                   "Loaded transform from C to A"}));
  EXPECT_EQ(manager.getFrames(), (Texts{"A", "B", "C"}));
  std::string frame;
  Pose pose;
  EXPECT_FALSE(manager.getOrigin("home", frame, pose));

  manager.setOrigin("home", "A", Pose());  // nothing stored: empty, origins too
  EXPECT_EQ(manager.loadTransforms(SettingsManager()), TransformManager::Success);
  EXPECT_TRUE(manager.getFrames().empty());
  EXPECT_FALSE(manager.getOrigin("home", frame, pose));
}

TEST(TransformManagerLoad, BadStoredPairThrowsItsKeyPathAndLeavesTheManagerAsItWas) {
  const struct {
    std::function<void(SettingsManager&)> spoil;
    std::string message;
  } spoils[] = {
      {[](SettingsManager& s) { s.deletePath("toFrameName"); },
       "No such node (Transforms.Transform[1].toFrameName)"},
      {[](SettingsManager& s) { s.deletePath("Position.y"); },
       "No such node (Transforms.Transform[1].Position.y)"},
      {[](SettingsManager& s) { s.set<std::string>("Position.x", "east"); },
       "Bad value (Transforms.Transform[1].Position.x): 'east' is not a number"},
  };
  for (const auto& [spoil, message] : spoils) {
    SCOPED_TRACE(message);
    SettingsManager settings;
    for (int i = 0; i < 3; ++i) writePair(settings, i, "P" + std::to_string(i), "Q", Pose());
    settings.pathPush("Transforms");
    settings.pathPush("Transform", 1, nullptr);
    spoil(settings);
    settings.pathPop();
    settings.pathPop();

    TransformManager manager;
    manager.setTransform("A", "B", makePose(V(1, 0, 0)), 100);
    manager.setTransform("A", "B", makePose(V(2, 0, 0)), 200);
    manager.setOrigin("home", "A", Pose());
    try {
      static_cast<void>(manager.loadTransforms(settings));
      ADD_FAILURE() << "no exception";
    } catch (const boost::property_tree::ptree_error& error) {
      EXPECT_EQ(error.what(), message);
    }
    EXPECT_EQ(manager.getFrames(), (Texts{"A", "B"}));
    Pose pose;
    ASSERT_EQ(manager.getTransform("A", "B", 150, kInter, pose), TransformManager::Success);
    EXPECT_FLOAT_EQ(pose.position.x(), 1.5f);
    std::string frame;
    EXPECT_TRUE(manager.getOrigin("home", frame, pose));
  }
}

}  // namespace
