// Map loading: one group per declared model, LODs imported at once, member
// slots left empty, a loading-screen frame per part, shading and colour
// settings per group, and the map offset in the group transform; the load
// on the pool against a load of one file after another, and the fatal
// error of a file without normals in both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "asset_writer.h"
#include "base/fpu_precision.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "frame_noting_device.h"
#include "base/log.h"
#include "map/map_loading.h"
#include "memory_models.h"
#include "overlay/overlay.h"
#include "overlay/overlay_queues.h"
#include "real_device_fixture.h"
#include "renderer/fatal_error.h"
#include "renderer/model.h"
#include "renderer/texture.h"
#include "test_files.h"

namespace {

class MapLoadingTest : public RealDeviceTest {
protected:
    void SetUp() override
    {
        RealDeviceTest::SetUp();
        Config::Options = Config::OptionsRecord{};
        Config::MapModels.clear();
        RenderGroups.clear();
        device_ = std::make_unique<FrameNotingDevice>(RealDeviceTest::device_->Device());
        device_->SetRecording(false);
        Host::HostEnvironment::Instance().SetDevice(device_.get());
        const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
        TestSupport::WriteObj(dir_.File("lod.obj"), {TestSupport::MakeBox("lod", center, size)});
    }
    void TearDown() override
    {
        ShutdownOverlay();  // it holds the wrapper device
        TestSupport::ReleaseRenderGroups();
        Config::MapModels.clear();
        Host::HostEnvironment::Instance().SetDevice(RealDeviceTest::device_->Device());
    }

    static Config::MapModelEntry Entry(std::vector<std::string> paths, std::string lod = "")
    {
        Config::MapModelEntry entry;
        for (const std::string& path : paths) entry.Parts.push_back({path, path + ".png"});
        entry.LODPath = std::move(lod);
        return entry;
    }

    TestSupport::TempDirectory dir_;
    std::unique_ptr<FrameNotingDevice> device_;
};

TEST_F(MapLoadingTest, OneGroupPerEntryWithLodsLoadedAndOneFramePerPart)
{
    Config::MapModels = {Entry({"a.obj"}, dir_.File("lod.obj")), Entry({}), Entry({"b0.obj", "b1.obj", "b2.obj"})};
    SetMapTransform();
    LoadMap();

    ASSERT_EQ(RenderGroups.size(), 2u);
    RenderGroup* a = RenderGroups[0];
    RenderGroup* b = RenderGroups[1];
    ASSERT_NE(a->lod, nullptr);
    EXPECT_FALSE(a->lod->loading.load());
    EXPECT_EQ(a->lod->meshes.size(), 1u);
    EXPECT_EQ(a->lod->texturePath, "a.obj.png");  // the first part's texture
    ASSERT_EQ(b->members.size(), 3u);
    EXPECT_EQ(b->lod, nullptr);
    for (GroupMember* member : b->members) {
        EXPECT_EQ(member->model, nullptr);
        EXPECT_EQ(member->textureFilter, 2);
    }
    EXPECT_EQ(b->members[2]->path, "b2.obj");
    EXPECT_EQ(b->members[2]->texturePath, "b2.obj.png");
    EXPECT_TRUE(a->inRange);
    EXPECT_EQ(a->outOfRangeSeconds, 0.0);

    // Four parts in all; the counter shows the entry index (the empty entry
    // advances it too), the detail the LOD path when there is one.
    ASSERT_EQ(device_->frames.size(), 4u);
    auto frame = [&](std::size_t i) { return device_->frames[i]; };
    ASSERT_GE(frame(0).size(), 3u);
    EXPECT_EQ(frame(0)[0], "Loading map...");
    EXPECT_EQ(frame(0)[1], dir_.File("lod.obj"));
    EXPECT_EQ(frame(0)[2], "0/4");
    EXPECT_EQ(frame(1)[1], "b0.obj");
    EXPECT_EQ(frame(1)[2], "2/4");
    EXPECT_EQ(frame(3)[1], "b2.obj");
    EXPECT_EQ(frame(3)[2], "2/4");
}

TEST_F(MapLoadingTest, AnEmptyMapDrawsNoFrame)
{
    LoadMap();
    EXPECT_TRUE(RenderGroups.empty());
    EXPECT_TRUE(device_->frames.empty());
}

TEST_F(MapLoadingTest, GroupSettingsCarryTheOffsetShadingAndColourOverride)
{
    Config::Options.MapOffset[0] = 4;
    Config::Options.MapOffset[1] = 10;
    Config::Options.IgnoreVertexColor = true;
    Config::MapModels = {Entry({"plain.obj"})};
    SetMapTransform();
    EXPECT_EQ(MapTransform.m[1][1], -1.0f);
    EXPECT_EQ(MapTransform.m[3][1], 10.0f);
    LoadMap();
    const DrawSettings& settings = RenderGroups[0]->settings;
    // A model-space point (0, 0, 0) is drawn at (4, -10, 0).
    EXPECT_EQ(settings.Transform.m[3][0], 4.0f);
    EXPECT_EQ(settings.Transform.m[3][1], -10.0f);
    EXPECT_EQ(settings.Transform.m[1][1], 1.0f);
    EXPECT_EQ(settings.Shading.ColorOverride, 0xFFFFFFFFu);
    EXPECT_EQ(settings.Shading.ShadingEnabled, 0);  // UseShading off: defaults
    EXPECT_FLOAT_EQ(settings.Shading.LightDir[1], 1.25f);
    // Objects made from now on start from the last group's settings.
    EXPECT_EQ(CurrentShadingSettings.ColorOverride, 0xFFFFFFFFu);
    EXPECT_EQ(CurrentDrawSettings.Transform.m[3][1], -10.0f);

    Config::Options.UseShading = true;
    Config::Options.IgnoreVertexColor = false;
    Config::MapModels = {Entry({"shaded.obj"})};
    LoadMap();
    const DrawSettings& shaded = RenderGroups[1]->settings;
    EXPECT_EQ(shaded.Shading.ShadingEnabled, 1);
    EXPECT_NEAR(shaded.Shading.LightDir[0], 0.7491095f, 1e-6);
    EXPECT_EQ(shaded.Shading.ColorOverride, 0u);
    CurrentDrawSettings = DrawSettings{};
    CurrentShadingSettings = ShadingSettings{};
}

// A short fingerprint of an array's bytes, with its length.
template <class T>
std::string Bytes(const T* data, std::size_t count)
{
    std::uint64_t hash = 1469598103934665603ull;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < count * sizeof(T); ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    return std::to_string(count) + ":" + std::to_string(hash);
}

std::string Describe(const ShadingSettings& s)
{
    std::ostringstream out;
    out << s.ColorOverride << " " << int(s.ShadingEnabled) << " " << s.ShadingMultiplier << " "
        << Bytes(s.LightDir, 3) << " " << Bytes(s.SunColor, 3) << " " << Bytes(s.ShadowColor, 3);
    return out.str();
}

std::string Describe(const DrawSettings& s)
{
    return Bytes(&s.Transform.m[0][0], 16) + " " + Bytes(s.Scale, 3) + " " + Describe(s.Shading);
}

std::string BufferBytes(IDirect3DResource9* buffer, UINT length)
{
    if (!buffer) return "none";
    void* data = nullptr;
    HRESULT locked = buffer->GetType() == D3DRTYPE_VERTEXBUFFER
                         ? static_cast<IDirect3DVertexBuffer9*>(buffer)->Lock(0, 0, &data, D3DLOCK_READONLY)
                         : static_cast<IDirect3DIndexBuffer9*>(buffer)->Lock(0, 0, &data, D3DLOCK_READONLY);
    if (FAILED(locked) || !data) return "unreadable";
    std::string bytes = Bytes(static_cast<const unsigned char*>(data), length);
    if (buffer->GetType() == D3DRTYPE_VERTEXBUFFER) {
        static_cast<IDirect3DVertexBuffer9*>(buffer)->Unlock();
    } else {
        static_cast<IDirect3DIndexBuffer9*>(buffer)->Unlock();
    }
    return bytes;
}

// Everything a load leaves behind: the groups with their members, settings
// and LODs (by place in the cache, so that sharing shows), each model with
// its meshes' arrays, shading, bounds, buffers and texture, the two caches
// with their counts, and the settings left current.
std::string DescribeMap()
{
    using namespace TarnRenderer;
    std::ostringstream out;
    auto cacheIndex = [](const CModel* model) {
        for (std::size_t i = 0; i < ModelCache.size(); ++i) {
            if (ModelCache[i] == model) return long(i);
        }
        return -1L;
    };
    for (const RenderGroup* group : RenderGroups) {
        out << "group lod=" << (group->lod ? cacheIndex(group->lod) : -2L) << " " << group->inRange << " "
            << group->outOfRangeSeconds << " " << Describe(group->settings) << "\n";
        for (const GroupMember* member : group->members) {
            out << "  member " << member->path << " " << member->texturePath << " " << member->textureFilter << " "
                << member->model << "\n";
        }
    }
    for (const CModel* model : ModelCache) {
        out << "model " << model->path << " tex=" << model->texturePath << " dir=" << model->directory
            << " refs=" << model->refCount << " loading=" << model->loading.load() << " idle=" << model->idle.load()
            << " pending=" << model->releasePending << " filter=" << model->textureFilter
            << " raw=" << model->rawGeometry << " skip=" << model->skipRenderData << " scale=" << model->scale
            << " " << Bytes(model->center, 3) << " " << model->radius << " " << Bytes(model->boundsMin, 3) << " "
            << Bytes(model->boundsMax, 3) << " draw=" << Describe(model->drawSettings) << "\n";
        for (const CMesh* mesh : model->meshes) {
            out << "  mesh " << mesh->textureFile << " " << mesh->modelPath << " " << mesh->vertexCount << " "
                << mesh->indexCount << " " << mesh->faceCount << " " << Bytes(mesh->positions.data(), mesh->positions.size())
                << " " << Bytes(mesh->indices.data(), mesh->indices.size()) << " "
                << Bytes(mesh->normals.data(), mesh->normals.size()) << " "
                << Bytes(mesh->texCoords.data(), mesh->texCoords.size()) << " "
                << Bytes(mesh->colors.data(), mesh->colors.size()) << " " << Bytes(mesh->center, 3) << " "
                << mesh->radius << " " << Bytes(mesh->boundsMin, 3) << " " << Bytes(mesh->boundsMax, 3)
                << " shading=" << Describe(mesh->shading) << " visible=" << mesh->visible;
            if (mesh->buffers) {
                out << " buffers " << mesh->buffers->vertexCount << " " << mesh->buffers->faceCount << " v="
                    << BufferBytes(mesh->buffers->vertexBuffer, mesh->buffers->vertexCount * sizeof(MapVertex))
                    << " i=" << BufferBytes(mesh->buffers->indexBuffer, mesh->indexCount * 4);
            }
            out << " texture=" << (mesh->texture ? mesh->texture->path : "none") << "\n";
        }
    }
    for (const CTexture* texture : TextureCache) {
        out << "texture " << texture->path << " refs=" << texture->refCount;
        IDirect3DTexture9* made = texture->resource ? texture->resource->texture : nullptr;
        D3DSURFACE_DESC desc{};
        if (made && SUCCEEDED(made->GetLevelDesc(0, &desc))) {
            out << " " << desc.Width << "x" << desc.Height << " format " << desc.Format << " levels "
                << made->GetLevelCount();
        }
        out << "\n";
    }
    out << "current " << Describe(CurrentDrawSettings) << " / " << Describe(CurrentShadingSettings) << "\n";
    return out.str();
}

class MapLoadingComparison : public MapLoadingTest {
protected:
    // Loads the declared map from distinctive current settings and returns
    // what it left, the frames drawn and the log lines written; then gives
    // everything back, so that the next load starts from the same caches.
    std::string LoadAndDescribe(const MapLoadOptions& options)
    {
        CurrentDrawSettings = DrawSettings{};
        CurrentDrawSettings.Shading.ColorOverride = 0x80402010;
        CurrentShadingSettings = ShadingSettings{};
        CurrentShadingSettings.ShadingMultiplier = 0.7f;
        device_->frames.clear();
        const std::size_t logBefore = TestSupport::ReadFile(Startup::kLogFileName).size();
        SetMapTransform();
        LoadMap(options);
        std::string description = DescribeMap();
        for (const auto& frame : device_->frames) {
            description += "frame";
            for (const std::string& text : frame) description += " | " + text;
            description += "\n";
        }
        description += "log: " + TestSupport::ReadFile(Startup::kLogFileName).substr(logBefore);
        TestSupport::ReleaseRenderGroups();
        EXPECT_TRUE(TarnRenderer::ModelCache.empty());
        EXPECT_TRUE(TarnRenderer::TextureCache.empty());
        CurrentDrawSettings = DrawSettings{};
        CurrentShadingSettings = ShadingSettings{};
        return description;
    }

    Config::MapModelEntry Lod(const std::string& part, const std::string& lod, const std::string& texture = "")
    {
        Config::MapModelEntry entry;
        entry.Parts.push_back({part, texture});
        entry.LODPath = lod.empty() ? lod : dir_.File(lod);
        return entry;
    }

    void WriteBoxes(const std::string& name, int boxes, const std::string& firstTexture,
                    const std::string& otherTexture)
    {
        std::vector<TestSupport::MeshPart> parts;
        for (int i = 0; i < boxes; ++i) {
            const float center[3] = {float(3 * i), float(i), 1.0f}, size[3] = {1.0f + i, 2.0f, 0.5f};
            parts.push_back(TestSupport::MakeBox(name + std::to_string(i), center, size,
                                                 i == 0 ? firstTexture : otherTexture, 0.2f * i, 0.5f, 0.9f));
        }
        TestSupport::WriteObj(dir_.File(name + ".obj"), parts);
    }
};

TEST_F(MapLoadingComparison, TheLoadOnThePoolLeavesTheMapOfALoadOfOneFileAfterAnother)
{
    Config::Options.UseShading = true;
    Config::Options.MapOffset[1] = 10;
    TestSupport::WritePng(dir_.File("wall.png"), 16, 16, 200, 100, 50, true);
    TestSupport::WritePng(dir_.File("roof.png"), 32, 32, 20, 100, 150);
    WriteBoxes("shared", 1, "wall.png", "");
    WriteBoxes("two_textures", 3, "wall.png", "roof.png");
    TestSupport::WriteFile(dir_.File("broken.obj"), "v 0 0 0\nf 1 2 3 4 5\nthis is no model\n");
    TestSupport::WriteFile(dir_.File("garbage.3ds"), "this was never a model file\n");
    for (int i = 0; i < 8; ++i) WriteBoxes("many" + std::to_string(i), 1 + i % 3, i % 2 ? "roof.png" : "wall.png", "");

    Config::MapModels = {Lod("a.obj", "shared.obj"),
                         Lod("b0.obj", "two_textures.obj", "b0.png"),
                         Config::MapModelEntry{},
                         Lod("c.obj", "shared.obj", dir_.File("roof.png")),  // shared: the first texture path wins
                         Lod("d.obj", "missing.obj"),
                         Lod("e.obj", "broken.obj"),
                         Lod("f.obj", ""),
                         Lod("g.obj", "garbage.3ds")};
    Config::MapModels[1].Parts.push_back({"b1.obj", "b1.png"});
    for (int i = 0; i < 8; ++i) Config::MapModels.push_back(Lod("m.obj", "many" + std::to_string(i) + ".obj"));
    Config::MapModels.push_back(Lod("h.obj", "two_textures.obj"));

    // One file after another on this thread with the x87 precision at 24
    // bits, as Direct3D 9 leaves the game's thread; the pool's threads keep
    // the process's 53.
    const std::uint16_t gameWord = Fpu::ControlWord();
    Fpu::SetControlWord(static_cast<std::uint16_t>((gameWord & ~Fpu::kPrecisionMask) | Fpu::kPrecision24));
    const std::string sequential = LoadAndDescribe({true});
    EXPECT_EQ(Fpu::ControlWord() & Fpu::kPrecisionMask, Fpu::kPrecision24) << "the load did not give the word back";
    Fpu::SetControlWord(gameWord);
    ASSERT_NE(sequential.find("model " + dir_.File("shared.obj")), std::string::npos);
    ASSERT_NE(sequential.find("refs=2"), std::string::npos);  // the shared files
    ASSERT_NE(sequential.find("format"), std::string::npos);  // textures made
    ASSERT_NE(sequential.find(" v=1"), std::string::npos) << "the vertex buffers could not be read back";
    for (const MapLoadOptions options : {MapLoadOptions{false, 1, 1}, MapLoadOptions{false, 2, 2},
                                         MapLoadOptions{false, 3, 0}}) {
        EXPECT_EQ(LoadAndDescribe(options), sequential) << options.workers << " workers";
    }
}

// Notes at each loading-screen frame how many LOD files the cache holds: on
// a map whose entries each name a file of their own, that less the entries
// already walked is the imports started and not yet taken.
class CacheNotingDevice : public FrameNotingDevice {
public:
    using FrameNotingDevice::FrameNotingDevice;
    std::vector<std::size_t> cached;
    HRESULT STDMETHODCALLTYPE Present(const RECT* a, const RECT* b, HWND c, const RGNDATA* d) override
    {
        {
            std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
            cached.push_back(TarnRenderer::ModelCache.size());
        }
        return FrameNotingDevice::Present(a, b, c, d);
    }
};

// A long map of a large author's kind, every entry with a LOD of its own:
// the read-ahead fills up to its bound (what it may hold in memory) and
// never beyond it, with the bound given and with the default of two per
// worker.
TEST_F(MapLoadingComparison, TheReadAheadReachesItsBoundAndNeverGoesBeyondIt)
{
    constexpr int kEntries = 16;
    for (int i = 0; i < kEntries; ++i) {
        WriteBoxes("far" + std::to_string(i), 1, "", "");
        Config::MapModels.push_back(Lod("m.obj", "far" + std::to_string(i) + ".obj"));
    }
    ASSERT_TRUE(TarnRenderer::ModelCache.empty());
    CacheNotingDevice noting(RealDeviceTest::device_->Device());
    noting.SetRecording(false);
    Host::HostEnvironment::Instance().SetDevice(&noting);
    for (const auto& [options, bound] : {std::make_pair(MapLoadOptions{false, 2, 3}, std::size_t(3)),
                                         std::make_pair(MapLoadOptions{false, 2, 0}, std::size_t(4))}) {
        SCOPED_TRACE(bound);
        noting.cached.clear();
        SetMapTransform();
        const MapLoadFigures figures = LoadMap(options);
        EXPECT_EQ(figures.lodFiles, std::size_t(kEntries));
        EXPECT_EQ(figures.peakInFlight, bound);
        ASSERT_EQ(noting.cached.size(), std::size_t(kEntries));
        // At the bound at some entry, and at no entry beyond it.
        std::size_t most = 0, at = 0;
        for (std::size_t walked = 0; walked < noting.cached.size(); ++walked) {
            ASSERT_GE(noting.cached[walked], walked);
            if (noting.cached[walked] - walked > most) most = noting.cached[walked] - walked, at = walked;
        }
        EXPECT_EQ(most, bound) << "ahead of entry " << at;
        TestSupport::ReleaseRenderGroups();
    }
    ShutdownOverlay();  // it holds this test's device
    Host::HostEnvironment::Instance().SetDevice(device_.get());
}

unsigned ImportsUnfinished()
{
    return TarnRenderer::Statistics.importsStarted.load() - TarnRenderer::Statistics.importsFinished.load();
}

std::vector<std::string> ObservedFatal;
unsigned ImportsUnfinishedAtTheMessage = 0;
void ObserveFatal(const std::string& message)
{
    ObservedFatal.push_back(message);
    ImportsUnfinishedAtTheMessage = ImportsUnfinished();
}

TEST_F(MapLoadingComparison, AFileWithoutNormalsEndsTheLoadAtItsTurnWithNothingLeftRunning)
{
    // The first such file in the walk's order is small, a later one large,
    // so that the later one's import is done long before the walk gets there.
    const std::string wire = "o body\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\no wire\nl 1 2\n";
    TestSupport::WriteFile(dir_.File("late_wire.obj"), wire);
    std::vector<TestSupport::MeshPart> big;
    const float center[3] = {0, 0, 0};
    for (int i = 0; i < 200; ++i) {
        const float size[3] = {1.0f + i, 1, 1};
        big.push_back(TestSupport::MakeBox("b" + std::to_string(i), center, size));
    }
    TestSupport::WriteObj(dir_.File("slow.obj"), big);
    std::string early = TestSupport::ReadFile(dir_.File("slow.obj"));
    TestSupport::WriteFile(dir_.File("early_wire.obj"), early + "o wire\nl 1 2\n");
    WriteBoxes("good", 1, "", "");
    Config::MapModels = {Lod("a.obj", "good.obj"), Lod("b.obj", "slow.obj"), Lod("c.obj", "early_wire.obj"),
                         Lod("d.obj", "good.obj"), Lod("e.obj", "late_wire.obj"), Lod("f.obj", "good.obj")};

    auto previous = TarnRenderer::SetFatalErrorHandler(&ObserveFatal);
    std::vector<std::vector<std::vector<std::string>>> frames;
    for (const MapLoadOptions options : {MapLoadOptions{true}, MapLoadOptions{false, 2, 4}}) {
        ObservedFatal.clear();
        device_->frames.clear();
        const unsigned unfinishedBefore = ImportsUnfinished();  // a failed import on this thread never finishes
        SetMapTransform();
        EXPECT_THROW(LoadMap(options), TarnRenderer::FatalRendererError);
        ASSERT_EQ(ObservedFatal.size(), 1u);
        EXPECT_EQ(ObservedFatal[0], "Mesh with texture NULL in file " + dir_.File("early_wire.obj") +
                                        " has no normals!!");
        if (!options.sequential) {
            // The failing import had ended, and every other one started
            // (those ahead of the walk included) had ended too.
            EXPECT_EQ(ImportsUnfinishedAtTheMessage, unfinishedBefore);
        }
        frames.push_back(device_->frames);
        // What the unwinding left: the groups before the failing one.
        EXPECT_EQ(RenderGroups.size(), 2u);
        TestSupport::ReleaseRenderGroups();
        std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
        for (TarnRenderer::CModel* model : TarnRenderer::ModelCache) {
            EXPECT_FALSE(model->loading.load()) << model->path;
        }
    }
    TarnRenderer::SetFatalErrorHandler(previous);
    // The same frames up to the failing entry's.
    ASSERT_EQ(frames[0].size(), 3u);
    EXPECT_EQ(frames[1], frames[0]);
}

}  // namespace
