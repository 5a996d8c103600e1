// Writes the navigation samples of examples/navigation.csv to standard output: the
// pose of Body in Global every 100 ms while the vehicle drives at 10 m/s for 5 s
// straight east, then a quarter circle to the left in 20 s, then 5 s straight north.
// Time is in milliseconds. The body rolls by up to 0.8 degrees in the curve (ramped
// over one second at each end), as a car leans out of a turn.
#include <cmath>
#include <cstdio>

#include <zelvane/geometry/pose.h>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double SPEED = 10.0;                        // m/s
constexpr double CURVE_START = 5.0;                   // s
constexpr double CURVE_TIME = 20.0;                   // s
constexpr double YAW_RATE = (PI / 2.0) / CURVE_TIME;  // rad/s
constexpr double RADIUS = SPEED / YAW_RATE;           // m
constexpr double END = 30.0;                          // s
constexpr double MAX_ROLL = 0.8 * PI / 180.0;         // rad

double clamp01(double value) { return value < 0.0 ? 0.0 : (value > 1.0 ? 1.0 : value); }

}  // namespace

int main() {
  std::printf("time,from,to,x,y,z,qx,qy,qz,qw\n");
  for (int step = 0; step <= static_cast<int>(END * 10.0); ++step) {
    const double t = step / 10.0;
    double x = 0.0;
    double y = 0.0;
    double yaw = 0.0;
    if (t <= CURVE_START) {
      x = SPEED * t;
    } else if (t <= CURVE_START + CURVE_TIME) {
      yaw = YAW_RATE * (t - CURVE_START);
      x = SPEED * CURVE_START + RADIUS * std::sin(yaw);
      y = RADIUS * (1.0 - std::cos(yaw));
    } else {
      yaw = PI / 2.0;
      x = SPEED * CURVE_START + RADIUS;
      y = RADIUS + SPEED * (t - CURVE_START - CURVE_TIME);
    }
    const double in_curve = t - CURVE_START;
    const double roll = MAX_ROLL * clamp01(in_curve) * clamp01(CURVE_TIME - in_curve);
    const Eigen::Quaternionf q = zelvane::rotationIntrinsicYPRToQuaternion(
        Eigen::Vector3f(static_cast<float>(yaw), 0.0f, static_cast<float>(roll)));
    std::printf("%d,Body,Global,%.4f,%.4f,%.4f,%.7f,%.7f,%.7f,%.7f\n", step * 100, x, y, 0.0,
                static_cast<double>(q.x()), static_cast<double>(q.y()), static_cast<double>(q.z()),
                static_cast<double>(q.w()));
  }
  return 0;
}
