// Host surface records: the lookup in the host's attribute database, and
// the default and current surfaces handed to the host with collision
// results.
#pragma once

#include <cstdint>

namespace BulletCol {

inline constexpr const char* kDefaultSurfaceName = "asphalt_no_leaves";
inline constexpr const char* kSurfaceClassName = "simsurface";

// The host's record of the surface with this name key in class
// "simsurface"; null when the attribute database is not set up yet, lacks
// the class, or does not know the name. The host's calls, in this order:
// only when the database exists, the class's key, the class test, and once
// the class is there the class's key again and the record lookup.
void* ResolveSurface(std::uint32_t nameKey);

// The same for a surface name: its key first, then ResolveSurface.
void* LookupSurface(const char* name);

extern void* DefaultSurface;  // "asphalt_no_leaves", resolved once by the render pass
extern void* CurrentSurface;

}  // namespace BulletCol
