// Reads a sensor mounting pose from a settings file, prints it in both yaw/pitch/roll
// conventions and as a transform, and maps a point from the sensor into the body.
//
// usage: zelvane_pose_example [settings.xml]   (default: examples/sensor_mount.xml)
#include <cmath>
#include <exception>
#include <iostream>

#include <zelvane/geometry/pose.h>
#include <zelvane/settings_manager.h>

namespace {

Eigen::Vector3f degrees(const Eigen::Vector3f& radians) {
  return radians * static_cast<float>(180.0 / M_PI);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : "examples/sensor_mount.xml";
  try {
    zelvane::SettingsManager settings;
    settings.addXML(file);
    settings.pathPush("SensorMount");
    const zelvane::Pose body_T_sensor = zelvane::getPose(settings);
    settings.pathPop();

    const Eigen::IOFormat row(4, 0, ", ", ", ", "", "", "(", ")");
    std::cout << "sensor in body, from " << file << "\n"
              << "  position            " << body_T_sensor.position.transpose().format(row) << "\n"
              << "  quaternion (x,y,z,w) "
              << body_T_sensor.orientation.coeffs().transpose().format(row) << "\n"
              << "  intrinsic ypr (deg) "
              << degrees(body_T_sensor.toRotationIntrinsicYPR()).transpose().format(row) << "\n"
              << "  extrinsic ypr (deg) "
              << degrees(body_T_sensor.toRotationExtrinsicYPR()).transpose().format(row) << "\n"
              << "  transform\n"
              << body_T_sensor.toTransform().format(Eigen::IOFormat(4, 0, " ", "\n", "    "))
              << "\n";

    const Eigen::Vector3f point_in_sensor(10.0f, 0.0f, 0.0f);
    const Eigen::Vector3f point_in_body = poseToAffine3f(body_T_sensor) * point_in_sensor;
    std::cout << "a point 10 m ahead of the sensor lies at "
              << point_in_body.transpose().format(row) << " in the body\n";

    const zelvane::Pose sensor_T_body = body_T_sensor.toInversePose();
    std::cout << "and maps back to "
              << (poseToAffine3f(sensor_T_body) * point_in_body).transpose().format(row)
              << " in the sensor\n";
  } catch (const std::exception& e) {
    std::cerr << "zelvane_pose_example: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
