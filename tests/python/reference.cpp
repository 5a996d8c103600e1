// The C++ library's answers for the Python tests: reads one request a line on standard
// input and writes one answer a line, floats with 9 significant digits (exact for
// float32), doubles with 17. The tests send the same inputs to the binding and
// compare bit for bit.
//
//   q_from_ypr intrinsic|extrinsic Y P R       -> x y z w
//   ypr_from_q intrinsic|extrinsic X Y Z W     -> yaw pitch roll
//   yaw X Y Z W                                -> getYawFromQuaternion
//   tf_ypr intrinsic|extrinsic 0|1 TX TY TZ Y P R -> 16 (row-major; 1 = inverse)
//   pose PX PY PZ QX QY QZ QW                  -> matrix (16), inverse matrix (16),
//                                                 inverse pose (7), normalised quaternion (4)
//   boxes B1(7) B2(7)                          -> overlap distance squared-distance
//                                                 relative-heading centroid(3) corners(8)
//                                                 centroid-distance centroid-distance-3d
//   box_text B(7)                              -> the text form, then a line "END"
//   overlap_pairs T N M A(7N) B(7M)            -> i j overlap, for each pair
//   generalized_overlap_pairs, overlap_3d_pairs: the same with their metric
//   distance_pairs G N M A(7N) B(7M)           -> i j distance, for each pair
//   centroid_distance_pairs, centroid_distance_3d_pairs: the same with their distance
//   overlap_matrix N M A(7N) B(7M)             -> the N x M overlaps, row by row
//   generalized_overlap_matrix, overlap_3d_matrix: the same with their metric
//   corners N A(7N)                            -> the corners (8) of each box
//   seq N...                                   -> codes..., total, previous, discarded
//   ip OPERATION TEXT                          -> the result, or "THROWS"
//   names                                      -> each name table on a line, "TABLE
//                                                 NAME... | ALIAS=NAME...", then "END"
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/association.h"
#include "core/footprint_pairs.h"
#include "core/sequence_check.h"
#include "core/state.h"
#include "eval/tracking_evaluation.h"
#include "eval/tracking_files.h"
#include "geometry/pose.h"
#include "geometry/transform_queue.h"
#include "ip_format/ip_address_formatter.h"
#include "track/tracker_settings.h"

namespace {

using namespace zelvane;

void put(float value) { std::printf(" %.9g", static_cast<double>(value)); }
void put(double value) { std::printf(" %.17g", value); }

template <class Derived>
void putAll(const Eigen::DenseBase<Derived>& values) {
  // Row by row, as the binding gives matrices.
  for (Eigen::Index r = 0; r < values.rows(); ++r) {
    for (Eigen::Index c = 0; c < values.cols(); ++c) put(values(r, c));
  }
}

void putQuaternion(const Eigen::Quaternionf& q) {
  putAll(Eigen::Vector4f(q.x(), q.y(), q.z(), q.w()));
}

Eigen::Vector3f read3(std::istream& in) {
  Eigen::Vector3f v;
  in >> v[0] >> v[1] >> v[2];
  return v;
}

Eigen::Quaternionf readQuaternion(std::istream& in) {
  float x, y, z, w;
  in >> x >> y >> z >> w;
  return Eigen::Quaternionf(w, x, y, z);
}

// One number as C reads it, so that "nan" and "inf" are read too.
float readFloat(std::istream& in) {
  std::string token;
  in >> token;
  return std::strtof(token.c_str(), nullptr);
}

core::State readBox(std::istream& in) {
  float b[7];
  for (float& value : b) value = readFloat(in);
  return core::State::box({b[0], b[1], b[2]}, b[3], b[4], b[5], b[6]);
}

// N and M, then N boxes and M boxes.
void readBoxSets(std::istream& in, std::vector<core::State>& a, std::vector<core::State>& b) {
  std::size_t n, m;
  in >> n >> m;
  for (std::size_t i = 0; i < n; ++i) a.push_back(readBox(in));
  for (std::size_t j = 0; j < m; ++j) b.push_back(readBox(in));
}

std::string address(const std::string& operation, const std::string& text) {
  using ip_format::ConvertIP;
  try {
    if (operation == "is_ip_address") return ConvertIP::isIPAddress(text) ? "True" : "False";
    if (operation == "unoptimize_ipv6_address") return ConvertIP::unoptimizeIPv6Address(text);
    if (operation == "simplify_ipv4_address") return ConvertIP::simplifyIPv4Address(text);
    if (operation == "simplify_ip_address_format") return ConvertIP::simplifyIPAddressFormat(text);
    if (operation == "split_port_from_string") return ConvertIP::splitPortFromString(text);
    if (operation == "split_ip_address_from_string") {
      return ConvertIP::splitIPaddressFromString(text);
    }
  } catch (const std::exception&) {
    return "THROWS";
  }
  return "UNKNOWN OPERATION";
}

template <class Enum>
void putTable(const char* title, const NameTable<Enum>& table) {
  std::printf("%s", title);
  for (const EnumName<Enum>& entry : table) std::printf(" %s", entry.name);
  std::printf(" |");
  for (auto alias = table.beginAliases(); alias != table.endAliases(); ++alias) {
    std::printf(" %s=%s", alias->name, table.name(alias->value));
  }
  std::printf("\n");
}

// Every name table of the library that a front end prints or parses.
void putNameTables() {
  putTable("result", TransformManager::resultNames());
  putTable("method", TransformManager::methodNames());
  putTable("drop_reason", dropReasonNames());
  putTable("metric", core::associationMetricNames());
  putTable("assignment", core::associationMethodNames());
  putTable("motion_model", track::motionModelNames());
  putTable("measure", eval::measureNames());
  putTable("format", eval::trackingFormatNames());
  std::printf("END");
}

void answer(const std::string& line) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  if (command == "q_from_ypr" || command == "ypr_from_q" || command == "tf_ypr") {
    std::string convention;
    in >> convention;
    const bool intrinsic = convention == "intrinsic";
    if (command == "q_from_ypr") {
      const Eigen::Vector3f ypr = read3(in);
      putQuaternion(intrinsic ? rotationIntrinsicYPRToQuaternion(ypr)
                              : rotationExtrinsicYPRToQuaternion(ypr));
    } else if (command == "ypr_from_q") {
      const Eigen::Quaternionf q = readQuaternion(in);
      putAll(intrinsic ? quaternionToRotationIntrinsicYPR(q) : quaternionToRotationExtrinsicYPR(q));
    } else {
      int inverse;
      in >> inverse;
      const Eigen::Vector3f t = read3(in);
      const Eigen::Vector3f ypr = read3(in);
      putAll(intrinsic ? (inverse ? toInverseTransformFromIntrinsicYPR(t, ypr)
                                  : toTransformFromIntrinsicYPR(t, ypr))
                       : (inverse ? toInverseTransformFromExtrinsicYPR(t, ypr)
                                  : toTransformFromExtrinsicYPR(t, ypr)));
    }
  } else if (command == "yaw") {
    const Eigen::Quaternionf q = readQuaternion(in);
    put(getYawFromQuaternion(q.x(), q.y(), q.z(), q.w()));
  } else if (command == "pose") {
    Pose pose;
    pose.position = read3(in);
    pose.orientation = readQuaternion(in);
    putAll(pose.toTransform());
    putAll(pose.toInverseTransform());
    const Pose inverse = pose.toInversePose();
    putAll(inverse.position);
    putQuaternion(inverse.orientation);
    putQuaternion(pose.orientation.normalized());
  } else if (command == "boxes") {
    const core::State a = readBox(in);
    const core::State b = readBox(in);
    put(a.overlap(b));
    put(a.distance(b));
    put(core::State::getSquaredDistance(a, b));
    put(a.relativeHeading(b));
    putAll(a.centroid());
    for (const auto& corner : a.getCorners2D()) putAll(corner);
    put(a.centroidDistance(b));
    put(a.centroidDistance3d(b));
  } else if (command.size() > 6 && command.compare(command.size() - 6, 6, "_pairs") == 0) {
    std::string limitText;
    in >> limitText;
    const double limit = std::strtod(limitText.c_str(), nullptr);
    std::vector<core::State> a, b;
    readBoxSets(in, a, b);
    const auto pairs =
        command == "overlap_pairs"                ? core::overlapPairs(a, b, limit)
        : command == "generalized_overlap_pairs"  ? core::generalizedOverlapPairs(a, b, limit)
        : command == "overlap_3d_pairs"           ? core::overlap3dPairs(a, b, limit)
        : command == "centroid_distance_pairs"    ? core::centroidDistancePairs(a, b, limit)
        : command == "centroid_distance_3d_pairs" ? core::centroidDistance3dPairs(a, b, limit)
                                                  : core::distancePairs(a, b, limit);
    for (const auto& pair : pairs) {
      std::printf(" %zu %zu", pair.row, pair.column);
      put(pair.value);
    }
  } else if (command == "overlap_matrix" || command == "generalized_overlap_matrix" ||
             command == "overlap_3d_matrix") {
    std::vector<core::State> a, b;
    readBoxSets(in, a, b);
    putAll(command == "overlap_matrix"               ? core::overlapMatrix(a, b)
           : command == "generalized_overlap_matrix" ? core::generalizedOverlapMatrix(a, b)
                                                     : core::overlap3dMatrix(a, b));
  } else if (command == "corners") {
    std::size_t n = 0;
    in >> n;
    for (std::size_t i = 0; i < n; ++i) {
      for (const auto& corner : readBox(in).getCorners2D()) putAll(corner);
    }
  } else if (command == "box_text") {
    std::cout << readBox(in) << "END" << std::flush;
  } else if (command == "seq") {
    core::SequenceCheck check;
    unsigned long sequence;
    while (in >> sequence) std::printf(" %d", static_cast<int>(check.check(sequence)));
    std::printf(" %lu %lu %lu", check.totalDiscarded(), check.previous(), check.discarded());
  } else if (command == "ip") {
    std::string operation, text;
    in >> operation;
    std::getline(in >> std::ws, text);
    std::printf("%s", address(operation, text).c_str());
  } else if (command == "names") {
    putNameTables();
  } else {
    std::printf("UNKNOWN COMMAND %s", command.c_str());
  }
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) answer(line);
  return 0;
}
