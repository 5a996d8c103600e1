/// @file
/// `Tracker`: boxes detected frame after frame turned into tracks with ids.
///
/// Each frame (`step`), for each class of objects on its own:
///   1. predict every track to the frame's time (the step from the previous frame's
///      time, whatever the frame rate) with the class's motion model
///      (track/motion_model.h);
///   2. associate the predicted boxes with the class's detections (`core::associate`,
///      with the class's metric, threshold and method);
///   3. update each matched track with its detection; a track not matched counts a
///      miss and coasts on its prediction;
///   4. end the tracks that missed too often: a tentative track after
///      `maxTentativeMisses` misses in a row, a confirmed one after `maxMisses`;
///   5. start a tentative track from each detection left unmatched whose score is at
///      least `birthScore`; a track is confirmed once it has been matched `confirmHits`
///      times (a new track counts its first detection);
///   6. report the tracks that the class's `OutputPolicy` names.
///
/// Ids are unique within a tracker and never reused: every new track takes the next
/// number, from 0, whatever its class. Times are seconds; the tracker keeps the time of
/// its last frame and refuses an earlier one. Boxes are in one frame of reference
/// throughout (see track/fixed_frame_tracker.h for tracking in a fixed frame while the
/// sensor moves).
///
/// Reported score (for ranking tracks, as recall-averaged scores need): the score of
/// the detection that updated the track in this frame; for a coasting track, the score
/// of its last detection.
///
/// Cost of a frame: the prediction and update of every track (tens of nanoseconds each,
/// no allocation), the association (see core/association.h), and the reported boxes
/// (one allocation for the returned list). The tracker keeps its working memory from
/// one frame to the next.
/// Not safe to share between threads while one of them calls `step`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <zelvane/core/association.h>
#include <zelvane/core/image_box.h>
#include <zelvane/core/state.h>
#include <zelvane/track/motion_model.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace track {

/// The motion model of a class's tracks.
enum class MotionModelKind {
  ConstantVelocity,
  ConstantTurnRate,
};

/// Which of a class's tracks a frame reports.
struct OutputPolicy {
  /// Report tentative tracks matched (or started) in this frame while the tracker has
  /// run no more frames than the class's `confirmHits`: in a sequence's first frames no
  /// track can be confirmed yet, and the objects there are as real as later ones.
  bool tentativeInFirstFrames = true;
  /// Report a confirmed track for up to this many frames in a row without a match,
  /// at its predicted box (0: only tracks matched in this frame).
  int coastingFrames = 0;
};

/// Everything that governs one class's tracks.
struct ClassParameters {
  /// The class's name ("Car"), for settings files and messages.
  std::string name;
  /// The motion model and the parameters of both models (the other is kept unused,
  /// so that a class can be switched from one to the other).
  MotionModelKind motionModel = MotionModelKind::ConstantVelocity;
  ConstantVelocity constantVelocity;
  ConstantTurnRate constantTurnRate;
  /// The noise of the detected boxes.
  MeasurementNoise measurementNoise;
  /// How predicted tracks and detections are paired (core/association.h): the
  /// metric, its threshold (the least overlap, exclusive, or the largest distance)
  /// and the method.
  core::AssociationMetric metric = core::AssociationMetric::Overlap3d;
  double threshold = 0.1;
  core::AssociationMethod method = core::AssociationMethod::Optimal;
  /// The least score of a detection that starts a track.
  float birthScore = -std::numeric_limits<float>::infinity();
  /// Matches (the first detection included) that confirm a track; at least 1.
  int confirmHits = 3;
  /// Misses in a row after which a confirmed track ends: it coasts through up to this
  /// many. At least 0.
  int maxMisses = 2;
  /// Misses in a row after which a tentative track ends. At least 0.
  int maxTentativeMisses = 0;
  /// Which tracks a frame reports.
  OutputPolicy output;
};

/// A rectangle in the image, pixels, carried from a detection to its track unchanged.
using ImageBox = core::ImageBox;

/// One detected box.
struct Detection {
  /// The box: its position (the tracked point, the box centre taken through the
  /// anchor), heading and dimensions are read; covariances are not (the class's
  /// `measurementNoise` is the noise).
  core::State box;
  /// The detector's confidence, higher is surer (any finite number).
  float score = 0.0f;
  /// Index of the class in the tracker's list of classes.
  std::size_t classIndex = 0;
  /// The box in the image, if the detector gives one; carried to the track.
  ImageBox imageBox;
};

/// A track's bookkeeping.
struct TrackRecord {
  /// Unique within the tracker, never reused.
  std::uint64_t id = 0;
  std::size_t classIndex = 0;
  /// Confirmed (`confirmHits` matches reached) or still tentative.
  bool confirmed = false;
  /// Frames matched, the first detection included.
  int hits = 0;
  /// Frames in a row without a match (0: matched in the last frame).
  int misses = 0;
  /// Frames since the track started (0 in its first frame).
  int age = 0;
  /// Score and image box of the last detection matched.
  float score = 0.0f;
  ImageBox imageBox;
};

/// One track as a frame reports it.
struct TrackedBox {
  /// The track's bookkeeping after this frame.
  TrackRecord record;
  /// The estimate as a state: the box centre and its covariance, the heading, the
  /// extents, the velocity and (turn model) the heading rate, each the marginal of the
  /// track's joint covariance (see `stateOf` in track/motion_model.h).
  core::State state;
  /// The reported score (see the file comment).
  float score = 0.0f;
  /// Index of this frame's detection that updated the track; `NO_DETECTION` when it
  /// coasts.
  std::size_t detection = 0;
};

/// `TrackedBox::detection` of a coasting track.
constexpr std::size_t NO_DETECTION = std::numeric_limits<std::size_t>::max();

/// One live track with its estimate, as `Tracker::Snapshot` holds it.
struct Track {
  TrackRecord record;
  Estimate estimate;
};

/// Frame-by-frame tracking of detected boxes; see the file comment.
class ZELVANE_CORE_API Tracker {
 public:
  /// Everything a tracker holds: what `snapshot` returns and the constructor from a
  /// snapshot takes, to resume exactly.
  struct Snapshot {
    std::vector<ClassParameters> classes;
    /// Live tracks, in the order the tracker keeps them (by class, then by id).
    std::vector<Track> tracks;
    /// The id the next track takes.
    std::uint64_t nextId = 0;
    /// Frames stepped so far, and the time of the last (meaningless before the first).
    std::uint64_t frames = 0;
    double time = 0.0;
  };

  /// A tracker of the given classes (a detection's `classIndex` indexes this list).
  /// Throws `std::invalid_argument` naming the class and the parameter for an empty
  /// list, a class name used twice, a non-finite or negative noise, a threshold that
  /// `core::associate` refuses, `confirmHits` below 1 or a negative miss count.
  explicit Tracker(std::vector<ClassParameters> classes);

  /// A tracker that resumes `snapshot` exactly. Throws `std::invalid_argument` as the
  /// other constructor for its classes, and for a track of a class not listed, an id
  /// twice or not below `nextId`, or tracks out of the order described.
  explicit Tracker(const Snapshot& snapshot);

  /// Tracks one frame at `time` (seconds): the steps of the file comment. Returns the
  /// tracks that the classes' output policies report, by id.
  ///
  /// Throws `std::invalid_argument`, changing nothing, for a non-finite time, a time
  /// before the last frame's, a detection whose class is not listed, whose score is
  /// not finite, or whose box lacks a finite position, heading or dimensions.
  std::vector<TrackedBox> step(double time, const std::vector<Detection>& detections);

  /// Every live track (tentative, confirmed, coasting) at its estimate after the last
  /// frame, by id, each with `detection` `NO_DETECTION`.
  std::vector<TrackedBox> tracks() const;

  /// The classes, as given.
  const std::vector<ClassParameters>& classes() const { return classes_; }

  /// Frames stepped so far.
  std::uint64_t frames() const { return frames_; }

  /// The time of the last frame (meaningless before the first).
  double time() const { return time_; }

  /// Everything the tracker holds, for `Tracker(const Snapshot&)`.
  Snapshot snapshot() const;

 private:
  // One class's live tracks: estimates and bookkeeping side by side, in the same
  // order (by id), added and removed together by `ClassTracks` alone.
  struct ClassTracks {
    std::vector<Estimate> estimates;
    std::vector<TrackRecord> records;

    void add(const Estimate& estimate, const TrackRecord& record);
    // Keeps the tracks for which `keep(record)` is true, in order.
    template <class Keep>
    void keepIf(Keep keep);
  };

  void stepClass(std::size_t classIndex, const std::vector<Detection>& detections, float dt,
                 std::vector<TrackedBox>& reported);
  // Appends the report of `track` of the class, matched with `detection` (or
  // `NO_DETECTION`).
  void report(std::size_t classIndex, std::size_t track, std::size_t detection,
              std::vector<TrackedBox>& reported) const;

  std::vector<ClassParameters> classes_;
  std::vector<ClassTracks> tracks_;
  std::uint64_t nextId_ = 0;
  std::uint64_t frames_ = 0;
  double time_ = 0.0;

  // Working memory kept from one frame to the next.
  std::vector<core::State> predicted_;
  std::vector<core::State> classDetections_;
  std::vector<std::size_t> detectionIndex_;
  std::vector<MeasurementVector> measurements_;
  std::vector<std::size_t> trackMatch_;
  std::vector<char> detectionTaken_;
};

}  // namespace track
}  // namespace zelvane
