#include "collision/surface.h"

#include "base/host_view.h"

namespace BulletCol {

void* DefaultSurface = nullptr;
void* CurrentSurface = nullptr;

void* ResolveSurface(std::uint32_t classKey, std::uint32_t nameKey)
{
    void* database = HostGame::AttributeDatabase();
    if (!database) return nullptr;
    if (!HostGame::HasClass(database, classKey)) return nullptr;
    return HostGame::FindRecord(classKey, nameKey);
}

void* LookupSurface(const char* name)
{
    const std::uint32_t nameKey = HostGame::NameKey(name);
    const std::uint32_t classKey = HostGame::NameKey(kSurfaceClassName);
    return ResolveSurface(classKey, nameKey);
}

}  // namespace BulletCol
