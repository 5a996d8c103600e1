/// @file
/// `tkit::Signal`: a multi-slot callback list with lock-free disconnection.
#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <utility>

#include <zelvane/tkit/connection.h>

namespace zelvane {
namespace tkit {

/// Calls every live slot, in connection order, with the same arguments.
///
/// - The signal's mutex is held while a slot is connected and for the whole of a
///   delivery, so slots run on the emitting thread with it held: a slot must not
///   connect to or emit the signal that calls it (the mutex is not recursive).
/// - `Connection::disconnect` only sets an atomic flag; the slot is unlinked by the
///   next `connect` or delivery, which hold the mutex anyway, so there is no separate
///   sweep and cutting a connection never waits for a delivery.
/// - Delivery runs one step behind its scan: a slot is called after the next live
///   slot has been examined, so the last live slot receives the arguments forwarded
///   (moved, for by-value parameters) and every earlier one a copy. A slot that
///   disconnects or blocks the very next slot from its callback therefore does not
///   stop that slot in the same delivery; one further on it does.
/// - A throwing slot stops the delivery and the exception reaches the emitter; the
///   signal stays usable. An empty function throws `std::bad_function_call` when
///   delivery reaches it.
///
/// Signals are members of their owners; they are neither copied nor moved.
template <class... Args>
class Signal {
 public:
  using Slot = std::function<void(Args...)>;

  Signal() = default;
  /// Drops every slot (and what it captured) under the lock; outstanding connections
  /// become inert.
  ~Signal() {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.clear();
  }
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  /// Appends a copy of `slot` (an empty function is accepted and stored) after every
  /// slot connected before, and returns its handle. Removes dead slots on the way.
  /// Linear in the number of slots. Throws `std::system_error` if locking fails.
  [[nodiscard]] Connection connect(const Slot& slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = slots_.begin(); it != slots_.end();) {
      it = it->second->disconnected.load() ? slots_.erase(it) : std::next(it);
    }
    // Allocated apart from its control block so that handles which outlive the slot
    // keep only the control block, not the status, alive.
    std::shared_ptr<Connection::Status> status(new Connection::Status());
    slots_.emplace_back(slot, status);
    return Connection(status);
  }

  /// Calls the live, unblocked slots in connection order and unlinks the dead ones it
  /// passes. The caller must hold `mutex()` (use `emit` otherwise). Every slot but the
  /// last live one receives `args` as lvalues (copies for by-value parameters); the
  /// last receives them forwarded. Allocates nothing; linear in the number of slots,
  /// dead ones included, with two flag loads per slot besides the call. A slot's
  /// exception propagates and ends the delivery; an empty slot throws
  /// `std::bad_function_call`.
  template <class... A>
  void deliver(A&&... args) {
    Slot* pending = nullptr;
    for (auto it = slots_.begin(); it != slots_.end();) {
      const Connection::Status& status = *it->second;
      if (status.disconnected.load()) {
        it = slots_.erase(it);
        continue;
      }
      if (!status.blocked.load()) {
        if (pending != nullptr) {
          (*pending)(args...);
        }
        pending = &it->first;
      }
      ++it;
    }
    if (pending != nullptr) {
      (*pending)(std::forward<A>(args)...);
    }
  }

  /// Locks the signal's mutex and delivers (see `deliver`); the lock is released also
  /// when a slot throws. Throws `std::system_error` if locking fails.
  template <class... A>
  void emit(A&&... args) {
    std::lock_guard<std::mutex> lock(mutex_);
    deliver(std::forward<A>(args)...);
  }

  /// Same as `emit`.
  template <class... A>
  void operator()(A&&... args) {
    emit(std::forward<A>(args)...);
  }

  /// Slots in the list, dead ones not yet removed included. Locks the mutex, so it
  /// must not be called from a slot of this signal.
  std::size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slots_.size();
  }

  /// The mutex that `deliver`'s caller must hold.
  std::mutex& mutex() { return mutex_; }

 private:
  mutable std::mutex mutex_;
  std::list<std::pair<Slot, std::shared_ptr<Connection::Status>>> slots_;
};

}  // namespace tkit
}  // namespace zelvane
