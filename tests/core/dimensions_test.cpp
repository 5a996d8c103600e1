#include "core/dimensions.h"

#include <string>
#include <type_traits>

#include <gtest/gtest.h>

namespace {

using zelvane::core::Dimensions;
namespace frames = zelvane::frames;

// The four forms the library exports; each test links against its instantiation.
template <typename D>
class DimensionsForms : public ::testing::Test {};

using Forms =
    ::testing::Types<Dimensions<float, frames::World>, Dimensions<double, frames::World>,
                     Dimensions<float, frames::Trackable>, Dimensions<double, frames::Trackable>>;
// Names the instantiations in test output ("float_World", ...).
struct FormName {
  template <typename D>
  static std::string GetName(int) {
    const std::string scalar = std::is_same<decltype(D::length), float>::value ? "float" : "double";
    const bool world = std::is_same<D, Dimensions<decltype(D::length), frames::World>>::value;
    return scalar + (world ? "_World" : "_Trackable");
  }
};
TYPED_TEST_SUITE(DimensionsForms, Forms, FormName);

template <typename D>
using AnchorOf = decltype(std::declval<D>().anchor);

TYPED_TEST(DimensionsForms, ThreeExtentsLeaveTheAnchorAtTheBoxCentre) {
  const TypeParam d(4, 2, 1.5);
  EXPECT_EQ(d.length, 4);
  EXPECT_EQ(d.width, 2);
  EXPECT_EQ(d.height, 1.5);
  EXPECT_EQ(d.anchor.x, 0);
  EXPECT_EQ(d.anchor.y, 0);
  EXPECT_EQ(d.anchor.z, 0);
}

TEST(FrameTags, AnchorsOfDifferentFramesAreDistinctTypes) {
  static_assert(!std::is_same<AnchorOf<Dimensions<float, frames::World>>,
                              AnchorOf<Dimensions<float, frames::Trackable>>>::value,
                "the frame tag must be part of the vector type");
  static_assert(!std::is_convertible<AnchorOf<Dimensions<float, frames::World>>,
                                     AnchorOf<Dimensions<float, frames::Trackable>>>::value,
                "a world vector must not pass for a trackable one");
}

}  // namespace
