// Poses in the settings store: the layout shared by every stored pose and transform.
#include <algorithm>
#include <cctype>
#include <string>

#include "geometry/pose.h"
#include "numeric_policy.h"
#include "settings_manager.h"

namespace zelvane {

namespace {

const std::string POSITION_TAG = "Position";
const std::string ORIENTATION_METHOD_TAG = "orientationMethod";
const std::string QUATERNION_TAG = "Quaternion";
const std::string EULER_YPR_TAG = "EulerYPR";
const std::string QUATERNION_METHOD = "quaternion";
const std::string EULER_YPR_METHOD = "eulerypr";

using ScopedPush = SettingsManager::ScopedPush;

}  // namespace

Eigen::Quaternionf getQuaternionFromYPR(const SettingsManager& settings) {
  Eigen::Vector3f ypr;
  ypr[0] = settings.get<float>("yaw");
  ypr[1] = settings.get<float>("pitch");
  ypr[2] = settings.get<float>("roll");
  const std::string units = settings.get<std::string>("units");
  if (units != "radians") {
    for (int i = 0; i < 3; ++i) ypr[i] = numeric::radiansFromDegrees(ypr[i]);
  }
  return rotationExtrinsicYPRToQuaternion(ypr);
}

Pose getPose(const SettingsManager& settings) {
  SettingsManager copy(settings);
  Pose pose;
  {
    ScopedPush push(copy, POSITION_TAG);
    pose.position = utils::getVector3f(copy);
  }
  std::string method = copy.get<std::string>(ORIENTATION_METHOD_TAG);
  std::transform(method.begin(), method.end(), method.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (method == QUATERNION_METHOD) {
    ScopedPush push(copy, QUATERNION_TAG);
    pose.orientation = utils::getQuaternion(copy);
  } else if (method == EULER_YPR_METHOD) {
    ScopedPush push(copy, EULER_YPR_TAG);
    pose.orientation = getQuaternionFromYPR(copy);
  }
  return pose;
}

void setPose(SettingsManager& settings, Pose pose) {
  Eigen::Quaternionf stored(pose.toTransform().topLeftCorner<3, 3>().eval());
  stored.normalize();
  {
    ScopedPush push(settings, POSITION_TAG);
    utils::setVector3f(settings, pose.position);
  }
  settings.set<std::string>(ORIENTATION_METHOD_TAG, QUATERNION_METHOD);
  {
    ScopedPush push(settings, QUATERNION_TAG);
    utils::setQuaternionf(settings, stored);
  }
  {
    ScopedPush push(settings, EULER_YPR_TAG);
    utils::setYPR(settings, poseToRotationExtrinsicYPR(pose), utils::RADIANS);
  }
}

}  // namespace zelvane
