// The evaluation on small sequences whose every count is worked out by hand: the
// matching, each ignore rule, identity switches and fragmentations in their edge cases,
// the recall levels, and the pass-to-pass rule of matched results. Boxes are image
// rectangles, so each overlap is a fraction of pixel areas.
#include <gtest/gtest.h>

#include <cmath>

#include "eval/tracking_evaluation.h"

namespace zelvane::eval {
namespace {

// An object whose image rectangle is `left` to `left` + `width` across and 100 to 100
// + `height` down, all its other fields plain.
ObjectRecord object(long frame, long id, double left, double width = 20.0, double height = 50.0,
                    const char* type = "Car") {
  ObjectRecord record;
  record.frame = frame;
  record.trackId = id;
  record.type = type;
  record.truncation = 0;
  record.occlusion = 0;
  record.image = ImageBox{left, 100.0, left + width, 100.0 + height};
  record.box = CameraBox{left, 1.5, 20.0, 1.5, 1.6, 4.0, 0.0};
  return record;
}

ObjectRecord scored(ObjectRecord record, double score) {
  record.score = score;
  return record;
}

ObjectRecord occluded(ObjectRecord record, int occlusion) {
  record.occlusion = occlusion;
  return record;
}

ClassEvaluation evaluate(const std::vector<ObjectRecord>& truth,
                         const std::vector<ObjectRecord>& results, long frames = 0,
                         int recallLevels = 40) {
  EvaluationOptions options;
  options.measure = Measure::ImageOverlap;
  options.threshold = 0.5;
  options.recallLevels = recallLevels;
  return evaluateTracking({TrackingSequence{"s", frames, truth, results}}, options);
}

// One ground-truth track seen in frames 0 to 5, matched by result track 10, then by 11.
TEST(TrackingEvaluation, SwitchesAndFragmentsAlongOneTrajectory) {
  const struct {
    const char* name;
    std::vector<long> matchedBy;  // per frame: the result track, or -1
    int ignoredFrame;             // an occluded frame, or -1
    std::vector<long> counts;     // IDS, FRAG, TP, FN, ITP, FP, MT, PT, ML
  } cases[] = {
      {"switch", {10, 10, 10, 11, 11, 11}, -1, {1, 1, 6, 0, 0, 0, 1, 0, 0}},
      {"switch across an ignored frame", {10, 10, 10, 11, 11, 11}, 3, {0, 0, 6, 0, 1, 0, 1, 0, 0}},
      {"gap resumed", {10, -1, 10, 10, 10, 10}, -1, {0, 1, 5, 1, 0, 0, 1, 0, 0}},
      {"resumed for one frame, then for good",
       {10, -1, 10, -1, 10, 10},
       -1,
       {0, 1, 4, 2, 0, 0, 0, 1, 0}},
      {"resumed in the last frame", {10, 10, 10, 10, -1, 10}, -1, {0, 1, 5, 1, 0, 0, 1, 0, 0}},
      {"first matched in the last frame",
       {-1, -1, -1, -1, -1, 10},
       -1,
       {0, 1, 1, 5, 0, 0, 0, 0, 1}},
      {"switch after a gap", {10, 10, -1, 11, 11, 11}, -1, {0, 1, 5, 1, 0, 0, 1, 0, 0}},
      {"never matched", {-1, -1, -1, -1, -1, -1}, -1, {0, 0, 0, 6, 0, 0, 0, 0, 1}},
      {"matched only while ignored", {-1, -1, -1, 10, -1, -1}, 3, {0, 0, 1, 5, 1, 0, 0, 0, 1}},
  };
  for (const auto& c : cases) {
    std::vector<ObjectRecord> truth;
    std::vector<ObjectRecord> results;
    for (long f = 0; f < 6; ++f) {
      truth.push_back(occluded(object(f, 1, 0.0), f == c.ignoredFrame ? 3 : 0));
      const long track = c.matchedBy[static_cast<std::size_t>(f)];
      if (track != -1) results.push_back(object(f, track, 0.0));
    }
    const ClearMot m = evaluate(truth, results).clear;
    EXPECT_EQ((std::vector<long>{m.idSwitches, m.fragmentations, m.truePositives, m.falseNegatives,
                                 m.ignoredTruePositives, m.falsePositives, m.mostlyTracked,
                                 m.partlyTracked, m.mostlyLost}),
              c.counts)
        << c.name;
  }
}

// One frame at a time: what each ignore rule does to a lone object or result.
TEST(TrackingEvaluation, IgnoreRulesCountNeitherWay) {
  ObjectRecord region = object(0, -1, 100.0, 40.0);
  region.type = "DontCare";
  const struct {
    const char* name;
    std::vector<ObjectRecord> truth;
    std::vector<ObjectRecord> results;
    std::vector<long> counts;  // TP, ITP, FP, FN, IFN, ignored results, ground truth
  } cases[] = {
      {"match at exactly the threshold",
       {object(0, 1, 0.0)},
       {object(0, 5, 0.0, 10.0)},
       {1, 0, 0, 0, 0, 0, 1}},
      {"just below the threshold",
       {object(0, 1, 0.0)},
       {object(0, 5, 0.0, 9.9)},
       {0, 0, 1, 1, 0, 0, 1}},
      {"neighbour matched",
       {object(0, 1, 0.0, 20, 50, "Van")},
       {object(0, 5, 0.0)},
       {1, 1, 0, 0, 0, 0, 1}},
      {"neighbour missed", {object(0, 1, 0.0, 20, 50, "Van")}, {}, {0, 0, 0, 0, 1, 0, 1}},
      {"too occluded", {occluded(object(0, 1, 0.0), 3)}, {}, {0, 0, 0, 0, 1, 0, 1}},
      {"occluded within the limit", {occluded(object(0, 1, 0.0), 2)}, {}, {0, 0, 0, 1, 0, 0, 1}},
      {"result of the neighbour", {}, {object(0, 5, 0.0, 20, 50, "Van")}, {0, 0, 0, 0, 0, 1, 0}},
      {"result 25 px high", {}, {object(0, 5, 0.0, 20, 25)}, {0, 0, 0, 0, 0, 1, 0}},
      {"result 26 px high", {}, {object(0, 5, 0.0, 20, 26)}, {0, 0, 1, 0, 0, 0, 0}},
      {"result 60 % in a region", {region}, {object(0, 5, 128.0)}, {0, 0, 0, 0, 0, 1, 0}},
      {"result half in a region", {region}, {object(0, 5, 130.0)}, {0, 0, 1, 0, 0, 0, 0}},
      {"other types dropped",
       {object(0, 1, 0.0, 20, 50, "Truck")},
       {object(0, 5, 60.0, 20, 50, "Tram")},
       {0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    const ClearMot m = evaluate(c.truth, c.results, 1).clear;
    EXPECT_EQ((std::vector<long>{m.truePositives, m.ignoredTruePositives, m.falsePositives,
                                 m.falseNegatives, m.ignoredFalseNegatives, m.ignoredResultObjects,
                                 m.groundTruthObjects}),
              c.counts)
        << c.name;
  }
}

// Object 1 overlaps result A fully and B at 0.6; object 2 overlaps only A (0.6): the
// cheapest pair first would leave object 2 out, the benchmark's matching takes both.
TEST(TrackingEvaluation, MatchingTakesTheMostPairsBeforeTheLeastCost) {
  const ClearMot clear =
      evaluate({object(0, 1, 10.0), object(0, 2, 15.0)}, {object(0, 7, 10.0), object(0, 8, 5.0)})
          .clear;
  EXPECT_EQ(clear.truePositives, 2);
  EXPECT_DOUBLE_EQ(clear.motp, (750.0 / 1250.0 + 750.0 / 1250.0) / 2);
}

// Frames 0 to 5 of which only 1 and 4 hold anything; result track 7 follows object 1
// and then, with the same id, object 2.
TEST(TrackingEvaluation, EmptyFramesAndAReusedTrackId) {
  const ClassEvaluation evaluation =
      evaluate({object(1, 1, 0.0), object(4, 2, 50.0)}, {object(1, 7, 5.0), object(4, 7, 50.0)}, 6);
  const ClearMot& clear = evaluation.clear;
  EXPECT_EQ(clear.frames, 6);
  EXPECT_EQ(clear.truePositives, 2);
  EXPECT_EQ(clear.idSwitches + clear.fragmentations, 0);
  EXPECT_DOUBLE_EQ(clear.motp, (0.6 + 1.0) / 2);
  // Frames without a true positive count 1.
  EXPECT_DOUBLE_EQ(clear.modp, (1 + 0.6 + 1 + 1 + 1 + 1) / 6.0);
  EXPECT_EQ(clear.falseAlarmRate, 0.0);
  // One result track for two objects: it can be identified with one of them only.
  EXPECT_EQ(evaluation.identity.idTruePositives, 1);
  EXPECT_EQ(evaluation.identity.idFalseNegatives, 1);
  EXPECT_EQ(evaluation.identity.idFalsePositives, 1);
  EXPECT_DOUBLE_EQ(evaluation.identity.idf1, 0.5);

  // A frame number far beyond the others costs nothing but its count.
  const ClearMot far = evaluate({object(0, 1, 0.0)}, {object(1000000000000L, 5, 0.0)}).clear;
  EXPECT_EQ(far.frames, 1000000000001L);
  EXPECT_EQ(far.falsePositives, 1);
  EXPECT_EQ(far.falseNegatives, 1);
}

TEST(TrackingEvaluation, EmptyResultScoresNothing) {
  const ClassEvaluation evaluation = evaluate({object(0, 1, 0.0), object(1, 1, 0.0)}, {});
  EXPECT_TRUE(evaluation.levels.empty());
  EXPECT_FALSE(evaluation.thresholdApplied);
  EXPECT_EQ(evaluation.samota, 0.0);
  EXPECT_EQ(evaluation.clear.falseNegatives, 2);
  EXPECT_EQ(evaluation.clear.mota, 0.0);
  EXPECT_EQ(evaluation.clear.mostlyLost, 1);
  EXPECT_EQ(evaluation.hota.hota, 0.0);
  EXPECT_EQ(evaluation.identity.idf1, 0.0);
  EXPECT_EQ(evaluation.sequences.at(0).identity.idFalseNegatives, 2);
}

// Four objects matched by tracks scored 0.9 to 0.6 and two false tracks scored 0.95,
// with four recall levels: the walk records (0.8, 0.25), (0.7, 0.5), (0.6, 0.75).
TEST(TrackingEvaluation, RecallLevelsScaleMotaAsWorkedOut) {
  std::vector<ObjectRecord> truth;
  std::vector<ObjectRecord> results;
  const double scores[] = {0.9, 0.8, 0.7, 0.6};
  for (long f = 0; f < 4; ++f) {
    truth.push_back(object(f, f, 0.0));
    results.push_back(scored(object(f, 10 + f, 0.0), scores[f]));
  }
  results.push_back(scored(object(0, 20, 300.0), 0.95));
  results.push_back(scored(object(1, 21, 300.0), 0.95));
  const ClassEvaluation evaluation = evaluate(truth, results, 0, 4);
  ASSERT_EQ(evaluation.levels.size(), 3u);
  const double thresholds[] = {0.8, 0.7, 0.6};
  const double recalls[] = {0.25, 0.5, 0.75};
  // sMOTA_r = 1 - (FN + FP - (1 - r) 4) / (4 r): FN 2, 1, 0 and FP 2 give 0, 1/2, 2/3.
  const double smota[] = {0.0, 0.5, 2.0 / 3.0};
  const double mota[] = {0.0, 0.25, 0.5};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(evaluation.levels[i].threshold, thresholds[i]);
    EXPECT_EQ(evaluation.levels[i].recall, recalls[i]);
    EXPECT_DOUBLE_EQ(evaluation.levels[i].smota, smota[i]);
    EXPECT_DOUBLE_EQ(evaluation.levels[i].clear.mota, mota[i]);
  }
  EXPECT_DOUBLE_EQ(evaluation.samota, (0.5 + 2.0 / 3.0) / 4);
  EXPECT_DOUBLE_EQ(evaluation.amota, 0.75 / 4);
  // The whole run takes the level of the best MOTA.
  EXPECT_TRUE(evaluation.thresholdApplied);
  EXPECT_EQ(evaluation.threshold, 0.6);
  EXPECT_EQ(evaluation.clear.falsePositives, 2);
}

// Objects 1 and 2 overlap; result L (scored 0.9, 20 px high) matches object 1 only in
// the pass at 0.8, where B (0.8) is needed for object 2 and C (0.1) is left out. In the
// pass at 0.1, B and C take both objects and L is unmatched: ignored by its height in
// the first pass, it counts as a false positive once it has been matched.
TEST(TrackingEvaluation, AResultMatchedInAnEarlierPassIsNeverIgnoredAgain) {
  const std::vector<ObjectRecord> truth = {object(0, 0, 300.0), object(1, 1, 0.0, 20, 30),
                                           object(1, 2, 2.0, 20, 30)};
  const std::vector<ObjectRecord> results = {
      scored(object(0, 9, 300.0), 0.95), scored(object(1, 10, 0.0, 20, 20), 0.9),
      scored(object(1, 11, 1.0, 20, 30), 0.8), scored(object(1, 12, 2.0, 20, 30), 0.1)};
  const ClassEvaluation evaluation = evaluate(truth, results, 0, 2);
  ASSERT_EQ(evaluation.levels.size(), 2u);
  EXPECT_EQ(evaluation.levels[0].threshold, 0.8);
  EXPECT_EQ(evaluation.levels[0].clear.falsePositives, 0);
  EXPECT_EQ(evaluation.levels[1].threshold, 0.1);
  EXPECT_EQ(evaluation.levels[1].clear.truePositives, 3);
  EXPECT_EQ(evaluation.levels[1].clear.falsePositives, 1);
  EXPECT_EQ(evaluation.levels[1].clear.ignoredResultObjects, 0);
}

TEST(TrackingEvaluation, RefusesWhatCannotBeEvaluated) {
  const std::vector<ObjectRecord> one = {object(0, 1, 0.0)};
  const auto refuses = [](std::vector<TrackingSequence> sequences, EvaluationOptions options) {
    EXPECT_THROW(evaluateTracking(sequences, options), std::invalid_argument);
  };
  const TrackingSequence sequence{"s", 0, one, one};
  EvaluationOptions options;
  for (const double threshold : {0.0, -0.5, 1.5, std::nan("")}) {
    options.threshold = threshold;
    refuses({sequence}, options);
  }
  options = EvaluationOptions();
  options.measure = Measure::CentreDistance;
  options.threshold = 0.0;
  refuses({sequence}, options);
  options = EvaluationOptions();
  options.recallLevels = 0;
  refuses({sequence}, options);
  options.recallLevels = 40;
  options.objectClass = "";
  refuses({sequence}, options);
  options.objectClass = "car";
  refuses({TrackingSequence{"s", 1, {object(1, 1, 0.0)}, {}}}, options);  // beyond its frames
  refuses({TrackingSequence{"s", 0, {}, {object(0, 4, 0.0), object(0, 4, 50.0)}}}, options);
  refuses({sequence, sequence}, options);
  ObjectRecord infinite = object(0, 1, 0.0);
  infinite.box.x = HUGE_VAL;
  refuses({TrackingSequence{"s", 0, {infinite}, {}}}, options);
  // Objects of other classes are not looked at.
  EXPECT_NO_THROW(evaluateTracking(
      {TrackingSequence{"s", 1, {}, {object(3, 4, 0.0, 20, 50, "Tram")}}}, options));
}

}  // namespace
}  // namespace zelvane::eval
