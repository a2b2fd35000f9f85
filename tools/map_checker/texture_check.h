// A texture file checked with D3DX's image information (no device needed):
// missing, unreadable for D3DX, or of a size that is not a power of two
// (the plug-in's loading stretches it to one). Also the texture's estimated
// memory as the plug-in creates it: power-of-two size, full mip chain.
#pragma once

#include <string>

#include "findings.h"

namespace MapChecker {

// Fills the findings and statistics of `report` for `report.path`.
void CheckTexture(FileReport& report);

}  // namespace MapChecker
