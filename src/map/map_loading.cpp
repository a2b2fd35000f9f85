#include "map/map_loading.h"

#include "config/map_definition.h"
#include "config/options.h"
#include "map/group_table.h"
#include "overlay/loading_screen.h"
#include "renderer/model.h"
#include "renderer/shading.h"

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

RenderGroup* CreateRenderGroup(const std::string& path, const std::string& texturePath,
                               const TarnMath::CMatrix& transform, const float scale[3], const std::string& lodPath)
{
    auto* group = new RenderGroup;
    group->members.push_back(new GroupMember{nullptr, path, texturePath, 2});
    group->settings.Transform = transform;
    for (int axis = 0; axis < 3; ++axis) group->settings.Scale[axis] = scale[axis];
    if (!lodPath.empty()) {
        TarnRenderer::ModelLoadParams params;
        params.path = lodPath;
        params.texturePath = texturePath;
        group->lod = TarnRenderer::AcquireModel(params);
    }
    RenderGroups.push_back(group);
    InvalidateGroupTable();
    return group;
}

void LoadMap()
{
    const auto& options = Config::Options;
    std::size_t total = 0;
    for (const auto& entry : Config::MapModels) total += entry.Parts.size();

    // Undo the mirror for drawing: a model-space point v lands at v + offset
    // with the second offset component negated.
    TarnMath::CMatrix groupTransform = MapTransform;
    for (auto& row : groupTransform.m) row[1] = -row[1];
    const float unitScale[3] = {1.0f, 1.0f, 1.0f};

    std::size_t entryIndex = 0;
    for (const auto& entry : Config::MapModels) {
        const std::size_t current = entryIndex++;
        if (entry.Parts.empty()) continue;
        RenderGroup* group = nullptr;
        for (const auto& part : entry.Parts) {
            DrawLoadingScreen("Loading map...", entry.LODPath.empty() ? part.Path : entry.LODPath,
                              static_cast<double>(current), static_cast<double>(total));
            if (!group) {
                group = CreateRenderGroup(part.Path, part.TexturePath, groupTransform, unitScale, entry.LODPath);
            } else {
                group->members.push_back(new GroupMember{nullptr, part.Path, part.TexturePath, 2});
            }
        }
        if (options.UseShading) {
            const float direction[3] = {1 - options.SunPos[0], 1 + options.SunPos[1], 1 - options.SunPos[2]};
            float sun[3], shadow[3];
            for (int k = 0; k < 3; ++k) {
                sun[k] = options.SunColor[k] * options.GlobalShadingMultiplier;
                shadow[k] = options.ShadowColor[k] * options.GlobalShadingMultiplier;
            }
            SetupGroupShading(group->settings, direction, 1.0f, 1.0f, options.ShadingMultiplier, sun, shadow);
        }
        if (options.IgnoreVertexColor) group->settings.Shading.ColorOverride = 0xFFFFFFFF;
        CurrentDrawSettings = group->settings;
        CurrentShadingSettings = group->settings.Shading;
    }
    InvalidateGroupTable();  // members were added to the groups
}
