/// @file
/// `core::Dimensions`: the box of a tracked object.
#pragma once

#include <zelvane/tkit/cart.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace core {

/// Extents of an object's box along its own axes and the offset from the box centre
/// to the point that the object's position describes. The library provides exactly
/// four forms: `T` float or double, `Frame` `frames::World` or `frames::Trackable`.
/// Extents are not validated; see `State` for what negative extents do.
template <typename T, typename Frame>
struct Dimensions {
  /// Stores the three extents and the anchor unchanged.
  Dimensions(T length, T width, T height, const tkit::Cart<T, Frame>& anchor);
  /// Stores the three extents with the anchor (0, 0, 0): the position is the box centre.
  Dimensions(T length, T width, T height);
  Dimensions(const Dimensions& other);
  Dimensions& operator=(const Dimensions& other) = default;

  /// Extent along the object's x axis (the heading direction).
  T length;
  /// Extent along the object's y axis.
  T width;
  /// Vertical extent.
  T height;
  /// Offset, in the object's own axes, from the box centre to the point that the
  /// object's position describes.
  tkit::Cart<T, Frame> anchor;
};

extern template struct ZELVANE_CORE_API Dimensions<float, frames::World>;
extern template struct ZELVANE_CORE_API Dimensions<double, frames::World>;
extern template struct ZELVANE_CORE_API Dimensions<float, frames::Trackable>;
extern template struct ZELVANE_CORE_API Dimensions<double, frames::Trackable>;

}  // namespace core
}  // namespace zelvane
