/// @file
/// Degrees and radians as the library converts them. Settings files store degrees and
/// the command line prints them; a pose built from degrees anywhere (a program, the
/// Python module) equals the pose read from a settings file only because every part
/// converts with these two functions.
#pragma once

namespace zelvane {
namespace angles {

/// pi to double precision, for angle arithmetic done in double.
constexpr double PI = 3.141592653589793;
/// pi rounded to float: the degrees stored in settings files have always been converted
/// to radians with it, so a stored pose reads back as it always has.
constexpr float PI_F = 3.1415927f;
/// Degrees in a radian, 180 / pi in double.
constexpr double RADIANS_TO_DEGREES = 180.0 / PI;

/// Radians from degrees exactly as the settings layer has always converted stored
/// degrees, (pi_f * degrees) / 180 in float, so that a pose built from degrees anywhere
/// equals the pose read from a settings file.
constexpr float radiansFromDegrees(float degrees) { return (PI_F * degrees) / 180.0f; }

/// Degrees from radians as the command line prints them: one float product.
constexpr float degreesFromRadians(float radians) {
  return radians * static_cast<float>(RADIANS_TO_DEGREES);
}

}  // namespace angles
}  // namespace zelvane
