#include "collision/surface.h"

#include "base/host_view.h"

namespace BulletCol {

void* DefaultSurface = nullptr;
void* CurrentSurface = nullptr;

void* ResolveSurface(std::uint32_t nameKey)
{
    void* database = HostGame::AttributeDatabase();
    if (!database) return nullptr;
    if (!HostGame::HasClass(database, HostGame::NameKey(kSurfaceClassName))) return nullptr;
    return HostGame::FindRecord(HostGame::NameKey(kSurfaceClassName), nameKey);
}

void* LookupSurface(const char* name) { return ResolveSurface(HostGame::NameKey(name)); }

}  // namespace BulletCol
