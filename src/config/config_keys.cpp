#include "config/config_keys.h"

#include <cctype>
#include <string>

#include "config/map_definition.h"

namespace Config {

const char* const kSettingsKeys[] = {
    "UseGameShaders", "CollisionsEnabled", "GenerateBarriers", "ShowCollisions", "DebugDisplay",
    "DontUnloadCulledModels", "DontDrawLODs", "LoadTrack_TrackID", "LoadTrack_CarName",
    "GlobalShadingMultiplier", "StreamingBudgetMs", "LiveReload", "MapPath", nullptr,
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
        char c = key[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (lowerName[i] != static_cast<wchar_t>(c)) return false;
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
bool TakeIndex(std::wstring_view& text, int limit, int& index)
{
    std::size_t digits = 0;
    long value = 0;
    while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9' && digits < 6) {
        value = value * 10 + (text[digits] - L'0');
        ++digits;
    }
    if (digits == 0 || (digits > 1 && text[0] == L'0') || value >= limit) return false;
    text.remove_prefix(digits);
    index = static_cast<int>(value);
    return true;
}

}  // namespace

std::optional<MapKey> ParseMapKey(std::wstring_view name)
{
    MapKey key{};
    if (StartsWith(name, L"mapcollision")) {
        name.remove_prefix(12);
        key.kind = MapKey::CollisionPath;
        if (TakeIndex(name, kMapIndexCount, key.index) && name == L"path") return key;
        return std::nullopt;
    }
    if (!StartsWith(name, L"mapmodel")) return std::nullopt;
    name.remove_prefix(8);
    if (!TakeIndex(name, kMapIndexCount, key.index)) return std::nullopt;
    if (name == L"lodpath") {
        key.kind = MapKey::LodPath;
        return key;
    }
    bool texture = StartsWith(name, L"texturepath");
    if (texture) {
        name.remove_prefix(11);
    } else if (StartsWith(name, L"path")) {
        name.remove_prefix(4);
    } else {
        return std::nullopt;
    }
    if (name.empty()) {
        key.kind = texture ? MapKey::TexturePath : MapKey::ModelPath;
        return key;
    }
    key.kind = texture ? MapKey::MemberTexturePath : MapKey::MemberPath;
    if (TakeIndex(name, kGroupMemberCount, key.member) && name.empty()) return key;
    return std::nullopt;
}

bool IsSystemKey(std::wstring_view name)
{
    return ParseMapKey(name).has_value() || InList(name, kSettingsKeys) || InList(name, kMapOptionKeys);
}

}  // namespace Config
