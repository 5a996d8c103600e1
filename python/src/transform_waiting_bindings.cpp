// Waiting for transforms from Python: the quiet query, the wait (the GIL released, and
// interruptible by Ctrl-C), and the queue of Python objects.
//
// As everywhere in the frame graph's bindings, every call into the manager or a queue
// releases the GIL first, and the callbacks take it: a thread never waits for the
// manager's lock while holding the GIL.
#include <algorithm>
#include <chrono>
#include <iomanip>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "bindings.h"
#include "errors.h"
#include "geometry/frame_graph_text.h"
#include "geometry/transform_manager.h"
#include "geometry/transform_queue.h"

namespace zelvane::python {

namespace {

using Clock = std::chrono::steady_clock;
using Result = TransformManager::TransformResult;

// The wait sleeps in slices of this length, checking for signals between them.
constexpr std::chrono::milliseconds WAIT_SLICE(50);

bool canTransform(const TransformManager& manager, const std::string& from, const std::string& to,
                  TimeArgument time, const std::string& method) {
  const auto sampling = methodArgument(method);
  py::gil_scoped_release release;
  return manager.canTransform(from, to, time, sampling) == TransformManager::Success;
}

Pose waitForTransform(TransformManager& manager, const std::string& from, const std::string& to,
                      TimeArgument time, double timeout, const std::string& method) {
  const auto sampling = methodArgument(method);
  if (!(timeout >= 0.0)) throw py::value_error("timeout must be 0 or more seconds");
  const Clock::time_point start = Clock::now();
  const auto limit = std::chrono::duration<double>(std::min(timeout, 1.0e9));
  const Clock::time_point deadline = start + std::chrono::duration_cast<Clock::duration>(limit);
  Pose result;
  Result code = TransformManager::Success;
  Result before = TransformManager::Success;
  while (true) {
    const Clock::duration slice = std::min<Clock::duration>(
        WAIT_SLICE, std::max(deadline - Clock::now(), Clock::duration::zero()));
    Clock::time_point slice_end;
    {
      py::gil_scoped_release release;
      slice_end = Clock::now() + slice;
      code = manager.waitForTransform(from, to, time, sampling, slice, result);
    }
    if (code == TransformManager::Success) return result;
    if (code == TransformManager::Error) {
      throw std::runtime_error(
          "wait_for_transform from a callback of the same manager would never be woken");
    }
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    // Over before its slice: a frame of the path was removed or the graph loaded. A
    // removal between two slices shows as the path, there before, gone now.
    const Clock::time_point now = Clock::now();
    if (now >= deadline || now < slice_end) break;
    const bool path_gone = code == TransformManager::NotFound || code == TransformManager::NoFrames;
    if (path_gone && before == TransformManager::OutOfRange) break;
    before = code;
  }
  const FrameGraphRequest request{
      "wait for " + from + " in " + to + " at time " + std::to_string(time) + " (" + method + ")",
      from, to, time};
  // The time waited, which a removal or a loading may have cut short of the timeout.
  std::ostringstream reason;
  reason << "after waiting " << std::fixed << std::setprecision(3)
         << std::chrono::duration<double>(Clock::now() - start).count() << " s";
  TimeSpan span;
  {
    py::gil_scoped_release release;
    const std::string why = waitFailureReason(manager, from, to, time, sampling, code);
    if (!why.empty()) reason << "; " << why;
    long oldest = 0;
    long newest = 0;
    if (code == TransformManager::OutOfRange &&
        manager.getCommonTimeSpan(from, to, oldest, newest) == TransformManager::Success) {
      span = std::make_pair(oldest, newest);
    }
  }
  raiseFrameGraphError(code, request, reason.str(), span);
}

// Calls `callback(args...)` with the GIL taken; what it raises goes to
// sys.unraisablehook, as for the registration callbacks.
template <class... Args>
void callPython(const Held& callback, Args&&... args) {
  py::gil_scoped_acquire gil;
  try {
    (*callback)(std::forward<Args>(args)...);
  } catch (py::error_already_set& error) {
    error.discard_as_unraisable(*callback);
  }
}

class PythonQueue {
 public:
  using Queue = TransformQueue<Held>;

  PythonQueue(TransformManager& manager, const std::string& target, std::size_t capacity,
              std::optional<long> maxLag, const py::object& onRelease, const py::object& onDrop) {
    TransformQueueOptions options;
    options.capacity = capacity;
    if (maxLag) options.maxLag = *maxLag;
    if (options.maxLag < 0) throw py::value_error("max_lag must be 0 or more");
    Queue::ReleaseCallback release;
    if (!onRelease.is_none()) {
      release = [callback = callable(onRelease, "on_release")](
                    const Held& item, const std::string& frame, long time, const Pose& pose) {
        callPython(callback, *item, frame, time, pose);
      };
    }
    Queue::DropCallback drop;
    if (!onDrop.is_none()) {
      drop = [callback = callable(onDrop, "on_drop")](const Held& item, const std::string& frame,
                                                      long time, TransformDropReason reason) {
        callPython(callback, *item, frame, time, dropReasonNames().name(reason));
      };
    }
    py::gil_scoped_release unlocked;
    queue_ = std::make_unique<Queue>(manager, target, options, std::move(release), std::move(drop));
  }

  // The queue's destruction takes the manager's lock and calls the drop callback, whose
  // Python errors are reported as unraisable; only a failure to lock could escape, and
  // that ends the program as any destructor's would.
  ~PythonQueue() {  // NOLINT(bugprone-exception-escape)
    py::gil_scoped_release release;
    queue_.reset();
  }

  PythonQueue(const PythonQueue&) = delete;
  PythonQueue& operator=(const PythonQueue&) = delete;
  PythonQueue(PythonQueue&&) = delete;
  PythonQueue& operator=(PythonQueue&&) = delete;

  void push(const py::handle& item, const std::string& frame, TimeArgument time) {
    Held held = hold(item);
    py::gil_scoped_release release;
    queue_->push(std::move(held), frame, time);
  }

  py::object poll() {
    Queue::Released released;
    bool found = false;
    {
      py::gil_scoped_release release;
      found = queue_->poll(released);
    }
    if (!found) return py::none();
    return tupleOf(released);
  }

  py::list drain() {
    std::vector<Queue::Released> all;
    {
      py::gil_scoped_release release;
      all = queue_->drain();
    }
    py::list items;
    for (const Queue::Released& released : all) items.append(tupleOf(released));
    return items;
  }

  void clear() {
    py::gil_scoped_release release;
    queue_->clear();
  }

  py::dict counts() const {
    TransformQueueCounts counts;
    {
      py::gil_scoped_release release;
      counts = queue_->counts();
    }
    py::dict dropped;
    for (const EnumName<TransformDropReason>& reason : dropReasonNames()) {
      dropped[reason.name] = counts.dropped[static_cast<std::size_t>(reason.value)];
    }
    py::dict result;
    result["pushed"] = counts.pushed;
    result["released"] = counts.released;
    result["pending"] = counts.pending;
    result["waiting_for_frame"] = counts.waitingForFrame;
    result["dropped"] = dropped;
    return result;
  }

  const std::string& target() const { return queue_->targetFrame(); }

 private:
  static Held callable(const py::object& callback, const char* name) {
    if (!PyCallable_Check(callback.ptr())) {
      throw py::type_error(std::string(name) + " must be callable or None");
    }
    return hold(callback);
  }

  static py::tuple tupleOf(const Queue::Released& released) {
    return py::make_tuple(*released.item, released.frame, released.time, released.pose);
  }

  std::unique_ptr<Queue> queue_;
};

}  // namespace

void bindTransformWaiting(py::module_& m) {
  auto manager = py::reinterpret_borrow<py::class_<TransformManager>>(m.attr("TransformManager"));
  manager
      .def("can_transform", &canTransform, py::arg("from_frame"), py::arg("to_frame"),
           py::arg("time"), py::arg("method") = "interpolated",
           R"doc(can_transform(self, from_frame, to_frame, time, method='interpolated')
--

Whether ``lookup(from_frame, to_frame, time, method)`` would succeed now.

The same decision as the lookup, without composing the pose and without a line in
the log: ask this (or wait with ``wait_for_transform``) rather than retrying a
lookup that fails while the navigation data has not caught up.

Returns
-------
bool
)doc")
      .def(
          "wait_for_transform", &waitForTransform, py::arg("from_frame"), py::arg("to_frame"),
          py::arg("time"), py::arg("timeout"), py::arg("method") = "interpolated",
          R"doc(wait_for_transform(self, from_frame, to_frame, time, timeout, method='interpolated')
--

Waits until ``lookup(from_frame, to_frame, time, method)`` succeeds and returns its
pose.

With "interpolated" it also waits until samples lie at or on both sides of ``time``
on every time-stamped edge of the path: where the lookup would answer from a single
older sample, the wait waits for the next one. The wait is woken by the
registration (on any thread) that makes it succeed; the GIL is released meanwhile,
and Ctrl-C interrupts it within 50 ms.

Parameters
----------
from_frame, to_frame : str
time : int
timeout : float
    Seconds; 0 looks once without waiting.
method : {"interpolated", "extrapolated", "most_recent"}, default "interpolated"

Returns
-------
Pose

Raises
------
NoFramesError, FrameNotFoundError, OutOfRangeError
    As ``lookup``, when the timeout passed, or earlier when a frame of the path was
    removed or the graph loaded anew.
RuntimeError
    Called from a callback of this manager (a registration callback or a queue's),
    where the wait could never be woken.
ValueError
    A negative timeout or an unknown method.
)doc");

  py::class_<PythonQueue>(m, "TransformQueue", R"doc(Items held until their transform is there.

Each item (any Python object) is pushed with its frame and time, and released with
its pose in the target frame at that time (the interpolated lookup's) as soon as
the path covers that time: every time-stamped edge holds a sample at the time or
samples on both sides of it. An item stamped past the newest navigation sample
waits for the next one, where a lookup would answer with the older sample. It is
released to ``on_release(item, frame, time, pose)`` on the thread whose
registration (or push) made it ready, or, without ``on_release``, into a list that
``poll`` and ``drain`` collect. Items of one frame leave in push order.

An item that cannot be released leaves through ``on_drop(item, frame, time,
reason)``, reason one of "full" (the queue held ``capacity`` items: the oldest
makes room), "too_old" (older than the history kept on its path), "overtaken" (an
item of its frame more than ``max_lag`` newer arrived while it waited),
"frame_removed", "cleared", "destroyed" and "manager_destroyed". ``counts()`` gives
pushed = released + dropped + pending. Items whose frame (or the target frame) the
graph does not know wait for it, counted as ``waiting_for_frame``; each unknown
name is warned of once in the log, with the closest known name.

Callbacks run with the GIL taken and the manager's lock held, as registration
callbacks do; they may push and look up, not wait. What they raise goes to
``sys.unraisablehook``. The queue keeps its manager alive.
)doc")
      .def(py::init<TransformManager&, const std::string&, std::size_t, std::optional<long>,
                    const py::object&, const py::object&>(),
           py::arg("manager"), py::arg("target_frame"), py::arg("capacity") = 1000,
           py::arg("max_lag") = py::none(), py::arg("on_release") = py::none(),
           py::arg("on_drop") = py::none(), py::keep_alive<1, 2>(),
           "__init__(self, manager, target_frame, capacity=1000, max_lag=None, "
           "on_release=None, on_drop=None)\n--\n\nA queue into ``target_frame`` of "
           "``manager``; ``max_lag`` in the graph's time unit, None for no limit.")
      .def("push", &PythonQueue::push, py::arg("item"), py::arg("frame"), py::arg("time"),
           "push(self, item, frame, time)\n--\n\nAdds ``item`` of ``frame`` at ``time``; it "
           "is released at once when its transform is there.")
      .def("poll", &PythonQueue::poll,
           "poll(self)\n--\n\nThe first released item not yet collected, as (item, frame, "
           "time, pose), or None.")
      .def("drain", &PythonQueue::drain,
           "drain(self)\n--\n\nEvery released item not yet collected, as a list of (item, "
           "frame, time, pose).")
      .def("clear", &PythonQueue::clear,
           "clear(self)\n--\n\nDrops every item held, with reason \"cleared\".")
      .def("counts", &PythonQueue::counts,
           "counts(self)\n--\n\nA dict: pushed, released, pending, waiting_for_frame (of "
           "pending, the items whose frame the graph does not know), and dropped (a dict per "
           "reason).")
      .def_property_readonly("target_frame", &PythonQueue::target, "str: the target frame.");
}

}  // namespace zelvane::python
