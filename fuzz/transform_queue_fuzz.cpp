// Random sequences of pushes, registrations, removals, polls and clears on a queue
// into frame "A", checked against a plain model: per frame a list in push order,
// every frame re-decided with `getTransform` after every step (no index, nothing
// skipped). The queue and the model must release the same items in the same order,
// drop the same items for the same reasons, and balance their counts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "geometry/pose.h"
#include "geometry/transform_manager.h"
#include "geometry/transform_queue.h"

namespace {

using zelvane::Pose;
using zelvane::TransformDropReason;
using zelvane::TransformManager;
using Queue = zelvane::TransformQueue<int>;

class Bytes {
 public:
  Bytes(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return size_ == 0; }
  unsigned char next() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }

 private:
  const unsigned char* data_;
  size_t size_;
};

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

class Model {
 public:
  Model(TransformManager& manager, std::size_t capacity, long max_lag)
      : manager_(manager), capacity_(capacity), max_lag_(max_lag) {}

  void push(int id, const std::string& frame, long time) {
    if (held() >= capacity_) dropOldest();
    waiting_[frame].push_back({id, frame, time});
    settle({frame});
    std::deque<Item>& items = waiting_[frame];
    std::vector<Item> overtaken;
    while (!items.empty() && items.front().time < time &&
           static_cast<unsigned long>(time) - static_cast<unsigned long>(items.front().time) >
               static_cast<unsigned long>(max_lag_)) {
      overtaken.push_back(items.front());
      items.pop_front();
    }
    for (const Item& item : overtaken) dropped.push_back({item.id, TransformDropReason::Overtaken});
    settle({frame});
  }

  void removed(const std::string& frame) {
    std::vector<Item> gone;
    for (auto& [name, items] : waiting_) {
      if (name != frame && frame != "A") continue;
      gone.insert(gone.end(), items.begin(), items.end());
      items.clear();
    }
    std::sort(gone.begin(), gone.end(), [](const Item& a, const Item& b) { return a.id < b.id; });
    for (const Item& item : gone) dropped.push_back({item.id, TransformDropReason::FrameRemoved});
    settleAll();
  }

  void cleared() {
    std::vector<int> gone;
    for (auto& [name, items] : waiting_) {
      for (const Item& item : items) gone.push_back(item.id);
      items.clear();
    }
    gone.insert(gone.end(), ready.begin(), ready.end());
    ready.clear();
    std::sort(gone.begin(), gone.end());
    for (const int id : gone) dropped.push_back({id, TransformDropReason::Cleared});
  }

  void settleAll() {
    std::vector<std::string> frames;
    for (const auto& [name, items] : waiting_) frames.push_back(name);
    settle(frames);
  }

  std::size_t held() const {
    std::size_t count = ready.size();
    for (const auto& [name, items] : waiting_) count += items.size();
    return count;
  }

  std::deque<int> ready;
  std::vector<Left> dropped;

 private:
  // Items leave their frame from the oldest on: released while the lookup succeeds,
  // dropped while older than every time at which it could.
  void settle(const std::vector<std::string>& frames) {
    std::vector<Item> released;
    std::vector<Item> too_old;
    for (const std::string& frame : frames) {
      std::deque<Item>& items = waiting_[frame];
      while (!items.empty()) {
        const long time = items.front().time;
        if (manager_.canTransform(frame, "A", time, TransformManager::Interpolated) ==
            TransformManager::Success) {
          released.push_back(items.front());
        } else if (olderThanEverySample(frame, time)) {
          too_old.push_back(items.front());
        } else {
          break;
        }
        items.pop_front();
      }
    }
    const auto by_id = [](const Item& a, const Item& b) { return a.id < b.id; };
    std::sort(too_old.begin(), too_old.end(), by_id);
    std::sort(released.begin(), released.end(), by_id);
    // One call hands its items over in push order, drops and releases alike.
    std::vector<Item> all = too_old;
    all.insert(all.end(), released.begin(), released.end());
    std::sort(all.begin(), all.end(), by_id);
    for (const Item& item : all) {
      if (std::find_if(too_old.begin(), too_old.end(),
                       [&](const Item& old) { return old.id == item.id; }) != too_old.end()) {
        dropped.push_back({item.id, TransformDropReason::TooOld});
      } else {
        ready.push_back(item.id);
      }
    }
  }

  // Older than the oldest time at which the path's lookup succeeds.
  bool olderThanEverySample(const std::string& frame, long time) const {
    long oldest = 0;
    long newest = 0;
    return manager_.getCommonTimeSpan(frame, "A", oldest, newest) == TransformManager::Success &&
           time < oldest;
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
      dropped.push_back({ready.front(), TransformDropReason::Full});
      ready.pop_front();
    } else {
      dropped.push_back({oldest_waiting, TransformDropReason::Full});
      waiting_[frame].pop_front();
    }
  }

  TransformManager& manager_;
  std::size_t capacity_;
  long max_lag_;
  std::map<std::string, std::deque<Item>> waiting_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  Bytes in(data, size);
  TransformManager manager;
  const std::size_t capacity = 1 + in.next() % 12;
  const long max_lag = in.next() % 2 == 0 ? std::numeric_limits<long>::max() : in.next();
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
        model.settleAll();
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
    if (counts.pushed != counts.released + counts.droppedTotal() + counts.pending) std::abort();
  }
  return 0;
}
