// Program name, version and the banner that opens every log. The version
// comes from the build (the project's version in the top CMakeLists.txt).
#pragma once

#ifndef VORNAK_VERSION
#error "VORNAK_VERSION is defined by the build"
#endif

namespace Startup {

inline constexpr const char* kProgramName = "VornakMapLoader";
inline constexpr const char* kVersion = VORNAK_VERSION;
inline constexpr const char* kBanner = "VornakMapLoader v" VORNAK_VERSION " by the VornakMapLoader team";

}  // namespace Startup
