// Host surface records: the lookup by name in the host's attribute
// database, and the default and current surfaces handed to the host with
// collision results.
#pragma once

namespace BulletCol {

// The host's "simsurface" record for `name`; null when the database is not
// set up yet, lacks the class, or does not know the name.
void* LookupSurface(const char* name);

extern void* DefaultSurface;  // "asphalt_no_leaves", resolved once by the render pass
extern void* CurrentSurface;

inline constexpr const char* kDefaultSurfaceName = "asphalt_no_leaves";

}  // namespace BulletCol
