// The pose-file line parser of zelvane_frames, line by line: what each line gives, and
// the reason for each refusal (the text after "file:line: " in the application's
// message).
#include "pose_file.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/tolerance.h"

namespace {

using zelvane::apps::isPoseFileHeader;
using zelvane::apps::parsePoseLine;
using zelvane::apps::PoseLine;

TEST(PoseFileHeader, AcceptsTheTenNamesWithBlanksAroundEachField) {
  EXPECT_TRUE(isPoseFileHeader("time,from,to,x,y,z,qx,qy,qz,qw"));
  EXPECT_TRUE(isPoseFileHeader(" time , from,to,x,y,z,qx,qy,qz,qw\r"));
  EXPECT_FALSE(isPoseFileHeader(""));
  EXPECT_FALSE(isPoseFileHeader("time,from,to,x,y,z,qw,qx,qy,qz"));
  EXPECT_FALSE(isPoseFileHeader("time,from,to,x,y,z,qx,qy,qz,qw,"));
}

TEST(PoseFileLine, GivesThePoseOfFromInToAtItsTime) {
  PoseLine parsed;
  ASSERT_EQ(parsePoseLine(" -15 , Body ,Global,1.5,-2,0x1p-2,0,0,1e0,1\r", parsed), "");
  EXPECT_EQ(parsed.time, -15);
  EXPECT_EQ(parsed.from, "Body");
  EXPECT_EQ(parsed.to, "Global");
  EXPECT_EQ(parsed.pose.position, Eigen::Vector3f(1.5f, -2.0f, 0.25f));
  // (0, 0, 1, 1) normalised: a quarter turn about z, stored w last in the file.
  const Eigen::Quaternionf quarter(
      Eigen::AngleAxisf(90 * zelvane::testing::DEG_F, Eigen::Vector3f::UnitZ()));
  EXPECT_TRUE(zelvane::testing::sameRotation(parsed.pose.orientation, quarter));
  EXPECT_EQ(parsed.pose.timestamp, 0);
}

TEST(PoseFileLine, RefusesEachBadLineWithItsReason) {
  struct Case {
    std::string line;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"1,A,B,0,0,0,0,0,0", "expected 10 fields, found 9"},
      {"1,A,B,0,0,0,0,0,0,1,", "expected 10 fields, found 11"},
      {"1.5,A,B,0,0,0,0,0,0,1", "time '1.5' is not an integer"},
      {" ,A,B,0,0,0,0,0,0,1", "time '' is not an integer"},
      {"99999999999999999999,A,B,0,0,0,0,0,0,1", "time '99999999999999999999' is not an integer"},
      {"1, ,B,0,0,0,0,0,0,1", "empty frame name"},
      {"1,A,,0,0,0,0,0,0,1", "empty frame name"},
      {"1, A ,A,0,0,0,0,0,0,1", "a frame cannot be given in itself ('A')"},
      {"1,A,B,x,0,0,0,0,0,1", "field 4 'x' is not a finite number"},
      {"1,A,B,0,0,1e39,0,0,0,1", "field 6 '1e39' is not a finite number"},
      {"1,A,B,0,0,0,nan,0,0,1", "field 7 'nan' is not a finite number"},
      {"1,A,B,0,0,0,0,0,0,1 2", "field 10 '1 2' is not a finite number"},
      {"1,A,B,0,0,0,0,0,0, inf", "field 10 'inf' is not a finite number"},
      {"1,A,B,0,0,0,0,0,0,0.5", "quaternion is far from unit length"},
      {"1,A,B,0,0,0,0,0,0,1.5", "quaternion is far from unit length"},
  };
  for (const Case& c : cases) {
    PoseLine parsed;
    EXPECT_EQ(parsePoseLine(c.line, parsed), c.reason) << c.line;
  }
}

}  // namespace
