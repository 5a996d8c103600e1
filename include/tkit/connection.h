/// @file
/// `tkit::Connection`: the handle on one slot of a `tkit::Signal`.
#pragma once

#include <atomic>
#include <memory>

namespace zelvane {
namespace tkit {

/// Observes one slot of a signal without owning it. Copies observe the same slot;
/// destroying a connection does not disconnect. Every operation is lock-free and
/// harmless once the slot has been removed or its signal destroyed.
class Connection {
 public:
  /// Per-slot flags, owned by the signal together with the slot.
  struct Status {
    /// The slot stays connected but delivery skips it.
    std::atomic<bool> blocked{false};
    /// The slot is dead; the next walk of the signal's list removes it.
    std::atomic<bool> disconnected{false};
  };

  /// A connection that observes nothing.
  Connection() = default;
  explicit Connection(const std::shared_ptr<Status>& status) : status_(status) {}

  /// Marks the slot dead (a single atomic store; never waits for a delivery).
  void disconnect() {
    if (const auto status = status_.lock()) status->disconnected.store(true);
  }
  /// Makes delivery skip the slot until `unblock`.
  void block() {
    if (const auto status = status_.lock()) status->blocked.store(true);
  }
  void unblock() {
    if (const auto status = status_.lock()) status->blocked.store(false);
  }
  /// True while the slot exists and is blocked.
  bool blocked() const {
    const auto status = status_.lock();
    return status && status->blocked.load();
  }
  /// False once disconnected or once the slot is gone.
  bool connected() const {
    const auto status = status_.lock();
    return status && !status->disconnected.load();
  }

 private:
  std::weak_ptr<Status> status_;
};

}  // namespace tkit
}  // namespace zelvane
