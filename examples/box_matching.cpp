// Matches two sets of boxes by footprint overlap.
//
//   zelvane_box_matching DETECTED.csv TRACKED.csv
//
// Each file is CSV with the header line x,y,z,heading,length,width,height: the box
// centre, its heading in radians (counter-clockwise from x) and its extents. Prints
// the overlap matrix (intersection over union of the footprints), the distance matrix
// of the footprints, and a greedy assignment: the pair with the largest overlap first,
// then the largest among the boxes left, down to overlap 0 (a pair that does not
// overlap is never assigned).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/state.h"

namespace {

using zelvane::core::State;

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
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
      continue;
    }
    std::stringstream fields(line);
    std::string field;
    std::vector<float> values;
    while (std::getline(fields, field, ',')) {
      char* end = nullptr;
      const float value = std::strtof(field.c_str(), &end);
      if (end == field.c_str() ||
          std::string(end).find_first_not_of(" \t\r") != std::string::npos ||
          !std::isfinite(value)) {
        values.clear();
        break;
      }
      values.push_back(value);
    }
    if (values.size() != 7) {
      std::cerr << file << ":" << number << ": expected seven numbers" << std::endl;
      return false;
    }
    State box;
    box.position = zelvane::Gaussian<float, 3>();
    box.position->mean = Eigen::Vector3f(values[0], values[1], values[2]);
    box.heading = zelvane::Gaussian<float, 1>();
    box.heading->mean = values[3];
    box.dimensions = zelvane::core::Dimensions<float, zelvane::frames::Trackable>(
        values[4], values[5], values[6]);
    boxes.push_back(box);
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

  std::vector<std::vector<double>> overlap(first.size(), std::vector<double>(second.size()));
  std::vector<std::vector<double>> distance(first.size(), std::vector<double>(second.size()));
  for (std::size_t i = 0; i < first.size(); ++i) {
    for (std::size_t j = 0; j < second.size(); ++j) {
      overlap[i][j] = first[i].overlap(second[j]);
      distance[i][j] = first[i].distance(second[j]);
    }
  }

  std::cout << std::fixed << std::setprecision(3);
  printMatrix("overlap", first.size(), second.size(),
              [&](std::size_t i, std::size_t j) { return overlap[i][j]; });
  std::cout << '\n';
  printMatrix("distance", first.size(), second.size(),
              [&](std::size_t i, std::size_t j) { return distance[i][j]; });

  struct Pair {
    double overlap;
    std::size_t first;
    std::size_t second;
  };
  std::vector<Pair> pairs;
  for (std::size_t i = 0; i < first.size(); ++i) {
    for (std::size_t j = 0; j < second.size(); ++j) {
      if (overlap[i][j] > 0.0) {
        pairs.push_back({overlap[i][j], i, j});
      }
    }
  }
  // Ties go to the lower indices, so the assignment does not depend on the sort.
  std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) {
    if (a.overlap != b.overlap) {
      return a.overlap > b.overlap;
    }
    return a.first != b.first ? a.first < b.first : a.second < b.second;
  });
  std::vector<bool> first_taken(first.size(), false);
  std::vector<bool> second_taken(second.size(), false);
  std::cout << "\nassignment\n";
  for (const Pair& pair : pairs) {
    if (!first_taken[pair.first] && !second_taken[pair.second]) {
      first_taken[pair.first] = true;
      second_taken[pair.second] = true;
      std::cout << "  " << pair.first << " -> " << pair.second << "  overlap " << pair.overlap
                << '\n';
    }
  }
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (!first_taken[i]) {
      std::cout << "  " << i << " unmatched (first file)\n";
    }
  }
  for (std::size_t j = 0; j < second.size(); ++j) {
    if (!second_taken[j]) {
      std::cout << "  " << j << " unmatched (second file)\n";
    }
  }
  return 0;
}
