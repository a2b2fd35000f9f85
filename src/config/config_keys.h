// The names of every key the system reads from its two INI files, so that
// the parsed-once reader keeps only those and a huge file of other keys
// costs no memory.
#pragma once

#include <optional>
#include <string_view>

namespace Config {

// Option keys of the settings file and of the map definition, in reading order.
extern const char* const kSettingsKeys[];
extern const char* const kMapOptionKeys[];

// A model, member, texture, LOD or collision key of the map definition.
struct MapKey {
    enum Kind { ModelPath, TexturePath, LodPath, MemberPath, MemberTexturePath, CollisionPath } kind;
    int index;   // model or collision index, 0..8191
    int member;  // group member index, 0..255 (member keys only)
};

// Parses a lower-case key name written the way the map reading asks for it
// (plain decimal indices in range); nothing for any other name.
std::optional<MapKey> ParseMapKey(std::wstring_view lowerName);

// True for a key name (lower case) that the settings or map reading asks for:
// an option key, MapPath, the map offsets, or a model, member, texture, LOD
// or collision key with indices in their ranges written in plain decimal.
bool IsSystemKey(std::wstring_view lowerName);

}  // namespace Config
