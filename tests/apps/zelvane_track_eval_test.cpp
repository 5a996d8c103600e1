// zelvane_track_eval end to end on a hand-worked folder pair: its table, JSON and
// curve, and its refusals with their exit statuses (1 command line, 2 input, 3 output).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/log_capture.h"
#include "support/run_program.h"

namespace {

using zelvane::testing::containsAll;
using zelvane::testing::expectRefusals;
using zelvane::testing::ProgramRun;
using zelvane::testing::runTool;
using zelvane::testing::ScratchDir;

ProgramRun trackEval(const std::string& arguments) {
  return runTool(ZELVANE_TRACK_EVAL, arguments);
}

// Four cars, one a frame, each found by its own track (scores 0.9 to 0.6), and two
// false tracks scored 0.95. With four recall levels the thresholds are 0.8, 0.7 and
// 0.6: sMOTA 0, 1/2, 2/3 (sAMOTA 29.17 %), MOTA 0, 1/4, 1/2; the whole run at 0.6 has
// FP 2, FN 0, MOTP 1; HOTA sqrt(4/6 x 1) = 81.65 %, IDF1 8/10.
class TrackEvalFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.path("gt"));
    std::filesystem::create_directories(dir.path("res"));
    std::string truth;
    std::string results;
    const char* scores[] = {"0.9", "0.8", "0.7", "0.6"};
    for (int f = 0; f < 4; ++f) {
      const std::string frame = std::to_string(f);
      truth += frame + " " + frame + " Car 0 0 0 0 100 20 150 1.5 1.6 4 0 1.5 20 0\n";
      results += frame + " 1" + frame + " Car -1 -1 0 0 100 20 150 1.5 1.6 4 0 1.5 20 0 " +
                 scores[f] + "\n";
    }
    results += "0 20 Car -1 -1 0 300 100 320 150 1.5 1.6 4 9 1.5 20 0 0.95\n";
    results += "1 21 Car -1 -1 0 300 100 320 150 1.5 1.6 4 9 1.5 20 0 0.95\n";
    dir.write("gt/0000.txt", truth);
    dir.write("res/0000.txt", results);
  }

  std::string folders() const {
    return "-g '" + dir.path("gt") + "' -r '" + dir.path("res") +
           "' -c car -m 2d -t 0.5 --recall-levels 4";
  }

  ScratchDir dir;
};

TEST_F(TrackEvalFolders, PrintsTheTableWorkedOutByHand) {
  const ProgramRun run = trackEval(folders());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "image-box overlap at 0.5\n"
            "class         sAMOTA    MOTA     MOTP   IDS  FRAG      FP      FN    HOTA    IDF1\n"
            "car            29.17   50.00   100.00     0     0       2       0   81.65   80.00\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(TrackEvalFolders, WritesJsonAndDrawsTheCurve) {
  const ProgramRun run =
      trackEval(folders() + " --quiet --json - --plot '" + dir.path("curve.png") + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(containsAll(run.out,
                          {"\"samota\":0.2916666666666667",
                           "\"recall\":0.25,\"score_threshold\":0.8,\"smota\":0", "\"idf1\":0.8"}));
  EXPECT_EQ(zelvane::testing::readFile(dir.path("curve.png")).substr(1, 3), "PNG");
}

TEST_F(TrackEvalFolders, RefusesBadArgumentsAndInputs) {
  std::filesystem::create_directories(dir.path("bad"));
  dir.write("bad/0000.txt", "0 1 Car -1 -1 0 0 100 20 150 1.5 1.6 4 0 1.5 20 0\n0 1 Car\n");
  const std::string gt = "-g '" + dir.path("gt") + "' ";
  expectRefusals(
      ZELVANE_TRACK_EVAL,
      {
          {gt, 1, "--ground-truth and --results are required"},
          {gt + "-r '" + dir.path("res") + "' -m 4d", 1,
           "--measure must be 3d, bev, 2d or distance, not '4d'"},
          {folders() + " --bogus", 1, "unrecognised option '--bogus'"},
          {gt + "-r '" + dir.path("none") + "'", 2,
           "none/0000.txt: cannot open (No such file or directory)"},
          {gt + "-r '" + dir.path("bad") + "'", 2,
           "bad/0000.txt:2: expected 17 or 18 fields, found 3"},
          {folders() + " -t 1.5", 2, "an overlap threshold must lie in (0, 1]"},
          {folders() + " --json '" + dir.path("no/such/file.json") + "'", 3, "cannot write"},
          {folders() + " --plot '" + dir.path("no/such/curve.png") + "'", 3, "gnuplot failed"},
          {"--help", 0, ""},
      });
}

}  // namespace
