// The example programs and the data shipped with them.
#include <gtest/gtest.h>

#include <string>

#include "support/log_capture.h"
#include "support/run_program.h"

namespace {

using zelvane::testing::containsAll;
using zelvane::testing::ProgramRun;
using zelvane::testing::readFile;
using zelvane::testing::runTool;
using zelvane::testing::ScratchDir;

const std::string EXAMPLES = ZELVANE_EXAMPLES_DIR;
const std::string BOX_HEADER = "x,y,z,heading,length,width,height\n";

ProgramRun boxMatching(const std::string& first, const std::string& second = "") {
  return runTool(ZELVANE_BOX_MATCHING,
                 "'" + first + "'" + (second.empty() ? "" : " '" + second + "'"));
}

TEST(CurveDrive, ShippedNavigationSamplesAreItsOutput) {
  const ProgramRun run = runTool(ZELVANE_CURVE_DRIVE, "");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, readFile(EXAMPLES + "/navigation.csv"));
}

TEST(BoxMatching, ShippedPairIsMatchedByOverlap) {
  const ProgramRun run =
      boxMatching(EXAMPLES + "/boxes_detected.csv", EXAMPLES + "/boxes_tracked.csv");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(
      containsAll(run.out, {"overlap (rows: first file, columns: second file)",
                            "distance (rows: first file, columns: second file)",
                            "\nassignment\n  0 -> 1  overlap 0.830", "\n  3 -> 2  overlap 0.686",
                            "\n  1 -> 0  overlap 0.576", "\n  2 unmatched (first file)\n"}));
}

TEST(BoxMatching, OverlapAndDistanceOfKnownBoxes) {
  // 4 x 2 boxes: shifted by 1 along x they share 6 of 10 square units; the third lies
  // 6 units beyond the first one's front.
  ScratchDir dir;
  const ProgramRun run =
      boxMatching(dir.write("a.csv", BOX_HEADER + "0,0,0,0,4,2,1\n"),
                  dir.write("b.csv", BOX_HEADER + "1,0,0,0,4,2,1\n10,0,0,0,4,2,1\n"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(containsAll(run.out, {"      0    0.600    0.000\n", "      0    0.000    6.000\n",
                                    "\nwithin 2.000\n  0 - 0  distance 0.000\n\nassignment\n",
                                    "  0 -> 0  overlap 0.600\n  1 unmatched (second file)\n"}));
}

TEST(BoxMatching, BadInputIsReportedWithFileAndLine) {
  ScratchDir dir;
  const std::string good = dir.write("good.csv", BOX_HEADER + "0,0,0,0,4,2,1\n");
  const std::string bad = dir.write("bad.csv", BOX_HEADER + "0,0,0,0,4,2,1\n0,0,zero,0,4,2,1\n");
  const ProgramRun run = boxMatching(good, bad);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(containsAll(run.err, {bad + ":3: expected seven numbers"}));
  const ProgramRun usage = boxMatching(good);
  EXPECT_EQ(usage.status, 1);
  EXPECT_TRUE(containsAll(usage.err, {"usage: "}));
}

}  // namespace
