// Footprint intersection over union, against OpenCV's rotated-rectangle intersection
// where it is installed. Both get the same boxes.
#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_check.h"
#include "core/state.h"

#ifdef ZELVANE_BENCH_WITH_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

using zelvane::core::State;

struct Box {
  double x, y, heading;
};

constexpr float kLength = 4.5f;
constexpr float kWidth = 1.8f;

State stateOf(const Box& box) {
  State state;
  zelvane::Gaussian<float, 3> position;
  position.mean = Eigen::Vector3f(static_cast<float>(box.x), static_cast<float>(box.y), 0.0f);
  position.covariance = Eigen::Matrix3f::Identity();
  state.position = position;
  zelvane::Gaussian<float, 1> heading;
  heading.mean = static_cast<float>(box.heading);
  heading.covariance = 0.01f;
  state.heading = heading;
  state.dimensions = zelvane::core::Dimensions<float, zelvane::frames::Trackable>(kLength, kWidth, 1.5f);
  return state;
}

// Boxes uniform in 200 m x 200 m with uniform headings, from a fixed seed.
std::vector<Box> boxes(unsigned seed, int count) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> where(0.0, 200.0);
  std::uniform_real_distribution<double> heading(-M_PI, M_PI);
  std::vector<Box> result;
  for (int i = 0; i < count; ++i) {
    const double x = where(rng);
    const double y = where(rng);
    result.push_back(Box{x, y, heading(rng)});
  }
  return result;
}

const std::vector<Box>& tracks() {
  static const std::vector<Box> value = boxes(11, 200);
  return value;
}
const std::vector<Box>& detections() {
  static const std::vector<Box> value = boxes(12, 200);
  return value;
}

// One overlapping pair: a track and a detection close to it, turned a little.
const std::vector<Box> kPair = {Box{50.0, 60.0, 0.3}, Box{50.8, 60.4, 0.55}};

std::vector<double> zelvaneMatrix(const std::vector<State>& a, const std::vector<State>& b) {
  std::vector<double> iou;
  iou.reserve(a.size() * b.size());
  for (const State& s : a) {
    for (const State& t : b) iou.push_back(s.overlap(t));
  }
  return iou;
}

void iouMatrixZelvane(benchmark::State& state) {
  std::vector<State> a;
  std::vector<State> b;
  for (const Box& box : tracks()) a.push_back(stateOf(box));
  for (const Box& box : detections()) b.push_back(stateOf(box));
  std::vector<double> iou(a.size() * b.size());
  for (auto _ : state) {
    std::size_t k = 0;
    for (const State& s : a) {
      for (const State& t : b) iou[k++] = s.overlap(t);
    }
    benchmark::ClobberMemory();
  }
  long overlapping = 0;
  for (double v : iou) overlapping += v > 0.0;
  state.counters["overlapping_pairs"] = static_cast<double>(overlapping);
}

void iouPairZelvane(benchmark::State& state) {
  const State a = stateOf(kPair[0]);
  const State b = stateOf(kPair[1]);
  double iou = 0.0;
  for (auto _ : state) {
    iou = a.overlap(b);
    benchmark::ClobberMemory();
  }
  if (!(iou > 0.0)) state.SkipWithError("the pair does not overlap");
}

#ifdef ZELVANE_BENCH_WITH_OPENCV
cv::RotatedRect rectOf(const Box& box) {
  // OpenCV turns a rectangle by its angle in degrees in the same sense as a heading
  // (counter-clockwise with y up); its width runs along the turned x axis.
  return cv::RotatedRect(cv::Point2f(static_cast<float>(box.x), static_cast<float>(box.y)),
                         cv::Size2f(kLength, kWidth), static_cast<float>(box.heading * 180.0 / M_PI));
}

double opencvIou(const cv::RotatedRect& a, const cv::RotatedRect& b, std::vector<cv::Point2f>& region) {
  region.clear();
  if (cv::rotatedRectangleIntersection(a, b, region) == cv::INTERSECT_NONE) return 0.0;
  const double inter = cv::contourArea(region);
  const double uni = static_cast<double>(a.size.area()) + static_cast<double>(b.size.area()) - inter;
  return uni > 0.0 ? inter / uni : 0.0;
}

std::vector<double> opencvMatrix(const std::vector<cv::RotatedRect>& a,
                                 const std::vector<cv::RotatedRect>& b) {
  std::vector<double> iou;
  std::vector<cv::Point2f> region;
  for (const auto& r : a) {
    for (const auto& s : b) iou.push_back(opencvIou(r, s, region));
  }
  return iou;
}

void iouMatrixOpencv(benchmark::State& state) {
  std::vector<cv::RotatedRect> a;
  std::vector<cv::RotatedRect> b;
  for (const Box& box : tracks()) a.push_back(rectOf(box));
  for (const Box& box : detections()) b.push_back(rectOf(box));
  std::vector<double> iou(a.size() * b.size());
  std::vector<cv::Point2f> region;
  for (auto _ : state) {
    std::size_t k = 0;
    for (const auto& r : a) {
      for (const auto& s : b) iou[k++] = opencvIou(r, s, region);
    }
    benchmark::ClobberMemory();
  }
}

void iouPairOpencv(benchmark::State& state) {
  const cv::RotatedRect a = rectOf(kPair[0]);
  const cv::RotatedRect b = rectOf(kPair[1]);
  std::vector<cv::Point2f> region;
  double iou = 0.0;
  for (auto _ : state) {
    iou = opencvIou(a, b, region);
    benchmark::ClobberMemory();
  }
  if (!(iou > 0.0)) state.SkipWithError("the pair does not overlap");
}

// OpenCV intersects rotated rectangles in single precision: at 200 m one float step is
// 1.5e-5 m, which moves an intersection over union by up to a few 1e-6. Agreement is
// therefore checked to 1e-5 here; the pair near the origin must agree to 1e-6.
constexpr double kOpencvTolerance = 1e-5;

void checkAgreement() {
  std::vector<State> a;
  std::vector<State> b;
  std::vector<cv::RotatedRect> ra;
  std::vector<cv::RotatedRect> rb;
  for (const Box& box : tracks()) {
    a.push_back(stateOf(box));
    ra.push_back(rectOf(box));
  }
  for (const Box& box : detections()) {
    b.push_back(stateOf(box));
    rb.push_back(rectOf(box));
  }
  const std::vector<double> ours = zelvaneMatrix(a, b);
  const std::vector<double> theirs = opencvMatrix(ra, rb);
  for (std::size_t k = 0; k < ours.size(); ++k) {
    zelvane::bench::checkEqual("iou_matrix_200x200 pair " + std::to_string(k), ours[k], theirs[k], kOpencvTolerance);
  }
  std::vector<cv::Point2f> region;
  zelvane::bench::checkEqual("iou_pair_overlap", stateOf(kPair[0]).overlap(stateOf(kPair[1])),
                             opencvIou(rectOf(kPair[0]), rectOf(kPair[1]), region), 1e-6);
}
#endif

void registerAll() {
#ifdef ZELVANE_BENCH_WITH_OPENCV
  checkAgreement();
  benchmark::RegisterBenchmark("iou_matrix_200x200/opencv", iouMatrixOpencv)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("iou_pair_overlap/opencv", iouPairOpencv);
#endif
  benchmark::RegisterBenchmark("iou_matrix_200x200/zelvane", iouMatrixZelvane)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("iou_pair_overlap/zelvane", iouPairZelvane);
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
