/// @file
/// `core::ImageBox`: a rectangle in a camera image, in pixels, the one record of it in
/// the library. A detection carries it to its track unchanged, and the evaluation
/// measures the overlap of two of them.
#pragma once

namespace zelvane {
namespace core {

/// A rectangle in the image, pixels: `left` <= `right`, `top` <= `bottom` for a box
/// that has an area (nothing is checked). Its width is right - left and its height
/// bottom - top, with no pixel added.
struct ImageBox {
  double left = 0.0;
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;
};

}  // namespace core
}  // namespace zelvane
