#include "geometry/frame_graph_text.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <sstream>

namespace zelvane {

namespace {

using Edge = TransformManager::EdgeSummary;

// The frame graph as trees over the public edge list (see `frameTreeText`).
class FrameTree {
 public:
  FrameTree(const std::vector<std::string>& frames, const std::vector<Edge>& edges)
      : frames_(frames), edges_(edges) {
    for (std::size_t i = 0; i < edges_.size(); ++i) {
      neighbours_[edges_[i].from].push_back(i);
      neighbours_[edges_[i].to].push_back(i);
      described_.insert(edges_[i].from);
    }
    for (std::size_t i = 0; i < frames_.size(); ++i) order_[frames_[i]] = i;
    for (auto& [frame, list] : neighbours_) {
      std::sort(list.begin(), list.end(), [this, &frame = frame](std::size_t a, std::size_t b) {
        return order_.at(other(a, frame)) < order_.at(other(b, frame));
      });
    }
  }

  // Every tree, depth first from its root; `edge` is null for a root.
  using Visit = std::function<void(int depth, const std::string& frame, const std::string& parent,
                                   const Edge* edge)>;

  void walk(const Visit& visit) const {
    std::set<std::string> seen;
    for (const std::string& start : frames_) {
      if (seen.count(start) != 0) continue;
      std::vector<std::string> tree = {start};  // the whole tree, in frame order
      for (std::size_t i = 0; i < tree.size(); ++i) {
        seen.insert(tree[i]);
        for (const std::size_t edge : neighbourEdges(tree[i])) {
          if (seen.insert(other(edge, tree[i])).second) tree.push_back(other(edge, tree[i]));
        }
      }
      std::sort(tree.begin(), tree.end(), [this](const std::string& a, const std::string& b) {
        return order_.at(a) < order_.at(b);
      });
      const auto root = std::find_if(tree.begin(), tree.end(), [this](const std::string& frame) {
        return described_.count(frame) == 0;
      });
      visitFrom(root == tree.end() ? tree.front() : *root, "", nullptr, 0, visit);
    }
  }

  // The edges on the path from `from` to `to`; false when they are not connected.
  bool path(const std::string& from, const std::string& to, std::vector<const Edge*>& edges) const {
    std::map<std::string, const Edge*> reached_by = {{from, nullptr}};
    std::vector<std::string> queue = {from};
    for (std::size_t i = 0; i < queue.size() && reached_by.count(to) == 0; ++i) {
      for (const std::size_t edge : neighbourEdges(queue[i])) {
        const std::string& next = other(edge, queue[i]);
        if (reached_by.emplace(next, &edges_[edge]).second) queue.push_back(next);
      }
    }
    if (reached_by.count(to) == 0) return false;
    for (std::string at = to; at != from;) {
      const Edge* edge = reached_by.at(at);
      edges.push_back(edge);
      at = edge->from == at ? edge->to : edge->from;
    }
    return true;
  }

 private:
  const std::string& other(std::size_t edge, const std::string& frame) const {
    return edges_[edge].from == frame ? edges_[edge].to : edges_[edge].from;
  }

  void visitFrom(const std::string& frame, const std::string& parent, const Edge* edge, int depth,
                 const Visit& visit) const {
    visit(depth, frame, parent, edge);
    for (const std::size_t next : neighbourEdges(frame)) {
      if (&edges_[next] != edge) {
        visitFrom(other(next, frame), frame, &edges_[next], depth + 1, visit);
      }
    }
  }

  const std::vector<std::size_t>& neighbourEdges(const std::string& frame) const {
    static const std::vector<std::size_t> none;
    const auto it = neighbours_.find(frame);
    return it == neighbours_.end() ? none : it->second;
  }

  const std::vector<std::string>& frames_;
  const std::vector<Edge>& edges_;
  std::map<std::string, std::vector<std::size_t>> neighbours_;
  std::map<std::string, std::size_t> order_;
  std::set<std::string> described_;
};

// Kind and time span of an edge, its parts joined by `separator`.
std::string describe(const Edge& edge, const std::string& separator) {
  if (edge.isStatic) return "static";
  return std::to_string(edge.samples) + (edge.samples == 1 ? " sample" : " samples") + separator +
         "time " + std::to_string(edge.oldest) + " to " + std::to_string(edge.newest);
}

std::string escaped(const std::string& text) {
  std::string result;
  for (const char c : text) {
    if (c == '"' || c == '\\') result += '\\';
    result += c;
  }
  return result;
}

std::string quoted(const std::string& text) { return '"' + escaped(text) + '"'; }

std::string lowered(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

// Single-character insertions, deletions and substitutions that turn `a` into `b`.
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string spanText(const TransformManager& manager, const std::string& from,
                     const std::string& to) {
  long oldest = 0;
  long newest = 0;
  const std::string lookups = "interpolated lookups of " + from + " in " + to + " succeed ";
  if (manager.getCommonTimeSpan(from, to, oldest, newest) != TransformManager::Success) {
    return lookups + "at no time";
  }
  if (oldest == std::numeric_limits<long>::min() && newest == std::numeric_limits<long>::max()) {
    return lookups + "at every time";
  }
  return lookups + "from time " + std::to_string(oldest) + " to " + std::to_string(newest);
}

// When `time` lies more than the history window before the newest sample of an edge
// between `from` and `to`, samples that old cannot be held: says so and how to widen it.
std::string prunedText(const TransformManager& manager, const std::string& from,
                       const std::string& to, long time) {
  const std::vector<std::string> frames = manager.getFrames();
  const std::vector<Edge> edges = manager.getEdges();
  std::vector<const Edge*> path;
  if (!FrameTree(frames, edges).path(from, to, path)) return "";
  const double window = manager.getHistoryWindow();
  for (const Edge* edge : path) {
    if (edge->isStatic || time >= edge->oldest ||
        !(static_cast<long double>(edge->newest) - time > window)) {
      continue;
    }
    std::ostringstream text;
    text << "the history window (" << window << ") keeps " << edge->from << " in " << edge->to
         << " from time " << edge->oldest << " on and dropped the older samples; widen it "
         << "before registering (--history-window, history_window, setHistoryWindow) to keep "
            "them";
    return text.str();
  }
  return "";
}

}  // namespace

std::string frameTreeText(const std::vector<std::string>& frames, const std::vector<Edge>& edges) {
  std::ostringstream out;
  FrameTree(frames, edges)
      .walk(
          [&out](int depth, const std::string& frame, const std::string& parent, const Edge* edge) {
            out << std::string(2 * static_cast<std::size_t>(depth), ' ') << frame;
            if (edge != nullptr) {
              out << ": " << describe(*edge, ", ");
              if (edge->from != frame) out << ", given as " << parent << " in " << frame;
            }
            out << '\n';
          });
  return out.str();
}

std::string frameTreeDot(const std::vector<std::string>& frames, const std::vector<Edge>& edges) {
  std::ostringstream out;
  out << "digraph frames {\n  node [shape=box, fontname=\"sans\"];\n"
      << "  edge [fontname=\"sans\", fontsize=10];\n";
  FrameTree(frames, edges)
      .walk([&out](int, const std::string& frame, const std::string& parent, const Edge* edge) {
        if (edge == nullptr) {
          out << "  " << quoted(frame) << ";\n";
          return;
        }
        std::string label = describe(*edge, "\\n");
        if (edge->from != frame) {
          label += "\\ngiven as " + escaped(parent) + " in " + escaped(frame);
        }
        out << "  " << quoted(parent) << " -> " << quoted(frame) << " [label=\"" << label
            << "\"];\n";
      });
  out << "}\n";
  return out.str();
}

std::string closestFrameName(const std::vector<std::string>& frames, const std::string& name) {
  std::string best;
  std::size_t best_score = std::numeric_limits<std::size_t>::max();
  const std::string lower = lowered(name);
  for (const std::string& frame : frames) {
    // Edits regardless of case first; the edits with case only break ties.
    const std::size_t score =
        editDistance(lower, lowered(frame)) * (name.size() + frame.size() + 1) +
        editDistance(name, frame);
    if (score < best_score) {
      best_score = score;
      best = frame;
    }
  }
  return best;
}

std::string unknownFrameReason(const std::vector<std::string>& frames, const std::string& name) {
  if (frames.empty()) return "there is no frame '" + name + "' (the graph has no frames)";
  return "there is no frame '" + name + "' (the closest known frame is '" +
         closestFrameName(frames, name) + "')";
}

std::string registrationRefusal(TransformManager::Registration outcome, const std::string& from,
                                const std::string& to) {
  switch (outcome) {
    case TransformManager::Registered: return "";
    case TransformManager::SelfTransform:
      return "a frame cannot be given in itself ('" + from + "')";
    case TransformManager::WouldCloseCycle:
      return from + " and " + to + " are already joined through other frames";
    case TransformManager::FromRegistrationSlot:
      return "a transform (" + from + " in " + to +
             ") cannot be registered from a callback of the registration notification";
    case TransformManager::NonFinitePosition:
      return "the position of " + from + " in " + to + " is not finite";
    case TransformManager::DegenerateOrientation:
      return "the orientation of " + from + " in " + to +
             " is a quaternion of zero length or with a component that is not finite";
  }
  return "";
}

std::string lookupFailureReason(const TransformManager& manager, const std::string& from,
                                const std::string& to, long time,
                                TransformManager::TransformResult code) {
  switch (code) {
    case TransformManager::Success: return "";
    case TransformManager::NoFrames: return "the graph has no frames";
    case TransformManager::NotFound: {
      const std::vector<std::string> frames = manager.getFrames();
      const bool has_from = manager.hasFrame(from);
      const bool has_to = manager.hasFrame(to);
      if (!has_from && !has_to) {
        return unknownFrameReason(frames, from) + "; " + unknownFrameReason(frames, to);
      }
      if (!has_from) return unknownFrameReason(frames, from);
      if (!has_to) return unknownFrameReason(frames, to);
      return from + " and " + to + " are not connected: no chain of transforms joins them";
    }
    case TransformManager::OutOfRange: {
      const std::string pruned = prunedText(manager, from, to, time);
      return spanText(manager, from, to) + (pruned.empty() ? "" : "; " + pruned);
    }
    case TransformManager::Error: break;
  }
  return "";
}

std::string waitFailureReason(const TransformManager& manager, const std::string& from,
                              const std::string& to, long time,
                              TransformManager::InterpolationMethod method,
                              TransformManager::TransformResult code) {
  if (code == TransformManager::OutOfRange && method == TransformManager::Interpolated &&
      manager.canTransform(from, to, time, method) == TransformManager::Success) {
    return "a lookup of " + from + " in " + to + " at time " + std::to_string(time) +
           " answers from a single older sample, which a wait does not take: it waits for a "
           "sample at or after that time";
  }
  return lookupFailureReason(manager, from, to, time, code);
}

std::string fixedFrameFailureReason(const TransformManager& manager, const std::string& from,
                                    long fromTime, const std::string& to, long toTime,
                                    const std::string& fixed,
                                    TransformManager::TransformResult code,
                                    TransformManager::FixedFrameHalf failed) {
  if (code == TransformManager::Success || failed == TransformManager::NoHalf) return "";
  const bool first = failed == TransformManager::FromInFixed;
  const std::string& half_from = first ? from : fixed;
  const std::string& half_to = first ? fixed : to;
  const long time = first ? fromTime : toTime;
  const std::string reason = lookupFailureReason(manager, half_from, half_to, time, code);
  return "the half " + half_from + " in " + half_to + " at time " + std::to_string(time) +
         (reason.empty() ? "" : "; " + reason);
}

}  // namespace zelvane
