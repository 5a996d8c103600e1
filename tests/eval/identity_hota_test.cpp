// IDF1 and HOTA against brute force on tiny random sequences: every one-to-one pairing
// of trajectories for IDF1; every matching of every frame for HOTA, chosen by the
// paper's order (most pairs at or above alpha, then the largest sum of A_max, then of
// similarity), and A(c) counted for each true positive from its definition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "eval/box_measures.h"
#include "eval/tracking_evaluation.h"

namespace zelvane::eval {
namespace {

// One tiny sequence: the objects of each ground-truth and each result track by frame.
struct TinyCase {
  int frames = 0;
  std::vector<ObjectRecord> truth;
  std::vector<ObjectRecord> results;
};

ObjectRecord boxAt(long frame, long id, double left) {
  ObjectRecord record;
  record.frame = frame;
  record.trackId = id;
  record.type = "Car";
  record.truncation = 0;
  record.occlusion = 0;
  record.score = 1.0;
  record.image = ImageBox{left, 100.0, left + 20.0, 150.0};
  return record;
}

TinyCase randomCase(std::mt19937_64& rng) {
  TinyCase c;
  c.frames = 2 + static_cast<int>(rng() % 3);
  const int truths = 1 + static_cast<int>(rng() % 3);
  const int results = 1 + static_cast<int>(rng() % 3);
  std::uniform_real_distribution<double> offset(-9.0, 9.0);
  // Objects apart, or so close that results compete for them.
  const double spacing = rng() % 2 ? 100.0 : 8.0;
  for (long f = 0; f < c.frames; ++f) {
    for (long i = 0; i < truths; ++i) {
      if (rng() % 4 != 0) c.truth.push_back(boxAt(f, i, spacing * i + offset(rng) / 3));
    }
    for (long j = 0; j < results; ++j) {
      // Near one of the objects' places, sometimes far from all.
      const double place = rng() % 6 == 0 ? 900.0 : spacing * static_cast<double>(rng() % truths);
      if (rng() % 4 != 0) c.results.push_back(boxAt(f, 10 + j, place + offset(rng)));
    }
  }
  return c;
}

double similarity(const ObjectRecord& a, const ObjectRecord& b) {
  return imageOverlap(a.image, b.image);
}

std::vector<const ObjectRecord*> inFrame(const std::vector<ObjectRecord>& records, long frame) {
  std::vector<const ObjectRecord*> out;
  for (const ObjectRecord& r : records) {
    if (r.frame == frame) out.push_back(&r);
  }
  return out;
}

// Every one-to-one pairing of `rows` with columns (-1: unpaired), by recursion.
void pairings(int rows, int columns, std::vector<int>& current,
              std::vector<std::vector<int>>& all) {
  if (static_cast<int>(current.size()) == rows) {
    all.push_back(current);
    return;
  }
  for (int column = -1; column < columns; ++column) {
    if (column >= 0 && std::find(current.begin(), current.end(), column) != current.end()) continue;
    current.push_back(column);
    pairings(rows, columns, current, all);
    current.pop_back();
  }
}

std::vector<std::vector<int>> allPairings(int rows, int columns) {
  std::vector<std::vector<int>> all;
  std::vector<int> current;
  pairings(rows, columns, current, all);
  return all;
}

long bruteForceIdTruePositives(const TinyCase& c) {
  std::map<long, int> truthIndex;
  std::map<long, int> resultIndex;
  for (const ObjectRecord& r : c.truth) truthIndex.emplace(r.trackId, truthIndex.size());
  for (const ObjectRecord& r : c.results) resultIndex.emplace(r.trackId, resultIndex.size());
  // The frames in which each trajectory and track match by the rule of the CLEAR pass.
  std::vector<std::vector<long>> shared(truthIndex.size(),
                                        std::vector<long>(resultIndex.size(), 0));
  for (const ObjectRecord& g : c.truth) {
    for (const ObjectRecord& r : c.results) {
      if (g.frame == r.frame && 1.0 - similarity(g, r) <= 0.5) {
        ++shared[truthIndex[g.trackId]][resultIndex[r.trackId]];
      }
    }
  }
  long best = 0;
  for (const auto& pairing :
       allPairings(static_cast<int>(truthIndex.size()), static_cast<int>(resultIndex.size()))) {
    long total = 0;
    for (std::size_t i = 0; i < pairing.size(); ++i)
      total += pairing[i] >= 0 ? shared[i][pairing[i]] : 0;
    best = std::max(best, total);
  }
  return best;
}

struct BruteHota {
  double hota = 0, detA = 0, assA = 0, locA = 0;
  bool ambiguous = false;
};

BruteHota bruteForceHota(const TinyCase& c) {
  BruteHota out;
  std::map<long, long> truthSize;
  std::map<long, long> resultSize;
  for (const ObjectRecord& r : c.truth) ++truthSize[r.trackId];
  for (const ObjectRecord& r : c.results) ++resultSize[r.trackId];
  const auto truths = static_cast<double>(c.truth.size());
  const auto results = static_cast<double>(c.results.size());
  for (int k = 1; k <= 19; ++k) {
    const double alpha = k / 20.0;
    std::map<std::pair<long, long>, long> potential;
    for (const ObjectRecord& g : c.truth) {
      for (const ObjectRecord& r : c.results) {
        if (g.frame == r.frame && similarity(g, r) >= alpha) ++potential[{g.trackId, r.trackId}];
      }
    }
    const auto aMax = [&](long i, long j) {
      const auto p = static_cast<double>(potential[{i, j}]);
      return p / (static_cast<double>(truthSize[i] + resultSize[j]) - p);
    };
    std::vector<std::pair<std::pair<long, long>, double>> truePositives;
    for (long f = 0; f < c.frames; ++f) {
      const auto g = inFrame(c.truth, f);
      const auto r = inFrame(c.results, f);
      struct Choice {
        long count = -1;
        double alignment = 0, similarity = 0;
        std::vector<int> pairing;
      } best;
      bool tie = false;
      for (const auto& pairing :
           allPairings(static_cast<int>(g.size()), static_cast<int>(r.size()))) {
        Choice choice{0, 0, 0, pairing};
        bool allowed = true;
        for (std::size_t i = 0; i < pairing.size(); ++i) {
          if (pairing[i] < 0) continue;
          const double s = similarity(*g[i], *r[pairing[i]]);
          allowed = allowed && s >= alpha;
          ++choice.count;
          choice.alignment += aMax(g[i]->trackId, r[pairing[i]]->trackId);
          choice.similarity += s;
        }
        if (!allowed) continue;
        const double da = choice.alignment - best.alignment;
        const double ds = choice.similarity - best.similarity;
        const bool better = choice.count > best.count || (choice.count == best.count &&
                                                          (da > 1e-9 || (da > -1e-9 && ds > 1e-9)));
        const bool same =
            choice.count == best.count && std::abs(da) <= 1e-9 && std::abs(ds) <= 1e-9;
        if (better) {
          best = choice;
          tie = false;
        } else if (same) {
          tie = true;
        }
      }
      out.ambiguous = out.ambiguous || tie;
      for (std::size_t i = 0; i < best.pairing.size(); ++i) {
        if (best.pairing[i] >= 0) {
          truePositives.push_back({{g[i]->trackId, r[best.pairing[i]]->trackId},
                                   similarity(*g[i], *r[best.pairing[i]])});
        }
      }
    }
    const auto tp = static_cast<double>(truePositives.size());
    double association = 0;
    double localisation = 0;
    for (const auto& [pair, s] : truePositives) {
      const auto tpa = static_cast<double>(
          std::count_if(truePositives.begin(), truePositives.end(),
                        [&](const auto& other) { return other.first == pair; }));
      const double fna = static_cast<double>(truthSize[pair.first]) - tpa;
      const double fpa = static_cast<double>(resultSize[pair.second]) - tpa;
      association += tpa / (tpa + fna + fpa);
      localisation += s;
    }
    const double detA = truths + results > 0 ? tp / (truths + results - tp) : 0.0;
    const double assA = tp > 0 ? association / tp : 0.0;
    out.detA += detA / 19;
    out.assA += assA / 19;
    out.locA += (tp > 0 ? localisation / tp : 0.0) / 19;
    out.hota += std::sqrt(detA * assA) / 19;
  }
  return out;
}

ClassEvaluation evaluate(const TinyCase& c) {
  EvaluationOptions options;
  options.measure = Measure::ImageOverlap;
  options.threshold = 0.5;
  return evaluateTracking({TrackingSequence{"tiny", c.frames, c.truth, c.results}}, options);
}

TEST(IdentityScores, EqualTheBestPairingOfTrajectories) {
  std::mt19937_64 rng(7);
  for (int n = 0; n < 300; ++n) {
    const TinyCase c = randomCase(rng);
    const IdentityScores scores = evaluate(c).identity;
    const long idtp = bruteForceIdTruePositives(c);
    ASSERT_EQ(scores.idTruePositives, idtp) << n;
    EXPECT_EQ(scores.idFalseNegatives, static_cast<long>(c.truth.size()) - idtp);
    EXPECT_EQ(scores.idFalsePositives, static_cast<long>(c.results.size()) - idtp);
    EXPECT_DOUBLE_EQ(scores.idf1,
                     2.0 * idtp / static_cast<double>(c.truth.size() + c.results.size()));
  }
}

TEST(Hota, EqualsTheDefinitionByBruteForce) {
  std::mt19937_64 rng(11);
  int compared = 0;
  for (int n = 0; n < 300; ++n) {
    const TinyCase c = randomCase(rng);
    const BruteHota expected = bruteForceHota(c);
    if (expected.ambiguous) continue;
    ++compared;
    const HotaScores scores = evaluate(c).hota;
    EXPECT_NEAR(scores.hota, expected.hota, 1e-12) << n;
    EXPECT_NEAR(scores.detA, expected.detA, 1e-12) << n;
    EXPECT_NEAR(scores.assA, expected.assA, 1e-12) << n;
    EXPECT_NEAR(scores.locA, expected.locA, 1e-12) << n;
  }
  EXPECT_GT(compared, 250);
}

}  // namespace
}  // namespace zelvane::eval
