#include "core/sequence_check.h"

#include <initializer_list>
#include <limits>

#include <gtest/gtest.h>

namespace zelvane {
namespace core {
namespace {

constexpr unsigned long MAX = std::numeric_limits<unsigned long>::max();

// Feeds `numbers` in order and returns the result of the last one.
SequenceCheck::Result feed(SequenceCheck& checker, std::initializer_list<unsigned long> numbers) {
  SequenceCheck::Result result = SequenceCheck::OK;
  for (const unsigned long n : numbers) result = checker.check(n);
  return result;
}

TEST(SequenceCheck, ResultTextsAreFixed) {
  const std::map<SequenceCheck::Result, std::string> expected = {
      {SequenceCheck::OK, "OK"},
      {SequenceCheck::MISSING_DATA, "Missing data"},
      {SequenceCheck::DUPLICATE, "Duplicate"},
      {SequenceCheck::OUT_OF_ORDER, "Out of order"},
  };
  ASSERT_EQ(SequenceCheck::map_result_to_string_.size(), expected.size());
  for (const auto& [result, text] : expected) {
    EXPECT_EQ(SequenceCheck::map_result_to_string_.at(result), text) << "result " << result;
  }
  EXPECT_EQ(static_cast<int>(SequenceCheck::OK), 0);
  EXPECT_EQ(static_cast<int>(SequenceCheck::MISSING_DATA), 1);
  EXPECT_EQ(static_cast<int>(SequenceCheck::DUPLICATE), 2);
  EXPECT_EQ(static_cast<int>(SequenceCheck::OUT_OF_ORDER), 3);
}

// Before the second accepted number, discarded() is all bits set.
TEST(SequenceCheck, FirstNumberOfAnyValueIsOkAndDiscardsNothingYet) {
  for (const unsigned long first : {0UL, 1UL, 5UL, MAX}) {
    SequenceCheck checker;
    EXPECT_EQ(checker.discarded(), MAX) << "fresh";
    EXPECT_EQ(checker.check(first), SequenceCheck::OK) << first;
    EXPECT_EQ(checker.previous(), first);
    EXPECT_EQ(checker.discarded(), MAX) << "after the first number";
    static_cast<void>(checker.check(first + 7));
    checker.reset();
    EXPECT_EQ(checker.check(first), SequenceCheck::OK) << "after reset, " << first;
  }
}

TEST(SequenceCheck, ConsecutiveNumbersAreOkAndAGapIsMissingDataAddingTheSkippedCount) {
  SequenceCheck checker;
  for (const unsigned long n : {4UL, 5UL}) EXPECT_EQ(checker.check(n), SequenceCheck::OK);
  EXPECT_EQ(checker.previous(), 4UL);
  EXPECT_EQ(checker.discarded(), 0UL);
  EXPECT_EQ(checker.totalDiscarded(), 0UL);

  EXPECT_EQ(checker.check(9), SequenceCheck::MISSING_DATA);
  EXPECT_EQ(checker.discarded(), 3UL);
  EXPECT_EQ(checker.previous(), 5UL);
  EXPECT_EQ(checker.totalDiscarded(), 3UL);

  EXPECT_EQ(checker.check(20), SequenceCheck::MISSING_DATA);
  EXPECT_EQ(checker.discarded(), 10UL);
  EXPECT_EQ(checker.totalDiscarded(), 13UL);

  EXPECT_EQ(checker.check(21), SequenceCheck::OK);
  EXPECT_EQ(checker.totalDiscarded(), 13UL) << "an in-order step adds nothing";
}

TEST(SequenceCheck, DuplicateAndOutOfOrderLeaveStateUntouched) {
  struct Case {
    unsigned long third;
    SequenceCheck::Result expected;
  };
  for (const Case& c : {Case{9, SequenceCheck::DUPLICATE}, Case{7, SequenceCheck::OUT_OF_ORDER},
                        Case{0, SequenceCheck::OUT_OF_ORDER}}) {
    SequenceCheck checker;
    EXPECT_EQ(feed(checker, {5, 9, c.third}), c.expected) << c.third;
    EXPECT_EQ(checker.discarded(), 3UL) << c.third;
    EXPECT_EQ(checker.previous(), 5UL) << c.third;
    EXPECT_EQ(checker.totalDiscarded(), 3UL) << c.third;
    EXPECT_EQ(checker.check(10), SequenceCheck::OK)
        << "9 is still the last accepted, after " << c.third;
  }
}

TEST(SequenceCheck, RestartedCounterIsOutOfOrderUntilItClimbsPastLastAccepted) {
  SequenceCheck checker;
  static_cast<void>(checker.check(65535));
  EXPECT_EQ(checker.check(0), SequenceCheck::OUT_OF_ORDER);
  EXPECT_EQ(checker.check(1), SequenceCheck::OUT_OF_ORDER);
  EXPECT_EQ(checker.check(65534), SequenceCheck::OUT_OF_ORDER);
  EXPECT_EQ(checker.check(65535), SequenceCheck::DUPLICATE);
  EXPECT_EQ(checker.check(65536), SequenceCheck::OK);

  SequenceCheck gapped;
  EXPECT_EQ(feed(gapped, {65535, 0, 100, 65540}), SequenceCheck::MISSING_DATA);
  EXPECT_EQ(gapped.discarded(), 4UL);
  EXPECT_EQ(gapped.totalDiscarded(), 4UL);
}

TEST(SequenceCheck, ComparesAsUnsigned64Bit) {
  // Numbers with the top bit set would be negative under a signed comparison.
  constexpr unsigned long TOP_BIT = 1UL << 63;
  SequenceCheck checker;
  static_cast<void>(checker.check(TOP_BIT - 1));
  EXPECT_EQ(checker.check(TOP_BIT), SequenceCheck::OK);
  EXPECT_EQ(checker.check(MAX), SequenceCheck::MISSING_DATA);
  EXPECT_EQ(checker.discarded(), MAX - TOP_BIT - 1);
  EXPECT_EQ(checker.check(1), SequenceCheck::OUT_OF_ORDER);
  EXPECT_EQ(checker.check(MAX), SequenceCheck::DUPLICATE);
}

TEST(SequenceCheck, ResetForgetsEverythingIncludingTheRunningTotal) {
  SequenceCheck checker;
  feed(checker, {1, 10});
  ASSERT_EQ(checker.totalDiscarded(), 8UL);
  checker.reset();
  EXPECT_EQ(checker.discarded(), MAX);
  EXPECT_EQ(checker.previous(), 0UL);
  EXPECT_EQ(checker.totalDiscarded(), 0UL);
  EXPECT_EQ(feed(checker, {3, 5}), SequenceCheck::MISSING_DATA);
  EXPECT_EQ(checker.totalDiscarded(), 1UL);
}

}  // namespace
}  // namespace core
}  // namespace zelvane
