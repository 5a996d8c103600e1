// The tracking evaluation from Python: the benchmark's files read into NumPy columns,
// and the evaluation of folders or of such columns, returned as the JSON text and the
// table that zelvane_track_eval writes (zelvane.tracking turns them into a record).
#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "bindings.h"
#include "eval/tracking_evaluation.h"
#include "eval/tracking_files.h"
#include "eval/tracking_report.h"

namespace zelvane::python {

namespace {

using eval::ObjectRecord;

bool isPath(const py::handle& value) {
  return py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
         py::hasattr(value, "__fspath__");
}

// The failure of a file as ValueError("file:line: reason"), or "file: reason" for a
// file that cannot be opened (raised with the GIL held again by pybind11).
template <class Work>
auto withFiles(Work work) {
  try {
    return work();
  } catch (const eval::TrackingFileError& error) {
    throw py::value_error(error.what());
  }
}

using Column = std::optional<py::array_t<double, py::array::c_style>>;

// One column of a table: N numbers (`width` 0) or N rows of `width` numbers, as
// float64; none when the table lacks an optional column.
Column columnOf(const py::handle& table, const std::string& name, const char* key,
                py::ssize_t width, bool required) {
  if (!table.attr("__contains__")(key).cast<bool>()) {
    if (required) throw py::value_error(name + " has no column \"" + key + "\"");
    return std::nullopt;
  }
  const std::string what = name + "[\"" + key + "\"]";
  const py::array raw = py::array::ensure(table[key]);
  const char kind = raw ? raw.dtype().kind() : '?';
  if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b') {
    throw py::value_error(what + " must be an array of real numbers");
  }
  if ((width == 0 && raw.ndim() != 1) ||
      (width > 0 && (raw.ndim() != 2 || raw.shape(1) != width))) {
    throw py::value_error(
        what + " must have shape " +
        (width == 0 ? std::string("(N,)") : "(N, " + std::to_string(width) + ")"));
  }
  return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(raw);
}

// The columns of `table` (a mapping) as records; `name` names the table in messages.
std::vector<ObjectRecord> recordsFromColumns(const py::handle& table, const std::string& name) {
  if (!py::hasattr(table, "keys")) {
    throw py::value_error(name + " must be a mapping of columns (see read_tracking_file)");
  }
  const auto frame = columnOf(table, name, "frame", 0, true);
  const auto trackId = columnOf(table, name, "track_id", 0, true);
  const auto bbox = columnOf(table, name, "bbox", 4, true);
  const auto dimensions = columnOf(table, name, "dimensions", 3, true);
  const auto location = columnOf(table, name, "location", 3, true);
  const auto yaw = columnOf(table, name, "rotation_y", 0, true);
  const auto truncated = columnOf(table, name, "truncated", 0, false);
  const auto occluded = columnOf(table, name, "occluded", 0, false);
  const auto alpha = columnOf(table, name, "alpha", 0, false);
  const auto score = columnOf(table, name, "score", 0, false);
  if (!table.attr("__contains__")("type").cast<bool>()) {
    throw py::value_error(name + " has no column \"type\"");
  }
  const py::list types(table["type"]);
  const py::ssize_t n = frame->shape(0);
  for (const Column* column :
       {&trackId, &bbox, &dimensions, &location, &yaw, &truncated, &occluded, &alpha, &score}) {
    if (*column && (*column)->shape(0) != n) {
      throw py::value_error(name + ": every column must have as many rows as \"frame\"");
    }
  }
  if (static_cast<py::ssize_t>(types.size()) != n) {
    throw py::value_error(name + ": every column must have as many rows as \"frame\"");
  }
  const auto integer = [&](const Column& column, py::ssize_t i, const char* key) {
    const double value = column->data()[i];
    if (!(std::abs(value) < 9.2e18) || value != std::trunc(value)) {
      throw py::value_error(name + "[\"" + key + "\"] must hold integers");
    }
    return static_cast<long>(value);
  };
  std::vector<ObjectRecord> records(static_cast<std::size_t>(n));
  for (py::ssize_t i = 0; i < n; ++i) {
    ObjectRecord& r = records[static_cast<std::size_t>(i)];
    r.frame = integer(frame, i, "frame");
    r.trackId = integer(trackId, i, "track_id");
    r.type = py::str(types[static_cast<std::size_t>(i)]).cast<std::string>();
    if (truncated) r.truncation = static_cast<int>(integer(truncated, i, "truncated"));
    if (occluded) r.occlusion = static_cast<int>(integer(occluded, i, "occluded"));
    if (alpha) r.alpha = alpha->data()[i];
    if (score) r.score = score->data()[i];
    const double* b = bbox->data() + 4 * i;
    const double* d = dimensions->data() + 3 * i;
    const double* l = location->data() + 3 * i;
    r.image = eval::ImageBox{b[0], b[1], b[2], b[3]};
    r.box = eval::CameraBox{l[0], l[1], l[2], d[0], d[1], d[2], yaw->data()[i]};
  }
  return records;
}

py::dict columnsFromRecords(const std::vector<ObjectRecord>& records) {
  const auto n = static_cast<py::ssize_t>(records.size());
  py::array_t<long> frame(n), trackId(n), truncated(n), occluded(n);
  py::array_t<double> alpha(n), yaw(n), score(n), bbox({n, py::ssize_t{4}}),
      dimensions({n, py::ssize_t{3}}), location({n, py::ssize_t{3}});
  py::list types;
  for (py::ssize_t i = 0; i < n; ++i) {
    const ObjectRecord& r = records[static_cast<std::size_t>(i)];
    frame.mutable_data()[i] = r.frame;
    trackId.mutable_data()[i] = r.trackId;
    truncated.mutable_data()[i] = r.truncation;
    occluded.mutable_data()[i] = r.occlusion;
    alpha.mutable_data()[i] = r.alpha;
    yaw.mutable_data()[i] = r.box.yaw;
    score.mutable_data()[i] = r.score;
    double* b = bbox.mutable_data() + 4 * i;
    b[0] = r.image.left, b[1] = r.image.top, b[2] = r.image.right, b[3] = r.image.bottom;
    double* d = dimensions.mutable_data() + 3 * i;
    d[0] = r.box.height, d[1] = r.box.width, d[2] = r.box.length;
    double* l = location.mutable_data() + 3 * i;
    l[0] = r.box.x, l[1] = r.box.y, l[2] = r.box.z;
    types.append(r.type);
  }
  py::dict columns;
  columns["frame"] = frame;
  columns["track_id"] = trackId;
  columns["type"] = py::module_::import("numpy").attr("array")(types, py::arg("dtype") = "str");
  columns["truncated"] = truncated;
  columns["occluded"] = occluded;
  columns["alpha"] = alpha;
  columns["bbox"] = bbox;
  columns["dimensions"] = dimensions;
  columns["location"] = location;
  columns["rotation_y"] = yaw;
  columns["score"] = score;
  return columns;
}

py::dict readTrackingFile(const py::handle& file, const std::string& format) {
  const std::string path = pathArgument(file);
  const auto parsed = nameArgument(eval::trackingFormatNames(), format, "format");
  std::vector<ObjectRecord> records;
  {
    py::gil_scoped_release release;
    records = withFiles([&] { return eval::readTrackingFile(path, parsed); });
  }
  return columnsFromRecords(records);
}

// The sequences of folders, or of mappings from names to columns.
std::vector<eval::TrackingSequence> sequencesArgument(const py::handle& groundTruth,
                                                      const py::handle& results,
                                                      const py::handle& frameCounts) {
  std::vector<eval::SequenceEntry> entries;
  if (!frameCounts.is_none()) {
    for (const auto& item : py::dict(frameCounts.attr("items")().cast<py::iterable>())) {
      entries.push_back(
          eval::SequenceEntry{py::str(item.first).cast<std::string>(), item.second.cast<long>()});
    }
  }
  if (isPath(groundTruth) != isPath(results)) {
    throw py::value_error("ground_truth and results must both be folders or both mappings");
  }
  if (isPath(groundTruth)) {
    const std::string truthPath = pathArgument(groundTruth);
    const std::string resultsPath = pathArgument(results);
    py::gil_scoped_release release;
    return withFiles([&] { return eval::loadTrackingSequences(truthPath, resultsPath, entries); });
  }
  std::vector<eval::TrackingSequence> sequences;
  for (const auto& item : py::dict(groundTruth.attr("items")().cast<py::iterable>())) {
    eval::TrackingSequence sequence;
    sequence.name = py::str(item.first).cast<std::string>();
    if (!results.attr("__contains__")(item.first).cast<bool>()) {
      throw py::value_error("results has no sequence \"" + sequence.name + "\"");
    }
    sequence.groundTruth =
        recordsFromColumns(item.second, "ground_truth[\"" + sequence.name + "\"]");
    sequence.results =
        recordsFromColumns(results[item.first], "results[\"" + sequence.name + "\"]");
    for (const eval::SequenceEntry& entry : entries) {
      if (entry.name == sequence.name) sequence.frameCount = entry.frameCount;
    }
    sequences.push_back(std::move(sequence));
  }
  return sequences;
}

py::tuple evaluateTracking(const py::handle& groundTruth, const py::handle& results,
                           const std::vector<std::string>& classes, const std::string& measure,
                           const py::object& threshold, const py::handle& frameCounts,
                           int maxTruncation, int maxOcclusion, double minHeight,
                           int recallLevels) {
  eval::EvaluationOptions options;
  options.measure = nameArgument(eval::measureNames(), measure, "measure");
  options.threshold = threshold.is_none()
                          ? (options.measure == eval::Measure::CentreDistance ? 2.0 : 0.25)
                          : threshold.cast<double>();
  options.maxTruncation = maxTruncation;
  options.maxOcclusion = maxOcclusion;
  options.minHeight = minHeight;
  options.recallLevels = recallLevels;
  const std::vector<eval::TrackingSequence> sequences =
      sequencesArgument(groundTruth, results, frameCounts);
  std::ostringstream json;
  std::string table;
  {
    py::gil_scoped_release release;
    try {
      const auto evaluations = eval::evaluateTrackingClasses(sequences, classes, options);
      eval::writeTrackingJson(json, evaluations);
      table = eval::formatTrackingTable(evaluations);
    } catch (const std::invalid_argument& error) {
      throw py::value_error(error.what());
    }
  }
  return py::make_tuple(json.str(), table);
}

}  // namespace

void bindTracking(py::module_& m) {
  m.def("read_tracking_file", &readTrackingFile, py::arg("path"), py::arg("format") = "results",
        R"doc(read_tracking_file(path, format="results")
--

Reads a file of the driving benchmark's tracking formats into NumPy columns, with the
library's reader (the one ``evaluate_tracking`` and ``zelvane_track_eval`` use).

Parameters
----------
path : str or os.PathLike
format : {"results", "labels", "detections"}
    The result format (17 or 18 fields, the score last), the ground-truth labels (17
    fields), or a detector's comma-separated detections (15 fields).

Returns
-------
dict
    One entry per column, one row per object in file order: "frame", "track_id",
    "truncated", "occluded" (int arrays; -1 where the format has none), "type" (str
    array), "alpha", "rotation_y", "score" (float64; score -1 where the file has none),
    "bbox" (N, 4: left, top, right, bottom in pixels), "dimensions" (N, 3: height,
    width, length), "location" (N, 3: x, y, z of the bottom centre in the camera frame).

Raises
------
ValueError
    For a file that cannot be opened or a bad line: "file:line: reason".
)doc");
  m.def("_evaluate_tracking", &evaluateTracking, py::arg("ground_truth"), py::arg("results"),
        py::arg("classes"), py::arg("measure"), py::arg("threshold"), py::arg("frame_counts"),
        py::arg("max_truncation"), py::arg("max_occlusion"), py::arg("min_height"),
        py::arg("recall_levels"),
        "_evaluate_tracking(...)\n--\n\nThe evaluation behind zelvane.evaluate_tracking: "
        "returns (JSON text, table text).");
}

}  // namespace zelvane::python
