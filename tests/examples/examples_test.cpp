// The example programs and the data shipped with them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "support/log_capture.h"
#include "support/run_program.h"

namespace {

using ::testing::HasSubstr;
using zelvane::testing::ProgramRun;
using zelvane::testing::readFile;
using zelvane::testing::runProgram;
using zelvane::testing::ScratchDir;

const std::string EXAMPLES = ZELVANE_EXAMPLES_DIR;

TEST(CurveDrive, ShippedNavigationSamplesAreItsOutput) {
  const ProgramRun run = runProgram(std::string("'") + ZELVANE_CURVE_DRIVE + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, readFile(EXAMPLES + "/navigation.csv"));
}

TEST(BoxMatching, ShippedPairIsMatchedByOverlap) {
  const ProgramRun run = runProgram(std::string("'") + ZELVANE_BOX_MATCHING + "' '" + EXAMPLES +
                                    "/boxes_detected.csv' '" + EXAMPLES + "/boxes_tracked.csv'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("overlap (rows: first file, columns: second file)"));
  EXPECT_THAT(run.out, HasSubstr("distance (rows: first file, columns: second file)"));
  EXPECT_THAT(run.out, HasSubstr("\nassignment\n  0 -> 1  overlap 0.830"));
  EXPECT_THAT(run.out, HasSubstr("\n  3 -> 2  overlap 0.686"));
  EXPECT_THAT(run.out, HasSubstr("\n  1 -> 0  overlap 0.576"));
  EXPECT_THAT(run.out, HasSubstr("\n  2 unmatched (first file)\n"));
}

TEST(BoxMatching, OverlapAndDistanceOfKnownBoxes) {
  // 4 x 2 boxes: shifted by 1 along x they share 6 of 10 square units; the third lies
  // 6 units beyond the first one's front.
  ScratchDir dir;
  const std::string header = "x,y,z,heading,length,width,height\n";
  const std::string first = dir.write("a.csv", header + "0,0,0,0,4,2,1\n");
  const std::string second = dir.write("b.csv", header + "1,0,0,0,4,2,1\n10,0,0,0,4,2,1\n");
  const ProgramRun run =
      runProgram(std::string("'") + ZELVANE_BOX_MATCHING + "' '" + first + "' '" + second + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("      0    0.600    0.000\n"));
  EXPECT_THAT(run.out, HasSubstr("      0    0.000    6.000\n"));
  EXPECT_THAT(run.out, HasSubstr("\nwithin 2.000\n  0 - 0  distance 0.000\n\nassignment\n"));
  EXPECT_THAT(run.out, HasSubstr("  0 -> 0  overlap 0.600\n  1 unmatched (second file)\n"));
}

TEST(BoxMatching, BadInputIsReportedWithFileAndLine) {
  ScratchDir dir;
  const std::string header = "x,y,z,heading,length,width,height\n";
  const std::string good = dir.write("good.csv", header + "0,0,0,0,4,2,1\n");
  const std::string bad = dir.write("bad.csv", header + "0,0,0,0,4,2,1\n0,0,zero,0,4,2,1\n");
  const ProgramRun run =
      runProgram(std::string("'") + ZELVANE_BOX_MATCHING + "' '" + good + "' '" + bad + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(bad + ":3: expected seven numbers"));
  const ProgramRun usage = runProgram(std::string("'") + ZELVANE_BOX_MATCHING + "' '" + good + "'");
  EXPECT_EQ(usage.status, 1);
  EXPECT_THAT(usage.err, HasSubstr("usage: "));
}

}  // namespace
