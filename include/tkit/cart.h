/// @file
/// `tkit::Cart`: a Cartesian 3-vector tagged with the frame it is expressed in, and
/// the frame tags of tracked-object state.
#pragma once

#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace frames {

/// Tag of the fixed world frame. Carries no data.
struct ZELVANE_CORE_API World {};
/// Tag of the frame attached to a tracked object: x along its heading, y to its
/// left, z up. Carries no data.
struct ZELVANE_CORE_API Trackable {};

}  // namespace frames

namespace tkit {

/// A Cartesian vector (x, y, z) of scalar type `T` expressed in `Frame`. The tag makes
/// vectors of different frames distinct types, so mixing them does not compile.
/// Default-constructed to (0, 0, 0); `Cart<T, Frame>{x, y, z}` sets all three.
template <typename T, typename Frame>
struct Cart {
  T x{};
  T y{};
  T z{};
};

}  // namespace tkit
}  // namespace zelvane
