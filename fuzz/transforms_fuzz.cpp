// loadTransforms on stores built from the input: "Transforms/Transform" children with
// fuzzed frame names, numbers (as text), orientation methods and missing keys.
// - When the load throws, the manager is exactly as before: same frames, same lookups,
//   same origin.
// - When it succeeds, storing and loading again gives the same lookups (up to
//   rounding); where a stored orientation was not of unit length, storing normalises
//   it, so there the second round trip must change nothing.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "geometry/pose.h"
#include "geometry/transform_manager.h"
#include "settings_manager.h"

namespace {

using zelvane::Pose;
using zelvane::SettingsManager;
using zelvane::TransformManager;
using zelvane::fuzz::Input;

const char* const kNames[] = {"A", "B", "C", "D", "E", "", "Global"};

std::string frameName(Input& in) {
  const unsigned char choice = in.next();
  if (choice < 240) return kNames[choice % 7];
  return in.text();
}

std::string number(Input& in) {
  const unsigned char choice = in.next();
  if (choice < 200) return std::to_string((static_cast<int>(in.next()) - 128) / 16.0);
  static const char* const kSpecial[] = {"nan", "inf", "-inf", "1e39", "1e-46", "0x1p3", " 1", ""};
  if (choice < 232) return kSpecial[choice % 8];
  return in.text();
}

// Writes `key` unless the input says it is missing (or garbles it).
void put(SettingsManager& store, const std::string& key, const std::string& value, Input& in) {
  const unsigned char choice = in.next();
  if (choice < 8) return;
  store.set<std::string>(choice < 12 ? key + "x" : key, value);
}

void putNode(SettingsManager& store, const std::string& node,
             std::initializer_list<const char*> keys, Input& in) {
  if (in.next() < 6) return;
  store.pathPush(node);
  for (const char* key : keys) put(store, key, number(in), in);
  store.pathPop();
}

void buildStore(SettingsManager& store, Input& in) {
  if (in.next() < 10) return;  // no "Transforms": the load empties the manager
  store.pathPush(TRANSFORMS_TAG);
  const int count = in.next() % 7;
  for (int i = 0; i < count; ++i) {
    store.pathPush(TRANSFORM_TAG, i, nullptr);
    put(store, FROM_FRAME_TAG, frameName(in), in);
    put(store, TO_FRAME_TAG, frameName(in), in);
    putNode(store, "Position", {"x", "y", "z"}, in);
    const unsigned char method = in.next();
    static const char* const kMethods[] = {"quaternion", "eulerypr", "QuaTernion", "EULERYPR",
                                           "other"};
    put(store, "orientationMethod", method < 250 ? kMethods[method % 5] : in.text(), in);
    putNode(store, "Quaternion", {"x", "y", "z", "w"}, in);
    putNode(store, "EulerYPR", {"yaw", "pitch", "roll"}, in);
    if (in.next() % 2 == 0) {
      store.pathPush("EulerYPR");
      put(store, "units", in.next() % 2 ? "radians" : "degrees", in);
      store.pathPop();
    }
    store.pathPop();
  }
  store.pathPop();
}

struct Snapshot {
  std::vector<std::string> frames;
  std::vector<TransformManager::TransformResult> results;
  std::vector<Pose> poses;
  bool hasOrigin = false;
  std::string originFrame;
  Pose origin;
};

Snapshot snapshot(TransformManager& manager) {
  Snapshot shot;
  shot.frames = manager.getFrames();
  for (const std::string& from : shot.frames) {
    for (const std::string& to : shot.frames) {
      Pose pose;
      shot.results.push_back(manager.getTransform(from, to, pose));
      shot.poses.push_back(pose);
    }
  }
  shot.hasOrigin = manager.getOrigin("home", shot.originFrame, shot.origin);
  return shot;
}

bool identical(const Pose& a, const Pose& b) {  // bit for bit, NaN equal to NaN
  const auto same = [](float x, float y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  for (int i = 0; i < 3; ++i) {
    if (!same(a.position[i], b.position[i])) return false;
  }
  for (int i = 0; i < 4; ++i) {
    if (!same(a.orientation.coeffs()[i], b.orientation.coeffs()[i])) return false;
  }
  return a.timestamp == b.timestamp;
}

bool unchanged(const Snapshot& a, const Snapshot& b) {
  if (a.frames != b.frames || a.results != b.results || a.hasOrigin != b.hasOrigin ||
      a.originFrame != b.originFrame || !identical(a.origin, b.origin)) {
    return false;
  }
  for (size_t i = 0; i < a.poses.size(); ++i) {
    if (!identical(a.poses[i], b.poses[i])) return false;
  }
  return true;
}

bool finite(const Pose& pose) {
  return pose.position.allFinite() && pose.orientation.coeffs().allFinite();
}

// Same rotation (up to sign) and position, within rounding of the stored text.
bool close(const Pose& a, const Pose& b) {
  const float scale =
      1.0f + std::max(a.position.cwiseAbs().maxCoeff(), b.position.cwiseAbs().maxCoeff());
  const Eigen::Vector4f qa = a.orientation.coeffs(), qb = b.orientation.coeffs();
  return (a.position - b.position).cwiseAbs().maxCoeff() <= 1e-3f * scale &&
         std::min((qa - qb).cwiseAbs().maxCoeff(), (qa + qb).cwiseAbs().maxCoeff()) <= 1e-3f;
}

// Every stored orientation is of unit length (each edge looked up on its own).
bool unitEdges(TransformManager& manager, const std::vector<std::string>& frames) {
  for (const std::string& from : frames) {
    for (const std::string& to : frames) {
      Pose pose;
      if (from == to || manager.indirectConnectionExists(from, to) ||
          manager.getTransform(from, to, pose) != TransformManager::Success) {
        continue;
      }
      if (!finite(pose) || std::abs(pose.orientation.norm() - 1.0f) > 1e-4f) return false;
    }
  }
  return true;
}

// The lookups of `b` match those of `a` wherever `a`'s are finite.
void requireSameLookups(TransformManager& a, TransformManager& b) {
  std::vector<std::string> framesA = a.getFrames(), framesB = b.getFrames();
  std::sort(framesA.begin(), framesA.end());
  std::sort(framesB.begin(), framesB.end());
  if (framesA != framesB) std::abort();
  for (const std::string& from : framesA) {
    for (const std::string& to : framesA) {
      Pose pa, pb;
      const auto ra = a.getTransform(from, to, pa);
      const auto rb = b.getTransform(from, to, pb);
      if (ra != rb) std::abort();
      if (ra == TransformManager::Success && finite(pa) &&
          pa.position.cwiseAbs().maxCoeff() < 1e6f && !close(pa, pb)) {
        std::abort();
      }
    }
  }
}

void roundTrip(TransformManager& source, TransformManager& target) {
  SettingsManager store;
  if (source.storeTransforms(store, true) == TransformManager::NotFound) {
    if (!source.getFrames().empty()) std::abort();
    return;
  }
  if (target.loadTransforms(store) != TransformManager::Success) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  Input in(data, size);
  TransformManager manager;
  // A graph to lose: two frames of the pool and one of its own.
  if (in.next() % 2 == 0) {
    manager.setTransform("A", "B", Pose(), 0);
    Pose moved;
    moved.position = Eigen::Vector3f(1, 2, 3);
    manager.setTransform("Old", "A", moved, 7);
    manager.setOrigin("home", "Old", moved);
  }

  SettingsManager store;
  buildStore(store, in);
  const std::string path = store.currentPath();
  const Snapshot before = snapshot(manager);
  try {
    if (manager.loadTransforms(store) != TransformManager::Success) std::abort();
  } catch (const std::exception&) {
    if (!unchanged(before, snapshot(manager))) std::abort();
    if (store.currentPath() != path) std::abort();
    return 0;
  }
  if (store.currentPath() != path) std::abort();

  TransformManager once, twice;
  roundTrip(manager, once);
  if (unitEdges(manager, manager.getFrames())) {
    requireSameLookups(manager, once);
  } else {
    roundTrip(once, twice);
    requireSameLookups(once, twice);
  }
  return 0;
}
