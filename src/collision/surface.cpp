#include "collision/surface.h"

#include "startup/host_interface.h"

namespace BulletCol {

void* DefaultSurface = nullptr;
void* CurrentSurface = nullptr;

void* LookupSurface(const char* name)
{
    std::uint32_t recordKey = HostGame::NameKey(name);
    void* database = HostGame::AttributeDatabase();
    if (!database) return nullptr;
    std::uint32_t classKey = HostGame::NameKey("simsurface");
    if (!HostGame::HasClass(database, classKey)) return nullptr;
    return HostGame::FindRecord(classKey, recordKey);
}

}  // namespace BulletCol
