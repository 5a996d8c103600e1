/// @file
/// `TransformQueue`: stamped data held until its transform into one target frame is
/// there, then released with that pose; nothing leaves it without a word.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <zelvane/core/name_table.h>
#include <zelvane/geometry/frame_graph_text.h>
#include <zelvane/geometry/pose.h>
#include <zelvane/geometry/transform_manager.h>
#include <zelvane/logging_manager.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {

/// Why an item left a `TransformQueue` without its pose.
enum class TransformDropReason {
  /// The queue held its capacity when another item was pushed: the oldest item held
  /// (the first pushed) made room.
  Full = 0,
  /// The item is older than the oldest sample kept on its path: its lookup can never
  /// succeed.
  TooOld = 1,
  /// An item of its frame more than the queue's `maxLag` newer was pushed while the
  /// item still waited: its transform lags too far behind the data.
  Overtaken = 2,
  /// Its frame (or the target frame) was removed, or a loading or restore left it out.
  FrameRemoved = 3,
  /// `clear` was called.
  Cleared = 4,
  /// The queue was destroyed.
  Destroyed = 5,
  /// The manager was destroyed while the item waited, or before it was pushed.
  ManagerDestroyed = 6,
};

/// The names of the drop reasons, as the Python module gives them: "full", "too_old",
/// "overtaken", "frame_removed", "cleared", "destroyed", "manager_destroyed"; "unknown"
/// for a value outside the enumeration.
ZELVANE_CORE_API const NameTable<TransformDropReason>& dropReasonNames();

namespace detail {

/// A first-in first-out list that keeps its storage: pushing into a full ring doubles
/// it, taking from the front frees nothing, so a steady stream through it allocates
/// nothing. Elements need only be movable.
template <class T>
class Ring {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  /// The i-th element from the front.
  T& operator[](std::size_t i) { return *slots_[(head_ + i) & (slots_.size() - 1)]; }
  T& front() { return (*this)[0]; }
  void push_back(T value) {
    if (size_ == slots_.size()) grow();
    slots_[(head_ + size_) & (slots_.size() - 1)].emplace(std::move(value));
    ++size_;
  }
  void pop_front() {
    slots_[head_].reset();
    head_ = (head_ + 1) & (slots_.size() - 1);
    --size_;
  }
  void clear() {
    while (!empty()) pop_front();
  }

 private:
  void grow() {
    std::vector<std::optional<T>> bigger(std::max<std::size_t>(8, 2 * slots_.size()));
    for (std::size_t i = 0; i < size_; ++i) bigger[i].emplace(std::move((*this)[i]));
    slots_.swap(bigger);
    head_ = 0;
  }

  // A power of two long, so that an index wraps with a mask.
  std::vector<std::optional<T>> slots_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

/// The place an owner records while it has no entry in a `PlacedHeap`.
constexpr std::size_t NOWHERE = static_cast<std::size_t>(-1);

/// A binary min-heap of (key, owner) entries, ordered by key, then by owner address,
/// in which each owner records the place of its one entry (the member `Place`), so
/// that it is taken out in O(log n) without a search. It keeps its storage: once it
/// has held n entries, holding n again allocates nothing.
template <class Key, class Owner, std::size_t Owner::*Place>
class PlacedHeap {
 public:
  bool empty() const { return entries_.empty(); }
  /// The least entry's key and owner; the heap must not be empty.
  const Key& topKey() const { return entries_.front().key; }
  Owner* topOwner() const { return entries_.front().owner; }

  /// Adds the entry of `owner`, which has none.
  void push(const Key& key, Owner* owner) {
    // Filled in place: an entry built aside and copied in is stored in halves and read
    // back whole, which the processor cannot forward from its store buffer.
    Entry& entry = entries_.emplace_back();
    entry.key = key;
    entry.owner = owner;
    up(entries_.size() - 1);
  }
  /// Takes out the entry of `owner`, which has one.
  void erase(Owner* owner) {
    const std::size_t place = owner->*Place;
    owner->*Place = NOWHERE;
    const std::size_t last = entries_.size() - 1;
    if (place != last) {
      entries_[place] = entries_[last];
      entries_.pop_back();
      settle(place);
    } else {
      entries_.pop_back();
    }
  }
  /// Appends to `owners` those whose key is at most `limit`, in no particular order.
  /// O(their number).
  void collectUpTo(const Key& limit, std::vector<Owner*>& owners) const {
    collectUpTo(0, limit, owners);
  }

 private:
  struct Entry {
    Key key;
    Owner* owner;
  };

  static bool less(const Entry& a, const Entry& b) {
    if (a.key != b.key) return a.key < b.key;
    return std::less<Owner*>()(a.owner, b.owner);
  }
  void place(std::size_t i) { entries_[i].owner->*Place = i; }
  void up(std::size_t i) {
    while (i > 0) {
      const std::size_t parent = (i - 1) / 2;
      if (!less(entries_[i], entries_[parent])) break;
      std::swap(entries_[i], entries_[parent]);
      place(i);
      i = parent;
    }
    place(i);
  }
  void down(std::size_t i) {
    while (true) {
      const std::size_t left = 2 * i + 1;
      if (left >= entries_.size()) break;
      const std::size_t right = left + 1;
      const std::size_t least =
          right < entries_.size() && less(entries_[right], entries_[left]) ? right : left;
      if (!less(entries_[least], entries_[i])) break;
      std::swap(entries_[i], entries_[least]);
      place(i);
      i = least;
    }
    place(i);
  }
  // Moves the entry at `i`, just replaced, to where it belongs.
  void settle(std::size_t i) {
    if (i > 0 && less(entries_[i], entries_[(i - 1) / 2])) {
      up(i);
    } else {
      down(i);
    }
  }
  void collectUpTo(std::size_t i, const Key& limit, std::vector<Owner*>& owners) const {
    if (i >= entries_.size() || limit < entries_[i].key) return;
    owners.push_back(entries_[i].owner);
    collectUpTo(2 * i + 1, limit, owners);
    collectUpTo(2 * i + 2, limit, owners);
  }

  std::vector<Entry> entries_;
};

}  // namespace detail

/// The number of `TransformDropReason` values.
constexpr std::size_t TRANSFORM_DROP_REASONS = 7;

/// A snapshot of a queue's counts, taken at one moment: pushed = released + dropped
/// + pending always holds.
struct TransformQueueCounts {
  std::size_t pushed = 0;
  /// Handed to the release callback, or collected by `poll` / `drain`.
  std::size_t released = 0;
  /// Per reason, indexed by the value of `TransformDropReason`.
  std::array<std::size_t, TRANSFORM_DROP_REASONS> dropped{};
  /// Waiting for their transform, or released but not yet collected.
  std::size_t pending = 0;
  /// Of `pending`: the items waiting because their frame or the target frame is not
  /// a frame of the graph (a misspelt name waits here until its items are dropped as
  /// `Full`). The others wait for samples, or were released and not yet collected.
  std::size_t waitingForFrame = 0;

  std::size_t droppedTotal() const {
    std::size_t total = 0;
    for (const std::size_t count : dropped) total += count;
    return total;
  }
  std::size_t droppedFor(TransformDropReason reason) const {
    return dropped[static_cast<std::size_t>(reason)];
  }
};

/// Limits of a `TransformQueue`.
struct TransformQueueOptions {
  /// Items held at most, waiting or released but not collected; at least 1 (0 is
  /// taken as 1). A push into a full queue drops the oldest item held (`Full`).
  std::size_t capacity = 1000;
  /// In the graph's time unit: an item still waiting when an item of its frame more
  /// than this newer is pushed is dropped (`Overtaken`). The default never drops.
  long maxLag = std::numeric_limits<long>::max();
};

/// Items of type `T` (the points of one scan, a detection...), each stamped with its
/// frame and time, held until the path from their frame to one target frame covers
/// their time and then released with the pose of their `Interpolated` lookup
/// (target_T_frame at the item's time, bit for bit).
///
/// Release. A time T is covered when every time-stamped edge of the path holds a
/// sample at T or samples on both sides of T (a static edge always covers). This is
/// stricter than the lookup, which answers a time past an edge's only sample with
/// that sample: an item stamped past the newest sample waits for a later one rather
/// than leaving with a stale pose. As soon as an item's time is covered (on the
/// registration that covers it, or on its push when it already is) it is released,
/// on that thread:
/// - to the release callback, when one was given, called on that thread;
/// - otherwise into a list that `poll` and `drain` collect on the caller's thread.
/// Items of one frame are released in the order they were pushed: an item waits for
/// the items of its frame pushed before it. The items that one call hands over
/// (released or dropped) are handed over in push order; items of different frames
/// handed over by different calls come in the order of those calls.
///
/// Drops. An item that cannot be released leaves through the drop callback (when one
/// was given) with its `TransformDropReason`, and is counted per reason:
/// - `Full` on a push into a full queue (the oldest held item: the earliest pushed of
///   the waiting ones, or the first of those released and not collected, whichever
///   was pushed first);
/// - `TooOld` when its frame's path keeps no sample as old as it (found when its turn
///   in its frame comes, on a registration or push);
/// - `Overtaken` (see `TransformQueueOptions::maxLag`; checked on each push of its
///   frame, from the frame's oldest waiting item on);
/// - `FrameRemoved` when `removeFrame` removes its frame or the target frame, and on
///   `loadTransforms` or `restore` when the new graph lacks its frame or the target
///   frame;
/// - `Cleared` by `clear`, `Destroyed` by the destructor (also the released items not
///   yet collected);
/// - `ManagerDestroyed` when the manager is destroyed while the item waits, or for an
///   item pushed afterwards. The released items stay to be collected; the queue then
///   never touches the manager again, and may outlive it.
///
/// Unknown frames. An item whose frame (or the target frame) the graph does not know
/// waits, as the frame may be registered later, and is counted apart
/// (`TransformQueueCounts::waitingForFrame`). The first time a name is found unknown
/// while the graph has frames, one warning names it with the known frame of the
/// closest name, as a failed lookup's message does.
///
/// Threads. Push, poll, drain, clear and counts may be called from any threads,
/// alongside registrations, removals and loadings on the manager. Callbacks run on
/// the thread of the call that made the item leave, with the manager's lock held (so
/// the callbacks of one manager's queues never run at the same time) and the queue's
/// own lock not held: a callback may push to this queue (or another),
/// look transforms up and register transforms. It must not wait on the manager
/// (`waitForTransform` refuses with `Error`), must not throw (an exception is
/// rethrown to the caller after the other items of the same call were handed over),
/// and must not destroy this queue.
///
/// Cost. A push costs O(log frames + path) plus what it releases; a registration
/// O(log frames) plus, for each frame whose oldest waiting item is not newer than the
/// registration (than its pair's newest sample, for a sample older than the others
/// of its pair), the path and the items released or dropped (all frames for a static
/// registration or the first sample of a pair, removals and loadings): it does not
/// grow with the items waiting on other frames. A frame keeps its path
/// (`TransformManager::WaitingPath`): its items are settled without resolving names or
/// walking the graph until frames or edges are added, renamed or removed, each item
/// costing a verdict per edge, and a sample per edge if it is released. Frames that once held
/// items keep their entry, with room for as many items as they once held, until the
/// queue is destroyed; so once every frame has had its backlog, pushing, releasing
/// and dropping allocate nothing (but what the items and callbacks themselves do).
template <class T>
class TransformQueue : private TransformManager::Listener {
 public:
  /// Called with an item released, its frame, its time and its pose in the target
  /// frame at that time.
  using ReleaseCallback =
      std::function<void(T item, const std::string& frame, long time, const Pose& pose)>;
  /// Called with an item dropped, its frame, its time and the reason.
  using DropCallback =
      std::function<void(T item, const std::string& frame, long time, TransformDropReason reason)>;

  /// A released item as `poll` and `drain` return it (`poll` needs a
  /// default-constructible `T`; everything else only a movable one).
  struct Released {
    T item;
    std::string frame;
    long time = 0;
    Pose pose;
  };

  /// Attaches a queue to `manager` for the target frame `target`. Without `onRelease`
  /// released items are collected with `poll` / `drain`; without `onDrop` drops are
  /// only counted. Its warnings go to the logger "TransformQueue". Locks the manager.
  TransformQueue(TransformManager& manager, std::string target, TransformQueueOptions options = {},
                 ReleaseCallback onRelease = nullptr, DropCallback onDrop = nullptr)
      : manager_(&manager),
        target_(std::move(target)),
        options_(options),
        on_release_(std::move(onRelease)),
        on_drop_(std::move(onDrop)),
        logger_(LoggingManager::getInstance().getLogger("TransformQueue")) {
    options_.capacity = std::max<std::size_t>(options_.capacity, 1);
    manager_->attachListener(*this);
  }

  /// Detaches from the manager, unless it was destroyed first (waiting for a
  /// notification of it in progress on another thread), and drops every item held
  /// with `Destroyed`.
  ~TransformQueue() override {
    const auto drop = [this] {
      try {
        handOver([this](Outgoing& out) { dropAll(TransformDropReason::Destroyed, out); });
      } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor must not throw
      }
    };
    if (manager_ == nullptr) {
      drop();
      return;
    }
    manager_->runLocked([&] {
      manager_->detachListener(*this);
      drop();
    });
  }

  TransformQueue(const TransformQueue&) = delete;
  TransformQueue& operator=(const TransformQueue&) = delete;
  TransformQueue(TransformQueue&&) = delete;
  TransformQueue& operator=(TransformQueue&&) = delete;

  /// Adds `item` of frame `frame` at `time` (graph time unit). It is released at once
  /// when its frame has no item waiting before it and its lookup succeeds; a full
  /// queue first drops its oldest item. Callbacks run before this returns.
  void push(T item, const std::string& frame, long time) {
    if (manager_ == nullptr) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.pushed;
        ++counts_.dropped[static_cast<std::size_t>(TransformDropReason::ManagerDestroyed)];
      }
      if (on_drop_) on_drop_(std::move(item), frame, time, TransformDropReason::ManagerDestroyed);
      return;
    }
    manager_->runLocked([&] {
      handOver([&](Outgoing& out) {
        ++counts_.pushed;
        while (held() >= options_.capacity) dropOldest(out);
        Source& source = sourceOf(frame);
        // Behind a waiting item the new one waits too: only a new oldest item, or one
        // that overtakes the oldest, changes what the frame can release.
        const bool first = source.items.empty();
        const bool overtakes = !first && overtaken(source.items.front().time, time);
        if (first || overtakes) unindex(source);
        source.items.push_back(Waiting{std::move(item), time, next_sequence_++});
        ++waiting_;
        if (first || overtakes) {
          settle(source, out);
          bool dropped = false;
          while (!source.items.empty() && overtaken(source.items.front().time, time)) {
            leave(source, TransformDropReason::Overtaken, out);
            dropped = true;
          }
          if (dropped) settle(source, out);  // the item behind may be ready
          index(source);
        }
      });
    });
  }

  /// Moves the first released item not yet collected into `released` and returns
  /// true; returns false, leaving `released` alone, when there is none. With a release
  /// callback there never is. O(1); does not lock the manager.
  [[nodiscard]] bool poll(Released& released) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ready_.empty()) return false;
    released = std::move(ready_.front().released);
    ready_.pop_front();
    ++counts_.released;
    return true;
  }

  /// Every released item not yet collected, in release order. Does not lock the
  /// manager.
  [[nodiscard]] std::vector<Released> drain() {
    std::vector<Released> all;
    std::lock_guard<std::mutex> lock(mutex_);
    all.reserve(ready_.size());
    for (std::size_t i = 0; i < ready_.size(); ++i) all.push_back(std::move(ready_[i].released));
    counts_.released += ready_.size();
    ready_.clear();
    return all;
  }

  /// Drops every item held, waiting or released and not collected, with `Cleared`.
  void clear() {
    const auto drop = [this] {
      handOver([this](Outgoing& out) { dropAll(TransformDropReason::Cleared, out); });
    };
    if (manager_ == nullptr) {
      drop();
    } else {
      manager_->runLocked(drop);
    }
  }

  /// The counts at this moment. Does not lock the manager. O(frames).
  TransformQueueCounts counts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    TransformQueueCounts counts = counts_;
    counts.pending = held();
    for (const auto& [frame, source] : sources_) {
      if (source.unknown) counts.waitingForFrame += source.items.size();
    }
    return counts;
  }

  /// The target frame.
  const std::string& targetFrame() const { return target_; }

 private:
  struct Waiting {
    T item;
    long time;
    std::uint64_t sequence;
  };
  // The waiting items of one frame, in push order.
  struct Source {
    std::string frame;
    detail::Ring<Waiting> items;
    // Whether the frame or the target was not a frame of the graph when the items
    // were last settled.
    bool unknown = false;
    // The path from the frame to the target, as the manager last found it.
    TransformManager::WaitingPath path{};
    // The places of the frame's oldest item in the two indexes, while it is in them.
    std::size_t time_place = detail::NOWHERE;
    std::size_t sequence_place = detail::NOWHERE;
  };
  using TimeIndex = detail::PlacedHeap<long, Source, &Source::time_place>;
  using SequenceIndex = detail::PlacedHeap<std::uint64_t, Source, &Source::sequence_place>;
  struct ReadyItem {
    Released released;
    std::uint64_t sequence;
  };
  // An item leaving, to be handed over once the queue's lock is released.
  struct Leaving {
    T item;
    const std::string* frame;
    long time;
    std::uint64_t sequence;
    bool released;
    Pose pose;
    TransformDropReason reason;
  };
  using Outgoing = std::vector<Leaving>;

  std::size_t held() const { return waiting_ + ready_.size(); }

  // The entry of `frame`, made on its first push. A stream of one sensor asks for the
  // same frame again and again: the last one found is checked first.
  Source& sourceOf(const std::string& frame) {
    if (last_source_ != nullptr && last_source_->frame == frame) return *last_source_;
    auto found = sources_.find(frame);
    if (found == sources_.end()) found = sources_.emplace(frame, Source{frame, {}, false}).first;
    last_source_ = &found->second;  // sources are never erased
    return *last_source_;
  }

  // The heads' indexes: by time, for the registrations, and by push order, for the
  // choice of the oldest item. A frame is in them while it has items (but while its
  // items are settled); their storage is kept, so they allocate nothing once each has
  // held as many frames as it holds.
  void index(Source& source) {
    if (source.items.empty()) return;
    const Waiting& head = source.items.front();
    by_time_.push(head.time, &source);
    by_sequence_.push(head.sequence, &source);
  }
  void unindex(Source& source) {
    if (source.items.empty()) return;
    by_time_.erase(&source);
    by_sequence_.erase(&source);
  }

  // Runs `work(out)` under the queue's lock, puts what leaves in push order, and
  // hands it over without the lock. The list is the queue's own while no other call
  // hands over (given back emptied by a store, without the lock), else one of the
  // spares (given back under it); each keeps its capacity, so that a steady stream
  // allocates none (a callback that pushes takes a spare).
  template <class Work>
  void handOver(Work&& work) {
    Outgoing spare;
    Outgoing* out = &spare;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!own_list_busy_.load(std::memory_order_acquire)) {
        own_list_busy_.store(true, std::memory_order_relaxed);
        out = &own_list_;
      } else if (!spares_.empty()) {
        spare.swap(spares_.back());
        spares_.pop_back();
      }
      const auto give_back_locked = [&] {
        if (out == &own_list_) {
          own_list_busy_.store(false, std::memory_order_release);
        } else {
          spares_.push_back(std::move(spare));
        }
      };
      try {
        work(*out);
        if (out->empty()) {  // nothing leaves: the list goes back at once
          give_back_locked();
          return;
        }
        order(*out);
      } catch (...) {  // what was to leave is lost with the call's failure
        out->clear();
        give_back_locked();
        throw;
      }
    }
    if (out == &own_list_) {
      // Given back however the callbacks end.
      struct GiveBack {
        TransformQueue& queue;
        ~GiveBack() {
          queue.own_list_.clear();
          queue.own_list_busy_.store(false, std::memory_order_release);
        }
      } give_back{*this};
      deliver(own_list_);
      return;
    }
    deliver(spare);
    spare.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    spares_.push_back(std::move(spare));
  }

  void leave(Source& source, TransformDropReason reason, Outgoing& out) {
    Waiting& head = source.items.front();
    out.push_back(Leaving{std::move(head.item), &source.frame, head.time, head.sequence, false,
                          Pose(), reason});
    source.items.pop_front();
    --waiting_;
    ++counts_.dropped[static_cast<std::size_t>(reason)];
  }

  // The items of one frame as the manager walks them in `releaseWaiting`.
  class Settling final : public TransformManager::WaitingItems {
   public:
    Settling(TransformQueue& queue, Source& source, Outgoing& out)
        : queue_(queue), source_(source), out_(out) {}

    bool nextTime(long& time) override {
      if (source_.items.empty()) return false;
      time = source_.items.front().time;
      return true;
    }
    void release(const Pose& pose) override {
      Waiting& head = source_.items.front();
      out_.push_back(Leaving{std::move(head.item), &source_.frame, head.time, head.sequence, true,
                             pose, TransformDropReason::Full});
      source_.items.pop_front();
      --queue_.waiting_;
    }
    void tooOld() override { queue_.leave(source_, TransformDropReason::TooOld, out_); }

   private:
    TransformQueue& queue_;
    Source& source_;
    Outgoing& out_;
  };

  // Releases the frame's items from its oldest on while their times are covered;
  // drops those older than the path's history. The frame is unindexed.
  void settle(Source& source, Outgoing& out) {
    if (source.items.empty()) return;
    Settling settling(*this, source, out);
    const TransformManager::TransformResult code =
        manager_->releaseWaiting(source.path, source.frame, target_, settling);
    source.unknown = false;
    if (code == TransformManager::NoFrames || code == TransformManager::NotFound) {
      for (const std::string& name : {std::cref(source.frame), std::cref(target_)}) {
        if (manager_->hasFrame(name)) continue;
        source.unknown = true;
        warnUnknown(name);
      }
    }
  }

  // Warns of an unknown frame name once, when the graph has frames: an empty graph
  // is one that nothing was registered in yet, not a misspelling.
  void warnUnknown(const std::string& name) {
    if (warned_.count(name) != 0) return;
    const std::vector<std::string> frames = manager_->getFrames();
    if (frames.empty()) return;
    warned_.insert(name);
    logger_.warnStream() << "Items queued into frame " << target_
                         << " wait for a frame that is not registered: "
                         << unknownFrameReason(frames, name) << ".";
  }

  // Whether an item at `waiting` is overtaken by one of its frame pushed at `pushed`.
  bool overtaken(long waiting, long pushed) const {
    if (waiting >= pushed) return false;
    const unsigned long lag =
        static_cast<unsigned long>(pushed) - static_cast<unsigned long>(waiting);
    return lag > static_cast<unsigned long>(options_.maxLag);
  }

  void dropOldest(Outgoing& out) {
    const bool from_waiting = !by_sequence_.empty() &&
                              (ready_.empty() || by_sequence_.topKey() < ready_.front().sequence);
    if (from_waiting) {
      Source& source = *by_sequence_.topOwner();
      unindex(source);
      leave(source, TransformDropReason::Full, out);
      settle(source, out);  // the item that waited behind it may be ready
      index(source);
    } else {
      dropReady(ready_.front(), TransformDropReason::Full, out);
      ready_.pop_front();
    }
  }

  void dropReady(ReadyItem& ready, TransformDropReason reason, Outgoing& out) {
    // The frame's name outlives the call: sources are never erased.
    const std::string* frame = &sources_.find(ready.released.frame)->second.frame;
    out.push_back(Leaving{std::move(ready.released.item), frame, ready.released.time,
                          ready.sequence, false, Pose(), reason});
    ++counts_.dropped[static_cast<std::size_t>(reason)];
  }

  void dropAll(TransformDropReason reason, Outgoing& out) {
    for (auto& [frame, source] : sources_) {
      unindex(source);
      while (!source.items.empty()) leave(source, reason, out);
    }
    for (std::size_t i = 0; i < ready_.size(); ++i) dropReady(ready_[i], reason, out);
    ready_.clear();
  }

  // Puts what leaves in push order; without a release callback the released items
  // go to the list that `poll` collects.
  void order(Outgoing& out) {
    if (out.size() > 1) {  // mostly a single item leaves
      std::sort(out.begin(), out.end(),
                [](const Leaving& a, const Leaving& b) { return a.sequence < b.sequence; });
    }
    if (on_release_) {  // handed over after this call: counted released now
      counts_.released += static_cast<std::size_t>(
          std::count_if(out.begin(), out.end(), [](const Leaving& l) { return l.released; }));
      return;
    }
    auto kept = out.begin();
    for (Leaving& leaving : out) {
      if (leaving.released) {
        ready_.push_back(
            ReadyItem{Released{std::move(leaving.item), *leaving.frame, leaving.time, leaving.pose},
                      leaving.sequence});
      } else {
        *kept++ = std::move(leaving);
      }
    }
    out.erase(kept, out.end());
  }

  // Hands over what leaves, without the queue's lock; the first exception of a
  // callback is rethrown once every item was handed over.
  void deliver(Outgoing& out) {
    std::exception_ptr failure;
    for (Leaving& leaving : out) {
      try {
        if (leaving.released) {
          on_release_(std::move(leaving.item), *leaving.frame, leaving.time, leaving.pose);
        } else if (on_drop_) {
          on_drop_(std::move(leaving.item), *leaving.frame, leaving.time, leaving.reason);
        }
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    if (failure) std::rethrow_exception(failure);
  }

  // Settles the frames whose oldest waiting item could have become ready: those not
  // newer than `time`, or all.
  void settleFrames(bool all, long time) {
    handOver([&](Outgoing& out) {
      scratch_.clear();
      if (all) {
        for (auto& [frame, source] : sources_) scratch_.push_back(&source);
      } else {
        // In the order of their oldest items' times (then of their places in memory),
        // as the frames' records have always come.
        by_time_.collectUpTo(time, scratch_);
        if (scratch_.size() > 1) {
          std::sort(scratch_.begin(), scratch_.end(), [](Source* a, Source* b) {
            const long a_time = a->items.front().time;
            const long b_time = b->items.front().time;
            return a_time != b_time ? a_time < b_time : std::less<Source*>()(a, b);
          });
        }
      }
      for (Source* source : scratch_) {
        unindex(*source);
        settle(*source, out);
        index(*source);
      }
    });
  }

  void transformRegistered(const std::string& /*from*/, const std::string& /*to*/, long time,
                           const TransformManager::RegisteredPair& pair) override {
    // A static sample, or the first of its pair, may make any time ready. Otherwise
    // the pair's span grew by at most the stretch between `time` and its neighbour:
    // up to `time` for a new newest sample (which may also have pushed old ones
    // out), up to the pair's newest for a new oldest one.
    if (time == 0 || pair.samples <= 1) {
      settleFrames(true, 0);
      return;
    }
    settleFrames(false, time <= pair.oldest ? pair.newest : time);
  }

  void frameRemoved(const std::string& frame) override {
    handOver([&](Outgoing& out) {
      for (auto& [name, source] : sources_) {
        if (name != frame && frame != target_) continue;
        unindex(source);
        while (!source.items.empty()) leave(source, TransformDropReason::FrameRemoved, out);
      }
    });
    settleFrames(true, 0);  // paths through the frame now run through static re-links
  }

  void managerDestroyed() override {
    try {
      handOver([this](Outgoing& out) {
        for (auto& [name, source] : sources_) {
          unindex(source);
          while (!source.items.empty()) leave(source, TransformDropReason::ManagerDestroyed, out);
        }
        manager_ = nullptr;
      });
    } catch (...) {  // NOLINT(bugprone-empty-catch): the manager's destructor must not throw
    }
  }

  void transformsLoaded() override {
    handOver([this](Outgoing& out) {
      const bool target_kept = manager_->hasFrame(target_);
      for (auto& [name, source] : sources_) {
        if (target_kept && manager_->hasFrame(name)) continue;
        unindex(source);
        while (!source.items.empty()) leave(source, TransformDropReason::FrameRemoved, out);
      }
    });
    settleFrames(true, 0);
  }

  // Null once the manager was destroyed.
  TransformManager* manager_;
  const std::string target_;
  TransformQueueOptions options_;
  const ReleaseCallback on_release_;
  const DropCallback on_drop_;
  const Logger logger_;
  // The unknown frame names warned of.
  std::set<std::string> warned_;

  mutable std::mutex mutex_;
  std::map<std::string, Source> sources_;
  Source* last_source_ = nullptr;
  TimeIndex by_time_;
  SequenceIndex by_sequence_;
  detail::Ring<ReadyItem> ready_;
  std::vector<Source*> scratch_;
  // The lists of what leaves (`handOver`): the queue's own, busy while a call hands
  // it over, and the emptied ones kept for calls that come meanwhile.
  Outgoing own_list_;
  std::atomic<bool> own_list_busy_{false};
  std::vector<Outgoing> spares_;
  std::size_t waiting_ = 0;
  std::uint64_t next_sequence_ = 0;
  TransformQueueCounts counts_;
};

}  // namespace zelvane
