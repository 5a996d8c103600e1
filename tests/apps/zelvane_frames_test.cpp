// zelvane_frames end to end: its answers on the shipped vehicle and drive, and its
// error paths with their exit statuses (1 start-up, 2 input file, 3 lookup).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "support/run_program.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using zelvane::testing::containsAll;
using zelvane::testing::ProgramRun;
using zelvane::testing::runProgram;
using zelvane::testing::runTool;
using zelvane::testing::ScratchDir;

const std::string EXAMPLES = ZELVANE_EXAMPLES_DIR;
const std::string VEHICLE = "-c '" + EXAMPLES + "/vehicle.xml'";
const std::string DRIVE = "--poses '" + EXAMPLES + "/navigation.csv'";

ProgramRun frames(const std::string& arguments, const std::string& input = "") {
  return runTool(ZELVANE_FRAMES, arguments, input);
}

// Body in Global at 15 s: 5 s east at 10 m/s, then half of a quarter circle of radius
// 400/pi m to the left, rolled 0.8 degrees: (50 + R sin 45, R (1 - cos 45), 0).
TEST(ZelvaneFrames, AnswersSensorInGlobalOnTheShippedDrive) {
  const ProgramRun run = frames(VEHICLE + " " + DRIVE + " --from Sensor --to Global --time 15000");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_THAT(run.out, StartsWith("Sensor in Global at time 15000 (interpolated)\n"));
  // The mount (1.8, 0.2, 1.5) turned by the body's roll and yaw, added to the body.
  EXPECT_TRUE(containsAll(
      run.out, {"position:   141.177", " 38.69", " 1.502", "quaternion: ",
                "intrinsic yaw/pitch/roll (deg): ", "extrinsic yaw/pitch/roll (deg): ", "matrix:\n",
                "0.000000    0.000000    0.000000    1.000000\n"}));
}

// Body in Global on the shipped drive, each line a lookup and what its answer holds.
TEST(ZelvaneFrames, AnswersBodyInGlobalByTimeAndMethod) {
  struct Case {
    std::string arguments;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      // Rz(45) Rx(0.8): intrinsic (45, 0, 0.8); the same rotation read extrinsically is
      // yaw atan(cos 0.8) = 44.995, pitch = roll = atan(sin 45 tan 0.8) = 0.566.
      {"--time 15000",
       {"position:   140.03", "intrinsic yaw/pitch/roll (deg): 45.00", " 0.7999",
        "extrinsic yaw/pitch/roll (deg): 44.99", " 0.565"}},
      // 25.5 m along the straight start, between the samples at 2500 and 2600 ms.
      {"--time 2550", {"position:   25.500000 0.000000 0.000000\n"}},
      // The default time is the newest pose, the end of the drive: (50 + R, R + 50)
      // with R = 400/pi; most recent takes that pose whatever the time.
      {"", {"at time 30000 (interpolated)", "position:   177.32"}},
      {"--time 1 --method mostrecent", {"(most_recent)", "position:   177.32"}},
      {"--time 1 --method most_recent", {"(most_recent)", "position:   177.32"}},
      {"--time 31000 --method extrapolated", {" 187.32"}},  // 10 m further north
  };
  for (const Case& c : cases) {
    const ProgramRun run =
        frames(VEHICLE + " " + DRIVE + " --from Body --to Global " + c.arguments);
    ASSERT_EQ(run.status, 0) << c.arguments << "\n" << run.err;
    EXPECT_TRUE(containsAll(run.out, c.expected)) << c.arguments;
  }
}

// Each failure says what failed and, when out of range, which times work.
TEST(ZelvaneFrames, FailedLookupPrintsTheResultNameAndExitsWithThree) {
  struct Case {
    std::string arguments;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {DRIVE + " --from Body --to Global --time -5", {"failed: OutOfRange"}},
      {DRIVE + " --from Body --to Global --time 31000", {"failed: OutOfRange"}},
      // A misspelt frame is named, with the known frame closest to it.
      {"--from sensor --to Global",
       {"failed: NotFound (there is no frame 'sensor' (the closest known frame is 'Sensor'))\n"}},
      {"--from Sensor --to Nowhere", {"failed: NotFound (there is no frame 'Nowhere'"}},
      {DRIVE + " --from Sensor --to Global --time 31000",
       {"(interpolated lookups of Sensor in Global succeed from time 0 to 30000)\n"}},
      // A shorter history window keeps the last second of the drive only, and says so.
      {DRIVE + " --history-window 1000 --from Body --to Global --time 28000",
       {"succeed from time 29000 to 30000; the history window (1000) keeps Body in Global from "
        "time 29000 on and dropped the older samples; widen it before registering "
        "(--history-window"}},
      // Through a fixed frame, the half that failed is named.
      {DRIVE + " --from Sensor --to Body --time 15000 --to-time 36000 --fixed Global",
       {"lookup of Sensor at time 15000 in Body at time 36000 through Global failed: OutOfRange "
        "(the half Global in Body at time 36000; interpolated lookups of Global in Body succeed "
        "from time 0 to 30000)\n"}},
      {DRIVE + " --from Sensor --to Body --time -1 --to-time 36000 --fixed Global",
       {"(the half Sensor in Global at time -1; interpolated"}},
  };
  for (const Case& c : cases) {
    const ProgramRun run = frames(VEHICLE + " " + c.arguments);
    EXPECT_EQ(run.status, 3) << c.arguments;
    EXPECT_EQ(run.out, "") << c.arguments;
    EXPECT_TRUE(containsAll(run.err, c.expected)) << c.arguments;
  }
}

TEST(ZelvaneFrames, PlacesWhatWasSeenAtOneTimeInTheBodyOfAnother) {
  // On the straight start at 10 m/s: the sensor's origin at 5 s is 10 m ahead of the
  // body at 4 s, plus the mount.
  const ProgramRun run = frames(VEHICLE + " " + DRIVE +
                                    " --from Sensor --to Body --time 5000 --to-time 4000"
                                    " --fixed Global --points -",
                                "0 0 0\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("11.79999"));
  EXPECT_THAT(run.out, HasSubstr(" 0.200000 1.500000\n"));
  const ProgramRun printed = frames(VEHICLE + " " + DRIVE +
                                    " --from Sensor --to Body --time 5000 --to-time 4000"
                                    " --fixed Global");
  EXPECT_THAT(printed.out, StartsWith("Sensor at time 5000 in Body at time 4000 through Global "
                                      "(interpolated)\nposition:   11.79999"));
}

TEST(ZelvaneFrames, DrawsTheFrameTreeAsTextAndAsGraphviz) {
  const std::string tree = "Global\n  Body: 301 samples, time 0 to 30000\n    Sensor: static\n";
  const ProgramRun text = frames(VEHICLE + " " + DRIVE + " --tree");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out, tree);
  const ProgramRun dot = frames(VEHICLE + " " + DRIVE + " --dot");
  ASSERT_EQ(dot.status, 0) << dot.err;
  EXPECT_EQ(dot.out,
            "digraph frames {\n  node [shape=box, fontname=\"sans\"];\n"
            "  edge [fontname=\"sans\", fontsize=10];\n  \"Global\";\n"
            "  \"Global\" -> \"Body\" [label=\"301 samples\\ntime 0 to 30000\"];\n"
            "  \"Body\" -> \"Sensor\" [label=\"static\"];\n}\n");
  // A pair registered the other way round, and a tree of its own with a quote in a name.
  ScratchDir dir;
  const std::string poses = dir.write("poses.csv",
                                      "time,from,to,x,y,z,qx,qy,qz,qw\n"
                                      "100,Body,Wheel,0,1,0,0,0,0,1\n"
                                      "100,Cam \"1\",Mast,0,0,2,0,0,0,1\n"
                                      "200,Cam \"1\",Mast,0,0,2,0,0,0,1\n");
  const ProgramRun more = frames(VEHICLE + " --poses '" + poses + "' --tree --dot");
  ASSERT_EQ(more.status, 0) << more.err;
  EXPECT_THAT(more.out, StartsWith("Global\n  Body: static\n    Sensor: static\n"
                                   "    Wheel: 1 sample, time 100 to 100, given as Body in Wheel\n"
                                   "Mast\n  Cam \"1\": 2 samples, time 100 to 200\n"));
  EXPECT_THAT(more.out,
              HasSubstr("  \"Mast\" -> \"Cam \\\"1\\\"\" [label=\"2 samples\\ntime 100 to "
                        "200\"];\n"));
}

TEST(ZelvaneFrames, TransformsPointsFromAFileAndFromStandardInput) {
  // Sensor in Body: the mount pitched by 5 degrees, so (10, 0, 0) drops by 10 sin 5.
  // 10 cos 5 = 9.961947 and 10 sin 5 = 0.871557, up to single-precision rounding.
  const std::string expected = "1.800000 0.200000 1.500000\n11.76194";
  ScratchDir dir;
  const std::string file = dir.write("points.txt", "0 0 0\n\n# comment\n10 0 0\n");
  const ProgramRun from_file = frames(VEHICLE + " --from Sensor --to Body --points '" + file + "'");
  ASSERT_EQ(from_file.status, 0) << from_file.err;
  EXPECT_THAT(from_file.out, StartsWith(expected));
  EXPECT_THAT(from_file.out, HasSubstr(" 0.200000 0.62844"));
  const ProgramRun from_stdin =
      frames(VEHICLE + " --from Sensor --to Body --points -", "0 0 0\n10 0 0\n");
  ASSERT_EQ(from_stdin.status, 0) << from_stdin.err;
  EXPECT_EQ(from_stdin.out, from_file.out);
}

TEST(ZelvaneFrames, BadPointLineNamesItsLineAndReason) {
  struct Case {
    std::string line;
    std::string expected;
  };
  const Case cases[] = {
      {"1 2", "<stdin>:2: expected three numbers x y z\n"},
      {"1 2 3 4", "<stdin>:2: expected three numbers x y z\n"},
      {"nan 0 0", "<stdin>:2: field 1 'nan' is not a finite number\n"},
      {"0 -inf 0", "<stdin>:2: field 2 '-inf' is not a finite number\n"},
      {"0 0 1e39", "<stdin>:2: field 3 '1e39' is not a finite number\n"},
      {"0 0 1.5abc", "<stdin>:2: field 3 '1.5abc' is not a finite number\n"},
  };
  for (const Case& c : cases) {
    const ProgramRun run =
        frames(VEHICLE + " --from Sensor --to Body --points -", "1 2 3\n" + c.line + "\n4 5 6\n");
    EXPECT_EQ(run.status, 2) << c.line;
    EXPECT_EQ(run.err, c.expected);
  }
}

TEST(ZelvaneFrames, ListsTheFramesInRegistrationOrderAndStoredGraphLoadsAgain) {
  const ProgramRun listed = frames(VEHICLE + " --list");
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out, "Sensor\nBody\nGlobal\n");
  ScratchDir dir;
  const std::string stored = dir.path("stored.xml");
  const ProgramRun store = frames(VEHICLE + " " + DRIVE + " --store '" + stored + "'");
  ASSERT_EQ(store.status, 0) << store.err;
  // The stored graph holds the newest samples, as static transforms.
  const ProgramRun before = frames(VEHICLE + " " + DRIVE + " --from Sensor --to Global");
  const ProgramRun after = frames("-c '" + stored + "' --from Sensor --to Global --time 30000");
  ASSERT_EQ(after.status, 0) << after.err;
  // Same answer up to the precision of the stored text.
  EXPECT_TRUE(containsAll(before.out, {"position:   177.12"}));
  EXPECT_TRUE(containsAll(
      after.out, {"position:   177.12", " 179.12", "intrinsic yaw/pitch/roll (deg): 90.000"}));
  // Each pair is stored with the later frame first, so Body now comes before Sensor.
  EXPECT_EQ(frames("-c '" + stored + "' --list").out, "Body\nSensor\nGlobal\n");
}

// A store cut short by a file-size limit (SIGXFSZ ignored, as a full disk gives the
// same error) fails with the file and the reason, and the old store stays as it was.
TEST(ZelvaneFrames, StoreThatCannotBeWrittenWholeFailsAndKeepsTheOldStore) {
  ScratchDir dir;
  const std::string old = "<Settings><Old>kept</Old></Settings>\n";
  const std::string stored = dir.write("stored.xml", old);
  const ProgramRun run = runProgram("trap '' XFSZ; ulimit -f 1; '" + std::string(ZELVANE_FRAMES) +
                                    "' " + VEHICLE + " " + DRIVE + " --store '" + stored + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(
      containsAll(run.err, {"cannot write settings file '" + stored + "'", "File too large"}));
  EXPECT_EQ(zelvane::testing::readFile(stored), old);
}

// The shared table of bad pose files (tests/data/bad_pose_files.txt).
TEST(ZelvaneFrames, BadPoseFileIsReportedWithFileAndLine) {
  std::ifstream table("data/bad_pose_files.txt");
  ASSERT_TRUE(table) << "run from the tests folder";
  std::string row;
  while (std::getline(table, row)) {
    if (row.empty() || row[0] == '#') continue;
    const std::size_t tab = row.find('\t');
    std::string content = row.substr(tab + 1);
    for (std::size_t at = content.find("\\n"); at != std::string::npos;
         at = content.find("\\n", at + 1)) {
      content.replace(at, 2, "\n");
    }
    ScratchDir dir;
    const std::string file = dir.write("poses.csv", content);
    const ProgramRun run = frames(VEHICLE + " --poses '" + file + "' --list");
    EXPECT_EQ(run.status, 2) << row;
    EXPECT_EQ(run.err, file + ":" + row.substr(0, tab) + "\n");
    EXPECT_EQ(run.out, "") << row;
  }
  const ProgramRun missing = frames(VEHICLE + " --poses /nonexistent/poses.csv");
  EXPECT_EQ(missing.status, 2);
  EXPECT_THAT(missing.err, HasSubstr("/nonexistent/poses.csv: cannot be opened"));
}

// Positions from 262,144 on lose more than a centimetre to single precision: one
// warning for the file, with the largest coordinate and what is kept of it.
TEST(ZelvaneFrames, WarnsOnceOfMapScalePositions) {
  const std::string header = "time,from,to,x,y,z,qx,qy,qz,qw\n";
  ScratchDir dir;
  const std::string map_scale =
      dir.write("map.csv", header + "100,Body,Map,690000.5,5330000.25,300,0,0,0,1\n" +
                               "200,Body,Map,690010.5,5330004.25,300,0,0,0,1\n");
  const ProgramRun run = frames(VEHICLE + " --poses '" + map_scale + "' --list");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "warning: " + map_scale +
                         ": positions reach 5.33e+06, which single precision keeps only to "
                         "within 0.25; register them relative to a local origin near the data\n");
  const std::string below =
      dir.write("below.csv", header + "100,Body,Map,262143,-262143,0,0,0,0,1\n");
  EXPECT_EQ(frames(VEHICLE + " --poses '" + below + "' --list").err, "");
}

TEST(ZelvaneFrames, StartUpErrorsExitWithOne) {
  ScratchDir dir;
  const std::string bad_transform =
      dir.write("bad.xml",
                "<Settings><Transforms><Transform><fromFrameName>A</fromFrameName>"
                "<toFrameName>B</toFrameName><Position><x>one</x><y>0</y><z>0</z></Position>"
                "<orientationMethod>quaternion</orientationMethod>"
                "<Quaternion><x>0</x><y>0</y><z>0</z><w>1</w></Quaternion></Transform></Transforms>"
                "</Settings>");
  const std::string bad_props = dir.write("bad.properties", "colour=red\n");
  struct Case {
    std::string arguments;
    std::string expected;
  };
  const Case cases[] = {
      {"--list", "the option '--configuration-settings' is required"},
      {VEHICLE + " --from Body --to Global --method nearest",
       "--method must be most_recent, extrapolated or interpolated (mostrecent: an alias"},
      {VEHICLE + " --from Body", "--from and --to go together"},
      {VEHICLE + " --points -", "--points needs --from and --to"},
      {VEHICLE + " --from Body --to Global --fixed Global", "--to-time and --fixed go together"},
      {VEHICLE + " --to-time 5 --fixed Global", "--to-time and --fixed need --from and --to"},
      {VEHICLE + " --history-window -1", "--history-window must be 0 or more"},
      {"-c /nonexistent/vehicle.xml", "Unable to read settings file /nonexistent/vehicle.xml"},
      {VEHICLE + " --log-level loud", "--log-level 'loud' is not valid"},
      {VEHICLE + " --log-props /nonexistent/log.properties",
       "Unable to read logging properties file /nonexistent/log.properties"},
      {VEHICLE + " --time soon", "ERROR: "},
      {"-c '" + bad_transform + "' --list", "ERROR: "},
      {VEHICLE + " --list --log-props '" + bad_props + "'", "unknown logging property 'colour'"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = frames(c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_EQ(run.out, "") << c.arguments;
    EXPECT_THAT(run.err, HasSubstr(c.expected)) << c.arguments << "\n" << run.err;
  }
}

// Composing the parser's message once looped for ever on such a value; the run is
// bounded so that a relapse fails instead of hanging.
TEST(ZelvaneFrames, PlaceholderInAnOptionValueIsAStartUpError) {
  const std::string bounded = std::string("timeout 60 '") + ZELVANE_FRAMES + "' " + VEHICLE;
  for (const std::string value : {"%value%", "%canonical_option%", "x%option%%prefix%"}) {
    const ProgramRun run = runProgram(bounded + " --time '" + value + "'");
    EXPECT_EQ(run.status, 1) << value;
    EXPECT_THAT(run.err, StartsWith("ERROR: the argument ('" + value +
                                    "') for option '--time' is invalid\n"));
  }
}

TEST(ZelvaneFrames, HelpListsTheOptionsAndSucceeds) {
  const ProgramRun run = frames("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(containsAll(run.out, {"--method", "--configuration-settings"}));
  // A command line that fails before the help is shown is a start-up error.
  const ProgramRun failed = frames("--help --bogus");
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.err, StartsWith("ERROR: unrecognised option '--bogus'\n"));
}

TEST(ZelvaneFrames, LoggingFollowsLogLevelAndLogProps) {
  const std::string arguments = VEHICLE + " " + DRIVE + " --list";
  const ProgramRun quiet = frames(arguments);
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");  // no terminal, no progress, no console log
  const ProgramRun info = frames(arguments + " --log-level info");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(
      containsAll(info.err, {"Read 301 poses from", "Loaded 3 frames from the configuration"}));
  const ProgramRun warn = frames(arguments + " --log-level warn");
  EXPECT_THAT(warn.err, Not(HasSubstr("Read 301 poses")));

  ScratchDir dir;
  const std::string log = dir.path("frames.log");
  const std::string props = dir.write("log.properties", "logFile=" + log + "\nfileLevel=info\n");
  const ProgramRun to_file = frames(arguments + " --log-props '" + props + "'");
  ASSERT_EQ(to_file.status, 0) << to_file.err;
  EXPECT_THAT(zelvane::testing::readFile(log), HasSubstr("Read 301 poses from"));
}

}  // namespace
