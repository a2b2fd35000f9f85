#include <windows.h>

#include <cctype>

#include "base/version.h"
#include "config/config_keys.h"
#include "config_fixture.h"

namespace {

using Config::MapCollisions;
using Config::MapModels;
using Config::Options;

class MapDefinitionTest : public ConfigTest {
protected:
    // Reads `map` as the map definition and returns the log lines after the
    // settings' own four.
    std::vector<std::string> LoadMap(const std::string& map)
    {
        WriteSettings("[Options]\nMapPath=map.ini\n");
        WriteGameFile("map.ini", "[Options]\n" + map);
        Config::LoadSettings();
        std::vector<std::string> lines = LogLines();
        EXPECT_GE(lines.size(), 4u);
        return std::vector<std::string>(lines.begin() + 4, lines.end());
    }
};

TEST_F(MapDefinitionTest, ModelsKeepIndexOrderAcrossGaps)
{
    auto log = LoadMap("MapModel5Path=five.obj\nMapModel0Path=zero.obj\n");
    ASSERT_EQ(MapModels.size(), 2u);
    EXPECT_EQ(MapModels[0].Parts[0].Path, "zero.obj");
    EXPECT_EQ(MapModels[1].Parts[0].Path, "five.obj");
    EXPECT_EQ(log, (std::vector<std::string>{"Registered model zero.obj", "Registered model five.obj"}));
}

TEST_F(MapDefinitionTest, IndexRangesEndAt8191And255)
{
    LoadMap("MapModel8191Path=last.obj\nMapModel8192Path=over.obj\nMapCollision8191Path=c.obj\n"
            "MapCollision8192Path=over.obj\nMapModel1Path=one.obj\nMapModel1Path255=m255.obj\n"
            "MapModel1Path256=m256.obj\n");
    ASSERT_EQ(MapModels.size(), 2u);
    EXPECT_EQ(MapModels[1].Parts[0].Path, "last.obj");
    ASSERT_EQ(MapModels[0].Parts.size(), 2u);
    EXPECT_EQ(MapModels[0].Parts[1].Path, "m255.obj");
    EXPECT_EQ(MapCollisions, std::vector<std::string>{"c.obj"});
}

TEST_F(MapDefinitionTest, GroupMembersBelongToADeclaredModelOnly)
{
    auto log = LoadMap("MapModel2Path=main.obj\nMapModel2TexturePath=main.png\nMapModel2Path7=m7.obj\n"
                       "MapModel2Path0=m0.obj\nMapModel2TexturePath7=m7.dds\nMapModel3Path0=orphan.obj\n");
    ASSERT_EQ(MapModels.size(), 1u);
    const auto& parts = MapModels[0].Parts;
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].Path, "main.obj");
    EXPECT_EQ(parts[0].TexturePath, "main.png");
    EXPECT_EQ(parts[1].Path, "m0.obj");
    EXPECT_EQ(parts[1].TexturePath, "");
    EXPECT_EQ(parts[2].Path, "m7.obj");
    EXPECT_EQ(parts[2].TexturePath, "m7.dds");
    EXPECT_EQ(log, (std::vector<std::string>{"Registered model main.obj with texture main.png",
                                             "Registered group model m0.obj",
                                             "Registered group model m7.obj with texture m7.dds"}));
}

TEST_F(MapDefinitionTest, AnEmptyMemberKeySkipsOnlyThatMember)
{
    // Both readers: the cached one visits only the members whose keys the file
    // names, so there the empty key is the first member it reads.
    for (bool platform : {false, true}) {
        SCOPED_TRACE(platform ? "platform reader" : "cached reader");
        SetUp();
        std::unique_ptr<Config::IniSource> previous;
        if (platform) previous = Config::SetActiveIniSource(Config::MakePlatformIniSource());
        auto log = LoadMap("MapModel2Path=main.obj\nMapModel2Path3=\nMapModel2TexturePath3=t3.png\n"
                           "MapModel2Path7=m7.obj\nMapModel2TexturePath7=t7.png\n");
        if (platform) Config::SetActiveIniSource(std::move(previous));
        ASSERT_EQ(MapModels.size(), 1u);
        const auto& parts = MapModels[0].Parts;
        ASSERT_EQ(parts.size(), 2u);
        EXPECT_EQ(parts[1].Path, "m7.obj");
        EXPECT_EQ(parts[1].TexturePath, "t7.png");
        EXPECT_EQ(log, (std::vector<std::string>{"Registered model main.obj",
                                                 "Registered group model m7.obj with texture t7.png"}));
    }
}

TEST_F(MapDefinitionTest, LogLinesNameTextureAndLodOnlyWhenSet)
{
    auto log = LoadMap("MapModel0Path=plain.obj\nMapModel1Path=lod.obj\nMapModel1LODPath=lod_far.obj\n"
                       "MapModel2Path=both.obj\nMapModel2TexturePath=t.png\nMapModel2LODPath=b_far.obj\n"
                       "MapModel3Path=emptytex.obj\nMapModel3TexturePath=\n");
    EXPECT_EQ(log, (std::vector<std::string>{"Registered model plain.obj", "Registered model lod.obj and LOD lod_far.obj",
                                             "Registered model both.obj with texture t.png and LOD b_far.obj",
                                             "Registered model emptytex.obj"}));
    EXPECT_EQ(MapModels[1].LODPath, "lod_far.obj");
    EXPECT_EQ(MapModels[0].LODPath, "");
}

TEST_F(MapDefinitionTest, CollisionModelsInterleaveByIndexAndStandAlone)
{
    auto log = LoadMap("MapCollision3Path=c3.obj\nMapModel1Path=m1.obj\nMapCollision1Path=c1.obj\n"
                       "MapModel1Path4=g4.obj\nMapCollision0Path=c0.obj\nMapModel5Path=\n");
    EXPECT_EQ(log, (std::vector<std::string>{"Registered collision model c0.obj", "Registered model m1.obj",
                                             "Registered group model g4.obj", "Registered collision model c1.obj",
                                             "Registered collision model c3.obj"}));
    EXPECT_EQ(MapCollisions, (std::vector<std::string>{"c0.obj", "c1.obj", "c3.obj"}));
    EXPECT_EQ(MapModels.size(), 1u);  // an empty value declares nothing
}

TEST_F(MapDefinitionTest, MissingMapFileDeclaresNothing)
{
    WriteSettings("[Options]\nMapPath=nowhere.ini\n");
    Options.MapOffset[0] = 3.0f;
    Config::LoadSettings();
    EXPECT_TRUE(MapModels.empty());
    EXPECT_TRUE(MapCollisions.empty());
    EXPECT_EQ(Config::MapOffsetCopy[0], 0.0f);
    EXPECT_EQ(LogLines().back(), "Loading map from nowhere.ini");
}

TEST_F(MapDefinitionTest, MapOptionsAndOffsetAreRead)
{
    LoadMap("SmartCulling=0\nAggressiveCulling=1\nMinimizeGameMemoryUsage_VK=1\nDrawDistance=750.5\n"
            "LODDistance=250\nForceCullMode=3\nIgnoreVertexColor=2\nUseShading=1\nShadingMultiplier=0.3\n"
            "SunPosX=1\nSunPosY=2\nSunPosZ=3\nSunColorR=10\nSunColorG=20\nSunColorB=30\n"
            "ShadowColorR=1.5\nShadowColorG=2.5\nShadowColorB=3.5\nMapOffsetX=100\nMapOffsetY=-20.25\n"
            "MapOffsetZ=\"7\"\n");
    EXPECT_FALSE(Options.SmartCulling);
    EXPECT_TRUE(Options.AggressiveCulling);
    EXPECT_TRUE(Options.MinimizeGameMemoryUsage_VK);
    EXPECT_EQ(Options.DrawDistance, 750.5f);
    EXPECT_EQ(Options.LODDistance, 250.0f);
    EXPECT_EQ(Options.ForceCullMode, 3);
    EXPECT_TRUE(Options.IgnoreVertexColor);
    EXPECT_TRUE(Options.UseShading);
    EXPECT_FLOAT_EQ(Options.ShadingMultiplier, 0.3f);
    EXPECT_EQ(Options.SunPos[2], 3.0f);
    EXPECT_EQ(Options.SunColor[1], 20.0f);
    EXPECT_EQ(Options.ShadowColor[0], 1.5f);
    const float offset[3] = {100.0f, -20.25f, 7.0f};
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(Options.MapOffset[axis], offset[axis]);
        EXPECT_EQ(Config::MapOffsetCopy[axis], offset[axis]);
    }
}

// Forwards to another source and remembers every key asked for.
class RecordingSource : public Config::IniSource {
public:
    explicit RecordingSource(std::unique_ptr<Config::IniSource> inner) : inner_(std::move(inner)) {}
    std::string Read(const std::string& path, const char* section, const char* key) override
    {
        keys.push_back(key);
        return inner_->Read(path, section, key);
    }
    std::vector<std::string> keys;

private:
    std::unique_ptr<Config::IniSource> inner_;
};

struct LoadResult {
    std::vector<std::string> log;
    std::vector<Config::MapModelEntry> models;
    std::vector<std::string> collisions;
    Config::OptionsRecord options;
};

const char* kFullSettings = "[Options]\nUseGameShaders=0\nDebugDisplay=1\nMapPath=map.ini\n";

std::string FullMap()
{
    std::string map = "[Options]\nDrawDistance=800\nUseShading=1\nSunColorG=\"128\"\nMapOffsetZ=-5\n";
    for (int i = 0; i < 8192; i += 97) {
        std::string n = std::to_string(i);
        map += "MapModel" + n + "Path=models\\m" + n + ".obj\n";
        if (i % 2) map += "MapModel" + n + "TexturePath=t" + n + ".png\n";
        if (i % 3) map += "MapModel" + n + "LODPath=lod" + n + ".obj\n";
        for (int j = i % 5; j < 256; j += 61) {
            map += "mapmodel" + n + "path" + std::to_string(j) + " = member " + std::to_string(j) + "\n";
            map += "MAPMODEL" + n + "TEXTUREPATH" + std::to_string(j) + "='mt.bmp'\n";
        }
        if (i % 4 == 0) map += "MapCollision" + std::to_string(i + 1) + "Path=col" + n + ".obj\n";
    }
    return map;
}

TEST_F(MapDefinitionTest, CachedReaderGivesTheSameResultAsThePlatformReaderAndAsksOnlyFilteredKeys)
{
    auto run = [&](std::unique_ptr<Config::IniSource> source, std::vector<std::string>* keys) {
        SetUp();
        WriteSettings(kFullSettings);
        WriteGameFile("map.ini", FullMap());
        auto recorder = std::make_unique<RecordingSource>(std::move(source));
        RecordingSource* recording = recorder.get();
        auto previous = Config::SetActiveIniSource(std::move(recorder));
        Config::LoadSettings();
        if (keys) *keys = recording->keys;
        Config::SetActiveIniSource(std::move(previous));
        return LoadResult{LogLines(), MapModels, MapCollisions, Options};
    };
    std::vector<std::string> keys;
    LoadResult cached = run(Config::MakeCachedIniSource(), &keys);
    LoadResult platform = run(Config::MakePlatformIniSource(), nullptr);

    EXPECT_GT(cached.models.size(), 80u);
    EXPECT_EQ(cached.log, platform.log);
    ASSERT_EQ(cached.models.size(), platform.models.size());
    for (std::size_t i = 0; i < cached.models.size(); ++i) {
        EXPECT_EQ(cached.models[i].LODPath, platform.models[i].LODPath);
        ASSERT_EQ(cached.models[i].Parts.size(), platform.models[i].Parts.size());
        for (std::size_t p = 0; p < cached.models[i].Parts.size(); ++p) {
            EXPECT_EQ(cached.models[i].Parts[p].Path, platform.models[i].Parts[p].Path);
            EXPECT_EQ(cached.models[i].Parts[p].TexturePath, platform.models[i].Parts[p].TexturePath);
        }
    }
    EXPECT_EQ(cached.collisions, platform.collisions);
    EXPECT_EQ(cached.options.DrawDistance, 800.0f);
    EXPECT_EQ(cached.options.SunColor[1], platform.options.SunColor[1]);
    EXPECT_EQ(cached.options.MapOffset[2], platform.options.MapOffset[2]);
    EXPECT_EQ(cached.options.DebugDisplay, platform.options.DebugDisplay);

    // The cache stores only keys its filter accepts: every key the loading
    // asks for must pass it.
    ASSERT_GT(keys.size(), 16384u);
    for (const std::string& key : keys) {
        std::wstring lower;
        for (char c : key) lower += static_cast<wchar_t>(std::tolower(static_cast<unsigned char>(c)));
        ASSERT_TRUE(Config::IsSystemKey(lower)) << key;
    }
}

}  // namespace
