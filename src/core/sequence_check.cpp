#include "core/sequence_check.h"

#include <limits>

namespace zelvane {
namespace core {

// The checker's counters are unsigned 64-bit and its interface speaks `unsigned long`;
// the two must be the same width for the wrap-around arithmetic to hold.
static_assert(std::numeric_limits<unsigned long>::digits == 64,
              "SequenceCheck needs a 64-bit unsigned long");

const std::map<SequenceCheck::Result, const std::string> SequenceCheck::map_result_to_string_ = {
    {SequenceCheck::OK, "OK"},
    {SequenceCheck::MISSING_DATA, "Missing data"},
    {SequenceCheck::DUPLICATE, "Duplicate"},
    {SequenceCheck::OUT_OF_ORDER, "Out of order"},
};

SequenceCheck::SequenceCheck() { reset(); }

SequenceCheck::~SequenceCheck() = default;

SequenceCheck::Result SequenceCheck::check(unsigned long sequence) {
  if (!initialized_) {
    initialized_ = true;
    current_ = sequence;
    previous_ = sequence;
    return OK;
  }
  if (sequence == current_) return DUPLICATE;
  if (sequence < current_) return OUT_OF_ORDER;

  const std::uint64_t last = current_;
  previous_ = last;
  current_ = sequence;
  // `last` is below `sequence`, so `last + 1` cannot wrap.
  if (sequence == last + 1) return OK;
  total_discarded_ += discarded();
  return MISSING_DATA;
}

unsigned long SequenceCheck::discarded() const { return current_ - 1 - previous_; }

unsigned long SequenceCheck::previous() const { return previous_; }

unsigned long SequenceCheck::totalDiscarded() const { return total_discarded_; }

void SequenceCheck::reset() {
  initialized_ = false;
  current_ = 0;
  previous_ = 0;
  total_discarded_ = 0;
}

}  // namespace core
}  // namespace zelvane
