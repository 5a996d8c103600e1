// A consumer of the installed package: includes the public headers by their
// installed paths, as <zelvane/...> or (built with CONSUMER_SHORT_INCLUDES) in the
// earlier form without the prefix, links zelvane::core and checks documented results.
#include <cmath>
#include <cstdio>

#ifdef CONSUMER_SHORT_INCLUDES
#include "geometry/pose.h"
#include "settings_manager.h"
#else
#include <zelvane/geometry/pose.h>
#include <zelvane/settings_manager.h>
#endif

int main() {
  zelvane::Pose pose;
  pose.position = Eigen::Vector3f(1, 2, 3);
  pose.orientation = Eigen::Quaternionf(0.7071068f, 0, 0, 0.7071068f);

  zelvane::SettingsManager settings;
  zelvane::setPose(settings, pose);
  const zelvane::Pose back = zelvane::getPose(settings);
  const zelvane::Pose inverse = pose.toInversePose();

  const bool ok = back.position.isApprox(pose.position) &&
                  std::abs(inverse.position.x() + 2) < 1e-5f &&
                  std::abs(inverse.position.y() - 1) < 1e-5f &&
                  std::abs(getYawFromQuaternion(0, 0, 0.7071068f, 0.7071068f) - 1.5707964f) < 1e-5f;
  std::printf("%s\n", ok ? "consumer: ok" : "consumer: FAILED");
  return ok ? 0 : 1;
}
