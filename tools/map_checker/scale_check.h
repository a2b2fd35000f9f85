// Models whose size is far out of line with the rest of the map: a model
// file's bounding radius 50 times the median of the map's visual model
// files or more, or a fiftieth of it or less (with at least three models to
// take a median of). The likely cause goes into the finding: an FBX file's
// declared unit (its UnitScaleFactor, centimetres per unit, which the
// import does not apply), or a ratio near 100 or 1000 (a file exported in
// centimetres or millimetres). Warnings, on the model file.
#pragma once

#include "checked_map.h"

namespace MapChecker {

inline constexpr float kScaleOutlierRatio = 50.0f;

void CheckModelScales(CheckedMap& map);

}  // namespace MapChecker
