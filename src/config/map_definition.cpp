#include "config/map_definition.h"

#include <windows.h>

#include "config/ini_reader.h"
#include "config/options.h"
#include "startup/log.h"

namespace Config {

std::vector<MapModelEntry> MapModels;
std::vector<std::string> MapCollisions;

namespace {

void ReadMapOptions()
{
    ReadIniBool("SmartCulling", Options.SmartCulling);
    ReadIniBool("AggressiveCulling", Options.AggressiveCulling);
    ReadIniBool("MinimizeGameMemoryUsage_VK", Options.MinimizeGameMemoryUsage_VK);
    ReadIniStringAsFloat("DrawDistance", Options.DrawDistance);
    ReadIniStringAsFloat("LODDistance", Options.LODDistance);
    ReadIniInt("ForceCullMode", Options.ForceCullMode);
    ReadIniIntAsBool("IgnoreVertexColor", Options.IgnoreVertexColor);
    ReadIniIntAsBool("UseShading", Options.UseShading);
    ReadIniStringAsFloat("ShadingMultiplier", Options.ShadingMultiplier);
    ReadIniStringAsFloat("SunPosX", Options.SunPos[0]);
    ReadIniStringAsFloat("SunPosY", Options.SunPos[1]);
    ReadIniStringAsFloat("SunPosZ", Options.SunPos[2]);
    ReadIniStringAsFloat("SunColorR", Options.SunColor[0]);
    ReadIniStringAsFloat("SunColorG", Options.SunColor[1]);
    ReadIniStringAsFloat("SunColorB", Options.SunColor[2]);
    ReadIniStringAsFloat("ShadowColorR", Options.ShadowColor[0]);
    ReadIniStringAsFloat("ShadowColorG", Options.ShadowColor[1]);
    ReadIniStringAsFloat("ShadowColorB", Options.ShadowColor[2]);
}

// The string value of a key, or empty when unset.
std::string ReadOrEmpty(const std::string& key)
{
    const std::string* value = ReadIniString(key.c_str());
    return value ? *value : std::string();
}

void ReadModel(int index, std::string mainPath)
{
    const std::string prefix = "MapModel" + std::to_string(index);
    MapModelEntry entry;
    std::string texturePath = ReadOrEmpty(prefix + "TexturePath");
    entry.LODPath = ReadOrEmpty(prefix + "LODPath");

    std::string line = "Registered model " + mainPath;
    if (!texturePath.empty()) line += " with texture " + texturePath;
    if (!entry.LODPath.empty()) line += " and LOD " + entry.LODPath;
    entry.Parts.push_back({std::move(mainPath), std::move(texturePath)});
    Startup::WriteLog(line);

    for (int member = 0; member < kGroupMemberCount; ++member) {
        const std::string suffix = std::to_string(member);
        std::string memberPath = ReadOrEmpty(prefix + "Path" + suffix);
        if (memberPath.empty()) continue;
        std::string memberTexture = ReadOrEmpty(prefix + "TexturePath" + suffix);
        std::string memberLine = "Registered group model " + memberPath;
        if (!memberTexture.empty()) memberLine += " with texture " + memberTexture;
        entry.Parts.push_back({std::move(memberPath), std::move(memberTexture)});
        Startup::WriteLog(memberLine);
    }
    MapModels.push_back(std::move(entry));
}

}  // namespace

void ReadMapDefinition(const std::string& mapFile)
{
    ConfigPath = MakeGamePath(mapFile);
    if (GetFileAttributesA(ConfigPath.c_str()) == INVALID_FILE_ATTRIBUTES) return;

    ReadMapOptions();
    for (int index = 0; index < kMapIndexCount; ++index) {
        const std::string number = std::to_string(index);
        std::string modelPath = ReadOrEmpty("MapModel" + number + "Path");
        if (!modelPath.empty()) ReadModel(index, std::move(modelPath));

        std::string collisionPath = ReadOrEmpty("MapCollision" + number + "Path");
        if (!collisionPath.empty()) {
            Startup::WriteLog("Registered collision model " + collisionPath);
            MapCollisions.push_back(std::move(collisionPath));
        }
    }
    ReadIniFloat("MapOffsetX", Options.MapOffset[0]);
    ReadIniFloat("MapOffsetY", Options.MapOffset[1]);
    ReadIniFloat("MapOffsetZ", Options.MapOffset[2]);
    for (int axis = 0; axis < 3; ++axis) MapOffsetCopy[axis] = Options.MapOffset[axis];
}

}  // namespace Config
