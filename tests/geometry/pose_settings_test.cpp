#include <cmath>

#include <gtest/gtest.h>
#include <boost/property_tree/exceptions.hpp>

#include "geometry/pose.h"
#include "settings_manager.h"
#include "support/log_capture.h"
#include "support/tolerance.h"

namespace {

using zelvane::Pose;
using zelvane::SettingsManager;
using namespace zelvane::testing;
using Eigen::Quaternionf;
using Eigen::Vector3f;
namespace pt = boost::property_tree;

void storePose(SettingsManager& s, const std::string& method) {
  s.set<float>("Position.x", 1);
  s.set<float>("Position.y", 2);
  s.set<float>("Position.z", 3);
  s.set<std::string>("orientationMethod", method);
}

void storeQuaternion(SettingsManager& s, const Quaternionf& q) {
  s.set<float>("Quaternion.x", q.x());
  s.set<float>("Quaternion.y", q.y());
  s.set<float>("Quaternion.z", q.z());
  s.set<float>("Quaternion.w", q.w());
}

void storeYpr(SettingsManager& s, float yaw, float pitch, float roll, const std::string& units) {
  s.set<float>("EulerYPR.yaw", yaw);
  s.set<float>("EulerYPR.pitch", pitch);
  s.set<float>("EulerYPR.roll", roll);
  s.set<std::string>("EulerYPR.units", units);
}

TEST(PoseSettings, OrientationMethodIsCaseInsensitiveAndUnknownMeansIdentity) {
  const Quaternionf q(0.9437f, 0.1277f, 0.1449f, 0.2685f);
  struct Case {
    const char* method;
    bool quaternion;
    bool identity;
  };
  const Case cases[] = {{"quaternion", true, false}, {"Quaternion", true, false},
                        {"EULERYPR", false, false},  {"eulerYpr", false, false},
                        {"euler", false, true},      {"", false, true}};
  for (const Case& c : cases) {
    SettingsManager s;
    storePose(s, c.method);
    storeQuaternion(s, q);
    storeYpr(s, 90, 0, 0, "degrees");
    const Pose pose = zelvane::getPose(s);
    EXPECT_EQ(pose.position, Vector3f(1, 2, 3)) << c.method;
    EXPECT_EQ(pose.timestamp, 0);
    const Eigen::Vector4f expected = c.identity ? Quaternionf::Identity().coeffs()
                                     : c.quaternion
                                         ? q.coeffs()
                                         : Eigen::Vector4f(0, 0, 0.70710678f, 0.70710678f);
    EXPECT_TRUE(pose.orientation.coeffs().isApprox(expected, ROUNDING_TOLERANCE))
        << c.method << ": " << pose.orientation.coeffs().transpose();
  }
  // A quaternion is read without normalising.
  SettingsManager s;
  storePose(s, "quaternion");
  storeQuaternion(s, Quaternionf(2, 0, 0, 0));
  EXPECT_EQ(zelvane::getPose(s).orientation.coeffs(), Eigen::Vector4f(0, 0, 0, 2));
}

TEST(PoseSettings, EulerAnglesAreExtrinsicInRadiansOnlyWhenTheUnitsSaySoExactly) {
  struct Case {
    const char* units;
    float yaw_read;
  };
  const Case cases[] = {
      {"degrees", 90 * DEG_F}, {"Radians", 90 * DEG_F}, {"", 90 * DEG_F}, {"radians", 90.0f}};
  for (const Case& c : cases) {
    SettingsManager s;
    storeYpr(s, 90, 0, 0, c.units);
    s.pathPush("EulerYPR");
    const Quaternionf q = zelvane::getQuaternionFromYPR(s);
    const Quaternionf expected =
        zelvane::rotationExtrinsicYPRToQuaternion(Vector3f(c.yaw_read, 0, 0));
    EXPECT_TRUE(q.coeffs().isApprox(expected.coeffs(), ROUNDING_TOLERANCE))
        << "units '" << c.units << "'";
  }
  SettingsManager s;
  storeYpr(s, 30, 20, 10, "degrees");
  s.pathPush("EulerYPR");
  const Quaternionf q = zelvane::getQuaternionFromYPR(s);
  EXPECT_TRUE(
      q.coeffs().isApprox(Eigen::Vector4f(0.1277f, 0.1449f, 0.2685f, 0.9437f), COARSE_TOLERANCE))
      << q.coeffs().transpose();
}

TEST(PoseSettings, SetPoseStoresBothFormsNormalisedWithTheCanonicalSign) {
  LogCapture capture(Logger::DEBUG_LEVEL);
  SettingsManager s;
  s.setLogger(LoggingManager::getInstance().getLogger("SettingsManager"));
  s.pathPush("Sensor");
  Pose pose;
  pose.position = Vector3f(1, 2, 3);
  pose.orientation = Quaternionf(-0.70710678f, 0, 0, -0.70710678f);
  pose.timestamp = 99;
  zelvane::setPose(s, pose);

  EXPECT_EQ(s.currentPath(), "Sensor");
  EXPECT_EQ(s.get<std::string>("orientationMethod"), "quaternion");
  EXPECT_NEAR(s.get<float>("Quaternion.z"), 0.70710678f, ROUNDING_TOLERANCE);
  EXPECT_NEAR(s.get<float>("Quaternion.w"), 0.70710678f, ROUNDING_TOLERANCE);
  EXPECT_NEAR(s.get<float>("EulerYPR.yaw"), 90 * DEG_F, ROUNDING_TOLERANCE);
  EXPECT_EQ(s.get<std::string>("EulerYPR.units"), "radians");
  const auto debug = capture.messages(Logger::DEBUG_LEVEL);
  EXPECT_NE(std::find(debug.begin(), debug.end(), "set Sensor.orientationMethod to: quaternion"),
            debug.end());

  const Pose back = zelvane::getPose(s);
  EXPECT_EQ(back.position, pose.position);
  EXPECT_EQ(back.timestamp, 0);
  EXPECT_TRUE(back.orientation.coeffs().isApprox(Eigen::Vector4f(0, 0, 0.70710678f, 0.70710678f),
                                                 ROUNDING_TOLERANCE));

  pose.orientation = Quaternionf(0.5f, 0, 0, 0.5f);  // 90 degrees, scaled by 1/sqrt(2)
  zelvane::setPose(s, pose);
  s.pathPush("Quaternion");
  EXPECT_NEAR(zelvane::utils::getQuaternion(s).norm(), 1.0f, ROUNDING_TOLERANCE);
}

TEST(PoseSettings, ErrorsPropagateAndLeaveTheCallersPath) {
  SettingsManager s;
  s.pathPush("Poses");
  s.pathPush("One");
  EXPECT_THROW(zelvane::getPose(s), pt::ptree_bad_path);  // no Position
  EXPECT_EQ(s.currentPath(), "Poses.One");
  EXPECT_FALSE(s.exists("Position"));

  storePose(s, "eulerypr");
  EXPECT_THROW(zelvane::getPose(s), pt::ptree_bad_path);  // no EulerYPR
  storeYpr(s, 0, 0, 0, "degrees");
  s.set<std::string>("EulerYPR.pitch", "steep");
  EXPECT_THROW(zelvane::getPose(s), pt::ptree_bad_data);
  s.deletePath("orientationMethod");
  EXPECT_THROW(zelvane::getPose(s), pt::ptree_bad_path);
  EXPECT_EQ(s.currentPath(), "Poses.One");
}

}  // namespace
