#include "eval/tracking_report.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace zelvane {
namespace eval {
namespace {

// Exit status of a shell or spawn that could not find the program.
constexpr int COMMAND_NOT_FOUND = 127;

std::string percent(double ratio) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(2) << 100.0 * ratio;
  return text.str();
}

std::string motpText(const ClassEvaluation& evaluation, double motp) {
  if (evaluation.options.measure != Measure::CentreDistance) return percent(motp);
  std::ostringstream text;
  text << std::fixed << std::setprecision(3) << motp << "m";
  return text.str();
}

std::string thresholdText(double threshold) {
  std::ostringstream text;
  text << threshold;
  return text.str();
}

// One row of the table, the columns right-aligned under the header.
void writeRow(std::ostream& table, const std::string& name, const std::string& samota,
              const std::string& mota, const std::string& motp, long ids, long frag, long fp,
              long fn, const std::string& hota, const std::string& idf1) {
  table << std::left << std::setw(12) << name << std::right << std::setw(8) << samota
        << std::setw(8) << mota << std::setw(9) << motp << std::setw(6) << ids << std::setw(6)
        << frag << std::setw(8) << fp << std::setw(8) << fn << std::setw(8) << hota << std::setw(8)
        << idf1 << '\n';
}

void writeJsonNumber(std::ostream& output, double value) {
  if (!std::isfinite(value)) {
    output << "null";
    return;
  }
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  output.write(buffer, result.ptr - buffer);
}

void writeString(std::ostream& output, const std::string& text) {
  output << '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      output << '\\' << c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      output << escaped;
    } else {
      output << c;
    }
  }
  output << '"';
}

// Writes `"key": ` with the separator before it, for the members of one object.
class JsonObject {
 public:
  explicit JsonObject(std::ostream& output) : output_(output) { output_ << '{'; }
  ~JsonObject() { output_ << '}'; }
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

  std::ostream& key(const char* name) {
    if (!first_) output_ << ',';
    first_ = false;
    writeString(output_, name);
    output_ << ':';
    return output_;
  }
  void number(const char* name, double value) { writeJsonNumber(key(name), value); }
  void integer(const char* name, long value) { key(name) << value; }

 private:
  std::ostream& output_;
  bool first_ = true;
};

template <class T, class Write>
void writeArray(std::ostream& output, const std::vector<T>& values, Write write) {
  output << '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) output << ',';
    write(values[i]);
  }
  output << ']';
}

// A figure of a record by its JSON name.
template <class Record, class Value>
using Field = std::pair<const char*, Value Record::*>;

// Writes the members of `record` that `fields` names, in their order.
template <class Record, class Value, std::size_t N, class Write>
void writeFields(JsonObject& object, const Record& record, const Field<Record, Value> (&fields)[N],
                 Write write) {
  for (const auto& [name, member] : fields) write(object.key(name), record.*member);
}

const auto writeDouble = [](std::ostream& output, double value) { writeJsonNumber(output, value); };
const auto writeLong = [](std::ostream& output, long value) { output << value; };

template <class Write>
auto arrayWriter(Write write) {
  return [write](std::ostream& output, const auto& values) {
    writeArray(output, values, [&output, &write](const auto& value) { write(output, value); });
  };
}

void writeClearMot(std::ostream& output, const ClearMot& c) {
  using C = ClearMot;
  static const Field<C, double> ratios[] = {{"mota", &C::mota},
                                            {"motp", &C::motp},
                                            {"moda", &C::moda},
                                            {"modp", &C::modp},
                                            {"motal", &C::motal},
                                            {"recall", &C::recall},
                                            {"precision", &C::precision},
                                            {"f1", &C::f1},
                                            {"false_alarm_rate", &C::falseAlarmRate},
                                            {"mostly_tracked", &C::mostlyTrackedRatio},
                                            {"partly_tracked", &C::partlyTrackedRatio},
                                            {"mostly_lost", &C::mostlyLostRatio}};
  static const Field<C, long> counts[] = {
      {"true_positives", &C::truePositives},
      {"ignored_true_positives", &C::ignoredTruePositives},
      {"false_positives", &C::falsePositives},
      {"false_negatives", &C::falseNegatives},
      {"ignored_false_negatives", &C::ignoredFalseNegatives},
      {"id_switches", &C::idSwitches},
      {"fragmentations", &C::fragmentations},
      {"ground_truth_objects", &C::groundTruthObjects},
      {"ignored_ground_truth_objects", &C::ignoredGroundTruthObjects},
      {"counted_ground_truth_objects", &C::countedGroundTruthObjects},
      {"ground_truth_trajectories", &C::groundTruthTrajectories},
      {"ignored_ground_truth_trajectories", &C::ignoredGroundTruthTrajectories},
      {"result_objects", &C::resultObjects},
      {"ignored_result_objects", &C::ignoredResultObjects},
      {"result_trajectories", &C::resultTrajectories},
      {"mostly_tracked_count", &C::mostlyTracked},
      {"partly_tracked_count", &C::partlyTracked},
      {"mostly_lost_count", &C::mostlyLost},
      {"frames", &C::frames}};
  JsonObject object(output);
  writeFields(object, c, ratios, writeDouble);
  writeFields(object, c, counts, writeLong);
}

void writeIdentity(std::ostream& output, const IdentityScores& s) {
  using I = IdentityScores;
  static const Field<I, double> ratios[] = {
      {"idf1", &I::idf1}, {"idp", &I::idPrecision}, {"idr", &I::idRecall}};
  static const Field<I, long> counts[] = {{"idtp", &I::idTruePositives},
                                          {"idfp", &I::idFalsePositives},
                                          {"idfn", &I::idFalseNegatives}};
  JsonObject object(output);
  writeFields(object, s, ratios, writeDouble);
  writeFields(object, s, counts, writeLong);
}

void writeHota(std::ostream& output, const HotaScores& s) {
  using H = HotaScores;
  static const Field<H, double> means[] = {
      {"hota", &H::hota},   {"deta", &H::detA},   {"assa", &H::assA},   {"loca", &H::locA},
      {"detre", &H::detRe}, {"detpr", &H::detPr}, {"assre", &H::assRe}, {"asspr", &H::assPr}};
  static const Field<H, std::vector<double>> curves[] = {{"alphas", &H::alphas},
                                                         {"hota_at_alpha", &H::hotaAtAlpha},
                                                         {"deta_at_alpha", &H::detAAtAlpha},
                                                         {"assa_at_alpha", &H::assAAtAlpha},
                                                         {"loca_at_alpha", &H::locAAtAlpha}};
  static const Field<H, std::vector<long>> counts[] = {{"tp_at_alpha", &H::truePositivesAtAlpha},
                                                       {"fn_at_alpha", &H::falseNegativesAtAlpha},
                                                       {"fp_at_alpha", &H::falsePositivesAtAlpha}};
  JsonObject object(output);
  writeFields(object, s, means, writeDouble);
  writeFields(object, s, curves, arrayWriter(writeDouble));
  writeFields(object, s, counts, arrayWriter(writeLong));
}

void writeClass(std::ostream& output, const ClassEvaluation& evaluation) {
  JsonObject object(output);
  writeString(object.key("class"), evaluation.options.objectClass);
  writeString(object.key("measure"), measureName(evaluation.options.measure));
  object.number("threshold", evaluation.options.threshold);
  object.number("samota", evaluation.samota);
  object.number("amota", evaluation.amota);
  object.number("amotp", evaluation.amotp);
  if (evaluation.thresholdApplied) {
    object.number("score_threshold", evaluation.threshold);
  } else {
    object.key("score_threshold") << "null";
  }
  writeClearMot(object.key("clear"), evaluation.clear);
  writeIdentity(object.key("identity"), evaluation.identity);
  writeHota(object.key("hota"), evaluation.hota);
  writeArray(object.key("levels"), evaluation.levels, [&output](const RecallLevel& level) {
    JsonObject entry(output);
    entry.number("recall", level.recall);
    entry.number("score_threshold", level.threshold);
    entry.number("smota", level.smota);
    writeClearMot(entry.key("clear"), level.clear);
  });
  writeArray(object.key("sequences"), evaluation.sequences,
             [&output](const SequenceScores& sequence) {
               JsonObject entry(output);
               writeString(entry.key("name"), sequence.name);
               writeClearMot(entry.key("clear"), sequence.clear);
               writeIdentity(entry.key("identity"), sequence.identity);
               writeHota(entry.key("hota"), sequence.hota);
             });
}

// The runs of consecutive evaluations with one measure and threshold, as [begin, end).
std::vector<std::pair<std::size_t, std::size_t>> measureGroups(
    const std::vector<ClassEvaluation>& evaluations) {
  std::vector<std::pair<std::size_t, std::size_t>> groups;
  for (std::size_t i = 0; i < evaluations.size(); ++i) {
    const EvaluationOptions& options = evaluations[i].options;
    if (i == 0 || options.measure != evaluations[i - 1].options.measure ||
        options.threshold != evaluations[i - 1].options.threshold) {
      groups.emplace_back(i, i);
    }
    groups.back().second = i + 1;
  }
  return groups;
}

// The evaluations [begin, end).
std::vector<ClassEvaluation> slice(const std::vector<ClassEvaluation>& evaluations,
                                   std::size_t begin, std::size_t end) {
  return std::vector<ClassEvaluation>(evaluations.begin() + static_cast<std::ptrdiff_t>(begin),
                                      evaluations.begin() + static_cast<std::ptrdiff_t>(end));
}

std::string measureTitle(const EvaluationOptions& options) {
  static const char* const titles[] = {"3-D overlap", "bird's-eye overlap", "image-box overlap",
                                       "centre distance"};
  return std::string(titles[static_cast<int>(options.measure)]) + " at " +
         thresholdText(options.threshold) +
         (options.measure == Measure::CentreDistance ? " m" : "");
}

// A text in gnuplot's single quotes, in which a quote is written twice.
std::string gnuplotQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

}  // namespace

std::vector<ClassEvaluation> evaluateTrackingClasses(
    const std::vector<TrackingSequence>& sequences, const std::vector<std::string>& classes,
    const EvaluationOptions& options,
    const std::function<void(std::size_t, std::size_t, std::size_t)>& progress) {
  std::vector<ClassEvaluation> evaluations;
  for (std::size_t i = 0; i < classes.size(); ++i) {
    EvaluationOptions classOptions = options;
    classOptions.objectClass = classes[i];
    EvaluationProgress classProgress;
    if (progress) {
      classProgress = [&progress, i](std::size_t done, std::size_t total) {
        progress(i, done, total);
      };
    }
    evaluations.push_back(evaluateTracking(sequences, classOptions, classProgress));
  }
  return evaluations;
}

OverallScores overallScores(const std::vector<ClassEvaluation>& evaluations) {
  OverallScores overall;
  if (evaluations.empty()) return overall;
  for (const ClassEvaluation& evaluation : evaluations) {
    overall.samota += evaluation.samota;
    overall.mota += evaluation.clear.mota;
    overall.motp += evaluation.clear.motp;
    overall.hota += evaluation.hota.hota;
    overall.idf1 += evaluation.identity.idf1;
    overall.idSwitches += evaluation.clear.idSwitches;
    overall.fragmentations += evaluation.clear.fragmentations;
    overall.falsePositives += evaluation.clear.falsePositives;
    overall.falseNegatives += evaluation.clear.falseNegatives;
  }
  const auto count = static_cast<double>(evaluations.size());
  overall.samota /= count;
  overall.mota /= count;
  overall.motp /= count;
  overall.hota /= count;
  overall.idf1 /= count;
  return overall;
}

std::string formatTrackingTable(const std::vector<ClassEvaluation>& evaluations) {
  std::ostringstream table;
  for (const auto& [begin, end] : measureGroups(evaluations)) {
    if (begin > 0) table << '\n';
    const EvaluationOptions& options = evaluations[begin].options;
    table << measureTitle(options) << '\n';
    table << std::left << std::setw(12) << "class" << std::right << std::setw(8) << "sAMOTA"
          << std::setw(8) << "MOTA" << std::setw(9) << "MOTP" << std::setw(6) << "IDS"
          << std::setw(6) << "FRAG" << std::setw(8) << "FP" << std::setw(8) << "FN" << std::setw(8)
          << "HOTA" << std::setw(8) << "IDF1" << '\n';
    for (std::size_t i = begin; i < end; ++i) {
      const ClassEvaluation& e = evaluations[i];
      writeRow(table, e.options.objectClass, percent(e.samota), percent(e.clear.mota),
               motpText(e, e.clear.motp), e.clear.idSwitches, e.clear.fragmentations,
               e.clear.falsePositives, e.clear.falseNegatives, percent(e.hota.hota),
               percent(e.identity.idf1));
    }
    if (end - begin > 1) {
      const OverallScores o = overallScores(slice(evaluations, begin, end));
      writeRow(table, "overall", percent(o.samota), percent(o.mota),
               motpText(evaluations[begin], o.motp), o.idSwitches, o.fragmentations,
               o.falsePositives, o.falseNegatives, percent(o.hota), percent(o.idf1));
    }
  }
  return table.str();
}

void writeTrackingJson(std::ostream& output, const std::vector<ClassEvaluation>& evaluations) {
  {
    JsonObject document(output);
    writeArray(document.key("classes"), evaluations,
               [&output](const ClassEvaluation& evaluation) { writeClass(output, evaluation); });
    writeArray(document.key("overall"), measureGroups(evaluations),
               [&output, &evaluations](const std::pair<std::size_t, std::size_t>& group) {
                 const EvaluationOptions& options = evaluations[group.first].options;
                 const OverallScores o =
                     overallScores(slice(evaluations, group.first, group.second));
                 JsonObject overall(output);
                 writeString(overall.key("measure"), measureName(options.measure));
                 overall.number("threshold", options.threshold);
                 overall.number("samota", o.samota);
                 overall.number("mota", o.mota);
                 overall.number("motp", o.motp);
                 overall.number("hota", o.hota);
                 overall.number("idf1", o.idf1);
                 overall.integer("id_switches", o.idSwitches);
                 overall.integer("fragmentations", o.fragmentations);
                 overall.integer("false_positives", o.falsePositives);
                 overall.integer("false_negatives", o.falseNegatives);
               });
  }
  output << '\n';
}

std::string recallCurveScript(const std::vector<ClassEvaluation>& evaluations,
                              const std::string& pngPath) {
  std::ostringstream script;
  script << "set terminal pngcairo size 960,540 font 'sans,11'\n"
         << "set output " << gnuplotQuoted(pngPath) << '\n'
         << "set title 'sMOTA over recall'\n"
         << "set xlabel 'recall'\nset ylabel 'sMOTA'\n"
         << "set xrange [0:1]\nset yrange [0:1.05]\nset grid\nset key outside right top\n";
  for (std::size_t i = 0; i < evaluations.size(); ++i) {
    script << "$class" << i << " << EOD\n";
    for (const RecallLevel& level : evaluations[i].levels) {
      writeJsonNumber(script, level.recall);
      script << ' ';
      writeJsonNumber(script, level.smota);
      script << '\n';
    }
    script << "EOD\n";
  }
  const bool oneMeasure = measureGroups(evaluations).size() <= 1;
  script << "plot";
  for (std::size_t i = 0; i < evaluations.size(); ++i) {
    const ClassEvaluation& e = evaluations[i];
    const std::string name =
        oneMeasure ? e.options.objectClass : e.options.objectClass + ", " + measureTitle(e.options);
    script << (i == 0 ? " " : ", ") << "$class" << i << " using 1:2 with linespoints title "
           << gnuplotQuoted(name + " (sAMOTA " + percent(e.samota) + " %)");
  }
  if (evaluations.empty()) script << " NaN notitle";
  script << '\n';
  return script.str();
}

void plotRecallCurve(const std::vector<ClassEvaluation>& evaluations, const std::string& pngPath) {
  char scriptPath[] = "/tmp/zelvane_curve_XXXXXX";
  const int descriptor = ::mkstemp(scriptPath);
  if (descriptor < 0) {
    throw std::runtime_error(std::string("cannot write the gnuplot script: ") +
                             std::strerror(errno));
  }
  ::close(descriptor);
  {
    std::ofstream script(scriptPath);
    script << recallCurveScript(evaluations, pngPath);
    if (!script) {
      ::unlink(scriptPath);
      throw std::runtime_error(std::string("cannot write the gnuplot script ") + scriptPath);
    }
  }
  char program[] = "gnuplot";
  char* arguments[] = {program, scriptPath, nullptr};
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, program, nullptr, nullptr, arguments, environ);
  int status = 0;
  if (spawned == 0) ::waitpid(child, &status, 0);
  ::unlink(scriptPath);
  const bool missing = spawned == ENOENT || (spawned == 0 && WIFEXITED(status) &&
                                             WEXITSTATUS(status) == COMMAND_NOT_FOUND);
  if (missing) {
    throw std::runtime_error(
        "gnuplot is not installed; install it (Debian: gnuplot-nox) to draw the curve");
  }
  if (spawned != 0) {
    throw std::runtime_error(std::string("cannot run gnuplot: ") + std::strerror(spawned));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("gnuplot failed (exit status " +
                             std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                             ") drawing " + pngPath);
  }
}

}  // namespace eval
}  // namespace zelvane
