#include "support/allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
// Allocations left before one fails; negative when no failure is armed.
std::atomic<long> allocations_before_failure{-1};

// Out of line, so that the compiler does not pair the replaced `new` with `free`.
__attribute__((noinline)) void release(void* memory) noexcept { std::free(memory); }

}  // namespace

void* operator new(std::size_t size) {
  if (counting.load()) ++allocations;
  if (allocations_before_failure.load() >= 0 && allocations_before_failure.fetch_sub(1) == 0) {
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
// The nothrow forms must be replaced too: left to the runtime (a sanitizer's allocator, for one),
// they would hand out memory that the replaced `delete` then frees with the wrong allocator, as
// `std::stable_sort`'s temporary buffer does.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* memory) noexcept { release(memory); }
void operator delete(void* memory, std::size_t) noexcept { release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { release(memory); }

namespace zelvane::testing {

AllocationCounter::AllocationCounter() {
  allocations = 0;
  counting = true;
}

AllocationCounter::~AllocationCounter() { counting = false; }

long AllocationCounter::count() const { return allocations.load(); }

FailingAllocation::FailingAllocation(long n) {
#if defined(__SANITIZE_ADDRESS__)
  __lsan_disable();
#endif
  allocations_before_failure = n;
}

FailingAllocation::~FailingAllocation() {
  allocations_before_failure = -1;
#if defined(__SANITIZE_ADDRESS__)
  __lsan_enable();
#endif
}

}  // namespace zelvane::testing
