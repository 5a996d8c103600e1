// The library's pose-file reader: what a good file gives, and the shared table of bad
// files (tests/data/bad_pose_files.txt), which the command line and Python check too.
#include "geometry/pose_file.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/tolerance.h"

namespace {

using zelvane::Pose;
using zelvane::PoseFileSummary;
using zelvane::PoseLine;
using zelvane::TransformManager;

// The frames of examples/vehicle.xml: Sensor in Body, Body in Global.
void addVehicle(TransformManager& manager) {
  manager.setTransform("Sensor", "Body", Pose(), 0);
  manager.setTransform("Body", "Global", Pose(), 0);
}

std::string unescape(const std::string& text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      result += '\n';
      ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

TEST(PoseFile, RefusesEveryFileOfTheSharedTableWithItsLineAndReason) {
  std::ifstream table("data/bad_pose_files.txt");
  ASSERT_TRUE(table) << "run from the tests folder";
  std::string row;
  int cases = 0;
  while (std::getline(table, row)) {
    if (row.empty() || row[0] == '#') continue;
    const std::size_t tab = row.find('\t');
    ASSERT_NE(tab, std::string::npos) << row;
    TransformManager manager;
    addVehicle(manager);
    std::istringstream input(unescape(row.substr(tab + 1)));
    PoseFileSummary summary;
    EXPECT_EQ(zelvane::readPoseFile(input, "poses.csv", manager, summary),
              "poses.csv:" + row.substr(0, tab));
    ++cases;
  }
  EXPECT_GE(cases, 20);
}

TEST(PoseFile, ReadsDecimalFieldsWithBlanksAndGivesThePoseOfFromInTo) {
  PoseLine parsed;
  ASSERT_EQ(zelvane::parsePoseLine(" -15 , Body ,Global,1.5,+2e0,-.25,0,0,1E0,1.\r", parsed), "");
  EXPECT_EQ(parsed.time, -15);
  EXPECT_EQ(parsed.from, "Body");
  EXPECT_EQ(parsed.to, "Global");
  EXPECT_EQ(parsed.pose.position, Eigen::Vector3f(1.5f, 2.0f, -0.25f));
  // (0, 0, 1, 1) normalised: a quarter turn about z, stored w last in the file.
  const Eigen::Quaternionf quarter(
      Eigen::AngleAxisf(90 * zelvane::testing::DEG_F, Eigen::Vector3f::UnitZ()));
  EXPECT_TRUE(zelvane::testing::sameRotation(parsed.pose.orientation, quarter));
  // Below the float range is no error: it reads as 0.
  EXPECT_EQ(zelvane::parsePoseLine("1,A,B,1e-60,0,0,0,0,0,1", parsed), "");
  EXPECT_EQ(parsed.pose.position.x(), 0.0f);
}

// Quoted as CSV writers quote: the text between the quotes, a doubled quote as one,
// commas and blanks kept, numbers read as unquoted; the header may be quoted too.
TEST(PoseFile, ReadsQuotedFieldsAsCsvWritersQuoteThem) {
  TransformManager manager;
  std::istringstream input(
      "\"time\",\"from\",\"to\",x,y,z,qx,qy,qz,qw\n"
      "\"100\", \"Body\" ,\"Global\",\"1.5\",0,0,0,0,0,\"1\"\n"
      "0,\" cam, \"\"left\"\" \",Body,0,0,1,0,0,0,1\r\n");
  PoseFileSummary summary;
  ASSERT_EQ(zelvane::readPoseFile(input, "poses.csv", manager, summary), "");
  EXPECT_EQ(summary.count, 2u);
  EXPECT_EQ(manager.getFrames(), (std::vector<std::string>{"Body", "Global", " cam, \"left\" "}));
  Pose pose;
  ASSERT_EQ(
      manager.getTransform(" cam, \"left\" ", "Global", 100, TransformManager::Interpolated, pose),
      TransformManager::Success);
  EXPECT_EQ(pose.position, Eigen::Vector3f(1.5f, 0.0f, 1.0f));
}

// Each number is rounded once from its text: the shortest round-trip text of a float
// reads back as that float.
TEST(PoseFile, ReadsEveryFloatBackFromItsNineDigits) {
  std::mt19937 random(22);
  std::uniform_int_distribution<std::uint32_t> bits;
  PoseLine parsed;
  for (int i = 0; i < 20000; ++i) {
    float value = 0.0f;
    do {
      const std::uint32_t pattern = bits(random);
      std::memcpy(&value, &pattern, sizeof value);
    } while (!std::isfinite(value));
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    ASSERT_EQ(zelvane::parsePoseLine(std::string("1,A,B,") + text + ",0,0,0,0,0,1", parsed), "");
    ASSERT_EQ(parsed.pose.position.x(), value) << text;
  }
}

TEST(PoseFile, SkipsAByteOrderMarkAndBlankLinesAndRegistersInFileOrder) {
  TransformManager manager;
  std::istringstream input(
      "\xEF\xBB\xBFtime,from,to,x,y,z,qx,qy,qz,qw\r\n"
      "200,Body,Global,2,0,0,0,0,0,1\r\n \t\r\n"
      "100,Body,Global,1,0,0,0,0,0,1\r\n"
      "0,Sensor,Body,0,0,1,0,0,0,1");
  PoseFileSummary summary;
  ASSERT_EQ(zelvane::readPoseFile(input, "poses.csv", manager, summary), "");
  EXPECT_EQ(summary.count, 3u);
  EXPECT_EQ(summary.newest_time, 200);
  EXPECT_EQ(manager.getFrames(), (std::vector<std::string>{"Body", "Global", "Sensor"}));
  EXPECT_EQ(manager.historySize("Body", "Global"), 2u);
  Pose pose;
  ASSERT_EQ(manager.getTransform("Sensor", "Global", 150, TransformManager::Interpolated, pose),
            TransformManager::Success);
  EXPECT_EQ(pose.position, Eigen::Vector3f(1.5f, 0.0f, 1.0f));
}

TEST(PoseFile, SummaryCarriesTheLargestCoordinateOfThePosesRegisteredBeforeABadLine) {
  const struct {
    const char* lines;
    unsigned long count;
    double largest;
  } cases[] = {
      {"", 0, 0.0},
      {"100,Body,Global,1,-300000.25,0,0,0,0,1\n200,Body,Global,2,0,5,0,0,0,1\n", 2, 300000.25},
      {"100,Body,Global,-7,1,0,0,0,0,1\n200,Body,Global,9,0,0,0,0,0,1,extra\n", 1, 7.0},
  };
  for (const auto& c : cases) {
    TransformManager manager;
    std::istringstream input(std::string("time,from,to,x,y,z,qx,qy,qz,qw\n") + c.lines);
    PoseFileSummary summary;
    zelvane::readPoseFile(input, "poses.csv", manager, summary);
    EXPECT_EQ(summary.count, c.count) << c.lines;
    EXPECT_EQ(summary.largest_coordinate, c.largest) << c.lines;
  }
}

}  // namespace
