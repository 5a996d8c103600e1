#include "core/dimensions.h"

namespace zelvane {
namespace core {

template <typename T, typename Frame>
Dimensions<T, Frame>::Dimensions(T length, T width, T height, const tkit::Cart<T, Frame>& anchor)
    : length(length), width(width), height(height), anchor(anchor) {}

template <typename T, typename Frame>
Dimensions<T, Frame>::Dimensions(T length, T width, T height)
    : Dimensions(length, width, height, tkit::Cart<T, Frame>{}) {}

template <typename T, typename Frame>
Dimensions<T, Frame>::Dimensions(const Dimensions& other)
    : Dimensions(other.length, other.width, other.height, other.anchor) {}

template struct Dimensions<float, frames::World>;
template struct Dimensions<double, frames::World>;
template struct Dimensions<float, frames::Trackable>;
template struct Dimensions<double, frames::Trackable>;

}  // namespace core
}  // namespace zelvane
