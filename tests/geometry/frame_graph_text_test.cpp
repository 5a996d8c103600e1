// The frame graph in words: the names of codes and methods, the closest frame name and
// the explanations of failed lookups. (The tree printers are checked byte for byte
// through zelvane_frames --tree/--dot.)
#include "geometry/frame_graph_text.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::HasSubstr;
using zelvane::Pose;
using zelvane::TransformManager;

TEST(FrameGraphNames, EveryCodeAndMethodHasOneNameThatReadsBack) {
  EXPECT_STREQ(TransformManager::resultName(TransformManager::Success), "Success");
  EXPECT_STREQ(TransformManager::resultName(TransformManager::NoFrames), "NoFrames");
  EXPECT_STREQ(TransformManager::resultName(TransformManager::NotFound), "NotFound");
  EXPECT_STREQ(TransformManager::resultName(TransformManager::OutOfRange), "OutOfRange");
  EXPECT_STREQ(TransformManager::resultName(TransformManager::Error), "Error");
  EXPECT_STREQ(TransformManager::resultName(static_cast<TransformManager::TransformResult>(4)),
               "Unknown");
  for (const auto method : {TransformManager::MostRecent, TransformManager::Extrapolated,
                            TransformManager::Interpolated}) {
    auto parsed = static_cast<TransformManager::InterpolationMethod>(-1);
    ASSERT_TRUE(TransformManager::parseMethodName(TransformManager::methodName(method), parsed));
    EXPECT_EQ(parsed, method);
  }
  auto parsed = TransformManager::Interpolated;
  EXPECT_TRUE(TransformManager::parseMethodName("mostrecent", parsed));  // the old spelling
  EXPECT_EQ(parsed, TransformManager::MostRecent);
  for (const char* other : {"", "MostRecent", "Interpolated", "nearest", "most_recent "}) {
    parsed = TransformManager::Extrapolated;
    EXPECT_FALSE(TransformManager::parseMethodName(other, parsed)) << other;
    EXPECT_EQ(parsed, TransformManager::Extrapolated);
  }
}

TEST(FrameGraphText, ClosestFrameNameWeighsCaseBelowEdits) {
  const std::vector<std::string> frames = {"Body", "Sensor", "Global", "sensor_2", "Lidar"};
  const struct {
    const char* name;
    const char* closest;
  } cases[] = {
      {"sensor", "Sensor"}, {"SENSOR", "Sensor"}, {"Sensr", "Sensor"}, {"sensor_3", "sensor_2"},
      {"body", "Body"},     {"Glob", "Global"},   {"lidar", "Lidar"},  {"Bodies", "Body"},
  };
  for (const auto& c : cases) EXPECT_EQ(zelvane::closestFrameName(frames, c.name), c.closest);
  EXPECT_EQ(zelvane::closestFrameName({}, "Body"), "");
  EXPECT_EQ(zelvane::closestFrameName({"B", "A"}, "C"), "B");  // the first among equals
}

TEST(FrameGraphText, ExplainsFailedLookupsAndRefusals) {
  TransformManager manager;
  EXPECT_EQ(zelvane::lookupFailureReason(manager, "A", "B", 0, TransformManager::NoFrames),
            "the graph has no frames");
  manager.setTransform("Sensor", "Body", Pose(), 0);
  manager.setTransform("Camera", "Mast", Pose(), 0);
  EXPECT_EQ(zelvane::lookupFailureReason(manager, "sensor", "Body", 0, TransformManager::NotFound),
            "there is no frame 'sensor' (the closest known frame is 'Sensor')");
  EXPECT_EQ(zelvane::lookupFailureReason(manager, "Sensor", "Mst", 0, TransformManager::NotFound),
            "there is no frame 'Mst' (the closest known frame is 'Mast')");
  EXPECT_EQ(zelvane::lookupFailureReason(manager, "Sensor", "Mast", 0, TransformManager::NotFound),
            "Sensor and Mast are not connected: no chain of transforms joins them");
  EXPECT_EQ(zelvane::lookupFailureReason(manager, "Sensor", "Body", 0, TransformManager::Success),
            "");
  EXPECT_EQ(zelvane::registrationRefusal(TransformManager::WouldCloseCycle, "A", "C"),
            "A and C are already joined through other frames");
  EXPECT_EQ(zelvane::registrationRefusal(TransformManager::SelfTransform, "A", "A"),
            "a frame cannot be given in itself ('A')");
  // Pruned away: samples at 0 .. 10000 with a window of 1000 keep 9000 .. 10000.
  ASSERT_EQ(manager.setHistoryWindow(1000), TransformManager::Success);
  for (long t = 0; t <= 10000; t += 500) manager.setTransform("Body", "World", Pose(), t);
  EXPECT_EQ(
      zelvane::lookupFailureReason(manager, "Sensor", "World", 100, TransformManager::OutOfRange),
      "interpolated lookups of Sensor in World succeed from time 9000 to 10000; the history "
      "window (1000) keeps Body in World from time 9000 on and dropped the older samples; "
      "widen it before registering (--history-window, history_window, setHistoryWindow) to "
      "keep them");
  EXPECT_THAT(
      zelvane::fixedFrameFailureReason(manager, "Sensor", 100, "Body", 100, "World",
                                       TransformManager::OutOfRange, TransformManager::FromInFixed),
      HasSubstr("the half Sensor in World at time 100; interpolated lookups of Sensor in "
                "World succeed from time 9000 to 10000; the history window"));
}

}  // namespace
