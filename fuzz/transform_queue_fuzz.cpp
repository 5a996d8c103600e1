// Random sequences of pushes, registrations, removals, polls and clears on a queue
// into frame "A", checked against a plain model: per frame a list in push order,
// every frame re-decided after every step (no index, nothing skipped). An item is
// released when the path covers its time, which the model reads off the edge list
// (`getEdges`: every time-stamped edge of the path holds samples from at most to at
// least the time), and which must be a time at which the lookup succeeds. The queue
// and the model must release the same items in the same order, drop the same items
// for the same reasons, count the same items waiting for an unknown frame, and
// balance their counts. The runs of an odd length end by destroying the manager
// before the queue: its waiting items leave as `ManagerDestroyed`, and it keeps
// working.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "geometry/pose.h"
#include "geometry/transform_manager.h"
#include "geometry/transform_queue.h"

namespace {

using zelvane::Pose;
using zelvane::TransformDropReason;
using zelvane::TransformManager;
using zelvane::fuzz::Input;
using Queue = zelvane::TransformQueue<int>;

const char* const kFrames[] = {"A", "B", "C", "D", "E"};  // E is never registered
const char* const kPairs[][2] = {{"B", "A"}, {"C", "B"}, {"D", "A"}, {"A", "C"}, {"D", "B"}};

struct Item {
  int id;
  std::string frame;
  long time;
};

struct Left {
  int id;
  TransformDropReason reason;
  bool operator==(const Left& other) const { return id == other.id && reason == other.reason; }
};

struct Leaving {
  int id;
  bool released;
  TransformDropReason reason;
};

class Model {
 public:
  Model(TransformManager& manager, std::size_t capacity, long max_lag)
      : manager_(manager), capacity_(capacity), max_lag_(max_lag) {}

  void push(int id, const std::string& frame, long time) {
    if (held() >= capacity_) dropOldest();
    waiting_[frame].push_back({id, frame, time});
    settle(frame);
    std::deque<Item>& items = waiting_[frame];
    while (!items.empty() &&
           items.front()
               .time<time&& static_cast<unsigned long>(time) -
                     static_cast<unsigned long>(
                         items.front().time)> static_cast<unsigned long>(max_lag_)) {
      leave(items, false, TransformDropReason::Overtaken);
    }
    settle(frame);
    flush();
  }

  void registered() {
    settleAll();
    flush();
  }

  void removed(const std::string& frame) {
    for (auto& [name, items] : waiting_) {
      if (name != frame && frame != "A") continue;
      while (!items.empty()) leave(items, false, TransformDropReason::FrameRemoved);
    }
    flush();
    settleAll();
    flush();
  }

  // Waiting items leave; released ones stay to be collected.
  void managerDestroyed() {
    for (auto& [name, items] : waiting_) {
      while (!items.empty()) leave(items, false, TransformDropReason::ManagerDestroyed);
    }
    flush();
  }

  // Items whose frame or the target is not a frame of the graph.
  std::size_t waitingForFrame() const {
    std::size_t count = 0;
    for (const auto& [name, items] : waiting_) {
      if (!manager_.hasFrame(name) || !manager_.hasFrame("A")) count += items.size();
    }
    return count;
  }

  void cleared() {
    for (auto& [name, items] : waiting_) {
      while (!items.empty()) leave(items, false, TransformDropReason::Cleared);
    }
    for (const int id : ready) batch_.push_back({id, false, TransformDropReason::Cleared});
    ready.clear();
    flush();
  }

  std::size_t held() const {
    std::size_t count = ready.size();
    for (const auto& [name, items] : waiting_) count += items.size();
    return count;
  }

  std::deque<int> ready;
  std::vector<Left> dropped;

 private:
  void leave(std::deque<Item>& items, bool released, TransformDropReason reason) {
    batch_.push_back({items.front().id, released, reason});
    items.pop_front();
  }

  // What one call of the queue hands over leaves in push order.
  void flush() {
    std::sort(batch_.begin(), batch_.end(),
              [](const Leaving& a, const Leaving& b) { return a.id < b.id; });
    for (const Leaving& leaving : batch_) {
      if (leaving.released) {
        ready.push_back(leaving.id);
      } else {
        dropped.push_back({leaving.id, leaving.reason});
      }
    }
    batch_.clear();
  }

  void settleAll() {
    for (auto& [name, items] : waiting_) settle(name);
  }

  // Whether every time-stamped edge of the path from `frame` to "A" holds samples at
  // or around `time`, found over the listed edges by a search of its own.
  bool covered(const std::string& frame, long time) const {
    if (frame == "A") return true;  // the identity
    const std::vector<TransformManager::EdgeSummary> edges = manager_.getEdges();
    std::map<std::string, const TransformManager::EdgeSummary*> reached_by{{frame, nullptr}};
    std::vector<std::string> next{frame};
    while (!next.empty() && reached_by.count("A") == 0) {
      const std::string at = next.back();
      next.pop_back();
      for (const TransformManager::EdgeSummary& edge : edges) {
        if (edge.from != at && edge.to != at) continue;
        const std::string& other = edge.from == at ? edge.to : edge.from;
        if (reached_by.emplace(other, &edge).second) next.push_back(other);
      }
    }
    if (reached_by.count("A") == 0) return false;
    for (std::string at = "A"; at != frame;) {
      const TransformManager::EdgeSummary& edge = *reached_by.at(at);
      if (!edge.isStatic && (time < edge.oldest || time > edge.newest)) return false;
      at = edge.from == at ? edge.to : edge.from;
    }
    return true;
  }

  // A frame's items leave from the oldest on: released while the path covers their
  // times, dropped while older than the oldest time at which a lookup succeeds.
  void settle(const std::string& frame) {
    std::deque<Item>& items = waiting_[frame];
    while (!items.empty()) {
      const long time = items.front().time;
      long oldest = 0;
      long newest = 0;
      if (covered(frame, time)) {
        if (manager_.canTransform(frame, "A", time, TransformManager::Interpolated) !=
            TransformManager::Success) {
          std::abort();  // a covered time is one that the lookup answers
        }
        leave(items, true, TransformDropReason::Full);
      } else if (manager_.getCommonTimeSpan(frame, "A", oldest, newest) ==
                     TransformManager::Success &&
                 time < oldest) {
        leave(items, false, TransformDropReason::TooOld);
      } else {
        break;
      }
    }
  }

  void dropOldest() {
    int oldest_waiting = std::numeric_limits<int>::max();
    std::string frame;
    for (const auto& [name, items] : waiting_) {
      if (!items.empty() && items.front().id < oldest_waiting) {
        oldest_waiting = items.front().id;
        frame = name;
      }
    }
    if (!ready.empty() && ready.front() < oldest_waiting) {
      batch_.push_back({ready.front(), false, TransformDropReason::Full});
      ready.pop_front();
    } else {
      leave(waiting_[frame], false, TransformDropReason::Full);
      settle(frame);
    }
  }

  TransformManager& manager_;
  std::size_t capacity_;
  long max_lag_;
  std::map<std::string, std::deque<Item>> waiting_;
  std::vector<Leaving> batch_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  Input in(data, size);
  auto owned = std::make_unique<TransformManager>();
  TransformManager& manager = *owned;
  const std::size_t capacity = 1 + in.next() % 12;
  const long max_lag = in.next() % 2 == 0 ? std::numeric_limits<long>::max() : in.next();
  const bool manager_first = size % 2 == 1;  // leaves the reading of the bytes alone
  std::vector<Left> dropped;
  Queue queue(manager, "A", {capacity, max_lag}, nullptr,
              [&](int id, const std::string&, long, TransformDropReason reason) {
                dropped.push_back({id, reason});
              });
  Model model(manager, capacity, max_lag);
  int next_id = 0;
  Pose pose;
  while (!in.empty()) {
    const unsigned char op = in.next();
    const long time = static_cast<long>(in.next() % 64) - 8;
    switch (op % 6) {
      case 0:
      case 1: {
        const std::string frame = kFrames[in.next() % 5];
        queue.push(next_id, frame, time);
        model.push(next_id, frame, time);
        ++next_id;
        break;
      }
      case 2: {
        const auto& pair = kPairs[in.next() % 5];
        pose.position.x() = static_cast<float>(time);
        manager.setTransform(pair[0], pair[1], pose, in.next() % 4 == 0 ? 0 : time);
        model.registered();
        break;
      }
      case 3: {
        const std::string frame = kFrames[in.next() % 5];
        if (manager.removeFrame(frame) == TransformManager::Success) model.removed(frame);
        break;
      }
      case 4: {
        Queue::Released released;
        while (queue.poll(released)) {
          if (model.ready.empty() || model.ready.front() != released.item) std::abort();
          model.ready.pop_front();
        }
        break;
      }
      default:
        queue.clear();
        model.cleared();
        break;
    }
    if (dropped != model.dropped) std::abort();
    const zelvane::TransformQueueCounts counts = queue.counts();
    if (counts.pending != model.held()) std::abort();
    if (counts.waitingForFrame != model.waitingForFrame()) std::abort();
    if (counts.pushed != counts.released + counts.droppedTotal() + counts.pending) std::abort();
  }
  if (manager_first) {
    model.managerDestroyed();
    owned.reset();
    queue.push(next_id, "B", 0);  // no manager to wait on
    model.dropped.push_back({next_id, TransformDropReason::ManagerDestroyed});
    Queue::Released released;
    while (queue.poll(released)) {
      if (model.ready.empty() || model.ready.front() != released.item) std::abort();
      model.ready.pop_front();
    }
    const zelvane::TransformQueueCounts counts = queue.counts();
    if (dropped != model.dropped || counts.pending != 0 || !model.ready.empty()) std::abort();
    if (counts.pushed != counts.released + counts.droppedTotal()) std::abort();
  }
  return 0;
}
