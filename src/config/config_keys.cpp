#include "config/config_keys.h"

#include <cctype>
#include <string>

#include "config/map_definition.h"

namespace Config {

const char* const kSettingsKeys[] = {
    "UseGameShaders", "CollisionsEnabled", "GenerateBarriers", "ShowCollisions", "DebugDisplay",
    "DontUnloadCulledModels", "DontDrawLODs", "LoadTrack_TrackID", "LoadTrack_CarName",
    "GlobalShadingMultiplier", "MapPath", nullptr,
};

const char* const kMapOptionKeys[] = {
    "SmartCulling", "AggressiveCulling", "MinimizeGameMemoryUsage_VK", "DrawDistance", "LODDistance",
    "ForceCullMode", "IgnoreVertexColor", "UseShading", "ShadingMultiplier", "SunPosX", "SunPosY",
    "SunPosZ", "SunColorR", "SunColorG", "SunColorB", "ShadowColorR", "ShadowColorG", "ShadowColorB",
    "MapOffsetX", "MapOffsetY", "MapOffsetZ", nullptr,
};

namespace {

bool EqualsLower(std::wstring_view lowerName, const char* key)
{
    std::size_t i = 0;
    for (; key[i]; ++i) {
        if (i >= lowerName.size()) return false;
        if (lowerName[i] != static_cast<wchar_t>(std::tolower(static_cast<unsigned char>(key[i])))) return false;
    }
    return i == lowerName.size();
}

bool InList(std::wstring_view lowerName, const char* const* keys)
{
    for (; *keys; ++keys) {
        if (EqualsLower(lowerName, *keys)) return true;
    }
    return false;
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Consumes a plain decimal index below `limit` (no sign, no leading zero).
bool TakeIndex(std::wstring_view& text, int limit)
{
    std::size_t digits = 0;
    long value = 0;
    while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9' && digits < 6) {
        value = value * 10 + (text[digits] - L'0');
        ++digits;
    }
    if (digits == 0 || (digits > 1 && text[0] == L'0') || value >= limit) return false;
    text.remove_prefix(digits);
    return true;
}

}  // namespace

bool IsSystemKey(std::wstring_view name)
{
    if (InList(name, kSettingsKeys) || InList(name, kMapOptionKeys)) return true;

    if (StartsWith(name, L"mapcollision")) {
        name.remove_prefix(12);
        return TakeIndex(name, kMapIndexCount) && name == L"path";
    }
    if (!StartsWith(name, L"mapmodel")) return false;
    name.remove_prefix(8);
    if (!TakeIndex(name, kMapIndexCount)) return false;
    if (name == L"lodpath") return true;
    if (StartsWith(name, L"texturepath")) {
        name.remove_prefix(11);
    } else if (StartsWith(name, L"path")) {
        name.remove_prefix(4);
    } else {
        return false;
    }
    return name.empty() || (TakeIndex(name, kGroupMemberCount) && name.empty());
}

}  // namespace Config
