#include "track/tracker_settings.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/property_tree/exceptions.hpp>

#include "settings_manager.h"

namespace {

using namespace zelvane::track;
using zelvane::SettingsManager;
using zelvane::core::AssociationMethod;
using zelvane::core::AssociationMetric;

// A settings store loaded from `xml` through a file, as applications load theirs.
void load(SettingsManager& settings, const std::string& xml) {
  const std::string path = ::testing::TempDir() + "tracker_settings_test.xml";
  std::ofstream(path) << xml;
  settings.addXML(path);
  std::remove(path.c_str());
}

TEST(TrackerSettings, ReadsWhatIsGivenAndDefaultsTheRest) {
  SettingsManager settings;
  load(settings, R"(<Settings><Tracker>
    <Class>
      <name>Car</name>
      <motionModel>constant_turn_rate</motionModel>
      <ConstantTurnRate><accelerationNoise>3.5</accelerationNoise></ConstantTurnRate>
      <Association><metric>generalized_overlap</metric><threshold>-0.3</threshold>
                   <method>greedy</method></Association>
      <confirmHits>2</confirmHits>
      <Output><tentativeInFirstFrames>false</tentativeInFirstFrames></Output>
    </Class>
    <Class><name>Pedestrian</name><birthScore>-1.5</birthScore></Class>
  </Tracker></Settings>)");
  const std::vector<ClassParameters> classes = readTrackerSettings(settings);
  ASSERT_EQ(classes.size(), 2u);
  const ClassParameters defaults;
  const ClassParameters& car = classes[0];
  EXPECT_EQ(car.name, "Car");
  EXPECT_EQ(car.motionModel, MotionModelKind::ConstantTurnRate);
  EXPECT_EQ(car.constantTurnRate.accelerationNoise, 3.5f);
  EXPECT_EQ(car.constantTurnRate.turnAccelerationNoise,
            defaults.constantTurnRate.turnAccelerationNoise);
  EXPECT_EQ(car.metric, AssociationMetric::GeneralizedOverlap);
  EXPECT_EQ(car.threshold, -0.3);
  EXPECT_EQ(car.method, AssociationMethod::Greedy);
  EXPECT_EQ(car.confirmHits, 2);
  EXPECT_FALSE(car.output.tentativeInFirstFrames);
  EXPECT_EQ(car.maxMisses, defaults.maxMisses);
  EXPECT_EQ(classes[1].name, "Pedestrian");
  EXPECT_EQ(classes[1].birthScore, -1.5f);
  EXPECT_EQ(classes[1].metric, defaults.metric);
  EXPECT_EQ(settings.currentPath(), "");
}

TEST(TrackerSettings, WritesWhatItReadsBack) {
  ClassParameters a;
  a.name = "Car";
  a.motionModel = MotionModelKind::ConstantTurnRate;
  a.constantVelocity.headingNoise = 0.123f;
  a.constantTurnRate.initialTurnRate = 0.7f;
  a.measurementNoise.size = 0.3f;
  a.metric = AssociationMetric::CentroidDistance;
  a.threshold = 2.5;
  a.method = AssociationMethod::Greedy;
  a.birthScore = 0.25f;
  a.maxTentativeMisses = 1;
  a.output.coastingFrames = 2;
  ClassParameters b;  // the defaults, birthScore -infinity among them
  b.name = "Cyclist";
  SettingsManager first;
  writeTrackerSettings(first, {a, b});
  // Written again over itself, the node is replaced, not added to.
  writeTrackerSettings(first, {a, b});
  const auto classes = readTrackerSettings(first);
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_EQ(classes[0].metric, a.metric);
  EXPECT_EQ(classes[0].constantTurnRate.initialTurnRate, a.constantTurnRate.initialTurnRate);
  EXPECT_EQ(classes[1].birthScore, b.birthScore);
  // Every key: what was read writes the same tree again.
  SettingsManager second;
  writeTrackerSettings(second, classes);
  EXPECT_TRUE(first.tree() == second.tree());
}

TEST(TrackerSettings, WritesEveryModelParameterUnderItsKeyInItsOrder) {
  ClassParameters c;
  c.name = "Car";
  ConstantVelocity& cv = c.constantVelocity;
  ConstantTurnRate& turn = c.constantTurnRate;
  float next = 1.5f;  // each parameter its own value, in the order they are written
  for (float* parameter :
       {&cv.accelerationNoise, &cv.verticalAccelerationNoise, &cv.headingNoise, &cv.sizeNoise,
        &cv.initialSpeed, &cv.initialVerticalSpeed, &turn.accelerationNoise,
        &turn.turnAccelerationNoise, &turn.verticalAccelerationNoise, &turn.sizeNoise,
        &turn.initialSpeed, &turn.initialTurnRate, &turn.initialVerticalSpeed}) {
    *parameter = next;
    next += 1.0f;
  }
  SettingsManager settings;
  writeTrackerSettings(settings, {c});
  const std::vector<std::pair<std::string, std::vector<std::string>>> nodes = {
      {"ConstantVelocity",
       {"accelerationNoise", "verticalAccelerationNoise", "headingNoise", "sizeNoise",
        "initialSpeed", "initialVerticalSpeed"}},
      {"ConstantTurnRate",
       {"accelerationNoise", "turnAccelerationNoise", "verticalAccelerationNoise", "sizeNoise",
        "initialSpeed", "initialTurnRate", "initialVerticalSpeed"}}};
  float value = 1.5f;
  for (const auto& [node, keys] : nodes) {
    std::vector<std::string> written;
    for (const auto& [key, child] : settings.tree().get_child("Tracker.Class." + node)) {
      written.push_back(key);
      EXPECT_EQ(std::stof(child.data()), value) << node << "." << key;
      value += 1.0f;
    }
    EXPECT_EQ(written, keys) << node;
  }
  const ClassParameters read = readTrackerSettings(settings).at(0);
  EXPECT_EQ(read.constantVelocity.headingNoise, 3.5f);
  EXPECT_EQ(read.constantTurnRate.initialTurnRate, 12.5f);
}

TEST(TrackerSettings, RefusesWhatItCannotRead) {
  const struct {
    const char* body;
    const char* message;  // empty: the store's conversion error
  } cases[] = {
      {"", "Tracker: missing"},
      {"<Tracker><Class><confirmHits>2</confirmHits></Class></Tracker>",
       "Tracker.Class[0].name: missing"},
      {"<Tracker><Class><name>Car</name><ConstantVelocity><acelerationNoise>1</acelerationNoise>"
       "</ConstantVelocity></Class></Tracker>",
       "Tracker.Class[0].ConstantVelocity.acelerationNoise: not a tracker parameter"},
      {"<Tracker><Class><name>Car</name></Class><Class><name>Van</name><Association><metric>iou"
       "</metric></Association></Class></Tracker>",
       "Tracker.Class[1].Association.metric: unknown name \"iou\" (overlap, generalized_overlap, "
       "overlap_3d, distance, centroid_distance, centroid_distance_3d)"},
      {"<Tracker><Class><name>Car</name><motionModel>bicycle</motionModel></Class></Tracker>",
       "Tracker.Class[0].motionModel: unknown name \"bicycle\" (constant_velocity, "
       "constant_turn_rate)"},
      {"<Tracker><Class><name>Car</name><maxMisses>two</maxMisses></Class></Tracker>", ""},
  };
  for (const auto& c : cases) {
    SettingsManager settings;
    load(settings, std::string("<Settings><Other>1</Other>") + c.body + "</Settings>");
    if (*c.message == '\0') {
      EXPECT_THROW(readTrackerSettings(settings), boost::property_tree::ptree_bad_data) << c.body;
      continue;
    }
    try {
      readTrackerSettings(settings);
      ADD_FAILURE() << "no error for " << c.body;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(settings.currentPath(), "");
  }
}

TEST(TrackerSettings, NamesReadBackAndUnknownNamesAreRefused) {
  for (const auto m : {MotionModelKind::ConstantVelocity, MotionModelKind::ConstantTurnRate}) {
    MotionModelKind read = MotionModelKind::ConstantVelocity;
    EXPECT_TRUE(parseMotionModelName(motionModelName(m), read));
    EXPECT_EQ(read, m);
  }
  for (const auto m :
       {AssociationMetric::Overlap, AssociationMetric::GeneralizedOverlap,
        AssociationMetric::Overlap3d, AssociationMetric::Distance,
        AssociationMetric::CentroidDistance, AssociationMetric::CentroidDistance3d}) {
    AssociationMetric read = AssociationMetric::Overlap;
    EXPECT_TRUE(parseAssociationMetricName(associationMetricName(m), read));
    EXPECT_EQ(read, m);
  }
  AssociationMethod method = AssociationMethod::Optimal;
  EXPECT_TRUE(parseAssociationMethodName("greedy", method));
  EXPECT_EQ(method, AssociationMethod::Greedy);
  EXPECT_FALSE(parseAssociationMethodName("Greedy", method));
  AssociationMetric metric = AssociationMetric::Overlap;
  EXPECT_FALSE(parseAssociationMetricName("unknown", metric));
  EXPECT_EQ(metric, AssociationMetric::Overlap);
  EXPECT_STREQ(motionModelName(static_cast<MotionModelKind>(7)), "unknown");
}

}  // namespace
