/// @file
/// `core::SequenceCheck`: classifies the sequence numbers of one packet stream.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace core {

/// Classifies the sequence numbers of an incoming stream, one packet at a time: in
/// order, after a gap, repeated, or going backwards. Only the last two accepted
/// numbers and a running count of skipped numbers are kept.
///
/// All comparisons are unsigned and there is no wrap-around handling: a counter that
/// restarts at a lower value is out of order until `reset()` or until the numbers
/// climb past the last accepted one again.
///
/// Every operation is O(1), never allocates and never throws. There is no locking:
/// one checker serves one stream on one thread at a time.
class ZELVANE_CORE_API SequenceCheck {
 public:
  /// Outcome of `check`; the values are stable and match `map_result_to_string_`.
  enum Result {
    /// The first number, or the successor of the last accepted one.
    OK = 0,
    /// Larger than the successor of the last accepted number: a gap.
    MISSING_DATA = 1,
    /// Equal to the last accepted number.
    DUPLICATE = 2,
    /// Smaller than the last accepted number.
    OUT_OF_ORDER = 3,
  };

  /// Fixed text of each result for logs and displays: "OK", "Missing data",
  /// "Duplicate", "Out of order". Built during the library's static initialisation,
  /// so it must not be read from another library's static initialisers.
  static const std::map<Result, const std::string> map_result_to_string_;

  /// A checker in the initial state (see `reset`).
  SequenceCheck();
  virtual ~SequenceCheck();

  /// Classifies `sequence` and updates the state:
  /// - the first number after construction or `reset()` is `OK`, whatever its value;
  /// - the last accepted number again is `DUPLICATE` and changes nothing;
  /// - a smaller number is `OUT_OF_ORDER` and changes nothing;
  /// - a larger number is accepted: it is `OK` when it is the successor of the last
  ///   one, otherwise `MISSING_DATA`, and the count of skipped numbers is added to
  ///   `totalDiscarded()`.
  [[nodiscard]] Result check(unsigned long sequence);

  /// Count of numbers skipped by the last accepted step: current - 1 - previous in
  /// 64-bit wrap-around arithmetic. Before a second number has been accepted current
  /// equals previous, which gives the maximum unsigned 64-bit value.
  unsigned long discarded() const;

  /// The accepted number before the last accepted one (0 in the initial state; the
  /// first number itself until a second one is accepted).
  unsigned long previous() const;

  /// Running sum of the numbers skipped by every gap since construction or `reset()`.
  /// Wraps around modulo 2^64; duplicates and out-of-order numbers never decrease it.
  unsigned long totalDiscarded() const;

  /// Back to the initial state: nothing accepted yet, current, previous and the
  /// running total 0.
  void reset();

 private:
  bool initialized_ = false;
  std::uint64_t current_ = 0;
  std::uint64_t previous_ = 0;
  std::uint64_t total_discarded_ = 0;
};

}  // namespace core
}  // namespace zelvane
