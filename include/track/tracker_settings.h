/// @file
/// A tracker's parameters in the settings store (XML files through `SettingsManager`),
/// and the names by which settings files, command lines and the Python module give the
/// motion models, association metrics and methods.
///
/// Layout, below the current node; every key but `name` may be left out, and takes the
/// default of `ClassParameters` (track/tracker.h); units as documented there:
///
///     <Tracker>
///       <Class>                                  one per class, in class order
///         <name>Car</name>
///         <motionModel>constant_turn_rate</motionModel>   or constant_velocity
///         <ConstantVelocity>
///           accelerationNoise verticalAccelerationNoise headingNoise sizeNoise
///           initialSpeed initialVerticalSpeed
///         </ConstantVelocity>
///         <ConstantTurnRate>
///           accelerationNoise turnAccelerationNoise verticalAccelerationNoise sizeNoise
///           initialSpeed initialTurnRate initialVerticalSpeed
///         </ConstantTurnRate>
///         <MeasurementNoise> horizontal vertical heading size </MeasurementNoise>
///         <Association> metric threshold method </Association>
///         <birthScore/> <confirmHits/> <maxMisses/> <maxTentativeMisses/>
///         <Output> tentativeInFirstFrames coastingFrames </Output>
///       </Class>
///     </Tracker>
///
/// A key that the layout does not name is refused rather than ignored, so that a
/// misspelt parameter does not silently keep its default.
#pragma once

#include <string>
#include <vector>

#include <zelvane/core/association.h>
#include <zelvane/core/name_table.h>
#include <zelvane/track/tracker.h>
#include <zelvane/zelvane_core_export.h>

namespace zelvane {

class SettingsManager;

namespace track {

/// The names of the motion models: "constant_velocity", "constant_turn_rate";
/// "unknown" outside the enumeration.
ZELVANE_CORE_API const NameTable<MotionModelKind>& motionModelNames();

/// The name of a motion model (`motionModelNames`).
ZELVANE_CORE_API const char* motionModelName(MotionModelKind model);
/// Reads a name of `motionModelName` exactly; false (leaving `model` alone) otherwise.
[[nodiscard]] ZELVANE_CORE_API bool parseMotionModelName(const std::string& name,
                                                         MotionModelKind& model);

/// The name of a metric (`core::associationMetricNames`).
ZELVANE_CORE_API const char* associationMetricName(core::AssociationMetric metric);
/// Reads a name of `associationMetricName` exactly; false (leaving `metric` alone)
/// otherwise.
[[nodiscard]] ZELVANE_CORE_API bool parseAssociationMetricName(const std::string& name,
                                                               core::AssociationMetric& metric);

/// The name of a method (`core::associationMethodNames`).
ZELVANE_CORE_API const char* associationMethodName(core::AssociationMethod method);
/// Reads a name of `associationMethodName` exactly; false (leaving `method` alone)
/// otherwise.
[[nodiscard]] ZELVANE_CORE_API bool parseAssociationMethodName(const std::string& name,
                                                               core::AssociationMethod& method);

/// The classes of the node "Tracker" below the current node, in the layout of the file
/// comment. The current path is the same afterwards. Throws `std::invalid_argument`
/// naming the key's full path for a missing "Tracker" node or class `name`, a key the
/// layout does not name, or an unknown model, metric or method name; lets the store's
/// `ptree_bad_data` through for a value that does not convert. The parameters are not
/// checked here: `Tracker`'s constructor does that.
ZELVANE_CORE_API std::vector<ClassParameters> readTrackerSettings(SettingsManager& settings);

/// Writes `classes` as the node "Tracker" below the current node (replacing one that is
/// there), every key of the layout given, so that `readTrackerSettings` reads them back
/// equal. The current path is the same afterwards.
ZELVANE_CORE_API void writeTrackerSettings(SettingsManager& settings,
                                           const std::vector<ClassParameters>& classes);

}  // namespace track
}  // namespace zelvane
