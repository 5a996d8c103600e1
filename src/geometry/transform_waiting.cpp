// Waiting for transforms: the quiet decision of a lookup, the waits that sleep until
// a registration makes their lookup succeed, and the listeners told of every change.
//
// A wait sleeps on a condition of its own, tied to the manager's lock: it registers
// itself under the lock, and every registration (also under the lock) decides for
// each wait in progress whether its lookup succeeds now and wakes only those. As the
// decision and the wake-up happen under the lock that the wait re-checks under, no
// wake-up is lost and none is needed for a registration that changes nothing for it.
#include <algorithm>
#include <condition_variable>
#include <cstdint>

#include "geometry/frame_store.h"
#include "geometry/path_lookup.h"
#include "geometry/pose_history.h"
#include "geometry/transform_manager.h"
#include "geometry/transform_queue.h"

namespace zelvane {

namespace {

constexpr EnumName<TransformDropReason> DROP_REASON_NAMES[] = {
    {TransformDropReason::Full, "full"},
    {TransformDropReason::TooOld, "too_old"},
    {TransformDropReason::Overtaken, "overtaken"},
    {TransformDropReason::FrameRemoved, "frame_removed"},
    {TransformDropReason::Cleared, "cleared"},
    {TransformDropReason::Destroyed, "destroyed"},
    {TransformDropReason::ManagerDestroyed, "manager_destroyed"}};

}  // namespace

const NameTable<TransformDropReason>& dropReasonNames() {
  static constexpr NameTable<TransformDropReason> table(DROP_REASON_NAMES, "unknown");
  return table;
}

struct TransformManager::Waiter {
  Waiter(const std::string& from_frame, const std::string& to_frame, long at,
         InterpolationMethod with)
      : from(from_frame), to(to_frame), time(at), method(with) {}

  std::string from;
  std::string to;
  long time;
  InterpolationMethod method;
  // A removal took a frame of the path, or a loading replaced the graph: the wait ends.
  bool ended = false;
  // Set before a removal for the waits whose path runs through the frame removed.
  bool through_removed = false;
  std::condition_variable_any condition;
};

namespace {

using detail::FrameStore;
using Result = TransformManager::TransformResult;
using Method = TransformManager::InterpolationMethod;

// What a wait or a lookup asks of every edge of the path: that its sampling
// succeeds, or, for a wait with `Interpolated`, also that it covers the time.
enum class Ask { Lookup, Wait };

// The code of `getTransform(from, to, time, method, ...)` on `store`; for `Ask::Wait`,
// `OutOfRange` where that lookup succeeds at a time that an `Interpolated` edge does
// not cover.
Result decide(const FrameStore& store, const std::string& from, const std::string& to, long time,
              Method method, double window, Ask ask) {
  std::size_t from_frame = FrameStore::NONE;
  std::size_t to_frame = FrameStore::NONE;
  Result code = detail::resolve(store, from, to, from_frame, to_frame);
  if (code != TransformManager::Success || from_frame == FrameStore::NONE) return code;
  detail::JudgedPath path;
  return path.judge(store, from_frame, to_frame, time, method, window,
                    ask == Ask::Wait && method == TransformManager::Interpolated);
}

}  // namespace

TransformManager::TransformResult TransformManager::canTransform(const std::string& from,
                                                                 const std::string& to, long time,
                                                                 InterpolationMethod method) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!knownMethod(method)) return refuseMethod(method, from, to);
  return decide(*store_, from, to, time, method, history_window_, Ask::Lookup);
}

TransformManager::TransformResult TransformManager::waitForTransform(
    const std::string& from, const std::string& to, long time, InterpolationMethod method,
    std::chrono::nanoseconds timeout, Pose& result) {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  result = Pose();
  if (callback_depth_ != 0) {
    getLogger().warnStream() << "Attempting to wait for the transform from " << from << " to " << to
                             << " with the manager's lock held by the waiting thread. The wait "
                                "is refused.";
    return Error;
  }
  if (destroying_) return Error;
  if (!knownMethod(method)) return refuseMethod(method, from, to);
  std::size_t from_frame = FrameStore::NONE;
  std::size_t to_frame = FrameStore::NONE;
  Result code = detail::resolve(*store_, from, to, from_frame, to_frame);
  if (code == Success && from_frame == FrameStore::NONE) return Success;  // equal names
  if (code == Success) {
    // The common case, the transform there: judged and composed on one walk.
    detail::JudgedPath path;
    code = path.judge(*store_, from_frame, to_frame, time, method, history_window_,
                      method == Interpolated);
    if (code == Success) {
      detail::PathProduct product(Eigen::Matrix4f::Identity(), time);
      path.compose(time, method, getLogger(), getLogger().isEnabled(Logger::TRACE_LEVEL), product);
      result = detail::poseOf(product.matrix(), product.stamp());
      return Success;
    }
  }
  if (timeout > std::chrono::nanoseconds::zero()) {
    // The clock is read only once the transform was found missing: the common case,
    // answered at once, does not pay for it.
    const Clock::time_point start = Clock::now();
    const bool forever = timeout >= Clock::time_point::max() - start;
    const Clock::time_point deadline = forever ? Clock::time_point::max() : start + timeout;
    Waiter waiter(from, to, time, method);
    waiters_.push_back(&waiter);
    // Leaves the list of waits, and tells a destructor waiting for the last one.
    const auto leave = [&] {
      waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &waiter));
      if (destroying_ && waiters_.empty()) waits_left_.notify_all();
    };
    try {
      // Woken by a registration after which the lookup succeeds, by the end of the
      // wait, or spuriously: the decision is taken again under the lock each time.
      while (true) {
        if (forever) {
          waiter.condition.wait(lock);
        } else if (waiter.condition.wait_until(lock, deadline) == std::cv_status::timeout) {
          code = decide(*store_, from, to, time, method, history_window_, Ask::Wait);
          break;
        }
        if (destroying_) break;
        code = decide(*store_, from, to, time, method, history_window_, Ask::Wait);
        if (code == Success || waiter.ended) break;
      }
    } catch (...) {
      leave();
      throw;
    }
    leave();
    if (destroying_) return Error;
  }
  if (code != Success) return code;
  return getTransform(from, to, time, method, result);
}

TransformManager::TransformResult TransformManager::releaseWaiting(WaitingPath& path,
                                                                   const std::string& from,
                                                                   const std::string& to,
                                                                   WaitingItems& items) {
  // The caller holds the lock: the queue settles under `runLocked` or in a listener.
  if (path.shape_ != store_->shape()) {  // found again: the graph changed shape
    std::size_t from_frame = FrameStore::NONE;
    std::size_t to_frame = FrameStore::NONE;
    path.edges_.clear();
    path.code_ = detail::resolve(*store_, from, to, from_frame, to_frame);
    path.identity_ = path.code_ == Success && from_frame == FrameStore::NONE;
    if (path.code_ == Success && !path.identity_) {
      path.code_ = store_->walkPath(from_frame, to_frame, [&](const detail::PoseHistory& history) {
        path.edges_.push_back(&history);
        return Success;
      });
    }
    path.shape_ = store_->shape();
  }
  if (path.code_ != Success) return path.code_;
  long time = 0;
  if (path.identity_) {  // equal names: the identity at every time
    while (items.nextTime(time)) items.release(Pose());
    return Success;
  }
  // Per item one verdict per edge; released at once when they all cover its time
  // (which then lies within the path's span). An item past the newest of an edge's
  // samples waits, found without a search: the span ends before the item. Only another
  // item that waits needs the span: it is too old, or it and those after it wait.
  bool spanned = false;
  std::int64_t oldest = 0;
  std::int64_t newest = 0;
  bool traced = false;
  bool asked = false;
  while (items.nextTime(time)) {
    if (detail::pastNewest(path.edges_, time)) break;
    if (!asked) {
      traced = getLogger().isEnabled(Logger::TRACE_LEVEL);
      asked = true;
    }
    detail::PathProduct product(Eigen::Matrix4f::Identity(), time);
    bool covered = false;
    if (!traced) {
      covered = detail::composeCovered(path.edges_, time, history_window_, getLogger(), product,
                                       store_->arcMemos(), FrameStore::ARC_MEMOS) == Success;
    } else {
      // Judged whole before a sample is taken (and traced): an item that waits leaves
      // no record.
      detail::JudgedPath judged;
      covered = judged.judge(path.edges_, time, Interpolated, history_window_, true) == Success;
      if (covered) {
        judged.compose(time, Interpolated, getLogger(), true, product, store_->arcMemos(),
                       FrameStore::ARC_MEMOS);
      }
    }
    if (covered) {
      items.release(detail::poseOf(product.matrix(), product.stamp()));
      continue;
    }
    if (!spanned) {
      const Result code = detail::pathSpan(path.edges_, history_window_, oldest, newest);
      if (code != Success) return code;
      spanned = true;
    }
    if (time >= oldest) break;
    items.tooOld();
  }
  return Success;
}

void TransformManager::attachListener(Listener& listener) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  listeners_.push_back(&listener);
}

void TransformManager::detachListener(Listener& listener) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto it = std::find(listeners_.begin(), listeners_.end(), &listener);
  if (it == listeners_.end()) return;
  if (notifying_ == 0) {
    listeners_.erase(it);
  } else {  // a notification walks the list: leave a gap, closed when it is done
    *it = nullptr;
    listeners_changed_ = true;
  }
}

namespace {

// Calls `tell(listener)` for the listeners attached when it starts, skipping those
// detached on the way, and closes the gaps left by detachments once the outermost
// notification is done (also when a listener throws).
template <class Tell>
void tellListeners(std::vector<TransformManager::Listener*>& listeners, std::size_t& notifying,
                   bool& changed, Tell&& tell) {
  struct Done {
    std::vector<TransformManager::Listener*>& listeners;
    std::size_t& notifying;
    bool& changed;
    ~Done() {
      if (--notifying == 0 && changed) {
        listeners.erase(std::remove(listeners.begin(), listeners.end(), nullptr), listeners.end());
        changed = false;
      }
    }
  };
  ++notifying;
  const Done done{listeners, notifying, changed};
  const std::size_t count = listeners.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (listeners[i] != nullptr) tell(*listeners[i]);
  }
}

}  // namespace

void TransformManager::notifyRegistered(const std::string& from, const std::string& to, long time,
                                        const RegisteredPair& pair) {
  for (Waiter* waiter : waiters_) {
    if (decide(*store_, waiter->from, waiter->to, waiter->time, waiter->method, history_window_,
               Ask::Wait) == Success) {
      waiter->condition.notify_one();
    }
  }
  if (listeners_.empty()) return;
  const CallbackScope scope(*this);
  tellListeners(listeners_, notifying_, listeners_changed_,
                [&](Listener& listener) { listener.transformRegistered(from, to, time, pair); });
}

void TransformManager::flagWaitersThrough(std::size_t frame) {
  for (Waiter* waiter : waiters_) {
    const std::size_t from_frame = store_->find(waiter->from);
    const std::size_t to_frame = store_->find(waiter->to);
    waiter->through_removed = frame == from_frame || frame == to_frame ||
                              (from_frame != FrameStore::NONE && to_frame != FrameStore::NONE &&
                               store_->onPath(from_frame, to_frame, frame));
  }
}

void TransformManager::notifyRemoved(const std::string& frame) {
  for (Waiter* waiter : waiters_) {
    if (waiter->through_removed) {
      waiter->ended = true;
      waiter->condition.notify_one();
    }
  }
  if (listeners_.empty()) return;
  const CallbackScope scope(*this);
  tellListeners(listeners_, notifying_, listeners_changed_,
                [&](Listener& listener) { listener.frameRemoved(frame); });
}

void TransformManager::endWaitsAndListeners() {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  destroying_ = true;
  for (Waiter* waiter : waiters_) waiter->condition.notify_one();
  // The waits leave under the lock; the members they touch on the way out must
  // outlive them.
  waits_left_.wait(lock, [this] { return waiters_.empty(); });
  if (!listeners_.empty()) {
    const CallbackScope scope(*this);
    // A destructor cannot let an exception out: each listener is told, and what one
    // throws is logged.
    tellListeners(listeners_, notifying_, listeners_changed_, [this](Listener& listener) {
      try {
        listener.managerDestroyed();
      } catch (const std::exception& e) {
        getLogger().warnStream() << "Exception caught in TransformManager::~TransformManager:"
                                 << e.what();
      } catch (...) {
        getLogger().warnStream() << "Exception caught in TransformManager::~TransformManager";
      }
    });
  }
  listeners_.clear();
}

void TransformManager::notifyLoaded() {
  for (Waiter* waiter : waiters_) {
    waiter->ended = true;
    waiter->condition.notify_one();
  }
  if (listeners_.empty()) return;
  const CallbackScope scope(*this);
  tellListeners(listeners_, notifying_, listeners_changed_,
                [&](Listener& listener) { listener.transformsLoaded(); });
}

}  // namespace zelvane
