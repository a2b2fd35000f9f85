#include "config/map_definition.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <optional>

#include "base/log.h"
#include "config/config_keys.h"
#include "config/ini_reader.h"
#include "config/options.h"

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

// The indices worth reading. Reading every index in range gives the same
// result, since an index without keys declares nothing; when the source can
// list its keys, only indices that some key names are visited.
class IndexPlan {
public:
    IndexPlan()
    {
        std::optional<std::vector<std::wstring>> names = ListIniKeys();
        if (!names) {
            for (int index = 0; index < kMapIndexCount; ++index) indices_.push_back(index);
            for (int member = 0; member < kGroupMemberCount; ++member) everyMember_.push_back(member);
            everyIndex_ = true;
            return;
        }
        for (const std::wstring& name : *names) {
            std::optional<MapKey> key = ParseMapKey(name);
            if (!key) continue;
            if (key->kind == MapKey::ModelPath || key->kind == MapKey::CollisionPath) indices_.push_back(key->index);
            if (key->kind == MapKey::MemberPath) members_[key->index].push_back(key->member);
        }
        SortUnique(indices_);
        for (auto& entry : members_) SortUnique(entry.second);
    }

    const std::vector<int>& Indices() const { return indices_; }
    const std::vector<int>& MembersOf(int index) const
    {
        if (everyIndex_) return everyMember_;
        auto found = members_.find(index);
        return found == members_.end() ? none_ : found->second;
    }

private:
    static void SortUnique(std::vector<int>& values)
    {
        std::sort(values.begin(), values.end());
        values.erase(std::unique(values.begin(), values.end()), values.end());
    }

    bool everyIndex_ = false;
    std::vector<int> indices_;
    std::vector<int> everyMember_;
    std::vector<int> none_;
    std::map<int, std::vector<int>> members_;
};

// The string value of a key, or empty when unset.
std::string ReadOrEmpty(const std::string& key)
{
    const std::string* value = ReadIniString(key.c_str());
    return value ? *value : std::string();
}

void ReadModel(int index, std::string mainPath, const std::vector<int>& members)
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

    for (int member : members) {
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
    IndexPlan plan;
    for (int index : plan.Indices()) {
        const std::string number = std::to_string(index);
        std::string modelPath = ReadOrEmpty("MapModel" + number + "Path");
        if (!modelPath.empty()) ReadModel(index, std::move(modelPath), plan.MembersOf(index));

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
