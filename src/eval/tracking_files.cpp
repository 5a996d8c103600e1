#include "eval/tracking_files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <iterator>
#include <ostream>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>

namespace zelvane {
namespace eval {
namespace {

constexpr std::size_t LABEL_FIELDS = 17;
constexpr std::size_t RESULT_FIELDS_WITH_SCORE = 18;
constexpr std::size_t DETECTION_FIELDS = 15;
constexpr std::size_t MAX_FIELDS = 32;

// The types of a detection line's second field.
constexpr std::array<const char*, 3> DETECTION_TYPES = {"Pedestrian", "Car", "Cyclist"};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The fields of a line, as views into it; more than MAX_FIELDS are counted, not kept.
struct Fields {
  std::array<std::string_view, MAX_FIELDS> text;
  std::size_t count = 0;

  void add(std::string_view field) {
    if (count < MAX_FIELDS) text[count] = field;
    ++count;
  }
};

Fields splitAtBlanks(std::string_view line) {
  Fields fields;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && isBlank(line[at])) ++at;
    const std::size_t start = at;
    while (at < line.size() && !isBlank(line[at])) ++at;
    if (at > start) fields.add(line.substr(start, at - start));
  }
  return fields;
}

Fields splitAtCommas(std::string_view line) {
  Fields fields;
  std::size_t start = 0;
  for (std::size_t comma = line.find(','); comma != std::string_view::npos;
       comma = line.find(',', start)) {
    fields.add(trimmed(line.substr(start, comma - start)));
    start = comma + 1;
  }
  fields.add(trimmed(line.substr(start)));
  return fields;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether `text` is a plain decimal number: sign, digits with an optional point, an
// optional exponent; no blanks, no "inf", "nan" or hexadecimal.
bool isDecimal(std::string_view text) {
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  std::size_t digits = 0;
  while (at < text.size() && isDigit(text[at])) ++at, ++digits;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && isDigit(text[at])) ++at, ++digits;
  }
  if (digits == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    std::size_t exponentDigits = 0;
    while (at < text.size() && isDigit(text[at])) ++at, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return at == text.size();
}

// A finite decimal number, rounded once to double.
bool parseDouble(std::string_view text, double& value) {
  if (!isDecimal(text)) return false;
  if (text.front() == '+') text.remove_prefix(1);
  double parsed = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error == std::errc::result_out_of_range) {
    // Below the double range reads as 0 or a subnormal; beyond it is refused.
    parsed = std::strtod(std::string(text).c_str(), nullptr);
  } else if (error != std::errc() || end != text.data() + text.size()) {
    return false;
  }
  if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

// An integer written as one ("12") or as a decimal number with an integral value
// ("12.0"), within the range of long.
bool parseInteger(std::string_view text, long& value) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  long parsed = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
  if (error == std::errc() && end == digits.data() + digits.size() && !digits.empty()) {
    value = parsed;
    return true;
  }
  double number = 0.0;
  constexpr double LONG_LIMIT = 9.2e18;  // below 2^63, so the conversion is exact
  if (!parseDouble(text, number) || number != std::trunc(number) || std::abs(number) > LONG_LIMIT) {
    return false;
  }
  value = static_cast<long>(number);
  return true;
}

// The meaning of each field of the blank-separated formats, for messages.
constexpr std::array<const char*, RESULT_FIELDS_WITH_SCORE> LABEL_FIELD_NAMES = {
    "frame",  "track id", "type", "truncated", "occluded", "alpha", "left", "top", "right",
    "bottom", "h",        "w",    "l",         "x",        "y",     "z",    "ry",  "score"};
constexpr std::array<const char*, DETECTION_FIELDS> DETECTION_FIELD_NAMES = {
    "frame", "type", "left", "top", "right", "bottom", "score", "h",
    "w",     "l",    "x",    "y",   "z",     "ry",     "alpha"};

// A line that breaks its format, with the reason; `readTrackingRecords` adds the
// file and line.
class LineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the fields of one line into a record; throws `LineError`.
class LineReader {
 public:
  LineReader(const Fields& fields, const char* const* names) : fields_(fields), names_(names) {}

  long integer(std::size_t index) const {
    long value = 0;
    if (!parseInteger(fields_.text[index], value)) fail(index, "is not an integer");
    return value;
  }

  int smallInteger(std::size_t index) const {
    const long value = integer(index);
    if (value < -1000 || value > 1000) fail(index, "is out of range");
    return static_cast<int>(value);
  }

  double number(std::size_t index) const {
    double value = 0.0;
    if (!parseDouble(fields_.text[index], value)) fail(index, "is not a finite number");
    return value;
  }

  std::string_view text(std::size_t index) const { return fields_.text[index]; }

  [[noreturn]] void fail(std::size_t index, const char* reason) const {
    throw LineError(std::string("field ") + std::to_string(index + 1) + " (" + names_[index] +
                    ") '" + std::string(fields_.text[index]) + "' " + reason);
  }

 private:
  const Fields& fields_;
  const char* const* names_;
};

void readBoxes(const LineReader& reader, std::size_t imageAt, std::size_t boxAt,
               ObjectRecord& record) {
  record.image = ImageBox{reader.number(imageAt), reader.number(imageAt + 1),
                          reader.number(imageAt + 2), reader.number(imageAt + 3)};
  record.box.height = reader.number(boxAt);
  record.box.width = reader.number(boxAt + 1);
  record.box.length = reader.number(boxAt + 2);
  record.box.x = reader.number(boxAt + 3);
  record.box.y = reader.number(boxAt + 4);
  record.box.z = reader.number(boxAt + 5);
  record.box.yaw = reader.number(boxAt + 6);
}

std::string fieldCountMessage(TrackingFormat format, std::size_t found) {
  const char* expected = format == TrackingFormat::Labels    ? "17"
                         : format == TrackingFormat::Results ? "17 or 18"
                                                             : "15";
  return std::string("expected ") + expected + " fields, found " + std::to_string(found);
}

ObjectRecord parseLine(std::string_view line, TrackingFormat format) {
  ObjectRecord record;
  if (format == TrackingFormat::Detections) {
    const Fields fields = splitAtCommas(line);
    if (fields.count != DETECTION_FIELDS) throw LineError(fieldCountMessage(format, fields.count));
    const LineReader reader(fields, DETECTION_FIELD_NAMES.data());
    record.frame = reader.integer(0);
    const long type = reader.integer(1);
    if (type < 1 || type > static_cast<long>(DETECTION_TYPES.size())) {
      throw LineError("unknown detection type '" + std::string(reader.text(1)) +
                      "' (1 Pedestrian, 2 Car, 3 Cyclist)");
    }
    record.type = DETECTION_TYPES[static_cast<std::size_t>(type - 1)];
    readBoxes(reader, 2, 7, record);
    record.score = reader.number(6);
    record.alpha = reader.number(14);
  } else {
    const Fields fields = splitAtBlanks(line);
    const bool scored =
        format == TrackingFormat::Results && fields.count == RESULT_FIELDS_WITH_SCORE;
    if (fields.count != LABEL_FIELDS && !scored) {
      throw LineError(fieldCountMessage(format, fields.count));
    }
    const LineReader reader(fields, LABEL_FIELD_NAMES.data());
    record.frame = reader.integer(0);
    record.trackId = reader.integer(1);
    record.type = std::string(reader.text(2));
    record.truncation = reader.smallInteger(3);
    record.occlusion = reader.smallInteger(4);
    record.alpha = reader.number(5);
    readBoxes(reader, 6, 10, record);
    if (scored) record.score = reader.number(17);
    if (record.trackId < -1) {
      throw LineError("track id " + std::to_string(record.trackId) + " is below -1");
    }
  }
  if (record.frame < 0) throw LineError("frame " + std::to_string(record.frame) + " is negative");
  return record;
}

// Finds a track id written twice in one frame: the line of its first appearance by
// (frame, id).
struct PairHash {
  std::size_t operator()(const std::pair<long, long>& key) const {
    return std::hash<long>()(key.first) * 1000003u ^ std::hash<long>()(key.second);
  }
};

[[noreturn]] void failAt(const std::string& name, unsigned long line, const std::string& reason) {
  throw TrackingFileError(name + ":" + std::to_string(line) + ": " + reason);
}

std::string errorText() { return std::strerror(errno); }

constexpr EnumName<TrackingFormat> FORMAT_NAMES[] = {{TrackingFormat::Labels, "labels"},
                                                     {TrackingFormat::Results, "results"},
                                                     {TrackingFormat::Detections, "detections"}};

}  // namespace

const NameTable<TrackingFormat>& trackingFormatNames() {
  static constexpr NameTable<TrackingFormat> table(FORMAT_NAMES, "unknown");
  return table;
}

std::vector<ObjectRecord> readTrackingRecords(std::istream& input, const std::string& name,
                                              TrackingFormat format) {
  // The whole text at once: its lines counted first, so the records are placed once.
  const std::string text((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
  if (input.bad()) throw TrackingFileError(name + ": read error");
  std::vector<ObjectRecord> records;
  records.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  std::unordered_map<std::pair<long, long>, unsigned long, PairHash> firstLine;
  const bool identified = format != TrackingFormat::Detections;
  unsigned long number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++number;
    const std::string_view line = trimmed(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (line.empty()) continue;
    try {
      records.push_back(parseLine(line, format));
    } catch (const LineError& error) {
      failAt(name, number, error.what());
    }
    const ObjectRecord& record = records.back();
    if (identified && record.trackId != -1) {
      const auto [at, inserted] =
          firstLine.emplace(std::make_pair(record.frame, record.trackId), number);
      if (!inserted) {
        failAt(name, number,
               "track " + std::to_string(record.trackId) + " appears twice in frame " +
                   std::to_string(record.frame) + " (first on line " + std::to_string(at->second) +
                   ")");
      }
    }
  }
  return records;
}

std::vector<ObjectRecord> readTrackingFile(const std::string& path, TrackingFormat format) {
  std::ifstream input(path);
  if (!input) throw TrackingFileError(path + ": cannot open (" + errorText() + ")");
  return readTrackingRecords(input, path, format);
}

namespace {

void writeNumber(std::ostream& output, double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  output.write(buffer, result.ptr - buffer);
}

}  // namespace

void writeResultLine(std::ostream& output, const ObjectRecord& record) {
  output << record.frame << ' ' << record.trackId << ' ' << record.type << ' ' << record.truncation
         << ' ' << record.occlusion;
  const double numbers[] = {record.alpha,       record.image.left,   record.image.top,
                            record.image.right, record.image.bottom, record.box.height,
                            record.box.width,   record.box.length,   record.box.x,
                            record.box.y,       record.box.z,        record.box.yaw,
                            record.score};
  for (const double value : numbers) {
    output << ' ';
    writeNumber(output, value);
  }
  output << '\n';
}

void writeResults(std::ostream& output, const std::vector<ObjectRecord>& records) {
  for (const ObjectRecord& record : records) writeResultLine(output, record);
}

void writeResultsFile(const std::string& path, const std::vector<ObjectRecord>& records) {
  std::ofstream output(path, std::ios::trunc);
  if (!output) throw TrackingFileError(path + ": cannot write (" + errorText() + ")");
  writeResults(output, records);
  output.flush();
  if (!output) throw TrackingFileError(path + ": cannot write (" + errorText() + ")");
}

std::vector<SequenceEntry> readSequenceList(const std::string& path) {
  std::ifstream input(path);
  if (!input) throw TrackingFileError(path + ": cannot open (" + errorText() + ")");
  std::vector<SequenceEntry> entries;
  std::set<std::string> names;
  std::string line;
  unsigned long number = 0;
  while (std::getline(input, line)) {
    ++number;
    const Fields fields = splitAtBlanks(line);
    if (fields.count == 0) continue;
    if (fields.count != 1 && fields.count != 2 && fields.count != 4) {
      failAt(path, number,
             "expected 'name', 'name count' or 'name unused first count', found " +
                 std::to_string(fields.count) + " fields");
    }
    SequenceEntry entry;
    entry.name = std::string(fields.text[0]);
    if (fields.count > 1) {
      long count = 0;
      const std::string_view countText = fields.text[fields.count - 1];
      if (!parseInteger(countText, count) || count <= 0) {
        failAt(path, number,
               "frame count '" + std::string(countText) + "' is not a positive integer");
      }
      long first = 0;
      if (fields.count == 4 && (!parseInteger(fields.text[2], first) || first != 0)) {
        failAt(path, number, "first frame '" + std::string(fields.text[2]) + "' is not 0");
      }
      entry.frameCount = count;
    }
    if (!names.insert(entry.name).second) {
      failAt(path, number, "sequence '" + entry.name + "' is listed twice");
    }
    entries.push_back(entry);
  }
  if (input.bad()) throw TrackingFileError(path + ": read error");
  return entries;
}

std::vector<TrackingSequence> loadTrackingSequences(const std::string& groundTruthDirectory,
                                                    const std::string& resultsDirectory,
                                                    const std::vector<SequenceEntry>& sequences) {
  namespace fs = std::filesystem;
  std::vector<SequenceEntry> entries = sequences;
  if (entries.empty()) {
    std::error_code error;
    fs::directory_iterator it(groundTruthDirectory, error);
    if (error) {
      throw TrackingFileError(groundTruthDirectory + ": cannot list (" + error.message() + ")");
    }
    for (; it != fs::directory_iterator(); it.increment(error)) {
      if (error) {
        throw TrackingFileError(groundTruthDirectory + ": cannot list (" + error.message() + ")");
      }
      const fs::path& file = it->path();
      if (file.extension() == ".txt" && fs::is_regular_file(file)) {
        entries.push_back(SequenceEntry{file.stem().string(), 0});
      }
    }
    std::sort(entries.begin(), entries.end(),
              [](const SequenceEntry& a, const SequenceEntry& b) { return a.name < b.name; });
    if (entries.empty()) throw TrackingFileError(groundTruthDirectory + ": no sequence (*.txt)");
  }
  std::vector<TrackingSequence> loaded;
  loaded.reserve(entries.size());
  for (const SequenceEntry& entry : entries) {
    TrackingSequence sequence;
    sequence.name = entry.name;
    sequence.frameCount = entry.frameCount;
    sequence.groundTruth = readTrackingFile(
        (fs::path(groundTruthDirectory) / (entry.name + ".txt")).string(), TrackingFormat::Labels);
    sequence.results = readTrackingFile(
        (fs::path(resultsDirectory) / (entry.name + ".txt")).string(), TrackingFormat::Results);
    loaded.push_back(std::move(sequence));
  }
  return loaded;
}

}  // namespace eval
}  // namespace zelvane
