// Models whose size is far out of line with the rest of the map: a model
// file's bounding radius 50 times the median of the map's visual model
// files or more and its height (its extent up) 50 times their median
// height or more, or both a fiftieth of theirs or less (with at least three
// models to take medians of). A wrong unit scales a model every way; a
// ground or a road that is large only across is not named. Without a
// median height (a map of flat models) the radius decides alone. The
// likely cause goes into the finding: an FBX file's
// declared unit (its UnitScaleFactor, centimetres per unit, which the
// import does not apply), or a ratio near 100 or 1000 (a file exported in
// centimetres or millimetres). Warnings, on the model file.
#pragma once

#include "checked_map.h"

namespace MapChecker {

inline constexpr float kScaleOutlierRatio = 50.0f;

void CheckModelScales(CheckedMap& map);

}  // namespace MapChecker
