/// @file
/// `tkit::Connection`: the handle on one slot of a `tkit::Signal`.
#pragma once

#include <atomic>
#include <memory>

namespace zelvane {
namespace tkit {

/// Observes one slot of a signal without owning it. Copies observe the same slot;
/// destroying a connection (or never keeping the one `connect` returned) does not
/// disconnect. Every operation takes no lock of the signal, may be called from any
/// thread (also from inside a slot of the same signal) and is harmless once the slot
/// has been removed or its signal destroyed.
class Connection {
 public:
  /// Per-slot flags, owned by the signal together with the slot and destroyed when
  /// the slot is removed from the signal's list.
  struct Status {
    /// The slot stays in the list but delivery skips it.
    std::atomic<bool> blocked{false};
    /// The slot is dead; the next `connect` or delivery removes it. Never cleared.
    std::atomic<bool> disconnected{false};
  };

  /// A connection that observes nothing; all its operations do nothing.
  Connection() = default;
  /// A connection observing `status`; `Signal::connect` is the one intended caller.
  explicit Connection(const std::shared_ptr<Status>& status) : status_(status) {}

  /// Marks the slot dead: one sequentially consistent atomic store, so it never waits
  /// for a delivery in progress. The slot's function object lives on until the
  /// signal next walks its list. Irreversible.
  void disconnect() {
    if (const std::shared_ptr<Status> status = status_.lock()) {
      status->disconnected.store(true);
    }
  }
  /// Makes delivery skip the slot (it stays connected) until `unblock`. A delivery in
  /// progress honours it for every slot it has not examined yet.
  void block() {
    if (const std::shared_ptr<Status> status = status_.lock()) {
      status->blocked.store(true);
    }
  }
  /// Lets delivery call the slot again after `block`.
  void unblock() {
    if (const std::shared_ptr<Status> status = status_.lock()) {
      status->blocked.store(false);
    }
  }
  /// True while the slot still exists and is blocked.
  bool blocked() const {
    const std::shared_ptr<Status> status = status_.lock();
    return status && status->blocked.load();
  }
  /// True while the slot still exists and has not been disconnected; false for a
  /// default-constructed connection.
  bool connected() const {
    const std::shared_ptr<Status> status = status_.lock();
    return status && !status->disconnected.load();
  }

 private:
  std::weak_ptr<Status> status_;
};

}  // namespace tkit
}  // namespace zelvane
