// The readers of the benchmark's tracking files on arbitrary text, and the evaluation
// on whatever they accept: a line is either read whole or refused with "name:line:
// reason"; what is read has frames from 0, track ids from -1, finite numbers and no
// track id twice in a frame; results written and read back are the same records; and
// the evaluation of the records against themselves gives counts and ratios in range.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "eval/tracking_evaluation.h"
#include "eval/tracking_files.h"

namespace {

using namespace zelvane::eval;

void check(bool condition) {
  if (!condition) std::abort();
}

bool finite(const ObjectRecord& r) {
  const double values[] = {r.alpha,      r.image.left, r.image.top, r.image.right, r.image.bottom,
                           r.box.x,      r.box.y,      r.box.z,     r.box.height,  r.box.width,
                           r.box.length, r.box.yaw,    r.score};
  for (const double value : values) {
    if (!std::isfinite(value)) return false;
  }
  return true;
}

std::string resultText(const std::vector<ObjectRecord>& records) {
  std::ostringstream text;
  writeResults(text, records);
  return text.str();
}

bool within(double value, double low, double high) { return value >= low && value <= high; }

void evaluateAgainstItself(const std::vector<ObjectRecord>& records, std::uint8_t choice) {
  static const char* const classes[] = {"car", "pedestrian", "cyclist", "van"};
  EvaluationOptions options;
  options.objectClass = classes[choice % 4];
  options.measure = static_cast<Measure>((choice / 4) % 4);
  options.threshold = options.measure == Measure::CentreDistance ? 2.0 : 0.5;
  options.recallLevels = 1 + (choice / 16) % 40;
  ClassEvaluation evaluation;
  try {
    evaluation = evaluateTracking({TrackingSequence{"fuzz", 0, records, records}}, options);
  } catch (const std::invalid_argument&) {
    return;  // a frame number too large to count beyond
  }
  for (const ClearMot* clear : {&evaluation.clear}) {
    check(clear->truePositives >= clear->ignoredTruePositives && clear->ignoredTruePositives >= 0);
    check(clear->falsePositives >= 0 && clear->falseNegatives >= 0);
    check(clear->truePositives + clear->falsePositives + clear->ignoredResultObjects ==
          clear->resultObjects);
    check(clear->truePositives + clear->falseNegatives + clear->ignoredFalseNegatives ==
          clear->groundTruthObjects);
    check(clear->mota <= 1.0 && within(clear->recall, 0, 1) && within(clear->precision, 0, 1));
    check(within(clear->modp, 0, 1) || options.measure == Measure::CentreDistance);
  }
  // A level may land just past 1, where the walk's rising level has rounded below it.
  check(within(evaluation.samota, 0, 1.0 + 1.0 / options.recallLevels));
  check(within(evaluation.hota.hota, 0, 1));
  check(within(evaluation.identity.idf1, 0, 1));
  check(evaluation.levels.size() <= static_cast<std::size_t>(options.recallLevels) + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto format = static_cast<TrackingFormat>(data[0] % 3);
  const std::uint8_t choice = data[1];
  std::istringstream input(std::string(reinterpret_cast<const char*>(data + 2), size - 2));
  std::vector<ObjectRecord> records;
  try {
    records = readTrackingRecords(input, "fuzz", format);
  } catch (const TrackingFileError& error) {
    const std::string message = error.what();
    check(message.rfind("fuzz:", 0) == 0);
    return 0;
  }
  std::set<std::pair<long, long>> seen;
  for (const ObjectRecord& record : records) {
    check(record.frame >= 0 && record.trackId >= -1 && finite(record) && !record.type.empty());
    if (format != TrackingFormat::Detections && record.trackId != -1) {
      check(seen.emplace(record.frame, record.trackId).second);
    }
  }
  // Written as results and read back: the same records, so the same text again.
  const std::string written = resultText(records);
  std::istringstream again(written);
  const std::vector<ObjectRecord> back =
      readTrackingRecords(again, "written", TrackingFormat::Results);
  check(back.size() == records.size() && resultText(back) == written);

  if (format != TrackingFormat::Detections && records.size() <= 64) {
    evaluateAgainstItself(records, choice);
  }
  return 0;
}
