// Matches two sets of boxes by footprint overlap.
//
//   zelvane_box_matching DETECTED.csv TRACKED.csv
//
// Each file is CSV with the header line x,y,z,heading,length,width,height: the box
// centre, its heading in radians (counter-clockwise from x) and its extents. Prints
// the overlap matrix (intersection over union of the footprints), the distance matrix
// of the footprints, the pairs within 2 units of each other, and the assignment of one
// file's boxes to the other's with the largest total overlap (a pair that does not
// overlap is never assigned), by the association call a tracker makes every frame: it
// looks only at boxes near each other.
#include <fstream>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include <zelvane/core/association.h>
#include <zelvane/core/footprint_pairs.h>
#include <zelvane/core/state.h>
#include <zelvane/text_fields.h>

namespace {

using zelvane::core::State;

constexpr double kGate = 2.0;

bool readBoxes(const std::string& file, std::vector<State>& boxes) {
  std::ifstream input(file);
  if (!input) {
    std::cerr << file << ": cannot be opened" << std::endl;
    return false;
  }
  std::string line;
  unsigned long number = 1;
  if (!std::getline(input, line) || line.rfind("x,y,z,heading,length,width,height", 0) != 0) {
    std::cerr << file << ":1: expected the header line x,y,z,heading,length,width,height"
              << std::endl;
    return false;
  }
  while (std::getline(input, line)) {
    ++number;
    if (zelvane::text::trim(line).empty()) {
      continue;
    }
    std::vector<float> values;
    for (const std::string& field : zelvane::text::split(line, ',')) {
      float value = 0.0f;
      if (!zelvane::text::parseNumber(field, value)) {
        values.clear();
        break;
      }
      values.push_back(value);
    }
    if (values.size() != 7) {
      std::cerr << file << ":" << number << ": expected seven numbers" << std::endl;
      return false;
    }
    boxes.push_back(
        State::box({values[0], values[1], values[2]}, values[3], values[4], values[5], values[6]));
  }
  return true;
}

template <class Cell>
void printMatrix(const std::string& title, std::size_t rows, std::size_t cols, Cell cell) {
  std::cout << title << " (rows: first file, columns: second file)\n       ";
  for (std::size_t col = 0; col < cols; ++col) {
    std::cout << std::setw(9) << col;
  }
  std::cout << '\n';
  for (std::size_t row = 0; row < rows; ++row) {
    std::cout << std::setw(7) << row;
    for (std::size_t col = 0; col < cols; ++col) {
      std::cout << std::setw(9) << cell(row, col);
    }
    std::cout << '\n';
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << (argc > 0 ? argv[0] : "zelvane_box_matching")
              << " FIRST.csv SECOND.csv" << std::endl;
    return 1;
  }
  std::vector<State> first;
  std::vector<State> second;
  if (!readBoxes(argv[1], first) || !readBoxes(argv[2], second)) {
    return 2;
  }

  const Eigen::MatrixXd overlap = zelvane::core::overlapMatrix(first, second);
  std::cout << std::fixed << std::setprecision(3);
  printMatrix("overlap", first.size(), second.size(), [&](std::size_t i, std::size_t j) {
    return overlap(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j));
  });
  std::cout << '\n';
  printMatrix("distance", first.size(), second.size(),
              [&](std::size_t i, std::size_t j) { return first[i].distance(second[j]); });

  std::cout << "\nwithin " << kGate << '\n';
  for (const auto& pair : zelvane::core::distancePairs(first, second, kGate)) {
    std::cout << "  " << pair.row << " - " << pair.column << "  distance " << pair.value << '\n';
  }

  const zelvane::core::Association association =
      zelvane::core::associate(first, second, zelvane::core::AssociationMetric::Overlap, 0.0);
  std::cout << "\nassignment\n";
  for (const auto& match : association.matches) {
    std::cout << "  " << match.row << " -> " << match.column << "  overlap " << match.value << '\n';
  }
  for (const std::size_t i : association.unmatchedTracks) {
    std::cout << "  " << i << " unmatched (first file)\n";
  }
  for (const std::size_t j : association.unmatchedDetections) {
    std::cout << "  " << j << " unmatched (second file)\n";
  }
  return 0;
}
