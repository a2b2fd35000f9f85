// Program name, version and the banner that opens every log.
#pragma once

namespace Startup {

inline constexpr const char* kProgramName = "VornakMapLoader";
inline constexpr const char* kVersion = "2.3";
inline constexpr const char* kBanner = "VornakMapLoader v2.3 by the VornakMapLoader team";

}  // namespace Startup
