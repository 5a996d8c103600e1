/// @file
/// `tkit::Connection`: the handle on one slot of a `tkit::Signal`.
#pragma once

#include <atomic>
#include <memory>
#include <utility>

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

/// Owns one connection: disconnects its slot when destroyed, when assigned another
/// connection, or on `disconnect`. For a component whose slots capture the component
/// itself: held as a member, it cuts them before the component is gone, so a signal
/// that outlives the component (a pipeline that stops again when it is destroyed)
/// never calls into a destroyed object. Movable (the moved-from one observes nothing),
/// not copyable; `release` hands the connection back without cutting it.
///
/// Cutting is `Connection::disconnect`: it does not wait for a delivery already under
/// way on another thread, which may still call the slot once. State that such a slot
/// captures must outlive that delivery, or the two threads must be joined first.
class ScopedConnection {
 public:
  /// Owns nothing.
  ScopedConnection() = default;
  /// Owns `connection` (implicit, so `ScopedConnection c = signal.connect(...)` reads
  /// as plain assignment).
  ScopedConnection(Connection connection) noexcept  // NOLINT(google-explicit-constructor)
      : connection_(std::move(connection)) {}
  /// Disconnects the owned slot.
  ~ScopedConnection() { connection_.disconnect(); }

  ScopedConnection(ScopedConnection&& other) noexcept : connection_(other.release()) {}
  /// Disconnects the slot owned so far, then takes over `other`'s.
  ScopedConnection& operator=(ScopedConnection&& other) noexcept {
    if (this != &other) {
      connection_.disconnect();
      connection_ = other.release();
    }
    return *this;
  }
  ScopedConnection(const ScopedConnection&) = delete;
  ScopedConnection& operator=(const ScopedConnection&) = delete;

  /// Gives up ownership without disconnecting: the slot stays connected and this
  /// object observes nothing afterwards.
  Connection release() noexcept { return std::exchange(connection_, Connection()); }
  /// Disconnects the owned slot now (see `Connection::disconnect`).
  void disconnect() noexcept { connection_.disconnect(); }
  /// The owned connection, for copying it into a list that is cut elsewhere (a
  /// pipeline's stop lists) or for blocking it.
  const Connection& connection() const noexcept { return connection_; }
  /// True while the owned slot exists and has not been disconnected.
  bool connected() const noexcept { return connection_.connected(); }

 private:
  Connection connection_;
};

}  // namespace tkit
}  // namespace zelvane
