// The sphere tests of culling, shared by every walk that applies them: a
// model's range test and a mesh's cone test, on a sphere alone or on the
// model and mesh records. Inline because the per-frame walks run them for
// every model of the map.
#pragma once

#include <cmath>

#include "map/culling.h"
#include "renderer/model.h"

namespace CullingRules {

struct SphereView {
    float distance;
    float alignment;  // cosine between the view direction and the way to the centre
};

inline float DistanceTo(const float center[3], const CullParams& params)
{
    float squared = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        float offset = center[axis] - params.cameraPosition[axis];
        squared += offset * offset;
    }
    return std::sqrt(squared);
}

inline SphereView ViewOf(const float center[3], const CullParams& params)
{
    float toCenter[3];
    float squared = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        toCenter[axis] = center[axis] - params.cameraPosition[axis];
        squared += toCenter[axis] * toCenter[axis];
    }
    float distance = std::sqrt(squared);
    float u[3] = {1.0f, 0.0f, 0.0f};
    if (squared > 0.0f) {
        for (int axis = 0; axis < 3; ++axis) u[axis] = toCenter[axis] / distance;
    }
    const float* d = params.cameraDirection;
    return {distance, u[0] * d[0] + u[1] * d[1] + u[2] * d[2]};
}

// The range test of an imported model's sphere. Both tests must pass; the
// distance test is the cheaper one and fails for most of a map, so it goes
// first.
inline bool SphereInRange(const float center[3], float radius, const CullParams& params, bool lod)
{
    float distance = DistanceTo(center, params);
    float limit = lod ? params.LODDistance : params.DrawDistance;
    if (!(limit + radius > distance)) return false;
    if (!params.SmartCulling || radius > distance) return true;
    return ViewOf(center, params).alignment > -0.25f;
}

// A mesh's visibility under aggressive culling: no distance limit.
inline bool MeshSphereVisible(const float center[3], float radius, const CullParams& params)
{
    SphereView view = ViewOf(center, params);
    return radius > view.distance || view.alignment > -0.25f;
}

// IsModelInRange on the records.
inline bool ModelInRange(TarnRenderer::CModel* model, const CullParams& params, bool lod)
{
    if (!model) return true;
    // A loading member is waited for here (the render thread finishes its
    // device work meanwhile), so the test uses the imported bounds.
    if (model->loading.load(std::memory_order_acquire)) TarnRenderer::WaitForModel(model);
    return SphereInRange(model->center, model->radius, params, lod);
}

// CullModelMeshes on the records.
inline void CullMeshes(TarnRenderer::CModel* model, const CullParams& params)
{
    if (!model || model->loading.load(std::memory_order_acquire) || !model->AnyMeshHasGeometry()) return;
    for (TarnRenderer::CMesh* mesh : model->meshes) {
        mesh->visible = !params.AggressiveCulling || MeshSphereVisible(mesh->center, mesh->radius, params);
    }
}

}  // namespace CullingRules
