// The benchmark's tracking files: each format read field by field, every refusal with
// its file:line message, the result format written and read back exactly, sequence
// lists and folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <random>
#include <sstream>

#include "eval/tracking_files.h"
#include "support/log_capture.h"

namespace zelvane::eval {
namespace {

std::vector<ObjectRecord> read(const std::string& text, TrackingFormat format) {
  std::istringstream input(text);
  return readTrackingRecords(input, "f.txt", format);
}

std::string refusal(const std::string& text, TrackingFormat format) {
  try {
    read(text, format);
  } catch (const TrackingFileError& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(TrackingFiles, ReadsEveryFieldOfEachFormat) {
  const auto labels = read(
      "0 3 Car 1 2 -1.57 296.74 161.75 455.23 292.0 2.0 1.82 4.43 -4.55 1.94 13.4 -1.6\n"
      "\n0 -1 DontCare -1 -1 -10 1 2 3 4 -1000 -1000 -1000 -10 -1 -1 -1\r\n",
      TrackingFormat::Labels);
  ASSERT_EQ(labels.size(), 2u);
  const ObjectRecord& car = labels[0];
  EXPECT_EQ(car.frame, 0);
  EXPECT_EQ(car.trackId, 3);
  EXPECT_EQ(car.type, "Car");
  EXPECT_EQ(car.truncation, 1);
  EXPECT_EQ(car.occlusion, 2);
  EXPECT_EQ(car.alpha, -1.57);
  EXPECT_EQ(car.image.left, 296.74);
  EXPECT_EQ(car.image.top, 161.75);
  EXPECT_EQ(car.image.right, 455.23);
  EXPECT_EQ(car.image.bottom, 292.0);
  EXPECT_EQ(car.box.height, 2.0);
  EXPECT_EQ(car.box.width, 1.82);
  EXPECT_EQ(car.box.length, 4.43);
  EXPECT_EQ(car.box.x, -4.55);
  EXPECT_EQ(car.box.y, 1.94);
  EXPECT_EQ(car.box.z, 13.4);
  EXPECT_EQ(car.box.yaw, -1.6);
  EXPECT_EQ(car.score, -1.0);
  EXPECT_EQ(labels[1].trackId, -1);

  const auto results = read(
      "4 7 Pedestrian -1 -1 0.5 1 2 3 4 1.7 0.6 0.8 1 2 3 0.1 12.5\n"
      "5\t7  Pedestrian -1 -1 0.5 1 2 3 4 1.7 0.6 0.8 1 2 3 0.1\n",
      TrackingFormat::Results);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].score, 12.5);
  EXPECT_EQ(results[1].score, -1.0);

  const auto detections =
      read("7, 3,10,20,30,40,-0.25,1.7,0.6,1.8,1,2,3,0.1,0.2\n", TrackingFormat::Detections);
  ASSERT_EQ(detections.size(), 1u);
  EXPECT_EQ(detections[0].frame, 7);
  EXPECT_EQ(detections[0].type, "Cyclist");
  EXPECT_EQ(detections[0].trackId, -1);
  EXPECT_EQ(detections[0].score, -0.25);
  EXPECT_EQ(detections[0].image.right, 30.0);
  EXPECT_EQ(detections[0].box.length, 1.8);
  EXPECT_EQ(detections[0].box.yaw, 0.1);
  EXPECT_EQ(detections[0].alpha, 0.2);
}

TEST(TrackingFiles, RefusesBadLinesNamingFileLineAndReason) {
  const std::string label = " Car 0 0 0 1 2 3 4 1 1 1 1 1 1 0";
  const struct {
    TrackingFormat format;
    std::string text;
    std::string message;
  } cases[] = {
      {TrackingFormat::Labels, "0 1" + label + " 9\n", "f.txt:1: expected 17 fields, found 18"},
      {TrackingFormat::Results, "0 1 Car\n", "f.txt:1: expected 17 or 18 fields, found 3"},
      {TrackingFormat::Detections, "0,2,1,2,3\n", "f.txt:1: expected 15 fields, found 5"},
      {TrackingFormat::Labels, "\n0.5 1" + label + "\n",
       "f.txt:2: field 1 (frame) '0.5' is not an integer"},
      {TrackingFormat::Labels, "0 x" + label + "\n",
       "f.txt:1: field 2 (track id) 'x' is not an integer"},
      {TrackingFormat::Labels, "0 1 Car 0 0 0 1 2 3 nan 1 1 1 1 1 1 0\n",
       "f.txt:1: field 10 (bottom) 'nan' is not a finite number"},
      {TrackingFormat::Labels, "0 1 Car 0 0 0 1 2 3 4 1 1 1 1 1e999 1 0\n",
       "f.txt:1: field 15 (y) '1e999' is not a finite number"},
      {TrackingFormat::Results, "0 1 Car 0 0 0 1 2 3 4 1 1 1 1 1 1 0 0x1p3\n",
       "f.txt:1: field 18 (score) '0x1p3' is not a finite number"},
      {TrackingFormat::Labels, "-1 1" + label + "\n", "f.txt:1: frame -1 is negative"},
      {TrackingFormat::Labels, "0 -2" + label + "\n", "f.txt:1: track id -2 is below -1"},
      {TrackingFormat::Detections, "0,4,1,2,3,4,0.5,1,1,1,1,1,1,0,0\n",
       "f.txt:1: unknown detection type '4' (1 Pedestrian, 2 Car, 3 Cyclist)"},
      {TrackingFormat::Detections, "0,2,1,2,3,4,,1,1,1,1,1,1,0,0\n",
       "f.txt:1: field 7 (score) '' is not a finite number"},
      {TrackingFormat::Results, "3 5" + label + "\n3 6" + label + "\n3 5" + label + "\n",
       "f.txt:3: track 5 appears twice in frame 3 (first on line 1)"},
  };
  for (const auto& c : cases) EXPECT_EQ(refusal(c.text, c.format), c.message) << c.text;
  // Regions without an id may share a frame, and a detection has no id to repeat.
  EXPECT_EQ(read("0 -1" + label + "\n0 -1" + label + "\n", TrackingFormat::Labels).size(), 2u);
  EXPECT_EQ(read("0 4.0" + label + "\n", TrackingFormat::Labels)[0].trackId, 4);
}

TEST(TrackingFiles, WrittenResultsReadBackExactly) {
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> any(-1e3, 1e3);
  std::vector<ObjectRecord> records;
  for (int n = 0; n < 200; ++n) {
    ObjectRecord r;
    r.frame = n / 3;
    r.trackId = n % 3;
    r.type = n % 2 ? "Car" : "Pedestrian";
    r.alpha = any(rng);
    r.image = ImageBox{any(rng), any(rng), any(rng), any(rng)};
    r.box = CameraBox{any(rng), any(rng), any(rng), any(rng) * 1e-9, any(rng), 0.1, any(rng)};
    r.score = n % 7 == 0 ? std::numeric_limits<double>::denorm_min() : any(rng);
    records.push_back(r);
  }
  std::ostringstream output;
  writeResults(output, records);
  const auto back = read(output.str(), TrackingFormat::Results);
  ASSERT_EQ(back.size(), records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::ostringstream again;
    writeResultLine(again, back[i]);
    std::ostringstream first;
    writeResultLine(first, records[i]);
    EXPECT_EQ(again.str(), first.str());
    EXPECT_EQ(back[i].box.height, records[i].box.height);
    EXPECT_EQ(back[i].score, records[i].score);
  }
  EXPECT_EQ(output.str().substr(0, 21), "0 0 Pedestrian -1 -1 ");
}

TEST(TrackingFiles, ReadsSequenceListsAndFolders) {
  testing::ScratchDir dir;
  const auto list =
      readSequenceList(dir.write("list", "0001 empty 000000 000448\n\n0006 271\n0012\n"));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, "0001");
  EXPECT_EQ(list[0].frameCount, 448);
  EXPECT_EQ(list[1].frameCount, 271);
  EXPECT_EQ(list[2].frameCount, 0);
  const struct {
    std::string text;
    std::string reason;
  } bad[] = {
      {"a 1 2\n", "1: expected 'name', 'name count' or 'name unused first count', found 3 fields"},
      {"a 0\n", "1: frame count '0' is not a positive integer"},
      {"a x 5 10\n", "1: first frame '5' is not 0"},
      {"a\nb\na 3\n", "3: sequence 'a' is listed twice"}};
  for (const auto& c : bad) {
    const std::string path = dir.write("bad", c.text);
    try {
      readSequenceList(path);
      ADD_FAILURE() << c.text;
    } catch (const TrackingFileError& error) {
      EXPECT_EQ(error.what(), path + ":" + c.reason);
    }
  }

  const std::string line = " Car 0 0 0 1 2 3 4 1 1 1 1 1 1 0\n";
  std::filesystem::create_directories(dir.path("gt"));
  std::filesystem::create_directories(dir.path("res"));
  dir.write("gt/b.txt", "0 1" + line);
  dir.write("gt/a.txt", "2 1" + line);
  dir.write("gt/notes.md", "not a sequence");
  dir.write("res/a.txt", "");
  dir.write("res/b.txt", "0 4" + line);
  const auto sequences = loadTrackingSequences(dir.path("gt"), dir.path("res"));
  ASSERT_EQ(sequences.size(), 2u);
  EXPECT_EQ(sequences[0].name, "a");
  EXPECT_EQ(sequences[0].groundTruth[0].frame, 2);
  EXPECT_TRUE(sequences[0].results.empty());
  EXPECT_EQ(sequences[1].results[0].trackId, 4);
  std::filesystem::remove(dir.path("res/b.txt"));
  EXPECT_THROW(loadTrackingSequences(dir.path("gt"), dir.path("res")), TrackingFileError);
  EXPECT_THROW(loadTrackingSequences(dir.path("res-none"), dir.path("res")), TrackingFileError);
  EXPECT_THROW(writeResultsFile(dir.path("no/such/dir/x.txt"), {}), TrackingFileError);
}

}  // namespace
}  // namespace zelvane::eval
