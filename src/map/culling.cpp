#include "map/culling.h"

#include <windows.h>

#include <cmath>

#include "base/host_view.h"
#include "config/options.h"
#include "map/culling_rules.h"
#include "renderer/model.h"

using TarnRenderer::CModel;

CullParams MakeCullParams()
{
    const auto& options = Config::Options;
    CullParams params{};
    const float* camera = &HostGame::At<float>(HostGame::kCameraPositionAddress);
    params.cameraPosition[0] = camera[0] - options.MapOffset[0];
    params.cameraPosition[1] = camera[1] + options.MapOffset[1];
    params.cameraPosition[2] = camera[2] - options.MapOffset[2];

    const float* view = &HostGame::At<float>(HostGame::kViewMatrixAddress);
    float v[3] = {view[2], view[6], view[10]};  // the third column: the forward direction
    float squared = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    if (squared > 0.0f) {
        float length = std::sqrt(squared);
        for (int axis = 0; axis < 3; ++axis) params.cameraDirection[axis] = v[axis] / length;
    } else {
        params.cameraDirection[0] = 1.0f;
    }
    params.DrawDistance = options.DrawDistance;
    params.LODDistance = options.LODDistance;
    params.AggressiveCulling = options.AggressiveCulling;
    params.SmartCulling = options.SmartCulling;
    return params;
}

bool IsModelInRange(CModel* model, CullParams params, bool lod)
{
    return CullingRules::ModelInRange(model, params, lod);
}

void CullModelMeshes(CModel* model, CullParams params) { CullingRules::CullMeshes(model, params); }

void RequestMemberModel(GroupMember* member)
{
    if (member->model) return;
    TarnRenderer::ModelLoadParams params;
    params.path = member->path;
    params.texturePath = member->texturePath;
    params.textureFilter = static_cast<std::uint32_t>(member->textureFilter);
    params.loadAsync = true;
    member->model = TarnRenderer::AcquireModel(params);
}
