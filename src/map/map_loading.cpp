#include "map/map_loading.h"

#include <algorithm>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

#include "base/thread_cap.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "map/group_table.h"
#include "overlay/loading_screen.h"
#include "renderer/import_ahead.h"
#include "renderer/model.h"
#include "renderer/shading.h"

using TarnRenderer::CModel;

void SetMapTransform()
{
    // Only the first three elements of each row: the fourth column keeps
    // what it held (zero).
    const float rows[4][3] = {{1, 0, 0},
                              {0, -1, 0},
                              {0, 0, 1},
                              {Config::Options.MapOffset[0], Config::Options.MapOffset[1], Config::Options.MapOffset[2]}};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 3; ++column) MapTransform.m[row][column] = rows[row][column];
    }
}

namespace {

TarnRenderer::ModelLoadParams LodParams(const std::string& lodPath, const std::string& texturePath)
{
    TarnRenderer::ModelLoadParams params;
    params.path = lodPath;
    params.texturePath = texturePath;
    return params;
}

// The options' part of a group's settings: shading and colour override.
void ApplyGroupOptions(DrawSettings& settings)
{
    const auto& options = Config::Options;
    if (options.UseShading) {
        const float direction[3] = {1 - options.SunPos[0], 1 + options.SunPos[1], 1 - options.SunPos[2]};
        float sun[3], shadow[3];
        for (int k = 0; k < 3; ++k) {
            sun[k] = options.SunColor[k] * options.GlobalShadingMultiplier;
            shadow[k] = options.ShadowColor[k] * options.GlobalShadingMultiplier;
        }
        SetupGroupShading(settings, direction, 1.0f, 1.0f, options.ShadingMultiplier, sun, shadow);
    }
    if (options.IgnoreVertexColor) settings.Shading.ColorOverride = 0xFFFFFFFF;
}

// The LOD files imported ahead of the walk. A file's turn is the entry
// that names it first; its import starts from the settings that entry's
// import would have found.
class LodPrefetch {
public:
    LodPrefetch(std::size_t workers, std::size_t limit, std::size_t byteLimit) : ahead_(workers, limit, byteLimit) {}

    // A file not seen yet gets the next turn: true. False for a file seen.
    bool Add(const std::string& path, const std::string& texturePath, const DrawSettings& draw,
             const ShadingSettings& shading)
    {
        if (!seen_.insert(path).second) return false;
        TarnRenderer::ModelLoadParams params = LodParams(path, texturePath);
        params.drawSettings = draw;
        params.meshShading = shading;
        ahead_.Add(std::move(params));
        return true;
    }
    void Fill() { ahead_.Fill(); }
    CModel* Take() { return ahead_.Take(); }
    void Taken() { ahead_.Taken(); }
    std::size_t Files() const { return ahead_.Turns(); }
    std::size_t Peak() const { return ahead_.Peak(); }
    std::size_t PeakBytes() const { return ahead_.PeakBytes(); }

private:
    TarnRenderer::ImportAhead ahead_;
    std::unordered_set<std::string> seen_;
};

// A new group's settings before the options' part: the defaults with the
// group's transform and scale.
DrawSettings NewGroupSettings(const TarnMath::CMatrix& transform, const float scale[3])
{
    DrawSettings settings = RenderGroup{}.settings;
    settings.Transform = transform;
    for (int axis = 0; axis < 3; ++axis) settings.Scale[axis] = scale[axis];
    return settings;
}

void AddMember(RenderGroup& group, const std::string& path, const std::string& texturePath)
{
    auto member = std::make_unique<GroupMember>(GroupMember{nullptr, path, texturePath, 2});
    group.members.push_back(member.get());
    member.release();
}

// A group no list holds, with its members and their models.
void ReleaseGroup(RenderGroup* group)
{
    for (GroupMember* member : group->members) {
        if (member->model) TarnRenderer::ReleaseReference(member->model);
        delete member;
    }
    if (group->lod) TarnRenderer::ReleaseReference(group->lod);
    delete group;
}

RenderGroup* NewGroup(const std::string& path, const std::string& texturePath, const TarnMath::CMatrix& transform,
                      const float scale[3])
{
    auto group = std::make_unique<RenderGroup>();
    AddMember(*group, path, texturePath);
    group->settings = NewGroupSettings(transform, scale);
    return group.release();
}

void AppendGroup(RenderGroup* group)
{
    RenderGroups.push_back(group);
    InvalidateGroupTable();
}

MapLoadFigures LoadGroups(const MapLoadOptions& options);

}  // namespace

RenderGroup* CreateRenderGroup(const std::string& path, const std::string& texturePath,
                               const TarnMath::CMatrix& transform, const float scale[3], const std::string& lodPath)
{
    RenderGroup* group = NewGroup(path, texturePath, transform, scale);
    try {
        if (!lodPath.empty()) group->lod = TarnRenderer::AcquireModel(LodParams(lodPath, texturePath));
        AppendGroup(group);
    } catch (...) {
        ReleaseGroup(group);
        throw;
    }
    return group;
}

void ReleaseMap()
{
    while (!RenderGroups.empty()) {
        ReleaseGroup(RenderGroups.back());
        RenderGroups.pop_back();
    }
    InvalidateGroupTable();
}

MapLoadFigures LoadMap(const MapLoadOptions& options)
{
    const std::size_t groupsBefore = RenderGroups.size();
    const DrawSettings draw = CurrentDrawSettings;
    const ShadingSettings shading = CurrentShadingSettings;
    try {
        return LoadGroups(options);
    } catch (const std::bad_alloc&) {
        // Nothing of a load that ran out of memory stays: the next load
        // makes the whole map, from the settings this one started from.
        while (RenderGroups.size() > groupsBefore) {
            ReleaseGroup(RenderGroups.back());
            RenderGroups.pop_back();
        }
        InvalidateGroupTable();
        CurrentDrawSettings = draw;
        CurrentShadingSettings = shading;
        throw;
    }
}

namespace {

MapLoadFigures LoadGroups(const MapLoadOptions& options)
{
    std::size_t total = 0;
    for (const auto& entry : Config::MapModels) total += entry.Parts.size();

    // Undo the mirror for drawing: a model-space point v lands at v + offset
    // with the second offset component negated.
    TarnMath::CMatrix groupTransform = MapTransform;
    for (auto& row : groupTransform.m) row[1] = -row[1];
    const float unitScale[3] = {1.0f, 1.0f, 1.0f};

    // Every LOD file with its turn, and the settings its import starts from:
    // those of the group before the entry that names it first (as a model
    // and its meshes copy the current settings when they are made).
    std::unique_ptr<LodPrefetch> prefetch;
    std::vector<bool> namesFirst;  // by entry: the first to name its LOD file
    if (!options.sequential) {
        const std::size_t workers = options.workers ? options.workers : ThreadCap::LoaderThreads();
        prefetch = std::make_unique<LodPrefetch>(workers, options.maxInFlight ? options.maxInFlight : 2 * workers,
                                                 options.maxBytesAhead);
        DrawSettings groupSettings = NewGroupSettings(groupTransform, unitScale);
        ApplyGroupOptions(groupSettings);
        DrawSettings draw = CurrentDrawSettings;
        ShadingSettings shading = CurrentShadingSettings;
        for (const auto& entry : Config::MapModels) {
            namesFirst.push_back(false);
            if (entry.Parts.empty()) continue;
            if (!entry.LODPath.empty()) {
                namesFirst.back() = prefetch->Add(entry.LODPath, entry.Parts[0].TexturePath, draw, shading);
            }
            draw = groupSettings;
            shading = groupSettings.Shading;
        }
        prefetch->Fill();
    }

    std::size_t entryIndex = 0;
    RenderGroup* last = nullptr;
    for (const auto& entry : Config::MapModels) {
        const std::size_t current = entryIndex++;
        if (entry.Parts.empty()) continue;
        RenderGroup* group = nullptr;
        for (const auto& part : entry.Parts) {
            DrawLoadingScreen("Loading map...", entry.LODPath.empty() ? part.Path : entry.LODPath,
                              static_cast<double>(current), static_cast<double>(total));
            if (group) {
                AddMember(*group, part.Path, part.TexturePath);
            } else if (!prefetch) {
                group = CreateRenderGroup(part.Path, part.TexturePath, groupTransform, unitScale, entry.LODPath);
            } else {
                const bool firstNaming = namesFirst[current];
                if (firstNaming) prefetch->Take();
                // A cache hit now: the prefetch's model, with one more reference.
                group = CreateRenderGroup(part.Path, part.TexturePath, groupTransform, unitScale, entry.LODPath);
                if (firstNaming) prefetch->Taken();
            }
        }
        ApplyGroupOptions(group->settings);
        last = group;
        // Loading one file after another, each import copies these as it
        // makes its model; the prefetch has given its imports theirs, and
        // its workers' meshes read the current shading as they are made:
        // it is set once they are all done.
        if (!prefetch) {
            CurrentDrawSettings = group->settings;
            CurrentShadingSettings = group->settings.Shading;
        }
    }
    MapLoadFigures figures;
    if (prefetch) {
        figures.lodFiles = prefetch->Files();
        figures.peakInFlight = prefetch->Peak();
        figures.peakBytesAhead = prefetch->PeakBytes();
        prefetch.reset();  // every import has been taken; the pool's threads end
        if (last) {
            CurrentDrawSettings = last->settings;
            CurrentShadingSettings = last->settings.Shading;
        }
    }
    InvalidateGroupTable();  // members were added to the groups
    return figures;
}

}  // namespace
