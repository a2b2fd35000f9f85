#include "map/map_loading.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <unordered_set>
#include <vector>

#include "config/map_definition.h"
#include "config/options.h"
#include "map/group_table.h"
#include "overlay/loading_screen.h"
#include "renderer/fatal_error.h"
#include "renderer/model.h"
#include "renderer/shading.h"
#include "renderer/task_pool.h"

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

// The LOD files imported on a pool of their own ahead of the walk. A file's
// turn is the entry that names it first; the prefetch acquires its model
// through the cache as that entry would (with the settings that entry's
// import would have started from) and holds that reference until the walk
// has taken the model.
class LodPrefetch {
public:
    LodPrefetch(std::size_t workers, std::size_t limit) : pool_(workers), limit_(limit) {}
    ~LodPrefetch() { Drain(); }
    LodPrefetch(const LodPrefetch&) = delete;
    LodPrefetch& operator=(const LodPrefetch&) = delete;

    // A file not seen yet gets the next turn: true. False for a file seen.
    bool Add(const std::string& path, const std::string& texturePath, const DrawSettings& draw,
             const ShadingSettings& shading)
    {
        if (!seen_.insert(path).second) return false;
        TarnRenderer::ModelLoadParams params = LodParams(path, texturePath);
        params.loadAsync = true;
        params.pool = &pool_;
        params.drawSettings = draw;
        params.meshShading = shading;
        params.deferFatalError = true;
        turns_.push_back(std::move(params));
        return true;
    }

    // Starts imports until as many as allowed are ahead of the walk.
    void Fill()
    {
        while (started_.size() < turns_.size() && started_.size() - taken_ < limit_) {
            started_.push_back(TarnRenderer::AcquireModel(turns_[started_.size()]));
            peak_ = std::max(peak_, started_.size() - taken_);
        }
    }

    // The model of the next turn, imported and with its device work done.
    // A fatal error its import met is raised here, in the walk's order, once
    // every other import has ended.
    CModel* Take()
    {
        Fill();
        CModel* model = started_[taken_];
        TarnRenderer::AwaitImport(model);
        if (!model->fatalError.empty()) {
            const std::string message = model->fatalError;  // the model goes with the drain
            Drain();
            TarnRenderer::RaiseFatalRendererError(message);
        }
        return model;
    }
    // The walk holds its own reference now.
    void Taken()
    {
        TarnRenderer::ReleaseReference(started_[taken_]);
        started_[taken_++] = nullptr;
        Fill();
    }

    // Waits for every import started and not taken, finishes it and gives
    // its reference back; nothing is started afterwards.
    void Drain()
    {
        turns_.resize(started_.size());
        for (std::size_t i = taken_; i < started_.size(); ++i) {
            if (!started_[i]) continue;
            TarnRenderer::AwaitImport(started_[i]);
            TarnRenderer::ReleaseReference(started_[i]);
            started_[i] = nullptr;
        }
        taken_ = started_.size();
    }

    std::size_t Files() const { return turns_.size(); }
    std::size_t Peak() const { return peak_; }

private:
    TarnRenderer::TaskPool pool_;
    std::size_t limit_;
    std::vector<TarnRenderer::ModelLoadParams> turns_;
    std::unordered_set<std::string> seen_;
    std::vector<CModel*> started_;  // by turn; null once given back
    std::size_t taken_ = 0;
    std::size_t peak_ = 0;
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

RenderGroup* NewGroup(const std::string& path, const std::string& texturePath, const TarnMath::CMatrix& transform,
                      const float scale[3])
{
    auto* group = new RenderGroup;
    group->members.push_back(new GroupMember{nullptr, path, texturePath, 2});
    group->settings = NewGroupSettings(transform, scale);
    return group;
}

void AppendGroup(RenderGroup* group)
{
    RenderGroups.push_back(group);
    InvalidateGroupTable();
}

}  // namespace

RenderGroup* CreateRenderGroup(const std::string& path, const std::string& texturePath,
                               const TarnMath::CMatrix& transform, const float scale[3], const std::string& lodPath)
{
    RenderGroup* group = NewGroup(path, texturePath, transform, scale);
    if (!lodPath.empty()) group->lod = TarnRenderer::AcquireModel(LodParams(lodPath, texturePath));
    AppendGroup(group);
    return group;
}

MapLoadFigures LoadMap(const MapLoadOptions& options)
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
        const std::size_t workers =
            options.workers ? options.workers : std::max(1u, std::thread::hardware_concurrency());
        prefetch = std::make_unique<LodPrefetch>(workers, options.maxInFlight ? options.maxInFlight : 2 * workers);
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
                group->members.push_back(new GroupMember{nullptr, part.Path, part.TexturePath, 2});
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
        prefetch.reset();  // every import has been taken; the pool's threads end
        if (last) {
            CurrentDrawSettings = last->settings;
            CurrentShadingSettings = last->settings.Shading;
        }
    }
    InvalidateGroupTable();  // members were added to the groups
    return figures;
}
