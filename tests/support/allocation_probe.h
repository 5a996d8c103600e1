// Test helper: the global allocation functions of a test program, replaced so that a
// test can count the heap allocations of a piece of code or make the n-th one fail.
// Link the program with the object library zelvane_allocation_probe, which holds the
// replacement; a program has at most one.
#pragma once

namespace zelvane::testing {

/// Counts the allocations (global `operator new`, on any thread) made while it lives.
class AllocationCounter {
 public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  /// Allocations since construction.
  long count() const;
};

/// Makes the allocation `n` from now (0: the next one) throw `std::bad_alloc` while it
/// lives; the leak checker of AddressSanitizer is paused meanwhile, since code that
/// loses an allocation to the failure is what the test looks at, not what it checks.
class FailingAllocation {
 public:
  explicit FailingAllocation(long n);
  ~FailingAllocation();
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
};

}  // namespace zelvane::testing
