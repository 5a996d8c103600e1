#include "hota.h"

#include <algorithm>
#include <cmath>

namespace zelvane {
namespace eval {
namespace detail {
namespace {

constexpr int ALPHA_COUNT = 19;
// The weight of the similarity beside the alignment score in the per-frame matching:
// it only orders matchings whose sums of A_max tie.
constexpr double SIMILARITY_WEIGHT = 1e-6;
// Far above every cost (at most 1 + SIMILARITY_WEIGHT): the solver takes the most pairs
// first.
constexpr double HOTA_COST_LIMIT = 1e9;

std::uint64_t pairKey(std::uint32_t trajectory, std::uint32_t track) {
  return (static_cast<std::uint64_t>(trajectory) << 32) | track;
}

}  // namespace

std::vector<double> hotaAlphas() {
  std::vector<double> alphas;
  for (int k = 1; k <= ALPHA_COUNT; ++k) alphas.push_back(k / 20.0);
  return alphas;
}

HotaSums emptyHotaSums() {
  HotaSums sums;
  sums.truePositives.assign(ALPHA_COUNT, 0);
  sums.falseNegatives.assign(ALPHA_COUNT, 0);
  sums.falsePositives.assign(ALPHA_COUNT, 0);
  sums.association.assign(ALPHA_COUNT, 0.0);
  sums.associationRecall.assign(ALPHA_COUNT, 0.0);
  sums.associationPrecision.assign(ALPHA_COUNT, 0.0);
  sums.localisation.assign(ALPHA_COUNT, 0.0);
  return sums;
}

HotaSums hotaSums(const PreparedSequence& sequence, const SequencePass& pass,
                  core::AssignmentSolver& solver) {
  HotaSums sums = emptyHotaSums();
  // The sizes of the trajectories and tracks, in counted objects.
  std::vector<long> trajectorySize(sequence.trajectories.size(), 0);
  std::vector<long> trackSize(sequence.trackScores.size(), 0);
  long truths = 0;
  long results = 0;
  for (const TruthObject& truth : sequence.truths) {
    if (truth.ignored) continue;
    ++trajectorySize[truth.trajectory];
    ++truths;
  }
  for (std::size_t r = 0; r < sequence.results.size(); ++r) {
    if (!pass.resultCounted[r]) continue;
    ++trackSize[sequence.results[r].track];
    ++results;
  }
  const auto counted = [&](const CandidatePair& pair) {
    return !sequence.truths[pair.truth].ignored && pass.resultCounted[pair.result] != 0;
  };
  // Each pair's trajectory and track as one dense index, so that the counts per
  // trajectory and track are plain arrays.
  std::vector<std::uint64_t> keys;
  for (const CandidatePair& pair : sequence.pairs) {
    keys.push_back(
        pairKey(sequence.truths[pair.truth].trajectory, sequence.results[pair.result].track));
  }
  std::vector<std::uint64_t> distinct = keys;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  std::vector<std::uint32_t> pairTrack(keys.size());
  for (std::size_t p = 0; p < keys.size(); ++p) {
    pairTrack[p] = static_cast<std::uint32_t>(
        std::lower_bound(distinct.begin(), distinct.end(), keys[p]) - distinct.begin());
  }

  const std::vector<double> alphas = hotaAlphas();
  std::vector<long> potential(distinct.size());
  std::vector<long> matches(distinct.size());
  std::vector<core::AssignmentCandidate> candidates;
  std::vector<std::uint32_t> candidatePairs;
  for (std::size_t a = 0; a < alphas.size(); ++a) {
    const double alpha = alphas[a];
    // A_max = P / (|i| + |j| - P): P the frames in which trajectory i and track j could
    // match at this alpha, |i| and |j| their objects.
    std::fill(potential.begin(), potential.end(), 0);
    for (std::size_t p = 0; p < sequence.pairs.size(); ++p) {
      if (sequence.pairs[p].similarity >= alpha && counted(sequence.pairs[p]))
        ++potential[pairTrack[p]];
    }
    std::fill(matches.begin(), matches.end(), 0);
    for (std::size_t f = 0; f < sequence.frameNumbers.size(); ++f) {
      candidates.clear();
      candidatePairs.clear();
      const std::uint32_t truthBegin = sequence.truthStart[f];
      const std::uint32_t resultBegin = sequence.resultStart[f];
      for (std::uint32_t p = sequence.pairStart[f]; p < sequence.pairStart[f + 1]; ++p) {
        const CandidatePair& pair = sequence.pairs[p];
        if (!(pair.similarity >= alpha) || !counted(pair)) continue;
        const auto shared = static_cast<double>(potential[pairTrack[p]]);
        const auto sizes =
            static_cast<double>(trajectorySize[sequence.truths[pair.truth].trajectory] +
                                trackSize[sequence.results[pair.result].track]);
        const double alignment = shared / (sizes - shared);
        candidates.push_back(core::AssignmentCandidate{
            pair.truth - truthBegin, pair.result - resultBegin,
            (1.0 + SIMILARITY_WEIGHT) - (alignment + SIMILARITY_WEIGHT * pair.similarity)});
        candidatePairs.push_back(p);
      }
      if (candidates.empty()) continue;
      const core::Assignment assignment =
          solver.solve(sequence.truthStart[f + 1] - truthBegin,
                       sequence.resultStart[f + 1] - resultBegin, candidates, HOTA_COST_LIMIT);
      for (const core::AssignedPair& match : assignment.matches) {
        std::size_t k = 0;
        while (candidates[k].row != match.row || candidates[k].column != match.column) ++k;
        ++matches[pairTrack[candidatePairs[k]]];
        ++sums.truePositives[a];
        sums.localisation[a] += sequence.pairs[candidatePairs[k]].similarity;
      }
    }
    sums.falseNegatives[a] = truths - sums.truePositives[a];
    sums.falsePositives[a] = results - sums.truePositives[a];
    // Every TP of a trajectory and track has the same A(c) = TPA / (TPA + FNA + FPA),
    // TPA the pair's matches, FNA and FPA the rest of the trajectory and of the track.
    for (std::size_t id = 0; id < distinct.size(); ++id) {
      if (matches[id] == 0) continue;
      const auto tpa = static_cast<double>(matches[id]);
      const auto trajectory = static_cast<double>(trajectorySize[distinct[id] >> 32]);
      const auto track = static_cast<double>(trackSize[distinct[id] & 0xffffffffu]);
      sums.association[a] += tpa * tpa / (trajectory + track - tpa);
      sums.associationRecall[a] += tpa * tpa / trajectory;
      sums.associationPrecision[a] += tpa * tpa / track;
    }
  }
  return sums;
}

void addHotaSums(HotaSums& total, const HotaSums& part) {
  for (std::size_t i = 0; i < total.truePositives.size(); ++i) {
    total.truePositives[i] += part.truePositives[i];
    total.falseNegatives[i] += part.falseNegatives[i];
    total.falsePositives[i] += part.falsePositives[i];
    total.association[i] += part.association[i];
    total.associationRecall[i] += part.associationRecall[i];
    total.associationPrecision[i] += part.associationPrecision[i];
    total.localisation[i] += part.localisation[i];
  }
}

HotaScores hotaScores(const HotaSums& sums) {
  HotaScores scores;
  scores.alphas = hotaAlphas();
  scores.truePositivesAtAlpha = sums.truePositives;
  scores.falseNegativesAtAlpha = sums.falseNegatives;
  scores.falsePositivesAtAlpha = sums.falsePositives;
  const std::size_t n = scores.alphas.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto tp = static_cast<double>(sums.truePositives[i]);
    const auto fn = static_cast<double>(sums.falseNegatives[i]);
    const auto fp = static_cast<double>(sums.falsePositives[i]);
    const double detA = ratio(tp, tp + fn + fp);
    const double assA = ratio(sums.association[i], tp);
    const double locA = ratio(sums.localisation[i], tp);
    const double hota = std::sqrt(detA * assA);
    scores.hotaAtAlpha.push_back(hota);
    scores.detAAtAlpha.push_back(detA);
    scores.assAAtAlpha.push_back(assA);
    scores.locAAtAlpha.push_back(locA);
    scores.hota += hota;
    scores.detA += detA;
    scores.assA += assA;
    scores.locA += locA;
    scores.detRe += ratio(tp, tp + fn);
    scores.detPr += ratio(tp, tp + fp);
    scores.assRe += ratio(sums.associationRecall[i], tp);
    scores.assPr += ratio(sums.associationPrecision[i], tp);
  }
  const auto count = static_cast<double>(n);
  scores.hota /= count;
  scores.detA /= count;
  scores.assA /= count;
  scores.locA /= count;
  scores.detRe /= count;
  scores.detPr /= count;
  scores.assRe /= count;
  scores.assPr /= count;
  return scores;
}

}  // namespace detail
}  // namespace eval
}  // namespace zelvane
