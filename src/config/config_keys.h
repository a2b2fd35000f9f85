// The names of every key the system reads from its two INI files, so that
// the parsed-once reader keeps only those and a huge file of other keys
// costs no memory.
#pragma once

#include <string_view>

namespace Config {

// Option keys of the settings file and of the map definition, in reading order.
extern const char* const kSettingsKeys[];
extern const char* const kMapOptionKeys[];

// True for a key name (lower case) that the settings or map reading asks for:
// an option key, MapPath, the map offsets, or a model, member, texture, LOD
// or collision key with indices in their ranges written in plain decimal.
bool IsSystemKey(std::wstring_view lowerName);

}  // namespace Config
