/// @file
/// The driving benchmark's tracking files: ground-truth labels, a detector's
/// detections and a tracker's results, read through one reader whose errors name the
/// file and line ("file:line: reason"), the result format written, and whole folders
/// of sequences loaded for an evaluation.
///
/// Formats, one object a line, numbers in decimal (coordinates: `eval/camera_box.h`):
///
///     labels      frame track_id type truncated occluded alpha left top right bottom
///                 h w l x y z ry                                       (17 fields)
///     results     the same, then an optional score                 (17 or 18 fields)
///     detections  frame,type,left,top,right,bottom,score,h,w,l,x,y,z,ry,alpha
///                                                      (15 fields, comma-separated)
///
/// Labels and results are separated by blanks (spaces or tabs, any number); the
/// fields of a detection line by commas, with blanks around them allowed. A detection's
/// type is a number: 1 Pedestrian, 2 Car, 3 Cyclist. Frame, track id, truncation,
/// occlusion and the detection type are integers ("3" or "3.0"); every other field a
/// finite decimal number, rounded once to double ("inf", "nan" and hexadecimal refused).
/// Frames are at least 0, track ids at least -1. Blank lines are skipped, a "\r" at a
/// line's end is ignored. A track id other than -1 twice in one frame of a labels or
/// results file is an error, as the benchmark has it.
#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include <zelvane/core/name_table.h>
#include <zelvane/eval/tracking_records.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace eval {

/// The three line formats of the file comment.
enum class TrackingFormat { Labels, Results, Detections };

/// The names of the formats, as the Python module takes them: "labels", "results",
/// "detections"; "unknown" outside the enumeration.
ZELVANE_CORE_API const NameTable<TrackingFormat>& trackingFormatNames();

/// A file that cannot be read or written, or a line that breaks its format. `what()` is
/// "file:line: reason" for a bad line, "file: reason" for the file as a whole.
class ZELVANE_CORE_API TrackingFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Every object of `input` in `format`, in file order. `name` is the file's name for
/// messages. Throws `TrackingFileError` at the first bad line with one of: "expected
/// 17 fields, found N" (17 or 18, 15), "field K (what) 'text' is not an integer" or
/// "... is not a finite number" (K counted from 1), "frame -1 is negative", "track id
/// -2 is below -1", "unknown detection type '7' (1 Pedestrian, 2 Car, 3 Cyclist)",
/// "track 4 appears twice in frame 12 (first on line 9)"; or "read error". Cost:
/// linear in the input, one string per object for its type.
ZELVANE_CORE_API std::vector<ObjectRecord> readTrackingRecords(std::istream& input,
                                                               const std::string& name,
                                                               TrackingFormat format);

/// `readTrackingRecords` on the file at `path` (named by its path in messages). Throws
/// `TrackingFileError` "path: cannot open (reason)" when it cannot be opened.
ZELVANE_CORE_API std::vector<ObjectRecord> readTrackingFile(const std::string& path,
                                                            TrackingFormat format);

/// Writes `record` as one line of the result format, 18 fields with the score last,
/// and a "\n": frame, track id, type, truncation, occlusion, then the numbers in
/// their shortest form that reads back as the same double (so reading the line gives
/// the record back exactly). The type is written as it is; it must be one word.
ZELVANE_CORE_API void writeResultLine(std::ostream& output, const ObjectRecord& record);

/// Writes every record with `writeResultLine`, in the order given.
ZELVANE_CORE_API void writeResults(std::ostream& output, const std::vector<ObjectRecord>& records);

/// Writes the records to the file at `path`, replacing it. Throws `TrackingFileError`
/// "path: cannot write (reason)".
ZELVANE_CORE_API void writeResultsFile(const std::string& path,
                                       const std::vector<ObjectRecord>& records);

/// One entry of a sequence list: the sequence's name (its files are `name`.txt) and its
/// number of frames (0: not given).
struct SequenceEntry {
  std::string name;
  long frameCount = 0;
};

/// Reads a sequence list, one sequence a line in one of three forms: "name", "name
/// count", or the benchmark's "name unused first count" (e.g. "0001 empty 000000
/// 000448": the frames are then 0 to count - 1; `first` must be 0). Blank lines are
/// skipped. Throws `TrackingFileError` ("file:line: reason") for another form, a
/// count that is not a positive integer, a first frame other than 0, or a name twice.
ZELVANE_CORE_API std::vector<SequenceEntry> readSequenceList(const std::string& path);

/// Loads sequences for an evaluation: for each entry of `sequences` (or, when it is
/// empty, each file `*.txt` of `groundTruthDirectory`, in name order, with no frame
/// count), the labels `groundTruthDirectory`/name.txt and the results
/// `resultsDirectory`/name.txt. Throws `TrackingFileError` for a file that is missing
/// or bad (a tracker that found nothing writes an empty file), and when
/// `groundTruthDirectory` holds no sequence.
ZELVANE_CORE_API std::vector<TrackingSequence> loadTrackingSequences(
    const std::string& groundTruthDirectory, const std::string& resultsDirectory,
    const std::vector<SequenceEntry>& sequences = {});

}  // namespace eval
}  // namespace zelvane
